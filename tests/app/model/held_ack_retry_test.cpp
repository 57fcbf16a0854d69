// An acknowledgement held because the service could not be reached when it was pressed (as right
// after a resume, before the network is back) reaches the service at the next refresh, the one
// the refresh loop's boot-time timer runs on waking, not at the app's next start.

#include <app/model/delegate_fixture.hpp>

#include <support/qt_application.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using standin::Reply;

constexpr const char* ack = "BRISALUNE_ACK";

class HeldAckRetry : public testkit::DelegateTest {
protected:
    void SetUp() override {
        model = delegate->sharedModel();
        pushState.setModel(model);
    }
    void TearDown() override {
        delegate->applicationWillTerminate();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    }

    // Pressed while the service answers 503: held, and told once. `meanwhile` runs while the
    // service holds the press's own request; any other is answered at once.
    void pressWhileUnreachable(const std::string& alertId, const std::function<void()>& meanwhile = {}) {
        const std::string line = "POST /v1/alerts/" + alertId + "/ack";
        const auto asked = std::make_shared<std::atomic<int>>(0);
        hosted.on("POST", "/v1/alerts/" + alertId + "/ack", [asked, hold = bool(meanwhile)](const auto&) {
            Reply busy = Reply::json(R"({"error":"busy"})", 503);
            busy.holdUntilReleased = hold && (*asked)++ == 0;
            return busy;
        });
        QCoro::Task<> press = delegate->handleNotificationResponse(response(ack, alertId, "t1"));
        if (meanwhile) {
            EXPECT_TRUE(testkit::processEventsUntil([&] { return count(hosted, line) == 1u; }));
            meanwhile();
            hosted.release();
        }
        run(std::move(press));
        ASSERT_TRUE(acks->get(alertId));
        ASSERT_EQ(center->shown.size(), 1u);
        hosted.on("POST", "/v1/alerts/" + alertId + "/ack", Reply::json(testkit::alertAnswer(alertId)));
    }
};

TEST_F(HeldAckRetry, TheNextRefreshSendsItAgainAndOnlyOnceItWentThroughIsItForgotten) {
    launchWith(session());
    pressWhileUnreachable("a1");

    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(R"({"error":"busy"})", 503));
    run(model->refresh());  // still unreachable: kept, and not told again
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 2u);
    ASSERT_TRUE(acks->get("a1"));
    EXPECT_EQ(center->shown.size(), 1u);

    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));
    run(model->refresh());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 3u);
    EXPECT_FALSE(acks->get("a1"));
    run(model->refresh());  // nothing left to send
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 3u);
}

TEST_F(HeldAckRetry, WhileAServiceHoldsTheRetryTheWindowsOpeningsDoNotSendItAgain) {
    launchWith(session());
    pressWhileUnreachable("a1");
    std::atomic<bool> release = false;
    hosted.on("POST", "/v1/alerts/a1/ack", [&](const standin::ReceivedRequest&) {
        while (!release) std::this_thread::sleep_for(5ms);
        return Reply::json(testkit::alertAnswer("a1"));
    });

    auto held = model->refresh();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/alerts/a1/ack") == 2u; }));
    for (int opening = 0; opening < 3; ++opening) {
        auto another = model->refresh();
        EXPECT_TRUE(testkit::processEventsUntil([&] { return another.isReady(); }, 10s));
    }
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 2u);

    release = true;
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.isReady(); }));
    EXPECT_FALSE(acks->get("a1"));
    run(model->refresh());  // the next one drains again
}

TEST_F(HeldAckRetry, TheRefreshLoopSendsItWithoutTheAppStartingAgain) {
    keychain->save(session());
    MacAppDelegate::Setup quick = setup();
    quick.refreshInterval = 20ms;
    delegate = std::make_unique<MacAppDelegate>(std::move(quick));
    model = delegate->sharedModel();
    pushState.setModel(model);
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return model->hasLaunched(); }));

    // A whole refresh runs while the press's request is out, its drain finding the press's record:
    // the press is still told it was held, once.
    ASSERT_NO_FATAL_FAILURE(pressWhileUnreachable("a1", [&] {
        const std::size_t pulls = count(hosted, "GET /v1/pull?cursor=0");
        EXPECT_TRUE(testkit::processEventsUntil([&] {
            return count(hosted, "GET /v1/pull?cursor=0") >= pulls + 2 || count(hosted, "POST /v1/alerts/a1/ack") > 1;
        }));
    }));
    EXPECT_TRUE(testkit::processEventsUntil([&] { return !acks->get("a1"); }));
    EXPECT_GE(count(hosted, "POST /v1/alerts/a1/ack"), 2u);
    EXPECT_EQ(center->shown.size(), 1u);
}

}  // namespace
}  // namespace brisalune
