#include <brisalune/client/client.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/http.hpp>
#include <brisalune/standin/server.hpp>

#include "support/alert_samples.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <mutex>
#include <stdexcept>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;
using testing::alertJson;
using testing::alertObject;
using testing::pullJson;

// The real transport, noting the time-out of every request it carries.
class TimeoutRecorder : public http::Transport {
public:
    http::Response perform(const http::Request& request) override {
        {
            std::lock_guard lock(mutex_);
            last_ = request.timeout;
        }
        return real_->perform(request);
    }
    std::chrono::milliseconds last() const {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    std::shared_ptr<http::Transport> real_ = http::curlTransport();
    mutable std::mutex mutex_;
    std::chrono::milliseconds last_{0};
};

class AlertEndpoints : public ::testing::Test {
protected:
    standin::Server server;
    ServerCompatibility compatibility;
    std::shared_ptr<TimeoutRecorder> transport = std::make_shared<TimeoutRecorder>();

    BrisaluneClient client(std::optional<std::string> key = "data-key") {
        return BrisaluneClient(*platform::Url::parse(server.baseUrl()), "session-token", std::move(key), transport,
                               ClientIdentity::current(), compatibility);
    }

    template <class F>
    BrisaluneError errorOf(F&& f) {
        try {
            f();
        } catch (const BrisaluneError& error) {
            return error;
        }
        ADD_FAILURE() << "no BrisaluneError thrown";
        return BrisaluneError::transport("none");
    }
};

TEST_F(AlertEndpoints, PullSendsWaitOnlyFromOneAndWaitsFifteenSecondsLonger) {
    server.on("GET", "/v1/pull", Reply::json(pullJson(3)));
    struct Expectation {
        std::int64_t cursor, wait;
        std::string query;
        std::chrono::seconds timeout;
    };
    for (const auto& [cursor, wait, query, timeout] : {
             Expectation{0, 0, "cursor=0", std::chrono::seconds(15)},
             Expectation{42, 25, "cursor=42&wait=25", std::chrono::seconds(40)},
             Expectation{-5, -1, "cursor=-5", std::chrono::seconds(14)},
             Expectation{7, 45, "cursor=7&wait=45", std::chrono::seconds(60)},
             Expectation{7, 3600, "cursor=7&wait=3600", std::chrono::seconds(3615)},
         }) {
        client().pull(cursor, wait);
        const auto request = server.lastRequest();
        EXPECT_EQ(request->method, "GET");
        EXPECT_EQ(request->query, query);
        EXPECT_EQ(request->header("Authorization"), "Bearer data-key");
        EXPECT_EQ(request->body, "");
        EXPECT_EQ(transport->last(), timeout) << query;
    }
}

TEST_F(AlertEndpoints, PullRefusesWaitsWithoutAPositiveTimeoutBeforeSending) {
    for (std::int64_t wait : {std::int64_t{-15}, std::int64_t{-1000}, std::numeric_limits<std::int64_t>::max(),
                              std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_THROW(client().pull(0, wait), std::invalid_argument) << wait;
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(BrisaluneClient::pullTimeout(-14), std::chrono::seconds(1));
}

TEST_F(AlertEndpoints, PullGivesTheAnswerUnmerged) {
    server.on("GET", "/v1/pull",
              Reply::json(pullJson(77, {alertObject("a", 2), alertObject("a", 1, "resolved")}, {{"web", 4}})));
    const PullResponse pull = client().pull(0, 0);
    EXPECT_EQ(pull.cursor, 77);
    EXPECT_EQ(pull.configVersions, (std::map<std::string, std::int64_t>{{"web", 4}}));
    ASSERT_EQ(pull.alerts.size(), 2U);
    EXPECT_EQ(pull.alerts[1].state, "resolved");
}

TEST_F(AlertEndpoints, FailuresOfTheRoadAndOfTheAnswer) {
    EXPECT_EQ(errorOf([&] { client(std::nullopt).pull(0, 0); }).message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());

    server.on("GET", "/v1/pull", Reply::json(R"({"error":"revoked"})", 401));
    EXPECT_TRUE(errorOf([&] { client().pull(0, 0); }).is(Case::unauthorized));

    server.on("POST", "/v1/alerts/gone/ack", Reply::json(R"({"error":"no such alert"})", 404));
    EXPECT_TRUE(errorOf([&] { client().acknowledge("gone"); }).is(Case::notFound));

    server.on("POST", "/v1/alerts/odd/ack", Reply::json(R"({"ok":true})"));
    EXPECT_TRUE(errorOf([&] { client().acknowledge("odd"); }).is(Case::invalidResponse));

    server.on("POST", "/v1/alerts/empty/ack", Reply::json(""));
    EXPECT_TRUE(errorOf([&] { client().acknowledge("empty"); }).is(Case::invalidResponse));
}

TEST_F(AlertEndpoints, AcknowledgeSendsNoBodyAndGivesTheAlertAfterwards) {
    server.on("POST", "/v1/alerts/a-1/ack", Reply::json(alertJson("a-1", 8, "acked")));
    const AlertSnapshot acked = client().acknowledge("a-1");
    EXPECT_EQ(acked.state, "acked");
    EXPECT_EQ(acked.updatedSeq, 8);
    const auto request = server.lastRequest();
    EXPECT_EQ(request->body, "");
    EXPECT_EQ(request->header("Content-Type"), std::nullopt);
    EXPECT_EQ(request->header("Authorization"), "Bearer data-key");
    EXPECT_EQ(transport->last(), std::chrono::seconds(60));
}

TEST_F(AlertEndpoints, ResolveSendsABodyOnlyWhenCauseOrFixIsGiven) {
    server.on("POST", "/v1/alerts/a-1/resolve", Reply::json(alertJson("a-1", 9, "resolved")));
    EXPECT_EQ(client().resolve("a-1").state, "resolved");
    EXPECT_EQ(server.lastRequest()->body, "");
    EXPECT_EQ(server.lastRequest()->header("Content-Type"), std::nullopt);

    client().resolve("a-1", "");
    EXPECT_EQ(server.lastRequest()->body, R"({"cause":""})");
    EXPECT_EQ(server.lastRequest()->header("Content-Type"), "application/json");

    client().resolve("a-1", std::nullopt, "restarted");
    EXPECT_EQ(server.lastRequest()->body, R"({"fix":"restarted"})");
    client().resolve("a-1", "disk", "cleaned");
    EXPECT_EQ(server.lastRequest()->body, R"({"cause":"disk","fix":"cleaned"})");
}

TEST_F(AlertEndpoints, AlertIdsStayOnePathSegment) {
    for (const auto& [id, segment] : std::vector<std::pair<std::string, std::string>>{
             {".", "%2E"},
             {"..", "%2E%2E"},
             {"a.b", "a.b"},
             {"a/b c", "a%2Fb%20c"},
             {"50%?#", "50%25%3F%23"},
             {"-_~", "-_~"},
         }) {
        server.on("POST", "/v1/alerts/" + segment + "/ack", Reply::json(alertJson(id, 1, "acked")));
        EXPECT_EQ(client().acknowledge(id).id, id) << segment;
        EXPECT_EQ(server.lastRequest()->path, "/v1/alerts/" + segment + "/ack");
    }
    // Letters of every script stay in the segment; only the address layer escapes their bytes.
    EXPECT_EQ(BrisaluneClient::escapedPathSegment("caf\u00e9"), "caf\u00e9");
}

TEST_F(AlertEndpoints, LogTailAsksForTemplateAndLimitAndFallsBackToMessages) {
    server.on("GET", "/v1/projects/%2E%2E/logtail", Reply::json(R"({"messages":["a","b"]})"));
    const auto lines = client().logTail("..", "disk <*> full", 5);
    EXPECT_EQ(server.lastRequest()->query, "template=disk%20%3C%2A%3E%20full&limit=5");
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[1], (LogLine{.id = std::nullopt,
                                 .message = "b",
                                 .level = std::nullopt,
                                 .source = std::nullopt,
                                 .templateSHA256 = std::nullopt,
                                 .createdAt = std::nullopt,
                                 .meta = std::nullopt,
                                 .secretWarning = false}));
    EXPECT_EQ(client().logTailMessages("..", "t", 2), (std::vector<std::string>{"a", "b"}));

    server.on("GET", "/v1/projects/a%2Fb/logtail", Reply::json(R"({"messages":["a"],"lines":[]})"));
    EXPECT_TRUE(client().logTail("a/b", "t", 1).empty());

    server.on("GET", "/v1/projects/web/logtail",
              Reply::json(R"({"messages":[],"lines":[{"message":"x","id":3,"host":"h"}]})"));
    const auto full = client().logTail("web", "t", 1);
    ASSERT_EQ(full.size(), 1U);
    EXPECT_EQ(full[0].id, 3);
    EXPECT_EQ(full[0].meta->host, "h");

    server.on("GET", "/v1/projects/bad/logtail", Reply::json(R"({"lines":[]})"));
    EXPECT_TRUE(errorOf([&] { client().logTail("bad", "t", 1); }).is(Case::invalidResponse));
}

TEST(LegacyPullCursorSweep, RemovesOnlyKeysUnderThePrefix) {
    testing::TempDir dir;
    platform::Defaults defaults(dir / "defaults.json");
    LegacyPullCursorSweep::run(defaults);  // no file yet
    for (const char* key : {"brisalune.pull-cursor.t1", "brisalune.pull-cursor.", "brisalune.pull-cursor",
                            "brisalune.pull-cursorX", "brisalune.pending-acks"}) {
        defaults.set(key, 5);
    }
    LegacyPullCursorSweep::run(defaults);
    EXPECT_EQ(defaults.integer("brisalune.pull-cursor.t1"), std::nullopt);
    EXPECT_EQ(defaults.integer("brisalune.pull-cursor."), std::nullopt);
    EXPECT_EQ(defaults.integer("brisalune.pull-cursor"), 5);
    EXPECT_EQ(defaults.integer("brisalune.pull-cursorX"), 5);
    EXPECT_EQ(defaults.integer("brisalune.pending-acks"), 5);
}

}  // namespace
}  // namespace brisalune
