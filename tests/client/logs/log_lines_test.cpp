#include <brisalune/client/logs/endpoints.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/timeout_recorder.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;
using std::chrono::seconds;

class FilteredTail : public testkit::EndpointTest {
protected:
    std::shared_ptr<testkit::TimeoutRecorder> transport = std::make_shared<testkit::TimeoutRecorder>();

    BrisaluneClient timedClient() {
        return BrisaluneClient(
            *platform::Url::parse(server.baseUrl()),
            "session-token",
            "data-key",
            transport,
            ClientIdentity::current(),
            compatibility);
    }
};

TEST_F(FilteredTail, ItemsComeInOrderAndTheWaitOnlyFromOne) {
    server.on("GET", "/v1/projects/web/logtail", Reply::json("{}"));
    const LogTailFilter all{.source = "nginx", .minLevel = 30, .messageTemplate = "disk <*>"};
    for (const auto& [filter, after, wait, query] :
         std::vector<std::tuple<LogTailFilter, std::optional<std::int64_t>, std::int64_t, std::string>>{
             {{}, std::nullopt, 0, "limit=100"},
             {all, 9, 25, "source=nginx&min_level=30&template=disk%20%3C%2A%3E&limit=100&after=9&wait=25"},
             {{.source = ""}, -3, -4, "source=&limit=100&after=-3"},
         }) {
        tailLogs(timedClient(), "web", filter, after, wait, 100);
        EXPECT_EQ(last().query, query);
    }
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_TRUE(LogTailFilter{}.isEmpty());
    EXPECT_FALSE(LogTailFilter{.source = ""}.isEmpty());
}

// A timeout of zero or less would reach the transport as no limit at all.
TEST_F(FilteredTail, TimeoutIsTheWaitPlusFifteenSecondsNeverBelowFifteenNorOverflowing) {
    server.on("GET", "/v1/projects/web/logtail", Reply::json("{}"));
    for (const auto& [wait, timeout] : std::vector<std::pair<std::int64_t, seconds>>{
             {0, seconds(15)}, {25, seconds(40)}, {-1, seconds(15)}, {-100, seconds(15)}}) {
        tailLogs(timedClient(), "web", {}, std::nullopt, wait, 10);
        EXPECT_EQ(transport->last.load(), timeout) << wait;
    }
    for (std::int64_t wait : {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}) {
        EXPECT_GE(tailTimeout(wait), seconds(15)) << wait;
    }
    EXPECT_EQ(
        tailTimeout(std::numeric_limits<std::int64_t>::max()),
        tailTimeout(std::numeric_limits<std::int64_t>::max() / 1000));
}

TEST_F(FilteredTail, ProjectStaysOneSegmentAndThePageReadsLeniently) {
    for (const auto& [project, path] : std::vector<std::pair<std::string, std::string>>{
             {".", "/v1/projects/%2E/logtail"},
             {"..", "/v1/projects/%2E%2E/logtail"},
             {"a/b", "/v1/projects/a%2Fb/logtail"}}) {
        server.on("GET", path, Reply::json("{}"));
        const LogTailPage empty = tailLogs(client(), project, {}, std::nullopt, 0, 1);
        EXPECT_EQ(last().path, path);
        EXPECT_EQ(empty.cursor, std::nullopt);
        EXPECT_TRUE(empty.lines.empty());
        EXPECT_EQ(empty.retention, std::nullopt);
    }

    server.on("GET", "/v1/projects/web/logtail", Reply::json(R"({"cursor":41,"lines":[{"message":"m","level":30}],
        "retention":{"sources_total":3,"sources_retaining":3,"over_quota":true,"max_lines_per_source":500}})"));
    const LogTailPage page = tailLogs(client(), "web", {}, std::nullopt, 0, 1);
    EXPECT_EQ(page.cursor, 41);
    ASSERT_EQ(page.lines.size(), 1U);
    EXPECT_EQ(page.lines[0].level, 30);
    EXPECT_EQ(page.retention, (LogRetention{3, 3, true, std::nullopt, 500}));

    for (const char* broken : {R"({"retention":{"sources_total":1}})", R"({"lines":[{"level":1}]})"}) {
        server.on("GET", "/v1/projects/web/logtail", Reply::json(broken));
        EXPECT_EQ(errorOf([&] { tailLogs(client(), "web", {}, std::nullopt, 0, 1); }).kind(), Case::invalidResponse);
    }
    server.on("GET", "/v1/projects/web/logtail", Reply::json(R"({"error":"bad","offset":1})", 422));
    EXPECT_EQ(errorOf([&] { tailLogs(client(), "web", {}, std::nullopt, 0, 1); }).kind(), Case::validation);
}

}  // namespace
}  // namespace brisalune
