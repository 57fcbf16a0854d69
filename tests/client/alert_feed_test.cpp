#include <brisalune/client/alert_feed.hpp>
#include <brisalune/client/client.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/standin/server.hpp>

#include "support/alert_samples.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <limits>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using standin::Reply;
using testing::alertObject;
using testing::pullJson;
using Strings = std::vector<std::string>;
using Durations = std::vector<std::chrono::nanoseconds>;

// Time that moves only when the feed sleeps; sleeps past the allowance block until stopped.
class ManualTime {
public:
    AlertFeedClock clock() {
        return {
            .now =
                [this] {
                    std::lock_guard lock(mutex_);
                    return now_;
                },
            .sleep =
                [this](std::chrono::nanoseconds duration, std::stop_token stop) {
                    std::unique_lock lock(mutex_);
                    sleeps_.push_back(duration);
                    now_ += duration;
                    changed_.notify_all();
                    changed_.wait(lock, stop, [&] { return sleeps_.size() <= allowed_; });
                },
        };
    }

    void allow(std::size_t sleeps) {
        std::lock_guard lock(mutex_);
        allowed_ = sleeps;
        changed_.notify_all();
    }

    Durations waitForSleeps(std::size_t count) {
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(changed_.wait_for(lock, 20s, [&] { return sleeps_.size() >= count; })) << "sleeps " << count;
        return sleeps_;
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::chrono::nanoseconds now_{0};
    Durations sleeps_;
    std::size_t allowed_ = std::numeric_limits<std::size_t>::max();
};

Reply status(int code) { return Reply::json(R"({"error":"scripted"})", code); }

Reply pull(std::int64_t cursor, std::vector<json::Object> alerts = {}, json::Object versions = {}) {
    return Reply::json(pullJson(cursor, std::move(alerts), std::move(versions)));
}

json::Object alert(std::string id, std::int64_t seq, std::string state = "firing", std::string project = "web") {
    return alertObject(std::move(id), seq, std::move(state), std::move(project));
}

AlertSnapshot snapshotOf(const json::Object& object) { return json::decode<AlertSnapshot>(json::write(object)); }

// "id:state:project" of each alert, sorted (the feed does not order them).
Strings describe(const AlertList& alerts) {
    Strings out;
    for (const auto& a : alerts) out.push_back(a->id + ":" + a->state + ":" + a->project);
    std::sort(out.begin(), out.end());
    return out;
}

class AlertFeedTest : public ::testing::Test {
protected:
    ServerCompatibility compatibility;  // outlives the server, and so any pull left running
    standin::Server server;
    ManualTime time;

    std::shared_ptr<const BrisaluneClient> client(std::optional<std::string> key = "data-key") {
        return std::make_shared<const BrisaluneClient>(*platform::Url::parse(server.baseUrl()), "session-token",
                                                       std::move(key), nullptr, ClientIdentity::current(),
                                                       compatibility);
    }

    std::unique_ptr<AlertFeed> feed(std::chrono::duration<double> staleAfter = 1h,
                                    std::optional<std::string> key = "data-key") {
        return std::make_unique<AlertFeed>(client(std::move(key)), 25, staleAfter, time.clock());
    }

    // Pulls get these answers in turn; every later pull is held until the server goes.
    void script(std::vector<Reply> replies) {
        auto answers = std::make_shared<std::vector<Reply>>(std::move(replies));
        auto served = std::make_shared<std::atomic<std::size_t>>(0);
        server.on("GET", "/v1/pull", [answers, served](const standin::ReceivedRequest&) {
            const std::size_t index = served->fetch_add(1);
            if (index < answers->size()) return (*answers)[index];
            Reply held = pull(0);
            held.holdUntilReleased = true;
            return held;
        });
    }

    Strings queriesAfter(std::size_t count) {
        EXPECT_TRUE(server.waitForRequests(count, 20s)) << "requests " << count;
        Strings out;
        for (const auto& request : server.requests()) out.push_back(request.query);
        return out;
    }

    static AlertFeedEvent::Snapshot nextSnapshot(AlertFeedStream& stream) {
        auto event = stream.next(20s);
        if (!event || !event->snapshot()) {
            ADD_FAILURE() << "no snapshot event";
            return {};
        }
        return *event->snapshot();
    }

