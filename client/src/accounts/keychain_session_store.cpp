#include <brisalune/client/accounts/secret_service.hpp>
#include <brisalune/client/accounts/session.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <string>
#include <string_view>
#include <utility>

namespace brisalune {

namespace {

// What happened and what to do, in words: the person reading it has no use for the status.
std::string keychainFailureReason(std::int32_t status) {
    switch (status) {
        case KeychainStatus::notAvailable:
            return "no keyring service is running. Install or start one, such as GNOME Keyring, then try again.";
        case KeychainStatus::notResponding:
            return "the keyring is not answering. Try again in a moment; if it stays silent, log out of the desktop "
                   "and back in.";
        case KeychainStatus::unlockDismissed:
            return "the keyring is locked, and its unlock was cancelled. Try again, and unlock the keyring when it "
                   "asks.";
        case KeychainStatus::keyringNotCreated:
            return "no keyring was created to keep it in. Create one, for example in the desktop's Passwords and "
                   "Keys, then sign in again.";
        case KeychainStatus::noDefaultKeyring:
            return "none of your keyrings is the default one to keep it in. Choose one as the default, for example in "
                   "the desktop's Passwords and Keys, then sign in again.";
        case KeychainStatus::interactionNotAllowed: return "the keyring is locked. Unlock it, then try again.";
        case KeychainStatus::userCanceled:
            return "the keyring refused the request, or it was cancelled. Try again, and allow the request if the "
                   "keyring asks.";
        default: return "the keyring failed. Try again.";
    }
}

std::string keychainFailureText(std::int32_t status, KeychainError::Step step) {
    const std::string_view what = step == KeychainError::Step::save
                                      ? "Your session could not be kept: "
                                      : "The keyring could not forget your session: ";
    return std::string(what) + keychainFailureReason(status);
}

}  // namespace

KeychainError::KeychainError(std::int32_t status, Step step)
    : status_(status), text_(keychainFailureText(status, step)) {}

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

void KeychainSessionStore::clear() {
    const std::int32_t removed = items_->remove(sessionItem(service_));
    if (removed != KeychainStatus::success && removed != KeychainStatus::itemNotFound)
        throw KeychainError(removed, KeychainError::Step::clear);
}

}  // namespace brisalune
