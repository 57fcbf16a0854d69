#include <brisalune/client/roles/roles.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brisalune {
namespace {

using Keys = std::vector<std::string>;

TEST(RoleRecords, RoleDefNameFallsBackToTheId) {
    const auto bare = json::decode<RoleDef>(R"({"id":"auditor"})");
    EXPECT_EQ(bare, (RoleDef{"auditor", "auditor", false, {}}));
    EXPECT_EQ(json::decode<RoleDef>(R"({"id":"auditor","name":null,"builtin":null,"permissions":null})"), bare);
    EXPECT_EQ(json::decode<RoleDef>(R"({"name":"","id":"a"})").name, "");  // an empty name is a name
    EXPECT_THROW(json::decode<RoleDef>(R"({"name":"Auditor"})"), json::DecodeError);
    EXPECT_THROW(json::decode<RoleDef>(R"({"id":"a","name":7})"), json::DecodeError);

    const RoleDef lead{"lead", "On-call lead", false, {"oncall:write"}};
    EXPECT_EQ(json::decode<RoleDef>(json::encode(lead)), lead);
}

TEST(RoleRecords, RouteRuleDefaultsAndUnknownScope) {
    const auto rule = json::decode<RouteRule>(R"({"min_role":"admin"})");
    EXPECT_EQ(rule, (RouteRule{"admin", false, std::nullopt, false, std::nullopt}));
    EXPECT_EQ(json::encode(rule), R"({"min_role":"admin","self_only":false,"unrestricted_only":false})");

    EXPECT_FALSE(json::decode<RouteRule>(R"({"min_role":"admin","scope":"tenant"})").scope);
    EXPECT_FALSE(json::decode<RouteRule>(R"({"min_role":"admin","scope":"Team"})").scope);
    const auto full = json::decode<RouteRule>(
        R"({"min_role":"responder","self_only":true,"scope":"project","unrestricted_only":true,"permission":"oncall:write"})");
    EXPECT_EQ(full, (RouteRule{"responder", true, RouteScope::project, true, "oncall:write"}));
    EXPECT_EQ(json::decode<RouteRule>(json::encode(full)), full);
    EXPECT_THROW(json::decode<RouteRule>(R"({"self_only":true})"), json::DecodeError);
}

TEST(RoleRecords, RolesAnswerDefaultsAndTellsEmptyFromAbsent) {
    const auto bare = json::decode<RolesResponse>(R"({"role":"member"})");
    EXPECT_EQ(bare.roles, (Keys{"owner", "admin", "member", "responder", "viewer"}));
    EXPECT_TRUE(bare.routes.empty());
    EXPECT_FALSE(bare.projects);
    EXPECT_FALSE(bare.permissions);
    EXPECT_FALSE(bare.roleDefs);
    EXPECT_EQ(json::decode<RolesResponse>(R"({"role":"member","roles":null,"routes":null})"), bare);

    const auto limited = json::decode<RolesResponse>(
        R"({"role":"viewer","roles":["viewer","auditor"],"projects":[],"permissions":[],"role_defs":[],)"
        R"("routes":{"POST /v1/alerts/{id}/ack":{"min_role":"admin","scope":"galaxy"}}})");
    ASSERT_TRUE(limited.projects);
    EXPECT_TRUE(limited.projects->empty());
    EXPECT_EQ(limited.permissions, Keys{});
    EXPECT_EQ(limited.roles, (Keys{"viewer", "auditor"}));
    EXPECT_FALSE(limited.routes.at("POST /v1/alerts/{id}/ack").scope);
    EXPECT_EQ(json::decode<RolesResponse>(json::encode(limited)), limited);
    EXPECT_EQ(json::decode<RolesResponse>(json::encode(bare)), bare);
    EXPECT_EQ(json::encode(bare).find("projects"), std::string::npos);

    // A grant without its role fails the grant and the whole answer.
    EXPECT_THROW(json::decode<ProjectGrant>(R"({"project":"p1"})"), json::DecodeError);
    EXPECT_THROW(json::decode<RolesResponse>(R"({"role":"admin","projects":[{"project":"p1"}]})"), json::DecodeError);
    EXPECT_THROW(json::decode<RolesResponse>(R"({"roles":[]})"), json::DecodeError);
}

}  // namespace
}  // namespace brisalune
