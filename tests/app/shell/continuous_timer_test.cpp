#include <brisalune/app/shell/continuous_timer.hpp>

#include <support/qt_widgets_application.hpp>

#include <QCoroTask>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using namespace std::chrono_literals;

class ContinuousTimerTest : public ::testing::Test {
protected:
    QApplication& application = testkit::widgetsApplication();  // before the timer's notifier
    ContinuousTimer timer;
    QSignalSpy finished{&timer, &ContinuousTimer::finished};
};

TEST_F(ContinuousTimerTest, FiresOnceWhenItsTimeComes) {
    timer.start(1ms);
    EXPECT_TRUE(timer.isActive());
    ASSERT_TRUE(finished.wait(30'000));
    EXPECT_EQ(finished.takeFirst().at(0).toBool(), true);
    EXPECT_FALSE(timer.isActive());
    EXPECT_FALSE(finished.wait(50));  // a one-shot timer
    timer.start(0ns);                 // no delay still fires, rather than disarming
    ASSERT_TRUE(finished.wait(30'000));
    EXPECT_EQ(finished.takeFirst().at(0).toBool(), true);
}

TEST_F(ContinuousTimerTest, CancelEndsAnArmedTimerAtOnce) {
    timer.cancel();  // not armed: nothing to end
    EXPECT_EQ(finished.count(), 0);

    timer.start(1h);
    timer.cancel();
    ASSERT_EQ(finished.count(), 1);  // without the event loop running
    EXPECT_EQ(finished.takeFirst().at(0).toBool(), false);
    EXPECT_FALSE(timer.isActive());
    timer.cancel();
    EXPECT_EQ(finished.count(), 0);

    // Re-arming ends the earlier arming first; the new one fires.
    timer.start(1h);
    timer.start(1ms);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.takeFirst().at(0).toBool(), false);
    ASSERT_TRUE(finished.wait(30'000));
    EXPECT_EQ(finished.takeFirst().at(0).toBool(), true);
}

TEST_F(ContinuousTimerTest, AnAwaitedSleepTellsFiringFromCancellation) {
    EXPECT_TRUE(QCoro::waitFor(timer.sleep(1ms)));

    QTimer::singleShot(0, &timer, [this] { timer.cancel(); });
    EXPECT_FALSE(QCoro::waitFor(timer.sleep(1h)));
    EXPECT_FALSE(timer.isActive());
}

}  // namespace
}  // namespace brisalune
