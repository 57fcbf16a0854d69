#include <brisalune/client/logs/endpoints.hpp>
#include <brisalune/platform/json_decode.hpp>

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

class LogLines : public testkit::EndpointTest {
protected:
    std::shared_ptr<testkit::TimeoutRecorder> transport = std::make_shared<testkit::TimeoutRecorder>();

    BrisaluneClient timedClient() { return client("session-token", "data-key", transport); }
};

TEST_F(LogLines, TailItemsComeInOrderAndTheWaitOnlyFromOne) {
    server.on("GET", "/v1/projects/a%2Fb/logtail", Reply::json("{}"));  // one segment
    const LogTailFilter all{.source = "nginx", .minLevel = 30, .messageTemplate = "disk <*>"};
    for (const auto& [filter, after, wait, query] :
         std::vector<std::tuple<LogTailFilter, std::optional<std::int64_t>, std::int64_t, std::string>>{
             {{}, std::nullopt, 0, "limit=100"},
             {all, 9, 25, "source=nginx&min_level=30&template=disk%20%3C%2A%3E&limit=100&after=9&wait=25"},
             {{.source = ""}, -3, -4, "source=&limit=100&after=-3"},
         }) {
        tailLogs(timedClient(), "a/b", filter, after, wait, 100);
        EXPECT_EQ(last().query, query);
    }
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_FALSE(LogTailFilter{.source = ""}.isEmpty());
}

