#pragma once

// The signed-in account as kept across restarts, and the places that keep it: the desktop's
// keychain (Secret Service) and memory.

#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

// The key that authorises one tenant's data requests.
struct TenantKey {
    std::string keyId;   // names the key on the server: what sign-out revokes
    std::string apiKey;  // the bearer token of the data plane
    std::optional<std::string> tenantId;

    friend bool operator==(const TenantKey&, const TenantKey&) = default;
};

template <>
inline constexpr auto json::keys<TenantKey> = json::object(
    json::field("keyId", &TenantKey::keyId),
    json::field("apiKey", &TenantKey::apiKey),
    json::field("tenantId", &TenantKey::tenantId));

struct StoredSession {
    platform::Url baseURL;  // the server the account signed in to
    std::string sessionToken;
    std::string accountId;
    std::string email;
    std::optional<std::string> activeTenantId;
    std::map<std::string, TenantKey, std::less<>> tenantKeys;
    // Tenants served by a host of their own; every other tenant is served at baseURL.
    std::map<std::string, platform::Url, std::less<>> tenantHosts;

    const platform::Url& hostForTenant(std::string_view tenantId) const;
    // None without an active tenant.
    std::optional<platform::Url> activeHost() const;
    bool hasOwnHost(std::string_view tenantId) const;

    friend bool operator==(const StoredSession&, const StoredSession&) = default;
};

// The stored document. Maps that are missing or null read as empty; both are always written.
template <>
inline constexpr auto json::keys<StoredSession> = json::object(
    json::field("baseURL", &StoredSession::baseURL),
    json::field("sessionToken", &StoredSession::sessionToken),
    json::field("accountId", &StoredSession::accountId),
    json::field("email", &StoredSession::email),
    json::field("activeTenantId", &StoredSession::activeTenantId),
    json::field("tenantKeys", &StoredSession::tenantKeys, json::orEmpty),
    json::field("tenantHosts", &StoredSession::tenantHosts, json::orEmpty));

class SessionLoad {
public:
    enum class Case { present, absent, unreadable };

    static SessionLoad present(StoredSession session) { return SessionLoad(std::move(session)); }
    // Nothing is stored.
    static SessionLoad absent() noexcept { return SessionLoad(Case::absent); }
    // Something is stored, or the store failed, and no session could be had from it.
    static SessionLoad unreadable() noexcept { return SessionLoad(Case::unreadable); }

    Case kind() const noexcept { return case_; }
    bool is(Case c) const noexcept { return case_ == c; }
    // Held exactly when present.
    const std::optional<StoredSession>& session() const noexcept { return session_; }

    friend bool operator==(const SessionLoad&, const SessionLoad&) = default;

private:
    explicit SessionLoad(Case c) noexcept : case_(c) {}
    explicit SessionLoad(StoredSession session) : case_(Case::present), session_(std::move(session)) {}

    Case case_;
    std::optional<StoredSession> session_;
};

// A place that keeps one stored session.
class SessionStoring {
public:
    virtual ~SessionStoring() = default;
    // Never throws for a failure of the store: that is `unreadable`.
    virtual SessionLoad load() = 0;
    virtual void save(const StoredSession& session) = 0;
    // Throws when the session may still be stored.
    virtual void clear() = 0;
};

// A keychain save or delete that failed, with the status of the operation that failed
// (KeychainStatus in secret_service.hpp). Its text says in words what happened (no keyring
// service, a keyring that does not answer, a cancelled unlock, no keyring created, keyrings with
// none the default, a locked keyring, a refused or cancelled request, another failure) and what
// to do; never the status.
class KeychainError : public std::exception {
public:
    enum class Step { save, clear };
    explicit KeychainError(std::int32_t status, Step step = Step::save);
    std::int32_t status() const noexcept { return status_; }
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::int32_t status_;
    std::string text_;
};

class SecretItemStore;

// The session as one JSON item of the desktop's Secret Service, addressed by the attributes
// "service" and "account" = "session". Holds no state: two stores with the same service see the
// same item, and every operation goes to the service on the caller's thread. Nothing is ever
// written to a file instead.
class KeychainSessionStore final : public SessionStoring {
public:
    using KeychainError = brisalune::KeychainError;

    // The service of the app's session: its application id followed by ".session".
    static constexpr std::string_view appService = "app.brisalune.desktop.session";
    static constexpr std::string_view account = "session";

    // Touches nothing.
    explicit KeychainSessionStore(std::string service);
    // Over another item store (a test's).
    KeychainSessionStore(std::string service, std::shared_ptr<SecretItemStore> items);

    const std::string& service() const noexcept { return service_; }

    // absent when no item exists; unreadable for any other failure (a locked keychain among
    // them) and for data that is not a stored session, which is left in place.
    SessionLoad load() override;
    // Updates the item, or adds it when there is none. Throws json::EncodeError (nothing
    // written) or KeychainError.
    void save(const StoredSession& session) override;
    // Deletes the item and every copy of it, in every collection; a missing item is no failure.
    // Throws KeychainError when a copy may still be there (a locked keyring, one that does not
    // answer).
    void clear() override;

private:
    std::string service_;
    std::shared_ptr<SecretItemStore> items_;
};

// A session held in memory, which can be marked unreadable and told to fail its saves.
// Thread-safe: all its state is under one lock.
class MemorySessionStore final : public SessionStoring {
public:
    class SaveError : public std::exception {
    public:
        const char* what() const noexcept override { return "the session could not be saved"; }
    };

    explicit MemorySessionStore(std::optional<StoredSession> session = std::nullopt, bool unreadable = false);

    // unreadable while marked so, else present or absent.
    SessionLoad load() override;
    // Throws SaveError, changing nothing, while a save error is set; else keeps the session and
    // clears the unreadable mark.
    void save(const StoredSession& session) override;
    // Forgets the session and the unreadable mark; the save error stays.
    void clear() noexcept override;

    std::optional<SaveError> saveError() const;
    void setSaveError(std::optional<SaveError> error);

private:
    mutable std::mutex lock_;
    std::optional<StoredSession> session_;
    bool unreadable_;
    std::optional<SaveError> saveError_;
};

}  // namespace brisalune
