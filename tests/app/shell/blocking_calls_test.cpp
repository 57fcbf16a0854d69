#include <brisalune/platform/http.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <support/qt_widgets_application.hpp>

#include <brisalune/standin/server.hpp>

#include <QCoroTask>
#include <QImage>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

namespace brisalune {
namespace {

// A service that has stopped answering holds as many calls as the machine has cores (the alert
// refresh, the team list, an acknowledgement, ...). Qt's painting spreads large images over
// its own global pool and waits for that work: were the calls on that pool, every window would
// freeze, Quit included, until the calls timed out a minute later.
TEST(BlockingCalls, WindowsStillPaintWhileASilentServiceHoldsAsManyCallsAsThereAreCores) {
    testkit::widgetsApplication();
    standin::Server silent;
    silent.otherwise([](const standin::ReceivedRequest&) {
        standin::Reply held;
        held.holdUntilReleased = true;
        return held;
    });
    const auto transport = http::curlTransport();
    http::Request request;
    request.url = silent.baseUrl() + "/v1/me";
    const auto call = [transport, request] { return transport->perform(request).status; };
    const std::size_t held = static_cast<std::size_t>(QThread::idealThreadCount());
    std::vector<QCoro::Task<int>> calls;
    for (std::size_t i = 0; i < held; ++i) calls.push_back(awaitBlocking(call));
    ASSERT_TRUE(silent.waitForRequests(held, std::chrono::seconds(30)));

    // A full-screen image converted as a window's backing store is: Qt splits the work up.
    auto painted = std::async(std::launch::async, [] {
        QImage screen(1600, 1200, QImage::Format_ARGB32_Premultiplied);
        screen.fill(Qt::darkCyan);
        return screen.convertToFormat(QImage::Format_RGB888).pixelColor(800, 600);
    });
    const bool finished = painted.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    silent.release();
    EXPECT_TRUE(finished) << "painting waited for the held calls";
    EXPECT_EQ(painted.get(), QColor(Qt::darkCyan));
    for (auto& answered : calls) EXPECT_EQ(QCoro::waitFor(std::move(answered)), 200);
}

}  // namespace
}  // namespace brisalune
