// Another program holding the settings file's lock (a slow second instance) while the UI thread
// writes a setting, as the sign-out's clearing or the device ledger do.

#include <app/model/delegate_fixture.hpp>

#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <support/held_settings_lock.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include <signal.h>

namespace brisalune {
namespace {

class SettingsLockPatience : public testkit::DelegateTest {};

// A write of the pool waits for the holder; the UI thread's write, started after it, fails after
// a moment, and says so, while the pool's still waits. Neither goes past the holder.
TEST_F(SettingsLockPatience, TheUiThreadsWriteFailsAfterAMomentRatherThanPassAnotherProgramsLock) {
    testkit::HeldSettingsLock held(defaults.file());
    const auto poolWrite = [file = defaults.file()] { platform::Defaults(file).set("brisalune.test.pool", 1); };
    QCoro::Task<> pool = awaitBlocking(poolWrite);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));

    EXPECT_THROW(defaults.set("brisalune.test.ui", 2), std::system_error);
    EXPECT_FALSE(defaults.value("brisalune.test.ui"));
    EXPECT_TRUE(held.waitedOnHere()) << "the UI thread waited as long as the pool";
    EXPECT_FALSE(defaults.value("brisalune.test.pool"));

    held.release();
    run(std::move(pool));
    EXPECT_EQ(defaults.integer("brisalune.test.pool"), 1);
    EXPECT_FALSE(defaults.value("brisalune.test.ui"));
    delegate.reset();
}

// The UI thread giving up after its moment judges nothing: a write of the pool that comes next
// still waits for the holder, which may only be slow, rather than write past it. A stores' write
// on the UI thread reports the failure as any failed write.
TEST_F(SettingsLockPatience, AUiWriteThatGaveUpLeavesTheOthersWaitingForTheHolder) {
    testkit::HeldSettingsLock held(defaults.file());
    EXPECT_THROW(defaults.set("brisalune.test.ui", 2), std::system_error);
    EXPECT_FALSE(PendingAckStore::inFile(defaults.file())
                     .put(PendingAck{
                         .alertId = "a1",
                         .tenantId = "t1",
                         .title = "Disk full",
                         .attempts = 1,
                         .lastError = {},
                         .verdict = {}}));

    const auto poolWrite = [file = defaults.file()] { platform::Defaults(file).set("brisalune.test.pool", 1); };
    QCoro::Task<> pool = awaitBlocking(poolWrite);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); })) << "the pool's write did not wait";
    EXPECT_FALSE(defaults.value("brisalune.test.pool"));
    held.release();
    run(std::move(pool));
    EXPECT_EQ(defaults.keys(), std::vector<std::string>{"brisalune.test.pool"});
    delegate.reset();
}

class SettingsLockAtStartUp : public testkit::ModelTest {};

// The start-up's clean-up (a legacy entry of the device ledger) and the sign-out's clearing of
// the acknowledgements remove what is, most often, not there: they do not wait for the holder at
// all, not even as long as a write of the pool started before them.
TEST_F(SettingsLockAtStartUp, ClearingWhatIsNotThereDoesNotWaitForAnotherProgramsLock) {
    defaults.set("brisalune.test.kept", 1);
    testkit::HeldSettingsLock held(defaults.file());
    const auto poolWrite = [file = defaults.file()] { platform::Defaults(file).set("brisalune.test.pool", 1); };
    QCoro::Task<> pool = awaitBlocking(poolWrite);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));

    const DeviceRegistry registry = DeviceRegistry::inFile(defaults.file());
    EXPECT_TRUE(PendingAckStore::inFile(defaults.file()).removeAll());
    EXPECT_TRUE(held.waitedOnHere()) << "the clearing waited for the lock";

    held.release();
    run(std::move(pool));
    EXPECT_EQ(defaults.keys(), (std::vector<std::string>{"brisalune.test.kept", "brisalune.test.pool"}));
}

// Quit while a write of the pool waits for another program's lock (for as long as it may): the
// write lands under the lock when the holder lets go within the grace; else it fails within the
// grace, nothing written past the holder, and the program ends with its status.
bool quitWaitsForTheLock(const std::filesystem::path& file, bool holderLetsGo) {
    testkit::HeldSettingsLock held(file);
    const auto write = [file] {
        const platform::Defaults::PeerLockPatience patient(std::chrono::minutes(10));
        platform::Defaults(file).set("brisalune.test.quit", 1);
    };
    QCoro::Task<> pending = awaitBlocking(write, &localPool());
    if (!testkit::processEventsUntil([&] { return held.waitedOnHere(); })) return false;
    std::thread letGo;
    if (holderLetsGo) {
        letGo = std::thread([pid = held.pid()] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(pid, SIGKILL);
        });
    }
    const int status = MacAppDelegate::finishQuitting(7, std::chrono::seconds(12));  // it exits with 7 when cut off
    if (letGo.joinable()) letGo.join();
    if (status != 7) return false;
    return platform::Defaults(file).integer("brisalune.test.quit") ==
           (holderLetsGo ? std::optional<std::int64_t>(1) : std::nullopt);
}

TEST(SettingsLockAtQuit, AWriteWaitingForAnotherProgramsLockLandsUnderItOrFailsWithinTheGrace) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testkit::widgetsApplication();
    for (const bool letsGo : {true, false}) {
        testkit::TempDir dir;
        EXPECT_EXIT(
            std::_Exit(quitWaitsForTheLock(dir / "defaults.json", letsGo) ? 0 : 1),
            ::testing::ExitedWithCode(0),
            letsGo ? "" : "settings write\\(s\\) not saved")
            << (letsGo ? "the holder let go" : "the holder held on");
    }
}

}  // namespace
}  // namespace brisalune