    static void expectFinished(AlertFeedStream& stream) {
        EXPECT_EQ(stream.next(20s).has_value(), false);
        EXPECT_TRUE(stream.finished());
    }
};

TEST_F(AlertFeedTest, FirstPullOfEachRunAsksAtOnceUntilOneSucceeds) {
    script({status(500), status(503), pull(5), pull(6)});
    auto alerts = feed();
    auto stream = alerts->start();
    EXPECT_EQ(queriesAfter(5), (Strings{"cursor=0", "cursor=0", "cursor=0", "cursor=5&wait=25", "cursor=6&wait=25"}));
    EXPECT_EQ(time.waitForSleeps(2), (Durations{1s, 2s}));
    EXPECT_TRUE(nextSnapshot(stream).live);
    nextSnapshot(stream);

    alerts->stop();  // the fifth pull is still held by the server
    expectFinished(stream);

    auto again = alerts->start();
    EXPECT_EQ(queriesAfter(6).back(), "cursor=6");
}

TEST_F(AlertFeedTest, FailuresBackOffDoublingToSixtySecondsAndSuccessStartsOver) {
    std::vector<Reply> replies(8, status(500));
    replies.push_back(pull(1));
    replies.push_back(status(502));
    script(std::move(replies));
    auto alerts = feed();
    auto stream = alerts->start();
    EXPECT_EQ(time.waitForSleeps(9), (Durations{1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s, 1s}));
}

TEST_F(AlertFeedTest, StaleOnceAfterTheLimitAndFreshAgainOnSuccess) {
    // Failures at 0, 1, 3, 7, 15, 31 and 63 seconds; only the one at 31 passes the limit first.
    std::vector<Reply> replies(7, status(500));
    replies.push_back(pull(1));
    script(std::move(replies));
    auto alerts = feed(30s);
    auto stream = alerts->start();

    const auto stale = nextSnapshot(stream);
    EXPECT_TRUE(stale.stale);
    EXPECT_FALSE(stale.live);
    const auto fresh = nextSnapshot(stream);
    EXPECT_FALSE(fresh.stale);
    EXPECT_TRUE(fresh.live);
    queriesAfter(9);
    alerts->stop();
    expectFinished(stream);
}

TEST_F(AlertFeedTest, ImplausibleAnswersAreDroppedWholeAndRetriedFromTheSameCursor) {
    constexpr std::int64_t limit = 1'000'000'000'000;
    script({pull(2, {alert("a", limit + 1)}), pull(2, {alert("b", 1), alert("a", -1)}), pull(-1), pull(limit + 1),
            pull(limit, {alert("a", limit)})});
    auto alerts = feed();
    auto stream = alerts->start();

    const auto accepted = nextSnapshot(stream);
    EXPECT_EQ(describe(accepted.alerts), Strings{"a:firing:web"});
    EXPECT_EQ(queriesAfter(6), (Strings{"cursor=0", "cursor=0", "cursor=0", "cursor=0", "cursor=0",
                                        "cursor=1000000000000&wait=25"}));
    EXPECT_EQ(time.waitForSleeps(4), (Durations{1s, 2s, 4s, 8s}));
}

TEST_F(AlertFeedTest, PulledAlertsReplaceHeldOnesUnlessOlderAndEverySuccessEmits) {
    script({pull(1, {alert("a", 5)}, {{"web", 1}}), pull(2, {alert("a", 5, "acked")}, {{"api", 2}}),
            pull(3, {alert("a", 4, "resolved")}), pull(4)});
    auto alerts = feed();
    auto stream = alerts->start();

    const auto first = nextSnapshot(stream);
    EXPECT_EQ(describe(first.alerts), Strings{"a:firing:web"});
    EXPECT_EQ(first.configVersions, (std::map<std::string, std::int64_t>{{"web", 1}}));
    const auto second = nextSnapshot(stream);
    EXPECT_EQ(describe(second.alerts), Strings{"a:acked:web"});
    EXPECT_EQ(second.configVersions, (std::map<std::string, std::int64_t>{{"api", 2}}));
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), Strings{"a:acked:web"});
    const auto empty = nextSnapshot(stream);
    EXPECT_EQ(describe(empty.alerts), Strings{"a:acked:web"});
    EXPECT_TRUE(empty.configVersions.empty());
    EXPECT_EQ(queriesAfter(5).back(), "cursor=4&wait=25");
}

