#include <brisalune/client/logs/endpoints.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

using LogLineEndpoints = testkit::EndpointTest;

TEST_F(LogLineEndpoints, DeletingOneLineAcceptsAny2xxAndASourcesLinesGivesTheCount) {
    server.on("DELETE", "/v1/logs/-3", Reply::json("[1,2]", 202));
    deleteLogLine(client(), -3);
    EXPECT_EQ(last().query, "");
    EXPECT_EQ(last().header("Content-Type"), std::nullopt);

    server.on("DELETE", "/v1/projects/web/sources/%2E/logs", Reply::json(R"({"deleted":0})"));
    EXPECT_EQ(deleteSourceLogs(client(), "web", ".", 0, -1), 0);
    EXPECT_EQ(last().query, "since=0&until=-1");
    server.on("DELETE", "/v1/projects/web/sources/a%2Fb/logs", Reply::json("{}"));
    EXPECT_EQ(errorOf([&] { deleteSourceLogs(client(), "web", "a/b", 1, 2); }).kind(), Case::invalidResponse);
    EXPECT_EQ(errorOf([&] { deleteLogLine(client(), 404); }).kind(), Case::notFound);
}

TEST_F(LogLineEndpoints, ContextKeepsTheServicesOrderAndFailsAsAWhole) {
    server.on("GET", "/v1/logs/8", Reply::json(R"({"line":{"id":8,"message":"m"},"before":[],"after":[]})"));
    const LogLineContext alone = logLineContext(client(), 8, 0, 0);
    EXPECT_EQ(last().query, "before=0&after=0");
    EXPECT_EQ(alone.line.id, 8);
    EXPECT_TRUE(alone.before.empty() && alone.after.empty());

    server.on(
        "GET",
        "/v1/logs/8",
        Reply::json(R"({"line":{"message":"m"},"before":[{"message":"b2"},{"message":"b1"}],"after":[]})"));
    const LogLineContext around = logLineContext(client(), 8, 2, 0);
    ASSERT_EQ(around.before.size(), 2U);
    EXPECT_EQ(around.before[0].message, "b2");
    LogLineContext swapped = around;
    std::swap(swapped.before[0], swapped.before[1]);
    EXPECT_NE(swapped, around);

    for (const char* broken :
         {R"({"line":{"message":"m"},"before":[]})", R"({"line":{"message":"m"},"before":[{}],"after":[]})"}) {
        server.on("GET", "/v1/logs/8", Reply::json(broken));
        EXPECT_EQ(errorOf([&] { logLineContext(client(), 8, 1, 1); }).kind(), Case::invalidResponse) << broken;
    }
}

}  // namespace
}  // namespace brisalune