// A timeout of zero or less would reach the transport as no limit at all.
TEST_F(LogLines, TailTimeoutIsTheWaitPlusFifteenSecondsNeverBelowFifteenNorOverflowing) {
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

TEST_F(LogLines, TheTailPageReadsLenientlyButItsLinesAndRetentionStrictly) {
    server.on("GET", "/v1/projects/web/logtail", Reply::json(R"({"cursor":41,"lines":[{"message":"m","level":30}],
        "retention":{"sources_total":3,"sources_retaining":3,"over_quota":true,"max_lines_per_source":500}})"));
    const LogTailPage page = tailLogs(client(), "web", {}, std::nullopt, 0, 1);
    EXPECT_EQ(page.lines.at(0).level, 30);
    EXPECT_EQ(page.retention, (LogRetention{3, 3, true, std::nullopt, 500}));

    for (const char* broken : {R"({"retention":{"sources_total":1}})", R"({"lines":[{"level":1}]})"}) {
        server.on("GET", "/v1/projects/web/logtail", Reply::json(broken));
        EXPECT_EQ(errorOf([&] { tailLogs(client(), "web", {}, std::nullopt, 0, 1); }).kind(), Case::invalidResponse);
    }
}

TEST_F(LogLines, DeletingLinesAndReadingTheirContext) {
    server.on("DELETE", "/v1/logs/-3", Reply::json("[1,2]", 202));
    deleteLogLine(client(), -3);
    EXPECT_EQ(last().header("Content-Type"), std::nullopt);
    EXPECT_EQ(errorOf([&] { deleteLogLine(client(), 404); }).kind(), Case::notFound);

    server.on("DELETE", "/v1/projects/web/sources/%2E/logs", Reply::json(R"({"deleted":0})"));
    EXPECT_EQ(deleteSourceLogs(client(), "web", ".", 0, -1), 0);
    EXPECT_EQ(last().query, "since=0&until=-1");

    // Context keeps the service's order and fails as a whole.
    server.on(
        "GET",
        "/v1/logs/8",
        Reply::json(R"({"line":{"message":"m"},"before":[{"message":"b2"},{"message":"b1"}],"after":[]})"));
    EXPECT_EQ(logLineContext(client(), 8, 2, 0).before.at(0).message, "b2");
    EXPECT_EQ(last().query, "before=2&after=0");
    for (const char* broken :
         {R"({"line":{"message":"m"},"before":[]})", R"({"line":{"message":"m"},"before":[{}],"after":[]})"}) {
        server.on("GET", "/v1/logs/8", Reply::json(broken));
        EXPECT_EQ(errorOf([&] { logLineContext(client(), 8, 1, 1); }).kind(), Case::invalidResponse) << broken;
    }
}

constexpr const char* finding = R"({"id":42,"project":"web","source":"nginx","pattern":"aws_key","state":"open",)"
                                R"("first_seen":1,"last_seen":2,"count":3})";
constexpr const char* block = R"({"id":"b1","project":"web","length":40,"created_at":5})";

TEST_F(LogLines, SecretFindingsAreListedPerProjectOrTeamWideAndDismissedWithoutABody) {
    server.on(
        "GET", "/v1/projects/a%2Fb/secret-findings", Reply::json(std::string(R"({"findings":[)") + finding + "]}"));
    const auto findings = listSecretFindings(client(), "a/b");
    ASSERT_EQ(findings.size(), 1U);
    EXPECT_EQ(json::encode(findings[0]), finding);  // an absent line id stays out
    EXPECT_TRUE(findings[0].isOpen());

    server.on("GET", "/v1/secret-findings", Reply::json(R"({"findings":[{"id":1,"project":"web"}]})"));
    EXPECT_EQ(errorOf([&] { listAllSecretFindings(client()); }).kind(), Case::invalidResponse);

    server.on("POST", "/v1/projects/%2E/secret-findings/-5/dismiss", Reply{204, {}, ""});
    dismissSecretFinding(client(), ".", -5);
    EXPECT_EQ(last().body, "");
    server.on("POST", "/v1/projects/web/secret-findings/0/dismiss", Reply::json(R"({"error":"gone"})", 404));
    EXPECT_EQ(errorOf([&] { dismissSecretFinding(client(), "web", 0); }).kind(), Case::notFound);
}

TEST(SecretFindingRecord, MatchesOnlyAWholeSignedDecimalOfItsId) {
    const auto withId = [](std::int64_t id) {
        return SecretFinding{id, "web", "nginx", "aws_key", "Open", 1, 2, 3, 9};
    };
    const SecretFinding f42 = withId(42);
    for (const char* yes : {"42", "+42", "0042"}) EXPECT_TRUE(f42.matches(yes)) << yes;
    for (const char* no :
         {"", "+", "-", " 42", "42 ", "4 2", "42.0", "0x2A", "43", "+-42", "--42", "9223372036854775808"}) {
        EXPECT_FALSE(f42.matches(no)) << no;
    }
    EXPECT_TRUE(withId(std::numeric_limits<std::int64_t>::min()).matches("-9223372036854775808"));
    EXPECT_FALSE(f42.isOpen());  // "Open" is not "open"
}

TEST_F(LogLines, SecretBlocksSendTheValueInTheBodyOnlyAndListLenientlyOnlyForSourceAndAuthor) {
    const std::string result = std::string(R"({"block":)") + block + R"(,"lines_rewritten":0,"findings_resolved":2})";
    server.on("POST", "/v1/projects/web/secret-blocks", Reply::json(result, 201));
    EXPECT_EQ(createSecretBlock(client(), "web", " s3cret ").findingsResolved, 2);
    EXPECT_EQ(last().body, R"({"value":" s3cret "})");
    EXPECT_EQ(last().query, "");
    createSecretBlock(client(), "web", "v", "");
    EXPECT_EQ(last().body, R"({"value":"v","source":""})");

    server.on(
        "GET",
        "/v1/projects/web/secret-blocks",
        Reply::json(
            R"({"blocks":[{"id":"b2","project":"web","source":null,"length":1,"created_at":6,"created_by":null}]})"));
    EXPECT_EQ(listSecretBlocks(client(), "web").at(0).createdBy, "");
    server.on("GET", "/v1/projects/web/secret-blocks", Reply::json(R"({"blocks":[{"id":"b","created_at":1}]})"));
    EXPECT_EQ(errorOf([&] { listSecretBlocks(client(), "web"); }).kind(), Case::invalidResponse);

    server.on("DELETE", "/v1/projects/web/secret-blocks/x%2Fy", Reply::json("not json"));
    deleteSecretBlock(client(), "web", "x/y");
    EXPECT_EQ(errorOf([&] { deleteSecretBlock(client("s", std::nullopt), "web", "b"); }).kind(), Case::unauthorized);
}

}  // namespace
}  // namespace brisalune