TEST_F(AlertFeedTest, UnauthorisedEndsTheStreamWithOneAuthInvalid) {
    script({pull(1, {alert("a", 1)}), status(401)});
    auto alerts = feed();
    auto stream = alerts->start();
    nextSnapshot(stream);
    auto event = stream.next(20s);
    ASSERT_TRUE(event);
    EXPECT_TRUE(event->isAuthInvalid());
    expectFinished(stream);

    alerts->apply(snapshotOf(alert("b", 1)));  // changes the copy, emits nothing
    EXPECT_EQ(describe(alerts->currentAlerts()), (Strings{"a:firing:web", "b:firing:web"}));
    alerts->stop();
    EXPECT_EQ(server.requests().size(), 2U);  // no retry
}

TEST_F(AlertFeedTest, AMissingTeamKeyEndsTheFeedBeforeAnyRequest) {
    auto alerts = feed(1h, std::nullopt);
    auto stream = alerts->start();
    auto event = stream.next(20s);
    ASSERT_TRUE(event);
    EXPECT_TRUE(event->isAuthInvalid());
    expectFinished(stream);
    alerts->stop();
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AlertFeedTest, StopDuringASleepAndStartAgainFromTheHeldCursor) {
    time.allow(0);  // every sleep lasts until the loop is stopped
    script({pull(3, {alert("a", 1)}), status(500), pull(4)});
    auto alerts = feed();
    auto stream = alerts->start();
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), Strings{"a:firing:web"});
    time.waitForSleeps(1);
    alerts->stop();
    expectFinished(stream);

    auto again = alerts->start();
    EXPECT_EQ(describe(nextSnapshot(again).alerts), Strings{"a:firing:web"});
    EXPECT_EQ(queriesAfter(3)[2], "cursor=3");
}

TEST_F(AlertFeedTest, StopAbandonsALongPollInFlight) {
    script({pull(3)});  // the second pull is held by the server
    auto alerts = feed();
    auto stream = alerts->start();
    nextSnapshot(stream);
    ASSERT_TRUE(server.waitForRequests(2, 20s));
    alerts->stop();  // returns without waiting for the held answer
    expectFinished(stream);
}

TEST_F(AlertFeedTest, OwnerChangesMergeAndEmitOnlyWhenTheyChangeSomething) {
    script({});  // the first pull stays in flight throughout
    auto alerts = feed();
    alerts->apply(snapshotOf(alert("b", 1, "firing", "db")));  // no stream yet: held, not emitted
    auto stream = alerts->start();

    alerts->apply(snapshotOf(alert("a", -1)));
    alerts->apply(snapshotOf(alert("a", 1'000'000'000'001)));
    alerts->apply(snapshotOf(alert("a", 5)));
    const auto applied = nextSnapshot(stream);
    EXPECT_EQ(describe(applied.alerts), (Strings{"a:firing:web", "b:firing:db"}));
    EXPECT_FALSE(applied.live);

    alerts->apply(snapshotOf(alert("a", 4, "resolved")));
    alerts->apply(snapshotOf(alert("a", 5, "acked")));
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), (Strings{"a:acked:web", "b:firing:db"}));

    alerts->reassignProject("nowhere", "x");
    alerts->reassignProject("web", "api");
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), (Strings{"a:acked:api", "b:firing:db"}));
    alerts->reassignProject("api", "api");
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), (Strings{"a:acked:api", "b:firing:db"}));

    alerts->dropProject("web");
    alerts->dropProject("api");
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), Strings{"b:firing:db"});
    alerts->stop();
    expectFinished(stream);
}

TEST_F(AlertFeedTest, RefusesWhatNoPullCouldCarry) {
    EXPECT_THROW(AlertFeed(nullptr, 25, 30s, time.clock()), std::invalid_argument);
    EXPECT_THROW(AlertFeed(client(), -15, 30s, time.clock()), std::invalid_argument);
}

}  // namespace
}  // namespace brisalune
