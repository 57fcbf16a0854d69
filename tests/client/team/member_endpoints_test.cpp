#include <brisalune/client/team/member_endpoints.hpp>

#include <brisalune/client/team/endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class MemberEndpoints : public testkit::EndpointTest {};

const std::string report =
    R"({"removed":"a1","schedules":["s"],"escalations":[],"overrides":[],"disabled":[],"sources":[]})";

TEST_F(MemberEndpoints, ListsMembersInvitesAndKeysWithTheSessionToken) {
    server.on(
        "GET",
        "/v1/tenants/%2E/members",
        Reply::json(R"({"members":[{"account_id":"a1","email":"ann@example.com","role":"owner"}]})"));
    auto members = listMembers(client(), ".");
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].displayLabel(), "ann@example.com");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on(
        "GET",
        "/v1/tenants/t1/invites",
        Reply::json(R"({"invites":[{"id":"i1","email":"bo@example.com","role":"viewer","created_by":"a1",
                  "created_at":"2020-01-01T00:00:00Z","expires_at":"2020-01-08T00:00:00Z"}]})"));
    EXPECT_EQ(listInvites(client(), "t1").at(0).createdBy, "a1");

    server.on("GET", "/v1/tenants/t1/keys", Reply::json(R"({"keys":[{"id":"k1","account_id":"a1","tenant_id":"t1",
                  "created_at":"2024-05-01T10:00:00Z","revoked_at":"2024-05-02T10:00:00Z"}]})"));
    EXPECT_TRUE(listKeys(client(), "t1").at(0).isRevoked());
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    // A list without its key, or with one bad entry, is no answer at all.
    server.on("GET", "/v1/tenants/t1/members", Reply::json(R"({"people":[]})"));
    EXPECT_TRUE(errorOf([&] { listMembers(client(), "t1"); }).is(Case::invalidResponse));
    server.on("GET", "/v1/tenants/t1/keys", Reply::json(R"({"keys":[{"id":"k1"}]})"));
    EXPECT_TRUE(errorOf([&] { listKeys(client(), "t1"); }).is(Case::invalidResponse));
}

TEST_F(MemberEndpoints, RemovalWithoutPasswordSendsNoBodyAndMayReportNothing) {
    const std::string path = "/v1/tenants/t1/members/a%2F1%20x";
    server.on("DELETE", path, Reply{204, {}, ""});
    EXPECT_FALSE(removeMember(client(), "t1", "a/1 x"));
    EXPECT_EQ(last().rawTarget, path);
    EXPECT_EQ(last().body, "");

    server.on("DELETE", path, Reply{200, {}, ""});
    EXPECT_FALSE(removeMember(client(), "t1", "a/1 x"));

    server.on("DELETE", path, Reply::json(report));
    auto read = removeMember(client(), "t1", "a/1 x");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->schedules, std::vector<std::string>{"s"});

    server.on("DELETE", path, Reply::json(R"({"removed":true})"));
    EXPECT_TRUE(errorOf([&] { removeMember(client(), "t1", "a/1 x"); }).is(Case::invalidResponse));
    server.on("DELETE", path, Reply::json(R"({"error":"last owner"})", 409));
    EXPECT_TRUE(errorOf([&] { removeMember(client(), "t1", "a/1 x"); }).is(Case::conflict));
}

TEST_F(MemberEndpoints, RemovalWithPasswordSendsOnlyThePassword) {
    server.on("DELETE", "/v1/tenants/t1/members/a1", Reply::json(report));
    EXPECT_TRUE(removeMember(client(), "t1", "a1", "hunter2"));
    EXPECT_EQ(last().body, R"({"current_password":"hunter2"})");

    server.on(
        "DELETE",
        "/v1/tenants/t1/members/a1",
        Reply::json(R"({"fields":[{"field":"current_password","message":"wrong password"}]})", 422));
    EXPECT_TRUE(errorOf([&] { removeMember(client(), "t1", "a1", "nope"); }).isWrongCurrentPassword());
}

TEST_F(MemberEndpoints, InvitesAreMadeRevokedAndRedeemed) {
    server.on("POST", "/v1/tenants/t1/invites", Reply::json(R"({"token":"inv_1"})", 201));
    EXPECT_EQ(createInvite(client(), "t1", "bo@example.com", "viewer"), "inv_1");
    EXPECT_EQ(last().body, R"({"email":"bo@example.com","role":"viewer"})");

    createInvite(client(), "t1", "bo@example.com", "member", std::vector<ProjectGrant>{{"web", "responder"}}, "pw");
    EXPECT_EQ(
        last().body,
        R"({"email":"bo@example.com","role":"member","projects":[{"project":"web","role":"responder"}],)"
        R"("current_password":"pw"})");
    createInvite(client(), "t1", "bo@example.com", "member", std::vector<ProjectGrant>{});
    EXPECT_EQ(last().body, R"({"email":"bo@example.com","role":"member","projects":[]})");

    server.on("POST", "/v1/tenants/t1/invites", Reply::json(R"({"invite":"inv_1"})"));
    EXPECT_TRUE(errorOf([&] { createInvite(client(), "t1", "b", "viewer"); }).is(Case::invalidResponse));

    server.on("DELETE", "/v1/tenants/t1/invites/%2E%2E", Reply{200, {}, "gone"});
    revokeInvite(client(), "t1", "..");
    EXPECT_EQ(last().method, "DELETE");
    server.on("DELETE", "/v1/tenants/t1/invites/i1", Reply::json(R"({"error":"no such invite"})", 404));
    EXPECT_TRUE(errorOf([&] { revokeInvite(client(), "t1", "i1"); }).is(Case::notFound));

    server.on("POST", "/v1/invites/tok%2Fen/redeem", Reply::json(R"({"tenant_id":"t9","role":"auditor"})"));
    auto redeemed = redeemInvite(client(), "tok/en");
    EXPECT_EQ(redeemed.tenantId, "t9");
    EXPECT_EQ(redeemed.role, "auditor");
    EXPECT_EQ(last().body, "");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");
}

}  // namespace
}  // namespace brisalune
