#include <brisalune/client/core/client.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/client/team/team.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class TeamKeyEndpoints : public testkit::EndpointTest {};

TEST_F(TeamKeyEndpoints, IssueSendsNoBodyAndReadsTheKeyUnderToken) {
    server.on("POST", "/v1/tenants/%2E%2E/keys", Reply::json(R"({"id":"k1","token":"brk_secret"})", 201));
    auto key = issueKey(client(), "..");
    EXPECT_EQ(key.id, "k1");
    EXPECT_EQ(key.apiKey, "brk_secret");
    EXPECT_EQ(last().body, "");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("POST", "/v1/tenants/t1/keys", Reply::json(R"({"id":"k1","api_key":"brk_secret"})"));
    EXPECT_TRUE(errorOf([&] { issueKey(client(), "t1"); }).is(Case::invalidResponse));
    server.on("POST", "/v1/tenants/t1/keys", Reply::json(R"({"error":"owner role required"})", 403));
    EXPECT_TRUE(errorOf([&] { issueKey(client(), "t1"); }).is(Case::forbidden));
}

TEST_F(TeamKeyEndpoints, RevokeAcceptsAny2xxAndMapsFailures) {
    server.on("DELETE", "/v1/tenants/%2E/keys/a%2Fb%20c", Reply{200, {}, "not json"});
    revokeKey(client(), ".", "a/b c");
    EXPECT_EQ(last().method, "DELETE");
    EXPECT_EQ(last().rawTarget, "/v1/tenants/%2E/keys/a%2Fb%20c");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("DELETE", "/v1/tenants/t1/keys/k1", Reply::json(R"({"error":"no such key"})", 404));
    EXPECT_TRUE(errorOf([&] { revokeKey(client(), "t1", "k1"); }).is(Case::notFound));
}

}  // namespace
}  // namespace brisalune
