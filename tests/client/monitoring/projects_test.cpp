#include <brisalune/client/monitoring/projects.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using standin::Reply;

class ProjectPageEndpoint : public testkit::EndpointTest {};

TEST_F(ProjectPageEndpoint, SendsTheLimitAndTheCursorOnlyWhenGiven) {
    server.on(
        "GET",
        "/v1/projects",
        Reply::json(R"({"projects":[{"name":"web","config_version":3,"sources":1,"rules":2,"open_alerts":0,)"
                    R"("created_at":1700000000}],"next":"c2"})"));
    auto page = listProjects(client(), 1);
    EXPECT_EQ(last().rawTarget, "/v1/projects?limit=1");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    ASSERT_EQ(page.projects.size(), 1u);
    EXPECT_EQ(page.projects[0].name, "web");
    EXPECT_EQ(page.next, "c2");

    listProjects(client(), 500, "a/b");
    EXPECT_EQ(last().rawTarget, "/v1/projects?limit=500&after=a%2Fb");

    server.clearRequests();
    auto error = errorOf([&] { listProjects(client("s", std::nullopt), 1); });
    EXPECT_EQ(error.message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());
    server.on("GET", "/v1/projects", Reply::json(R"({"error":"bad key"})", 401));
    EXPECT_TRUE(errorOf([&] { listProjects(client(), 1); }).is(BrisaluneError::Case::unauthorized));
}

}  // namespace
}  // namespace brisalune
