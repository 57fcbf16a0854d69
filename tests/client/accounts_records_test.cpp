#include <brisalune/client/accounts.hpp>
#include <brisalune/client/team.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

template <class T>
bool decodes(const std::string& text) {
    try {
        json::decode<T>(text);
        return true;
    } catch (const json::DecodeError&) {
        return false;
    }
}

const std::string healthBase = R"({"ok":true,"version":"2.0.1","tenants":4)";

TEST(CoreRecords, HealthPortalOriginNeverFailsTheRecord) {
    for (const char* extra : {"", R"(,"portal_origin":null)", R"(,"portal_origin":7)", R"(,"portal_origin":"")",
                              R"(,"portal_origin":"not a url")", R"(,"portal_origin":{})"}) {
        auto health = json::decode<Healthz>(healthBase + extra + "}");
        EXPECT_FALSE(health.portalOrigin) << extra;
        EXPECT_FALSE(health.role) << extra;
        EXPECT_EQ(health.tenants, 4) << extra;
    }
    auto health = json::decode<Healthz>(healthBase + R"(,"portal_origin":"https://app.example.com","role":"x"})");
    EXPECT_EQ(health.portalOrigin->text(), "https://app.example.com");
    EXPECT_EQ(health.role, "x");

    EXPECT_FALSE(decodes<Healthz>(R"({"healthy":true,"version":"2.0.1","tenants":4})"));
    EXPECT_FALSE(decodes<Healthz>(R"({"ok":true,"version":"2.0.1","tenants":null})"));
}

TEST(CoreRecords, HealthWritesOnlyWhatItHolds) {
    Healthz health{.role = std::nullopt, .healthy = true, .version = "2.0.1", .tenants = 4, .portalOrigin = std::nullopt};
    EXPECT_EQ(json::encode(health), R"({"ok":true,"version":"2.0.1","tenants":4})");
    health.role = std::string(DaemonRole::hosted);
    health.portalOrigin = platform::Url::parse("https://app.example.com/");
    EXPECT_EQ(json::encode(health),
              R"({"ok":true,"version":"2.0.1","role":"hosted","tenants":4,"portal_origin":"https://app.example.com/"})");
}

TEST(CoreRecords, MembershipKeepsAnyRoleAndRefusesABadDataPlane) {
    auto membership = json::decode<Membership>(
        R"({"tenant_id":"t1","tenant_name":"Ops","role":"night-shift","role_name":null,"data_plane_url":null})");
    EXPECT_EQ(membership.role, "night-shift");
    EXPECT_FALSE(membership.roleName);
    EXPECT_FALSE(membership.dataPlaneURL);
    EXPECT_FALSE(decodes<Membership>(R"({"tenant_id":"t1","tenant_name":"Ops","role":"x","data_plane_url":""})"));
    EXPECT_EQ(json::encode(membership), R"({"tenant_id":"t1","tenant_name":"Ops","role":"night-shift"})");
}

TEST(CoreRecords, ShownNameFallsBackToTheEmail) {
    EXPECT_EQ(json::decode<Account>(R"({"id":"a","email":"ann@example.com","display_name":""})").shownName(),
              "ann@example.com");
    EXPECT_EQ(json::decode<Account>(R"({"id":"a","email":"ann@example.com"})").shownName(), "ann@example.com");
    EXPECT_EQ(json::decode<Account>(R"({"id":"a","email":"ann@example.com","display_name":" "})").shownName(), " ");
}

TEST(CoreRecords, MeNeedsItsMembershipList) {
    const std::string account = R"("account":{"id":"a","email":"e"})";
    EXPECT_TRUE(json::decode<MeResponse>("{" + account + R"(,"memberships":[]})").memberships.empty());
    EXPECT_FALSE(decodes<MeResponse>("{" + account + "}"));
    EXPECT_FALSE(decodes<MeResponse>("{" + account + R"(,"memberships":[{"tenant_id":"t"}]})"));
}

TEST(CoreRecords, ProjectsAndLevels) {
    auto page = json::decode<ProjectPage>(
        R"({"projects":[{"name":"web","config_version":3,"sources":1,"rules":2,"open_alerts":0,"created_at":99}]})");
    EXPECT_FALSE(page.next);
    ProjectInfo other = page.projects[0];
    other.rules = 5;
    EXPECT_EQ(other.id(), page.projects[0].id());
    EXPECT_NE(other, page.projects[0]);

    EXPECT_EQ(AlertLevel::name(-5), "debug");
    EXPECT_EQ(AlertLevel::name(199), "debug");
    EXPECT_EQ(AlertLevel::name(200), "info");
    EXPECT_EQ(AlertLevel::name(399), "warn");
    EXPECT_EQ(AlertLevel::name(400), "error");
    EXPECT_EQ(AlertLevel::name(500), "critical");
}

TEST(TeamRecords, KeysAndAuditEntries) {
    const std::string key = R"({"id":"k","account_id":"a","tenant_id":"t","created_at":"2024-05-01T10:00:00Z")";
    auto live = json::decode<APIKeyInfo>(key + R"(,"revoked_at":null})");
    auto revoked = json::decode<APIKeyInfo>(key + R"(,"revoked_at":"2999-01-01T00:00:00Z"})");
    EXPECT_FALSE(live.isRevoked());
    EXPECT_TRUE(revoked.isRevoked());
    EXPECT_NE(live, revoked);
    EXPECT_FALSE(decodes<APIKeyInfo>(R"({"id":"k","account_id":"a","tenant_id":"t","created_at":5})"));

    EXPECT_FALSE(decodes<IssuedKey>(R"({"id":"k","api_key":"secret"})"));

    auto withNull = json::decode<AuditEntry>(R"({"id":"e","actor":"a","action":"x","detail":null,"created_at":3})");
    auto without = json::decode<AuditEntry>(R"({"id":"e","actor":"a","action":"x","created_at":3})");
    EXPECT_EQ(withNull, without);
    EXPECT_EQ(json::encode(without), R"({"id":"e","actor":"a","action":"x","created_at":3})");
    EXPECT_FALSE(decodes<AuditEntry>(R"({"id":"e","actor":"a","action":"x","created_at":"2024-05-01T10:00:00Z"})"));

    auto tenant = json::decode<CreatedTenant>(R"({"id":"t","name":"Ops","role":"owner","data_plane_url":null,"x":1})");
    EXPECT_FALSE(tenant.dataPlaneURL);
    EXPECT_FALSE(decodes<CreatedTenant>(R"({"id":"t","name":"Ops","role":"owner","data_plane_url":"a b"})"));
}

TEST(TeamRecords, MembersKeepAbsentApartFromEmptyOrFalse) {
    const std::string base = R"({"account_id":"a","email":"ann@example.com","role":"member")";
    auto plain = json::decode<Member>(base + "}");
    EXPECT_EQ(plain.displayLabel(), "ann@example.com");
    EXPECT_EQ(json::decode<Member>(base + R"(,"display_name":""})").displayLabel(), "");
    EXPECT_NE(plain, json::decode<Member>(base + R"(,"projects":[]})"));
    EXPECT_NE(plain, json::decode<Member>(base + R"(,"push_eligible":false})"));
    EXPECT_NE(plain, json::decode<Member>(base + R"(,"device_count":0})"));
    EXPECT_EQ(json::encode(plain), R"({"account_id":"a","email":"ann@example.com","role":"member"})");
    EXPECT_FALSE(decodes<Member>(base + R"(,"projects":[{"project":"p"}]})"));
    EXPECT_FALSE(decodes<Member>(base + R"(,"device_count":"2"})"));

    Member made("a", "ann@example.com", "member", "Ann", 2, true, false, std::vector<ProjectGrant>{{"p", "viewer"}},
                "Member");
    EXPECT_EQ(made, json::decode<Member>(
                        base + R"(,"role_name":"Member","display_name":"Ann","device_count":2,"push_eligible":true,)"
                               R"("critical_alerts":false,"projects":[{"project":"p","role":"viewer"}]})"));

    auto invite = json::decode<PendingInvite>(
        R"({"id":"i","email":"bob@example.com","role":"viewer","created_by":"a",)"
        R"("created_at":"2000-01-01T00:00:00Z","expires_at":"2000-01-02T00:00:00Z"})");
    EXPECT_EQ(invite, PendingInvite("i", "bob@example.com", "viewer", "a", invite.createdAt, invite.expiresAt));
}

TEST(TeamRecords, PlanReadsOptionalUsageAndFailsOnAnyMissingLimit) {
    const std::string limits = R"("limits":{"max_alerts":-1,"max_logs":5000000000,"max_projects":3,"ingest_rps":4,)"
                               R"("ingest_burst":5,"data_rps":6,"data_burst":7})";
    auto plan = json::decode<PlanInfo>(R"({"plan":"free",)" + limits + R"(,"usage":null})");
    EXPECT_FALSE(plan.usage);
    EXPECT_EQ(plan.limits.maxAlerts, -1);
    EXPECT_EQ(plan.limits.maxLogs, 5000000000);
    EXPECT_FALSE(plan.limits.maxChecks);

    auto used = json::decode<PlanInfo>(R"({"plan":"free",)" + limits +
                                       R"(,"usage":{"alerts":1,"logs":2,"projects":3,"checks":null}})");
    EXPECT_FALSE(used.usage->checks);
    EXPECT_FALSE(used.usage->browserMinutes);

    EXPECT_FALSE(decodes<PlanInfo>(R"({"plan":"free","limits":{"max_alerts":1,"max_logs":1,"max_projects":1,)"
                                   R"("ingest_rps":1,"ingest_burst":1,"data_rps":1}})"));
    EXPECT_FALSE(decodes<PlanInfo>(R"({"plan":"free",)" + limits +
                                   R"(,"usage":{"alerts":1,"logs":2,"projects":3,)"
                                   R"("browser_minutes":{"used":1,"limit":2}}})"));
}

}  // namespace
}  // namespace brisalune
