#include "brisalune/client/session.hpp"

#include <brisalune/platform/json_decode.hpp>

#include <utility>

namespace brisalune {

namespace {

// The stored document with its addresses as text: the codec fills records in place, and an
// address has no empty value to start from.
struct SessionDocument {
    std::string baseURL;
    std::string sessionToken;
    std::string accountId;
    std::string email;
    std::optional<std::string> activeTenantId;
    std::map<std::string, TenantKey, std::less<>> tenantKeys;
    std::map<std::string, std::string, std::less<>> tenantHosts;
};

platform::Url parsedUrl(std::string_view text) {
    auto url = platform::Url::parse(text);
    if (!url) throw json::DecodeError(json::DecodeError::Kind::dataCorrupted, "invalid URL string");
    return std::move(*url);
}

template <class F>
auto atKey(std::string_view key, F&& read) {
    try {
        return read();
    } catch (json::DecodeError& error) {
        error.prependKey(key);
        throw;
    }
}

}  // namespace

template <>
inline constexpr auto json::keys<SessionDocument> = json::object(
    json::field("baseURL", &SessionDocument::baseURL),
    json::field("sessionToken", &SessionDocument::sessionToken),
    json::field("accountId", &SessionDocument::accountId),
    json::field("email", &SessionDocument::email),
    json::field("activeTenantId", &SessionDocument::activeTenantId),
    json::field("tenantKeys", &SessionDocument::tenantKeys, json::orEmpty),
    json::field("tenantHosts", &SessionDocument::tenantHosts, json::orEmpty));

const platform::Url& StoredSession::hostForTenant(std::string_view tenantId) const {
    auto host = tenantHosts.find(tenantId);
    return host == tenantHosts.end() ? baseURL : host->second;
}

std::optional<platform::Url> StoredSession::activeHost() const {
    if (!activeTenantId) return std::nullopt;
    return hostForTenant(*activeTenantId);
}

bool StoredSession::hasOwnHost(std::string_view tenantId) const { return tenantHosts.contains(tenantId); }

std::string encodeStoredSession(const StoredSession& session) {
    SessionDocument document{
        .baseURL = session.baseURL.text(),
        .sessionToken = session.sessionToken,
        .accountId = session.accountId,
        .email = session.email,
        .activeTenantId = session.activeTenantId,
        .tenantKeys = session.tenantKeys,
        .tenantHosts = {},
    };
    for (const auto& [tenant, host] : session.tenantHosts) document.tenantHosts.emplace(tenant, host.text());
    return json::encode(document);
}

StoredSession decodeStoredSession(std::string_view text) {
    auto document = json::decode<SessionDocument>(text);
    StoredSession session{
        .baseURL = atKey("baseURL", [&] { return parsedUrl(document.baseURL); }),
        .sessionToken = std::move(document.sessionToken),
        .accountId = std::move(document.accountId),
        .email = std::move(document.email),
        .activeTenantId = std::move(document.activeTenantId),
        .tenantKeys = std::move(document.tenantKeys),
        .tenantHosts = {},
    };
    atKey("tenantHosts", [&] {
        for (const auto& [tenant, host] : document.tenantHosts) {
            session.tenantHosts.emplace(tenant, atKey(tenant, [&] { return parsedUrl(host); }));
        }
    });
    return session;
}

// ---- the memory store -----------------------------------------------------------------------

MemorySessionStore::MemorySessionStore(std::optional<StoredSession> session, bool unreadable)
    : session_(std::move(session)), unreadable_(unreadable) {}

SessionLoad MemorySessionStore::load() {
    std::scoped_lock guard(lock_);
    if (unreadable_) return SessionLoad::unreadable();
    if (session_) return SessionLoad::present(*session_);
    return SessionLoad::absent();
}

void MemorySessionStore::save(const StoredSession& session) {
    std::scoped_lock guard(lock_);
    if (saveError_) throw *saveError_;
    session_ = session;
    unreadable_ = false;
}

void MemorySessionStore::clear() noexcept {
    std::scoped_lock guard(lock_);
    session_.reset();
    unreadable_ = false;
}

std::optional<MemorySessionStore::SaveError> MemorySessionStore::saveError() const {
    std::scoped_lock guard(lock_);
    return saveError_;
}

void MemorySessionStore::setSaveError(std::optional<SaveError> error) {
    std::scoped_lock guard(lock_);
    saveError_ = error;
}

}  // namespace brisalune
