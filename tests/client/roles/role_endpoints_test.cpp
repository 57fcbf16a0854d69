#include <brisalune/client/roles/endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

const std::string memberAnswer = R"({"account_id":"a1","email":"ann@example.com","role":"admin"})";

class RoleEndpoints : public testkit::EndpointTest {};

TEST_F(RoleEndpoints, RolesOnTheDataPlaneWithNotFoundAsNone) {
    server.on("GET", "/v1/roles", Reply::json(R"({"role":"viewer","projects":[{"project":"p","role":"admin"}]})"));
    auto answer = roles(client());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->projects, (std::vector<ProjectGrant>{{"p", "admin"}}));
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_EQ(last().body, "");

    server.on("GET", "/v1/roles", Reply::json(R"({"error":"no roles here"})", 404));
    EXPECT_FALSE(roles(client()));

    server.on("GET", "/v1/roles", Reply::json(R"({"error":"nope"})", 403));
    EXPECT_TRUE(errorOf([&] { roles(client()); }).is(Case::forbidden));
    server.on("GET", "/v1/roles", Reply::json(R"({"role":"admin","projects":[{"project":"p"}]})"));
    EXPECT_TRUE(errorOf([&] { roles(client()); }).is(Case::invalidResponse));
}

TEST_F(RoleEndpoints, MemberRoleSendsThePasswordOnlyWhenGiven) {
    server.on("PUT", "/v1/tenants/%2E/members/%2E%2E", Reply::json(memberAnswer));
    EXPECT_EQ(setMemberRole(client(), ".", "..", "admin").role, "admin");
    EXPECT_EQ(last().body, R"({"role":"admin"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("PUT", "/v1/tenants/t1/members/a1", Reply::json(memberAnswer));
    setMemberRole(client(), "t1", "a1", "owner", "hunter2");
    EXPECT_EQ(last().body, R"({"role":"owner","current_password":"hunter2"})");

    server.on("PUT", "/v1/tenants/t1/members/a1", Reply::json(R"({"error":"no such member"})", 404));
    EXPECT_TRUE(errorOf([&] { setMemberRole(client(), "t1", "a1", "owner"); }).is(Case::notFound));
}

TEST_F(RoleEndpoints, MemberProjectsWriteAbsentGrantsAsNull) {
    server.on("PUT", "/v1/tenants/t1/members/a%2F1/projects", Reply::json(memberAnswer));
    setMemberProjects(client(), "t1", "a/1", std::nullopt);
    EXPECT_EQ(last().body, R"({"projects":null})");
    setMemberProjects(client(), "t1", "a/1", std::vector<ProjectGrant>{});
    EXPECT_EQ(last().body, R"({"projects":[]})");
    setMemberProjects(client(), "t1", "a/1", std::vector<ProjectGrant>{{"p", "viewer"}});
    EXPECT_EQ(last().body, R"({"projects":[{"project":"p","role":"viewer"}]})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("PUT", "/v1/tenants/t1/members/a%2F1/projects", Reply::json(R"({"account_id":"a1"})"));
    EXPECT_TRUE(errorOf([&] { setMemberProjects(client(), "t1", "a/1", std::nullopt); }).is(Case::invalidResponse));
}

}  // namespace
}  // namespace brisalune
