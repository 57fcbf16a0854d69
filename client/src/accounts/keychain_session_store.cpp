#include <brisalune/client/accounts/secret_service.hpp>
#include <brisalune/client/accounts/session.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <utility>

namespace brisalune {

KeychainError::KeychainError(std::int32_t status)
    : status_(status), text_("keychain status " + std::to_string(status)) {}

KeychainSessionStore::KeychainSessionStore(std::string service)
    : KeychainSessionStore(std::move(service), desktopSecretService()) {}

KeychainSessionStore::KeychainSessionStore(std::string service, std::shared_ptr<SecretItemStore> items)
    : service_(std::move(service)), items_(std::move(items)) {}

namespace {

SecretItemAddress sessionItem(const std::string& service) {
    return {.service = service, .account = std::string(KeychainSessionStore::account)};
}

}  // namespace

SessionLoad KeychainSessionStore::load() {
    auto read = items_->read(sessionItem(service_));
    if (read.status == KeychainStatus::itemNotFound) return SessionLoad::absent();
    if (read.status != KeychainStatus::success) return SessionLoad::unreadable();
    try {
        return SessionLoad::present(json::decode<StoredSession>(read.data));
    } catch (const json::DecodeError&) {
        // Left in place: the next save replaces it.
        return SessionLoad::unreadable();
    }
}

void KeychainSessionStore::save(const StoredSession& session) {
    const auto document = json::encode(session);
    const auto item = sessionItem(service_);
    const auto updated = items_->update(item, document);
    if (updated == KeychainStatus::success) return;
    if (updated != KeychainStatus::itemNotFound) throw KeychainError(updated);
    const auto added = items_->add(item, document);
    if (added != KeychainStatus::success) throw KeychainError(added);
}

void KeychainSessionStore::clear() noexcept { items_->remove(sessionItem(service_)); }

}  // namespace brisalune
