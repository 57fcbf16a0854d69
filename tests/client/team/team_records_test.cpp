#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/devices/devices.hpp>
#include <brisalune/client/team/team.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

namespace brisalune {
namespace {

// Each record read twice from one answer, then once from an answer that differs in one field:
// equal records hash alike and a set keeps one of them; the different one stands apart.
template <class Record>
void hashesAgreeWithEquality(const std::string& json, const std::string& other) {
    const auto one = json::decode<Record>(json);
    const auto same = json::decode<Record>(json);
    const auto different = json::decode<Record>(other);
    ASSERT_EQ(one, same);
    ASSERT_NE(one, different);
    EXPECT_EQ(std::hash<Record>{}(one), std::hash<Record>{}(same));
    EXPECT_EQ((std::unordered_set<Record>{one, same, different}.size()), 2u);
}

TEST(TeamRecords, HashesAgreeWithEquality) {
    hashesAgreeWithEquality<APIKeyInfo>(
        R"({"id":"k1","account_id":"a","tenant_id":"t","created_at":"2026-01-01T00:00:00Z"})",
        R"({"id":"k1","account_id":"a","tenant_id":"t","created_at":"2026-01-01T00:00:00Z","revoked_at":"2026-02-01T00:00:00Z"})");
    hashesAgreeWithEquality<AuditEntry>(
        R"({"id":"e1","actor":"a","action":"key.issue","created_at":5})",
        R"({"id":"e1","actor":"a","action":"key.issue","detail":"","created_at":5})");
    hashesAgreeWithEquality<Member>(
        R"({"account_id":"a","email":"m@x","role":"admin","projects":[{"project":"web","role":"viewer"}]})",
        R"({"account_id":"a","email":"m@x","role":"admin","projects":[]})");
    hashesAgreeWithEquality<PendingInvite>(
        R"({"id":"i","email":"m@x","role":"viewer","created_by":"a","created_at":"2026-01-01T00:00:00Z","expires_at":"2026-01-08T00:00:00Z"})",
        R"({"id":"i","email":"m@x","role":"viewer","role_name":"Viewer","created_by":"a","created_at":"2026-01-01T00:00:00Z","expires_at":"2026-01-08T00:00:00Z"})");
    hashesAgreeWithEquality<BrowserMinutesUsage>(
        R"({"used":1,"limit":60,"resets_at":9})", R"({"used":2,"limit":60,"resets_at":9})");
    hashesAgreeWithEquality<Membership>(
        R"({"tenant_id":"t","tenant_name":"Ops","role":"admin","data_plane_url":"https://box.example"})",
        R"({"tenant_id":"t","tenant_name":"Ops","role":"admin","data_plane_url":"https://other.example"})");
    hashesAgreeWithEquality<Account>(R"({"id":"a","email":"m@x"})", R"({"id":"a","email":"m@x","display_name":""})");
    hashesAgreeWithEquality<ProjectInfo>(
        R"({"name":"web","config_version":1,"sources":2,"rules":3,"open_alerts":4,"created_at":5})",
        R"({"name":"web","config_version":1,"sources":2,"rules":3,"open_alerts":4,"created_at":6})");
    hashesAgreeWithEquality<Device>(
        R"({"token":"ab01","platform":"macos","created_at":"2026-01-01T00:00:00Z","last_seen_at":"2026-01-02T00:00:00Z"})",
        R"({"token":"ab01","platform":"macos","created_at":"2026-01-01T00:00:00Z","last_seen_at":"2026-01-03T00:00:00Z"})");
}

}  // namespace
}  // namespace brisalune
