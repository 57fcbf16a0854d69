#include <brisalune/client/alerts/alert_feed.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/standin/server.hpp>

#include <support/alert_samples.hpp>
#include <support/heap_in_use.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <thread>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using standin::Reply;
using testkit::alertObject;
using Strings = std::vector<std::string>;
using Durations = std::vector<std::chrono::nanoseconds>;
using Versions = std::map<std::string, std::int64_t>;

// Time that moves only when the feed sleeps; sleeps past the allowance block until stopped.
class ManualTime {
public:
    AlertFeedClock clock() {
        auto now = [this] {
            std::lock_guard lock(mutex_);
            return now_;
        };
        auto sleep = [this](std::chrono::nanoseconds duration, std::stop_token stop) {
            std::unique_lock lock(mutex_);
            sleeps_.push_back(duration);
            now_ += duration;
            changed_.notify_all();
            changed_.wait(lock, stop, [&] { return sleeps_.size() <= allowed_; });
        };
        return {now, sleep};
    }
    void allow(std::size_t sleeps) { allowed_ = sleeps; }  // before the feed starts
    void advance(std::chrono::nanoseconds by) {
        std::lock_guard lock(mutex_);
        now_ += by;
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
    return Reply::json(testkit::pullJson(cursor, std::move(alerts), std::move(versions)));
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

    std::unique_ptr<AlertFeed> feed(
        std::chrono::duration<double> staleAfter = 1h,
        std::optional<std::string> key = "data-key",
        std::int64_t waitSeconds = 25) {
        auto client = std::make_shared<const BrisaluneClient>(
            *platform::Url::parse(server.baseUrl()),
            "session-token",
            std::move(key),
            nullptr,
            ClientIdentity::current(),
            compatibility);
        return std::make_unique<AlertFeed>(std::move(client), waitSeconds, staleAfter, time.clock());
    }

    // Pulls get these answers in turn; every later pull is held until the server goes.
    void script(std::vector<Reply> replies) {
        replies.push_back(pull(0));
        replies.back().holdUntilReleased = true;
        auto answers = std::make_shared<const std::vector<Reply>>(std::move(replies));
        auto served = std::make_shared<std::atomic<std::size_t>>(0);
        server.on("GET", "/v1/pull", [answers, served](const standin::ReceivedRequest&) {
            return (*answers)[std::min(served->fetch_add(1), answers->size() - 1)];
        });
    }

    Strings queriesAfter(std::size_t count) {
        EXPECT_TRUE(server.waitForRequests(count, 20s)) << "requests " << count;
        Strings out;
        for (const auto& request : server.requests()) out.push_back(request.query);
        return out;
    }
    static AlertFeedEvent::Snapshot nextSnapshot(AlertFeedStream& stream) {
        const auto event = stream.next(20s);
        EXPECT_TRUE(event && event->snapshot()) << "no snapshot event";
        return event && event->snapshot() ? *event->snapshot() : AlertFeedEvent::Snapshot{};
    }
    static bool ended(AlertFeedStream& stream) { return !stream.next(20s) && stream.finished(); }
    static bool authInvalidThenEnded(AlertFeedStream& stream) {
        auto event = stream.next(20s);
        return event && event->isAuthInvalid() && ended(stream);
    }
};

TEST_F(AlertFeedTest, FailuresAndImplausibleAnswersBackOffToSixtyAndGoStaleOnce) {
    // Failures at 0, 1, 3, 7, 15, 31, 63 and 123 seconds; only the one at 31 passes the limit first.
    constexpr std::int64_t limit = 1'000'000'000'000;
    script(
        {pull(2, {alertObject("a", limit + 1)}),
         pull(2, {alertObject("b", 1), alertObject("a", -1)}),
         pull(-1),
         pull(limit + 1),
         status(500),
         status(500),
         status(503),
         status(500),
         pull(limit, {alertObject("a", limit)}),
         status(502),
         pull(limit)});
    auto alerts = feed(30s);
    auto stream = alerts->start();
    const auto stale = nextSnapshot(stream), fresh = nextSnapshot(stream);
    EXPECT_TRUE(stale.stale && !stale.live);
    EXPECT_TRUE(fresh.live && !fresh.stale);
    EXPECT_EQ(describe(fresh.alerts), Strings{"a:firing:web"});  // nothing of the dropped answers
    EXPECT_FALSE(nextSnapshot(stream).stale);                    // a failure right after a success is not stale
    // The last is no back-off: the long poll after the 502 was answered at once.
    EXPECT_EQ(time.waitForSleeps(10), (Durations{1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s, 1s, 1s}));
    Strings expected(9, "cursor=0");  // no wait before a success, and dropped answers move no cursor
    expected.insert(expected.end(), 3, "cursor=1000000000000&wait=25");
    EXPECT_EQ(queriesAfter(12), expected);
}

TEST_F(AlertFeedTest, PulledAlertsReplaceHeldOnesUnlessOlderAndEverySuccessEmits) {
    script(
        {pull(1, {alertObject("a", 5)}, {{"web", 1}}),
         pull(2, {alertObject("a", 5, "acked")}, {{"api", 2}}),
         pull(3, {alertObject("a", 4, "resolved")})});
    auto alerts = feed();
    auto stream = alerts->start();
    const auto first = nextSnapshot(stream), second = nextSnapshot(stream), third = nextSnapshot(stream);
    EXPECT_EQ(describe(second.alerts), Strings{"a:acked:web"});  // an equal number replaces
    EXPECT_EQ(describe(third.alerts), Strings{"a:acked:web"});   // a lower one does not
    EXPECT_EQ(
        (std::vector{first.configVersions, second.configVersions, third.configVersions}),
        (std::vector<Versions>{{{"web", 1}}, {{"api", 2}}, {}}));  // each pull's versions replace the last
    EXPECT_EQ(queriesAfter(4).back(), "cursor=3&wait=25");
}

TEST_F(AlertFeedTest, LongPollsAnsweredAtOnceStartNoMoreThanOnceASecond) {
    // As a proxy that ignores the wait might: each answer comes at once, the third after 400 ms.
    auto served = std::make_shared<std::atomic<int>>(0);
    server.on("GET", "/v1/pull", [this, served](const standin::ReceivedRequest&) {
        const int n = ++*served;
        if (n == 3) time.advance(400ms);
        Reply reply = pull(n);
        reply.holdUntilReleased = n > 4;
        return reply;
    });
    auto alerts = feed();
    auto stream = alerts->start();
    // None after the first pull, which asks for an answer at once; then the rest of each second.
    EXPECT_EQ(time.waitForSleeps(3), (Durations{1s, 600ms, 1s}));
    EXPECT_EQ(queriesAfter(5).back(), "cursor=4&wait=25");
}

TEST_F(AlertFeedTest, AuthInvalidEndsTheStreamOnceWithoutRetry) {
    auto keyless = feed(1h, std::nullopt);
    auto keylessStream = keyless->start();
    EXPECT_TRUE(authInvalidThenEnded(keylessStream));
    EXPECT_TRUE(server.requests().empty());
    script({pull(1, {alertObject("a", 1)}), status(401)});
    auto alerts = feed();
    auto stream = alerts->start();
    nextSnapshot(stream);
    EXPECT_TRUE(authInvalidThenEnded(stream));
    alerts->apply(snapshotOf(alertObject("b", 1)));  // changes the copy, emits nothing
    EXPECT_EQ(describe(alerts->currentAlerts()), (Strings{"a:firing:web", "b:firing:web"}));
    alerts->stop();
    EXPECT_EQ(server.requests().size(), 2U);
}

TEST_F(AlertFeedTest, StopEndsASleepOrALongPollAndStartResumesFromTheHeldCursor) {
    time.allow(0);  // every sleep lasts until the loop is stopped
    script({pull(3, {alertObject("a", 1)}), status(500), pull(4)});
    auto alerts = feed();
    auto stream = alerts->start();
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), Strings{"a:firing:web"});
    time.waitForSleeps(1);
    alerts->stop();
    EXPECT_TRUE(ended(stream));
    auto again = alerts->start();
    EXPECT_EQ(describe(nextSnapshot(again).alerts), Strings{"a:firing:web"});
    EXPECT_EQ(queriesAfter(4)[2], "cursor=3");  // a new run asks at once again
    alerts->stop();  // the fourth pull is held by the server: stop returns without its answer
    EXPECT_TRUE(ended(again));
}

