#pragma once

// Team administration records: tenants, API keys, the audit log, members, invites and plans.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/roles/project_grant.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// The answer of team creation.
struct CreatedTenant {
    std::string id;
    std::string name;
    std::string role;
    std::optional<platform::Url> dataPlaneURL;
};

// The answer of redeeming an invite.
struct RedeemedInvite {
    std::string tenantId;
    std::string role;
};

// One entry of a team's API keys.
struct APIKeyInfo {
    std::string id;
    std::string accountId;
    std::string tenantId;
    std::chrono::sys_seconds createdAt{};
    std::optional<std::chrono::sys_seconds> revokedAt;

    bool isRevoked() const noexcept { return revokedAt.has_value(); }

    friend bool operator==(const APIKeyInfo&, const APIKeyInfo&) = default;
};

// A newly issued API key; `apiKey` is the key's secret text.
struct IssuedKey {
    std::string id;
    std::string apiKey;
};

// One entry of a team's audit log.
struct AuditEntry {
    std::string id;
    std::string actor;
    std::string action;
    std::optional<std::string> detail;
    std::int64_t createdAt = 0;  // an integer instant, held as received

    friend bool operator==(const AuditEntry&, const AuditEntry&) = default;
};

// One member of a team; its identity is the account id. `projects` absent: not limited to projects.
struct Member {
    std::string accountId;
    std::string email;
    std::string role;
    std::optional<std::string> roleName;
    std::optional<std::string> displayName;
    std::optional<std::int64_t> deviceCount;
    std::optional<bool> pushEligible;
    std::optional<bool> criticalAlerts;
    std::optional<std::vector<ProjectGrant>> projects;

    Member() = default;
    // `roleName` comes last although it is the fourth field.
    Member(
        std::string account,
        std::string mail,
        std::string roleId,
        std::optional<std::string> display = std::nullopt,
        std::optional<std::int64_t> devices = std::nullopt,
        std::optional<bool> push = std::nullopt,
        std::optional<bool> critical = std::nullopt,
        std::optional<std::vector<ProjectGrant>> grants = std::nullopt,
        std::optional<std::string> roleDisplayName = std::nullopt);

    const std::string& id() const noexcept { return accountId; }
    // The display name when present, even when empty; else the e-mail address.
    const std::string& displayLabel() const noexcept { return displayName ? *displayName : email; }

    friend bool operator==(const Member&, const Member&) = default;
};

// An invite sent and not yet redeemed or revoked; no expiry test is made here.
struct PendingInvite {
    std::string id;
    std::string email;
    std::string role;
    std::optional<std::string> roleName;
    std::string createdBy;
    std::chrono::sys_seconds createdAt{};
    std::chrono::sys_seconds expiresAt{};
    std::optional<std::vector<ProjectGrant>> projects;

    PendingInvite() = default;
    // `roleName` comes last although it is the fourth field.
    PendingInvite(
        std::string inviteId,
        std::string mail,
        std::string roleId,
        std::string creator,
        std::chrono::sys_seconds created,
        std::chrono::sys_seconds expires,
        std::optional<std::vector<ProjectGrant>> grants = std::nullopt,
        std::optional<std::string> roleDisplayName = std::nullopt);

    friend bool operator==(const PendingInvite&, const PendingInvite&) = default;
};

struct PlanLimits {
    std::int64_t maxAlerts = 0;
    std::int64_t maxLogs = 0;
    std::int64_t maxProjects = 0;
    std::int64_t ingestRps = 0;  // ingest requests per second
    std::int64_t ingestBurst = 0;
    std::int64_t dataRps = 0;  // data-plane requests per second
    std::int64_t dataBurst = 0;
    std::optional<std::int64_t> maxChecks;
    std::optional<std::int64_t> maxCheckSources;
    std::optional<std::int64_t> minCheckIntervalSeconds;
    std::optional<std::int64_t> browserMinutesPerMonth;
};

struct BrowserMinutesUsage {
    std::int64_t used = 0;
    std::int64_t limit = 0;
    std::int64_t resetsAt = 0;  // an integer instant, held as received

    friend bool operator==(const BrowserMinutesUsage&, const BrowserMinutesUsage&) = default;
};

struct PlanUsage {
    std::int64_t alerts = 0;
    std::int64_t logs = 0;
    std::int64_t projects = 0;
    std::optional<std::int64_t> checks;
    std::optional<BrowserMinutesUsage> browserMinutes;
};

// A team's plan: its name, its limits and, when reported, the current usage.
struct PlanInfo {
    std::string plan;
    PlanLimits limits;
    std::optional<PlanUsage> usage;
};

