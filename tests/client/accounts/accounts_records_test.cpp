#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/team/team.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

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

TEST(CoreRecords, HealthPortalOriginNeverFailsTheRecord) {
    const std::string base = R"({"ok":true,"version":"2.0.1","tenants":4)";
    for (const char* extra : {R"(,"portal_origin":null)", R"(,"portal_origin":7)", R"(,"portal_origin":"not a url")"}) {
        auto health = json::decode<Healthz>(base + extra + "}");
        EXPECT_FALSE(health.portalOrigin) << extra;
        EXPECT_EQ(health.tenants, 4) << extra;
    }
    EXPECT_EQ(
        json::decode<Healthz>(base + R"(,"portal_origin":"https://app.example.com"})").portalOrigin->text(),
        "https://app.example.com");
    EXPECT_FALSE(decodes<Healthz>(R"({"healthy":true,"version":"2.0.1","tenants":4})"));
    EXPECT_FALSE(decodes<Healthz>(R"({"ok":true,"version":"2.0.1","tenants":null})"));
    EXPECT_EQ(json::encode(json::decode<Healthz>(base + "}")), base + "}");  // absent stays absent
}

TEST(CoreRecords, MembershipKeepsAnyRoleAndRefusesABadDataPlane) {
    auto membership = json::decode<Membership>(
        R"({"tenant_id":"t1","tenant_name":"Ops","role":"night-shift","role_name":null,"data_plane_url":null})");
    EXPECT_EQ(membership.role, "night-shift");
    EXPECT_FALSE(membership.dataPlaneURL);
    EXPECT_FALSE(decodes<Membership>(R"({"tenant_id":"t1","tenant_name":"Ops","role":"x","data_plane_url":""})"));

    const std::string account = R"("account":{"id":"a","email":"e"})";
    EXPECT_TRUE(json::decode<MeResponse>("{" + account + R"(,"memberships":[]})").memberships.empty());
    EXPECT_FALSE(decodes<MeResponse>("{" + account + "}"));
}

TEST(CoreRecords, ShownNameFallsBackToTheEmailAndLevelsHaveNames) {
    EXPECT_EQ(
        json::decode<Account>(R"({"id":"a","email":"ann@example.com","display_name":""})").shownName(),
        "ann@example.com");
    EXPECT_EQ(json::decode<Account>(R"({"id":"a","email":"ann@example.com"})").shownName(), "ann@example.com");
    EXPECT_EQ(json::decode<Account>(R"({"id":"a","email":"ann@example.com","display_name":" "})").shownName(), " ");

    const std::pair<std::int64_t, std::string_view> levels[] = {
        {-5, "debug"}, {199, "debug"}, {200, "info"}, {399, "warn"}, {400, "error"}, {500, "critical"}};
    for (const auto& [level, name] : levels) EXPECT_EQ(AlertLevel::name(level), name) << level;
}

TEST(TeamRecords, KeysAndAuditEntries) {
    const std::string key = R"({"id":"k","account_id":"a","tenant_id":"t","created_at":"2024-05-01T10:00:00Z")";
    EXPECT_FALSE(json::decode<APIKeyInfo>(key + R"(,"revoked_at":null})").isRevoked());
    EXPECT_TRUE(json::decode<APIKeyInfo>(key + R"(,"revoked_at":"2999-01-01T00:00:00Z"})").isRevoked());
    EXPECT_FALSE(decodes<APIKeyInfo>(R"({"id":"k","account_id":"a","tenant_id":"t","created_at":5})"));
    EXPECT_FALSE(decodes<IssuedKey>(R"({"id":"k","api_key":"secret"})"));  // the secret travels as "token"

    auto withNull = json::decode<AuditEntry>(R"({"id":"e","actor":"a","action":"x","detail":null,"created_at":3})");
    EXPECT_EQ(json::encode(withNull), R"({"id":"e","actor":"a","action":"x","created_at":3})");
    EXPECT_FALSE(decodes<AuditEntry>(R"({"id":"e","actor":"a","action":"x","created_at":"2024-05-01T10:00:00Z"})"));
}

TEST(TeamRecords, MembersKeepAbsentApartFromEmptyOrFalse) {
    const std::string base = R"({"account_id":"a","email":"ann@example.com","role":"member")";
    auto plain = json::decode<Member>(base + "}");
    EXPECT_EQ(plain.displayLabel(), "ann@example.com");
    EXPECT_EQ(json::decode<Member>(base + R"(,"display_name":""})").displayLabel(), "");
    EXPECT_NE(plain, json::decode<Member>(base + R"(,"projects":[]})"));
    EXPECT_EQ(json::encode(plain), base + "}");

    // The role's display name is the last argument of the constructor.
    Member made(
        "a", "ann@example.com", "member", "Ann", 2, true, false, std::vector<ProjectGrant>{{"p", "viewer"}}, "Member");
    EXPECT_EQ(
        made,
        json::decode<Member>(
            base + R"(,"role_name":"Member","display_name":"Ann","device_count":2,"push_eligible":true,)"
                   R"("critical_alerts":false,"projects":[{"project":"p","role":"viewer"}]})"));
}

TEST(TeamRecords, PlanReadsOptionalUsageAndFailsOnAnyMissingLimit) {
    const std::string limits = R"("limits":{"max_alerts":-1,"max_logs":5000000000,"max_projects":3,"ingest_rps":4,)"
                               R"("ingest_burst":5,"data_rps":6,"data_burst":7})";
    auto plan = json::decode<PlanInfo>(R"({"plan":"free",)" + limits + R"(,"usage":null})");
    EXPECT_FALSE(plan.usage);
    EXPECT_EQ(plan.limits.maxLogs, 5000000000);
    EXPECT_FALSE(plan.limits.maxChecks);
    EXPECT_FALSE(decodes<PlanInfo>(R"({"plan":"free","limits":{"max_alerts":1,"max_logs":1,"max_projects":1,)"
                                   R"("ingest_rps":1,"ingest_burst":1,"data_rps":1}})"));
    EXPECT_FALSE(decodes<PlanInfo>(
        R"({"plan":"free",)" + limits +
        R"(,"usage":{"alerts":1,"logs":2,"projects":3,"browser_minutes":{"used":1}}})"));
}

}  // namespace
}  // namespace brisalune
