#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/defaults.hpp>

#include <support/alert_samples.hpp>
#include <support/endpoint_fixture.hpp>
#include <support/temp_dir.hpp>
#include <support/timeout_recorder.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;
using std::chrono::seconds;
using testkit::alertJson;
using testkit::alertObject;
using testkit::pullJson;

class AlertEndpoints : public testkit::EndpointTest {
protected:
    std::shared_ptr<testkit::TimeoutRecorder> transport = std::make_shared<testkit::TimeoutRecorder>();

    BrisaluneClient timedClient() { return client("session-token", "data-key", transport); }
};

TEST_F(AlertEndpoints, PullSendsWaitOnlyFromOneAndWaitsFifteenSecondsLonger) {
    server.on("GET", "/v1/pull", Reply::json(pullJson(3)));
    for (const auto& [cursor, wait, query, timeout] : std::vector<std::tuple<int, int, std::string, seconds>>{
             {0, 0, "cursor=0", seconds(15)},
             {42, 25, "cursor=42&wait=25", seconds(40)},
             {-5, -1, "cursor=-5", seconds(14)},
             {7, 3600, "cursor=7&wait=3600", seconds(3615)},
         }) {
        pull(timedClient(), cursor, wait);
        EXPECT_EQ(last().query, query);
        EXPECT_EQ(transport->last.load(), timeout) << query;
    }
    EXPECT_EQ(last().method, "GET");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_EQ(last().body, "");
}

TEST_F(AlertEndpoints, PullRefusesWaitsWithoutAPositiveTimeoutBeforeSending) {
    for (std::int64_t wait :
         {std::int64_t{-15}, std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_THROW(pull(client(), 0, wait), std::invalid_argument) << wait;
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(pullTimeout(-14), seconds(1));
}

TEST_F(AlertEndpoints, PullGivesTheAnswerUnmerged) {
    server.on(
        "GET",
        "/v1/pull",
        Reply::json(pullJson(77, {alertObject("a", 2), alertObject("a", 1, "resolved")}, {{"web", 4}})));
    const PullResponse answer = pull(client(), 0, 0);
    EXPECT_EQ(answer.cursor, 77);
    EXPECT_EQ(answer.configVersions, (std::map<std::string, std::int64_t>{{"web", 4}}));
    ASSERT_EQ(answer.alerts.size(), 2U);
    EXPECT_EQ(answer.alerts[1].state, "resolved");
}

TEST_F(AlertEndpoints, ErrorStatusesAndBadAnswersMapToErrors) {
    server.on("GET", "/v1/pull", Reply::json(R"({"error":"revoked"})", 401));
    EXPECT_TRUE(errorOf([&] { pull(client(), 0, 0); }).is(Case::unauthorized));
    server.on("POST", "/v1/alerts/gone/ack", Reply::json(R"({"error":"no such alert"})", 404));
    EXPECT_TRUE(errorOf([&] { acknowledge(client(), "gone"); }).is(Case::notFound));
    server.on("POST", "/v1/alerts/odd/ack", Reply::json(R"({"ok":true})"));
    EXPECT_TRUE(errorOf([&] { acknowledge(client(), "odd"); }).is(Case::invalidResponse));
}

TEST_F(AlertEndpoints, AcknowledgeSendsNoBodyAndGivesTheAlertAfterwards) {
    server.on("POST", "/v1/alerts/a-1/ack", Reply::json(alertJson("a-1", 8, "acked")));
    EXPECT_EQ(acknowledge(timedClient(), "a-1").updatedSeq, 8);
    EXPECT_EQ(last().body, "");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_EQ(transport->last.load(), seconds(60));
}

TEST_F(AlertEndpoints, ResolveSendsABodyOnlyWhenCauseOrFixIsGiven) {
    server.on("POST", "/v1/alerts/a-1/resolve", Reply::json(alertJson("a-1", 9, "resolved")));
    EXPECT_EQ(resolve(client(), "a-1").state, "resolved");
    EXPECT_EQ(last().body, "");

    resolve(client(), "a-1", "");
    EXPECT_EQ(last().body, R"({"cause":""})");
    resolve(client(), "a-1", std::nullopt, "restarted");
    EXPECT_EQ(last().body, R"({"fix":"restarted"})");
    resolve(client(), "a-1", "disk", "cleaned");
    EXPECT_EQ(last().body, R"({"cause":"disk","fix":"cleaned"})");
}

TEST_F(AlertEndpoints, AlertIdsStayOnePathSegment) {
    server.on("POST", "/v1/alerts/a%2Fb%20c/ack", Reply::json(alertJson("a/b c", 1, "acked")));
    EXPECT_EQ(acknowledge(client(), "a/b c").id, "a/b c");
}

TEST_F(AlertEndpoints, LogTailAsksForTemplateAndLimitAndFallsBackToMessages) {
    auto answer = [&](const char* body) { server.on("GET", "/v1/projects/a%2Fb/logtail", Reply::json(body)); };
    answer(R"({"messages":["a","b"]})");
    const auto lines = logTail(client(), "a/b", "disk <*> full", 5);
    EXPECT_EQ(last().query, "template=disk%20%3C%2A%3E%20full&limit=5");
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[1].message, "b");
    EXPECT_EQ(lines[1].meta, std::nullopt);
    EXPECT_EQ(logTailMessages(client(), "a/b", "t", 2), (std::vector<std::string>{"a", "b"}));

    answer(R"({"messages":["a"],"lines":[]})");
    EXPECT_TRUE(logTail(client(), "a/b", "t", 1).empty());
    answer(R"({"messages":[],"lines":[{"message":"x","id":3,"host":"h"}]})");
    EXPECT_EQ(logTail(client(), "a/b", "t", 1).at(0).meta.value().host, "h");
    answer(R"({"lines":[]})");
    EXPECT_TRUE(errorOf([&] { logTail(client(), "a/b", "t", 1); }).is(Case::invalidResponse));
}

TEST(LegacyPullCursorSweep, RemovesOnlyKeysUnderThePrefix) {
    testkit::TempDir dir;
    platform::Defaults defaults(dir / "defaults.json");
    LegacyPullCursorSweep::run(defaults);  // no file yet
    const std::vector<std::string> swept{"brisalune.pull-cursor.t1", "brisalune.pull-cursor."};
    const std::vector<std::string> kept{"brisalune.pull-cursor", "brisalune.pull-cursorX", "brisalune.pending-acks"};
    for (const auto& key : swept) defaults.set(key, 5);
    for (const auto& key : kept) defaults.set(key, 5);
    LegacyPullCursorSweep::run(defaults);
    for (const auto& key : swept) EXPECT_EQ(defaults.integer(key), std::nullopt) << key;
    for (const auto& key : kept) EXPECT_EQ(defaults.integer(key), 5) << key;
}

}  // namespace
}  // namespace brisalune