TEST_F(AlertFeedTest, OwnerChangesMergeAndEmitOnlyWhenTheyChangeSomething) {
    script({});  // the first pull stays in flight throughout
    auto alerts = feed();
    alerts->apply(snapshotOf(alertObject("b", 1, "firing", "db")));  // no stream yet: held, not emitted
    auto stream = alerts->start();
    for (std::int64_t seq : {std::int64_t{-1}, std::int64_t{1'000'000'000'001}, std::int64_t{5}})
        alerts->apply(snapshotOf(alertObject("a", seq)));  // only the plausible one is taken
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), (Strings{"a:firing:web", "b:firing:db"}));
    alerts->apply(snapshotOf(alertObject("a", 4, "resolved")));
    alerts->apply(snapshotOf(alertObject("a", 5, "acked")));
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), (Strings{"a:acked:web", "b:firing:db"}));
    alerts->reassignProject("nowhere", "x");
    alerts->reassignProject("web", "api");
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), (Strings{"a:acked:api", "b:firing:db"}));
    alerts->dropProject("web");
    alerts->dropProject("api");
    EXPECT_EQ(describe(nextSnapshot(stream).alerts), Strings{"b:firing:db"});
}

TEST_F(AlertFeedTest, AStreamLetGoIsFedNoMoreSoTheHeapStaysFlatOverPulls) {
    // Every answer replaces the 200 held alerts with new copies, which an event kept for nobody
    // would hold on to. Each is held until released, so the heap is read between pulls.
    std::vector<json::Object> many;
    for (int i = 0; i < 200; ++i) many.push_back(alertObject("a" + std::to_string(i), 1));
    auto answer = std::make_shared<Reply>(pull(1, std::move(many)));
    answer->holdUntilReleased = true;
    auto built = std::make_shared<std::atomic<std::size_t>>(0);
    server.on("GET", "/v1/pull", [answer, built](const standin::ReceivedRequest&) {
        Reply copy = *answer;
        ++*built;
        return copy;
    });
    auto alerts = feed();
    alerts->start();  // and let go at once
    std::size_t pulls = 0;
    auto pullAndHeap = [&](std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (pulls > 0) server.release();
            ++pulls;
            for (int wait = 0; *built < pulls && wait < 20'000; ++wait) std::this_thread::sleep_for(1ms);
            EXPECT_EQ(*built, pulls);
        }
        return testkit::heapInUse();
    };
    const auto before = pullAndHeap(5);
    EXPECT_LT(pullAndHeap(20) - before, std::int64_t{64} << 10);
    EXPECT_EQ(alerts->currentAlerts().size(), 200U);  // the loop and its held copy go on
}

TEST_F(AlertFeedTest, RefusesWhatNoPullCouldCarry) {
    EXPECT_THROW(AlertFeed(nullptr, 25, 30s, time.clock()), std::invalid_argument);
    EXPECT_THROW(feed(30s, "data-key", -15), std::invalid_argument);
}

}  // namespace
}  // namespace brisalune