// ---- key tables ---------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<CreatedTenant> = json::object(
    json::field("id", &CreatedTenant::id),
    json::field("name", &CreatedTenant::name),
    json::field("role", &CreatedTenant::role),
    json::field("data_plane_url", &CreatedTenant::dataPlaneURL));

template <>
inline constexpr auto json::keys<RedeemedInvite> =
    json::object(json::field("tenant_id", &RedeemedInvite::tenantId), json::field("role", &RedeemedInvite::role));

template <>
inline constexpr auto json::keys<APIKeyInfo> = json::object(
    json::field("id", &APIKeyInfo::id),
    json::field("account_id", &APIKeyInfo::accountId),
    json::field("tenant_id", &APIKeyInfo::tenantId),
    json::field("created_at", &APIKeyInfo::createdAt),
    json::field("revoked_at", &APIKeyInfo::revokedAt));

template <>
inline constexpr auto json::keys<IssuedKey> =
    json::object(json::field("id", &IssuedKey::id), json::field("token", &IssuedKey::apiKey));

template <>
inline constexpr auto json::keys<AuditEntry> = json::object(
    json::field("id", &AuditEntry::id),
    json::field("actor", &AuditEntry::actor),
    json::field("action", &AuditEntry::action),
    json::field("detail", &AuditEntry::detail),
    json::field("created_at", &AuditEntry::createdAt));

template <>
inline constexpr auto json::keys<Member> = json::object(
    json::field("account_id", &Member::accountId),
    json::field("email", &Member::email),
    json::field("role", &Member::role),
    json::field("role_name", &Member::roleName),
    json::field("display_name", &Member::displayName),
    json::field("device_count", &Member::deviceCount),
    json::field("push_eligible", &Member::pushEligible),
    json::field("critical_alerts", &Member::criticalAlerts),
    json::field("projects", &Member::projects));

template <>
inline constexpr auto json::keys<PendingInvite> = json::object(
    json::field("id", &PendingInvite::id),
    json::field("email", &PendingInvite::email),
    json::field("role", &PendingInvite::role),
    json::field("role_name", &PendingInvite::roleName),
    json::field("created_by", &PendingInvite::createdBy),
    json::field("created_at", &PendingInvite::createdAt),
    json::field("expires_at", &PendingInvite::expiresAt),
    json::field("projects", &PendingInvite::projects));

template <>
inline constexpr auto json::keys<PlanLimits> = json::object(
    json::field("max_alerts", &PlanLimits::maxAlerts),
    json::field("max_logs", &PlanLimits::maxLogs),
    json::field("max_projects", &PlanLimits::maxProjects),
    json::field("ingest_rps", &PlanLimits::ingestRps),
    json::field("ingest_burst", &PlanLimits::ingestBurst),
    json::field("data_rps", &PlanLimits::dataRps),
    json::field("data_burst", &PlanLimits::dataBurst),
    json::field("max_checks", &PlanLimits::maxChecks),
    json::field("max_check_sources", &PlanLimits::maxCheckSources),
    json::field("min_check_interval_seconds", &PlanLimits::minCheckIntervalSeconds),
    json::field("browser_minutes_per_month", &PlanLimits::browserMinutesPerMonth));

template <>
inline constexpr auto json::keys<BrowserMinutesUsage> = json::object(
    json::field("used", &BrowserMinutesUsage::used),
    json::field("limit", &BrowserMinutesUsage::limit),
    json::field("resets_at", &BrowserMinutesUsage::resetsAt));

template <>
inline constexpr auto json::keys<PlanUsage> = json::object(
    json::field("alerts", &PlanUsage::alerts),
    json::field("logs", &PlanUsage::logs),
    json::field("projects", &PlanUsage::projects),
    json::field("checks", &PlanUsage::checks),
    json::field("browser_minutes", &PlanUsage::browserMinutes));

template <>
inline constexpr auto json::keys<PlanInfo> = json::object(
    json::field("plan", &PlanInfo::plan),
    json::field("limits", &PlanInfo::limits),
    json::field("usage", &PlanInfo::usage));

}  // namespace brisalune

template <>
struct std::hash<brisalune::APIKeyInfo> : brisalune::RecordHash<brisalune::APIKeyInfo> {};
template <>
struct std::hash<brisalune::AuditEntry> : brisalune::RecordHash<brisalune::AuditEntry> {};
template <>
struct std::hash<brisalune::Member> : brisalune::RecordHash<brisalune::Member> {};
template <>
struct std::hash<brisalune::PendingInvite> : brisalune::RecordHash<brisalune::PendingInvite> {};
template <>
struct std::hash<brisalune::BrowserMinutesUsage> : brisalune::RecordHash<brisalune::BrowserMinutesUsage> {};
