#pragma once

// The one object through which the program talks to a server of the service. Every endpoint of
// every family is a member function that builds a path, a query and an optional body and hands
// them to `send`. Thread-safe: any thread may call any endpoint, several at once; each request
// reads the credentials once.

// Record families whose types the endpoints below take or give.
// (each family adds its header here)
#include <brisalune/client/accounts.hpp>
#include <brisalune/client/team.hpp>
#include <brisalune/client/alerts.hpp>
#include <brisalune/client/log_tail.hpp>

#include <brisalune/client/client_identity.hpp>
#include <brisalune/client/errors.hpp>
#include <brisalune/client/server_compatibility.hpp>
#include <brisalune/platform/http.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <stop_token>
#include <string_view>
#include <vector>

namespace brisalune {

// Which credential a request carries.
enum class AuthPlane { none, session, data };

// One request as an endpoint describes it.
struct Call {
    std::string method;
    std::string path;                          // begins with "/", segments already escaped, no query
    std::vector<platform::QueryItem> query{};  // in this order; empty: no "?" at all
    AuthPlane plane = AuthPlane::session;
    std::optional<std::chrono::milliseconds> timeout{};  // 60 seconds unless given
    http::Headers headers{};
    std::stop_token cancel{};  // a stop request abandons the call with a transport error
};

// What send gives back for every status.
struct Answer {
    int status = 0;
    std::string body;
};

class BrisaluneClient {
public:
    explicit BrisaluneClient(platform::Url baseURL, std::optional<std::string> sessionToken = std::nullopt,
                             std::optional<std::string> dataKey = std::nullopt,
                             std::shared_ptr<http::Transport> transport = nullptr,
                             ClientIdentity identity = ClientIdentity::current(),
                             ServerCompatibility& compatibility = ServerCompatibility::shared());

    const platform::Url& baseURL() const noexcept { return baseURL_; }
    const ClientIdentity& identity() const noexcept { return identity_; }
    ServerCompatibility& compatibility() const noexcept { return compatibility_; }

    void setSessionToken(std::optional<std::string> token);
    void setDataKey(std::optional<std::string> key);
    std::optional<std::string> sessionToken() const;
    std::optional<std::string> dataKey() const;
    bool hasDataKey() const;

    // ---- the request road ----

    // Sends one request and returns its status and body, whatever the status. Throws
    // BrisaluneError (malformed URL, missing credential, transfer failure, the compatibility
    // gate), or the encoder's own json::EncodeError for a body that cannot be written.
    Answer send(const Call& call) const;
    template <class Body>
    Answer send(const Call& call, const Body& body) const {
        return sendEncoded(call, [&] { return json::encode(body); });
    }

    // The base address without trailing slashes, then the path; none when that is no URL.
    std::optional<platform::Url> url(std::string_view path) const;
    // The plane's credential; throws unauthorized when the client lacks it.
    std::optional<std::string> token(AuthPlane plane) const;

    // What a non-2xx answer becomes (the caller throws it).
    static BrisaluneError error(int status, std::string_view body) { return errorForStatus(status, body); }

    // One identifier placed between two "/" of a path.
    static std::string escapedPathSegment(std::string_view text);

    // Runs the compatibility gate on one answer: records it, then refuses an outdated client or
    // (on "/v1" paths) an outdated server.
    void checkCompatibility(int status, const http::Headers& headers, std::string_view body,
                            std::string_view path) const;

    // ---- health, sign-up, login, password (client_builtin.cpp) ----

    // What kind of server this is. Plane none.
    Healthz healthz() const;
    // Mails a token (verificationSent) or signs in at once; the token is not kept. Plane none.
    SignupOutcome signup(std::string_view email, std::string_view password) const;
    // The token is not kept. A 403 about verification throws emailNotVerified. Plane none.
    AuthResponse login(std::string_view email, std::string_view password) const;
    void changePassword(std::string_view email, std::string_view currentPassword,
                        std::string_view newPassword) const;

    // ---- account and teams (client_accounts.cpp) ----

    MeResponse me() const;
    // Ends the session on the server; the token stays on the client.
    void logout() const;
    Account updateProfile(std::string_view displayName) const;
    CreatedTenant createTenant(std::string_view name,
                               const std::optional<platform::Url>& dataPlaneURL = std::nullopt) const;
    std::vector<Membership> listTenants() const;
    void renameTenant(std::string_view tenant, std::string_view name) const;
    void deleteTenant(std::string_view tenant, std::string_view email, std::string_view currentPassword) const;
    // Authenticated by the e-mail and password alone: plane none.
    void deleteAccount(std::string_view email, std::string_view password) const;
    EmailChangeOutcome changeEmail(std::string_view email, std::string_view currentPassword,
                                   std::string_view newEmail) const;
    // The new address stands as both the account's e-mail and the new one.
    EmailChangeOutcome changeEmail(std::string_view newEmail, std::string_view currentPassword) const;
    PlanInfo tenantPlan(std::string_view tenant) const;
    // Query "limit", then "before" and "action" when given.
    std::vector<AuditEntry> auditLog(std::string_view tenant, const std::optional<std::string>& before,
                                     const std::optional<std::string>& action, std::int64_t limit) const;

    // Finishes a sign-up with the mailed token; the returned token is not kept. Plane none.
    // A refused token throws invalidVerificationToken.
    AuthResponse verifySignup(std::string_view token, std::string_view password) const;
    // Finishes an e-mail change with the mailed token. A refused token throws
    // invalidVerificationToken; an answer of changed: false, invalidResponse.
    Account verifyEmailChange(std::string_view token) const;
    // Plane none.
    void requestPasswordReset(std::string_view email) const;
    // Plane none. A refused token throws invalidResetToken; a success that does not confirm the
    // change, invalidResponse.
    void resetPassword(std::string_view token, std::string_view newPassword) const;

    // ---- team keys (client_team.cpp) ----

    IssuedKey issueKey(std::string_view tenant) const;
    void revokeKey(std::string_view tenant, std::string_view id) const;

    // ---- alerts (client_alerts.cpp) ----

    // The team's alerts after `cursor`; a `wait` of at least 1 asks the server to hold the
    // answer up to that many seconds. Waits `wait` + 15 seconds for the answer.
    // A stop request on `cancel` abandons a long poll at once.
    PullResponse pull(std::int64_t cursor, std::int64_t wait, std::stop_token cancel = {}) const;
    // The alert as it stands afterwards.
    AlertSnapshot acknowledge(std::string_view alertId) const;
    AlertSnapshot resolve(std::string_view alertId, std::optional<std::string> cause = std::nullopt,
                          std::optional<std::string> fix = std::nullopt) const;
    // The latest lines of a project's log for one message template.
    std::vector<LogLine> logTail(std::string_view project, std::string_view messageTemplate, std::int64_t limit) const;
    std::vector<std::string> logTailMessages(std::string_view project, std::string_view messageTemplate,
                                             std::int64_t limit) const;
    // `wait` + 15 seconds; std::invalid_argument when that is not a positive time that fits.
    static std::chrono::milliseconds pullTimeout(std::int64_t wait);

private:
    Answer sendEncoded(const Call& call, const std::function<std::string()>& encodeBody) const;

    platform::Url baseURL_;
    std::shared_ptr<http::Transport> transport_;
    ClientIdentity identity_;
    ServerCompatibility& compatibility_;

    mutable std::mutex credentialsMutex_;
    std::optional<std::string> sessionToken_;
    std::optional<std::string> dataKey_;
};

}  // namespace brisalune
