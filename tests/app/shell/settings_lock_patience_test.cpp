// Another program holding the settings file's lock (a stopped or hung second instance) while the
// UI thread writes a setting, as a dismissal in the menu or the sign-out's clearing do.

#include <app/model/delegate_fixture.hpp>

#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <support/held_settings_lock.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace brisalune {
namespace {

class SettingsLockPatience : public testkit::DelegateTest {};

// A write of the pool waits its seconds for the holder; the UI thread's write, started after it,
// gives up first and returns while the pool's still waits. Both are kept.
TEST_F(SettingsLockPatience, TheUiThreadWaitsForAnotherProgramsLockOnlyAMoment) {
    testkit::HeldSettingsLock held(defaults.file());
    const auto poolWrite = [file = defaults.file()] { platform::Defaults(file).set("brisalune.test.pool", 1); };
    QCoro::Task<> pool = awaitBlocking(poolWrite);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));

    defaults.set("brisalune.test.ui", 2);
    EXPECT_EQ(defaults.integer("brisalune.test.ui"), 2);
    EXPECT_TRUE(held.waitedOnHere()) << "the UI thread waited as long as the pool";
    EXPECT_FALSE(defaults.value("brisalune.test.pool"));

    run(std::move(pool));
    EXPECT_EQ(defaults.integer("brisalune.test.pool"), 1);
    EXPECT_EQ(defaults.integer("brisalune.test.ui"), 2);

    // Once the delegate is gone, the thread waits as long as any other.
    delegate.reset();
    held.release();
}

// The UI thread giving up after its moment judges nothing: a write of the pool that comes next
// still waits for the holder, which may only be slow, rather than write past it.
TEST_F(SettingsLockPatience, AUiWriteThatGaveUpLeavesTheOthersWaitingForTheHolder) {
    testkit::HeldSettingsLock held(defaults.file());
    defaults.set("brisalune.test.ui", 2);

    const auto poolWrite = [file = defaults.file()] { platform::Defaults(file).set("brisalune.test.pool", 1); };
    QCoro::Task<> pool = awaitBlocking(poolWrite);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); })) << "the pool's write did not wait";
    EXPECT_FALSE(defaults.value("brisalune.test.pool"));
    held.release();
    run(std::move(pool));
    EXPECT_EQ(defaults.integer("brisalune.test.pool"), 1);
    EXPECT_EQ(defaults.integer("brisalune.test.ui"), 2);
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

    run(std::move(pool));
    EXPECT_EQ(defaults.keys(), (std::vector<std::string>{"brisalune.test.kept", "brisalune.test.pool"}));
}

// Quit while a write of the pool waits for another program's lock (for as long as it may): the
// write goes ahead within the grace, and the program ends with its status, the write kept.
bool quitLandsTheWaitingWrite(const std::filesystem::path& file) {
    testkit::HeldSettingsLock held(file);
    const auto write = [file] {
        const platform::Defaults::PeerLockPatience patient(std::chrono::minutes(10));
        platform::Defaults(file).set("brisalune.test.quit", 1);
    };
    QCoro::Task<> pending = awaitBlocking(write, &localPool());
    if (!testkit::processEventsUntil([&] { return held.waitedOnHere(); })) return false;
    if (MacAppDelegate::finishQuitting(7) != 7) return false;  // it exits with 7 when cut off
    return platform::Defaults(file).integer("brisalune.test.quit") == 1;
}

TEST(SettingsLockAtQuit, AWriteWaitingForAnotherProgramsLockLandsBeforeTheEnd) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testkit::widgetsApplication();
    testkit::TempDir dir;
    EXPECT_EXIT(std::_Exit(quitLandsTheWaitingWrite(dir / "defaults.json") ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace brisalune
