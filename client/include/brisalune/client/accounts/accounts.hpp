#pragma once

// The service's core records: what a server is, who is signed in, to which teams the account
// belongs, and the projects of a team; with the outcomes of the requests that may mail a
// one-time token instead of completing at once.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace brisalune {

// The answer of the health probe.
struct Healthz {
    std::optional<std::string> role;  // see DaemonRole
    bool healthy = false;
    std::string version;
    std::int64_t tenants = 0;
    std::optional<platform::Url> portalOrigin;  // none when missing or not a URL: never fails the record
};

// The two known values of Healthz::role; any other text, or none, names neither.
namespace DaemonRole {
inline constexpr std::string_view selfHost = "self-host";
inline constexpr std::string_view hosted = "hosted";
}  // namespace DaemonRole

// The account's membership of one tenant (team).
struct Membership {
    std::string tenantId;
    std::string tenantName;
    std::string role;  // any text, stored as sent
    std::optional<std::string> roleName;
    std::optional<platform::Url> dataPlaneURL;  // the server of this tenant's data, when not the sign-in server

    friend bool operator==(const Membership&, const Membership&) = default;
};

struct Account {
    std::string id;
    std::string email;
    std::optional<std::string> displayName;

    // The display name when present and not empty, else the e-mail address.
    const std::string& shownName() const noexcept;

    friend bool operator==(const Account&, const Account&) = default;
};

// The answer of login and sign-up; `token` is the session token.
struct AuthResponse {
    Account account;
    std::string token;
};

// The answer of GET /v1/me; an empty list means the account belongs to no tenant.
struct MeResponse {
    Account account;
    std::vector<Membership> memberships;
};

// One project of a tenant; its identity is its name.
struct ProjectInfo {
    std::string name;
    std::int64_t configVersion = 0;
    std::int64_t sources = 0;
    std::int64_t rules = 0;
    std::int64_t openAlerts = 0;
    std::int64_t createdAt = 0;  // the integer as sent

    const std::string& id() const noexcept { return name; }

    friend bool operator==(const ProjectInfo&, const ProjectInfo&) = default;
};

// One page of the project list; `next` is the cursor of the following page.
struct ProjectPage {
    std::vector<ProjectInfo> projects;
    std::optional<std::string> next;
};

// Names of numeric log levels.
struct AlertLevel {
    // "debug" below 200, "info" to 299, "warn" to 399, "error" to 499, else "critical".
    static std::string_view name(std::int64_t level) noexcept;

    AlertLevel() = delete;
};

// The result of sign-up: signed in at once, or a token was mailed to finish it with.
struct SignupOutcome {
    struct Authenticated {  // signed in at once
        AuthResponse response;
    };
    struct VerificationSent {};  // a token was mailed to confirm the address

    std::variant<Authenticated, VerificationSent> value;

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }
};

// The result of an e-mail change request: changed at once, or a token was mailed to confirm it.
enum class EmailChangeOutcome { changed, verificationSent };

// ---- key tables ---------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<Healthz> = json::object(
    json::field("ok", &Healthz::healthy),
    json::field("version", &Healthz::version),
    json::field("role", &Healthz::role),
    json::field("tenants", &Healthz::tenants),
    json::field("portal_origin", &Healthz::portalOrigin, json::lenient));

template <>
inline constexpr auto json::keys<Membership> = json::object(
    json::field("tenant_id", &Membership::tenantId),
    json::field("tenant_name", &Membership::tenantName),
    json::field("role", &Membership::role),
    json::field("role_name", &Membership::roleName),
    json::field("data_plane_url", &Membership::dataPlaneURL));

template <>
inline constexpr auto json::keys<Account> = json::object(
    json::field("id", &Account::id),
    json::field("email", &Account::email),
    json::field("display_name", &Account::displayName));

template <>
inline constexpr auto json::keys<AuthResponse> =
    json::object(json::field("account", &AuthResponse::account), json::field("token", &AuthResponse::token));

template <>
inline constexpr auto json::keys<MeResponse> =
    json::object(json::field("account", &MeResponse::account), json::field("memberships", &MeResponse::memberships));

template <>
inline constexpr auto json::keys<ProjectInfo> = json::object(
    json::field("name", &ProjectInfo::name),
    json::field("config_version", &ProjectInfo::configVersion),
    json::field("sources", &ProjectInfo::sources),
    json::field("rules", &ProjectInfo::rules),
    json::field("open_alerts", &ProjectInfo::openAlerts),
    json::field("created_at", &ProjectInfo::createdAt));

template <>
inline constexpr auto json::keys<ProjectPage> =
    json::object(json::field("projects", &ProjectPage::projects), json::field("next", &ProjectPage::next));

// The body of sign-in and sign-up.
struct CredentialsBody {
    std::string email;
    std::string password;
};

template <>
inline constexpr auto json::keys<CredentialsBody> =
    json::object(json::field("email", &CredentialsBody::email), json::field("password", &CredentialsBody::password));

// The answer listing the account's teams.
struct TenantsResponse {
    std::vector<Membership> tenants;
};

template <>
inline constexpr auto json::keys<TenantsResponse> = json::object(json::field("tenants", &TenantsResponse::tenants));

}  // namespace brisalune

template <>
struct std::hash<brisalune::Membership> : brisalune::RecordHash<brisalune::Membership> {};
template <>
struct std::hash<brisalune::Account> : brisalune::RecordHash<brisalune::Account> {};
template <>
struct std::hash<brisalune::ProjectInfo> : brisalune::RecordHash<brisalune::ProjectInfo> {};
