#include <brisalune/app/shell/site_updates.hpp>

#include <support/file_size_limit.hpp>
#include <support/held_settings_lock.hpp>
#include <support/qt_widgets_application.hpp>
#include <support/temp_dir.hpp>

#include <brisalune/standin/server.hpp>

#include <QCoroTask>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

namespace brisalune {
namespace {

using namespace std::chrono;
using ManualResult = SiteUpdates::ManualResult;
using Unwritten = SiteUpdates::Unwritten;

constexpr const char* manifestPath = "/releases/linux.json";

std::string manifest(std::int64_t code) {
    // Spacing and an unknown key: the cache keeps the body exactly as it came.
    return R"({ "version_code": )" + std::to_string(code) +
           R"(, "version_name": "1.4.0", "url": "https://127.0.0.1/download/brisalune.tar.gz", "channel": "stable" })";
}

class SiteUpdatesTest : public ::testing::Test {
protected:
    void SetUp() override { testkit::widgetsApplication(); }

    testkit::TempDir dir;
    platform::Defaults defaults{dir / "defaults.json"};
    standin::Server server;
    system_clock::time_point now = sys_days{year{2024} / 5 / 1} + hours{9};
    std::optional<platform::Url> manifestURL = platform::Url::parse(server.baseUrl() + manifestPath);

    std::unique_ptr<SiteUpdates> checker(std::int64_t currentCode = 41) {
        return std::make_unique<SiteUpdates>(
            manifestURL, currentCode, defaults, SiteUpdates::transportFetch(), [this] { return now; });
    }

    void serve(std::string body, int status = 200) {
        server.on("GET", manifestPath, standin::Reply::json(std::move(body), status));
    }

    double epochSeconds(system_clock::time_point t) const { return duration<double>(t.time_since_epoch()).count(); }
    std::optional<double> checkedAt() const { return defaults.number(SiteUpdates::checkedAtKey); }
    std::string cachedManifest() const {
        const auto bytes = defaults.bytes(SiteUpdates::manifestKey);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }
    // A manifest address where nothing answers.
    void unreachable() {
        const int port = standin::Server().port();
        manifestURL = platform::Url::parse("http://127.0.0.1:" + std::to_string(port) + manifestPath);
    }
};

TEST_F(SiteUpdatesTest, ChecksWhenADayHasPassedSinceTheLastAnswer) {
    serve(manifest(42));
    auto updates = checker();
    QCoro::waitFor(updates->checkIfDue());  // never checked: due at once
    EXPECT_EQ(server.requests().size(), 1U);
    EXPECT_EQ(checkedAt(), epochSeconds(now));

    for (const auto& [checked, due] :
         {std::pair{now - seconds{86'399}, false},
          std::pair{now - seconds{86'400}, true},
          std::pair{now + hours{1}, false},     // a clock set back
          std::pair{now + days{400}, true}}) {  // a check timed by a clock far ahead
        defaults.set(SiteUpdates::checkedAtKey, epochSeconds(checked));
        server.clearRequests();
        QCoro::waitFor(updates->checkIfDue());
        EXPECT_EQ(server.requests().size(), due ? 1U : 0U);
    }
}

TEST_F(SiteUpdatesTest, KeepsTheLastManifestThatDecodedAndRecordsEveryAnswer) {
    serve(manifest(42));
    auto updates = checker();
    QSignalSpy offerChanged(updates.get(), &SiteUpdates::offerChanged);
    EXPECT_TRUE(QCoro::waitFor(updates->check()));
    ASSERT_TRUE(updates->offer());
    EXPECT_EQ(updates->offer()->versionCode, 42);
    EXPECT_EQ(cachedManifest(), manifest(42));
    const auto request = server.lastRequest();
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->header("User-Agent"), updates->userAgent());

    // An error status and a body that does not decode count as checks but change nothing else.
    for (const auto& [body, status] :
         {std::pair{std::string(R"({"error":"not found"})"), 404},
          std::pair{std::string(R"({"version_code":"43"})"), 200}}) {
        now += hours{1};
        serve(body, status);
        EXPECT_FALSE(QCoro::waitFor(updates->check()));
        EXPECT_EQ(checkedAt(), epochSeconds(now));
        EXPECT_EQ(cachedManifest(), manifest(42));
        EXPECT_EQ(updates->offer()->versionCode, 42);
    }
    EXPECT_EQ(offerChanged.count(), 1);

    // No answer at all: not even the time is recorded, so the next due check tries again.
    const double lastAnswer = *checkedAt();
    unreachable();
    now += hours{1};
    auto cut = checker();
    EXPECT_FALSE(QCoro::waitFor(cut->check()));
    EXPECT_EQ(checkedAt(), lastAnswer);
}

TEST_F(SiteUpdatesTest, TheCachedManifestIsOfferedAtStartWithoutTheNetwork) {
    defaults.set(SiteUpdates::manifestKey, platform::Bytes{});
    EXPECT_FALSE(checker()->offer());  // no longer decodes: no offer

    const std::string cached = manifest(42);
    defaults.set(SiteUpdates::manifestKey, platform::Bytes(cached.begin(), cached.end()));
    EXPECT_EQ(checker(41)->offer()->versionCode, 42);
    EXPECT_FALSE(checker(42)->offer());

    manifestURL.reset();  // a build without an update address: no offer, no checks
    auto disabled = checker();
    EXPECT_FALSE(disabled->offer());
    EXPECT_FALSE(QCoro::waitFor(disabled->check()));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(SiteUpdatesTest, DismissingHidesTheVersionUntilAManualCheck) {
    serve(manifest(42));
    auto updates = checker();
    QCoro::waitFor(updates->dismissOffer());  // nothing offered: nothing stored
    EXPECT_FALSE(defaults.value(SiteUpdates::dismissedVersionKey));

    QCoro::waitFor(updates->check());
    QCoro::waitFor(updates->dismissOffer());
    EXPECT_FALSE(updates->offer());
    EXPECT_EQ(defaults.integer(SiteUpdates::dismissedVersionKey), 42);
    EXPECT_FALSE(checker()->offer());  // for good

    QCoro::waitFor(updates->checkNow());  // the manifest still says 42: offered again
    EXPECT_EQ(updates->manualResult(), ManualResult::available);
    EXPECT_EQ(updates->offer()->versionCode, 42);
    QCoro::waitFor(updates->dismissOffer());
    EXPECT_EQ(updates->manualResult(), std::nullopt);
}

// Another program holds the settings file (a hung second instance): the dismissal waits for it
// off the UI thread, and the menu goes on meanwhile, without the offer.
TEST_F(SiteUpdatesTest, ADismissalWaitingForTheSettingsLockLeavesTheUiRunning) {
    serve(manifest(42));
    auto updates = checker();
    QCoro::waitFor(updates->check());
    ASSERT_TRUE(updates->offer());

    testkit::HeldSettingsLock held(defaults.file());
    QCoro::Task<> dismissal = updates->dismissOffer();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));
    EXPECT_FALSE(defaults.value(SiteUpdates::dismissedVersionKey)) << "the UI thread waited for the lock";
    EXPECT_FALSE(updates->offer());

    held.release();
    QCoro::waitFor(std::move(dismissal));
    EXPECT_EQ(defaults.integer(SiteUpdates::dismissedVersionKey), 42);
    EXPECT_FALSE(updates->offer());
}

// A settings file that takes nothing (a full disk): the offer follows what the person asked, for
// this run, and says what the file did not take.
TEST_F(SiteUpdatesTest, WhatTheSettingsFileCannotTakeIsSaidAndTheOfferFollowsThePerson) {
    serve(manifest(42));
    auto updates = checker();
    std::optional<testkit::FileSizeLimit> full(std::in_place, 0);
    EXPECT_TRUE(QCoro::waitFor(updates->check()));
    EXPECT_EQ(updates->unwritten(), Unwritten::manifest);
    ASSERT_TRUE(updates->offer());
    full.reset();
    QCoro::waitFor(updates->dismissOffer());
    EXPECT_EQ(updates->unwritten(), std::nullopt);
    EXPECT_FALSE(updates->offer());

    // A manual check whose removal of that dismissal fails, though it keeps the manifest.
    server.on("GET", manifestPath, standin::Reply{.headers = {}, .body = manifest(42), .holdUntilReleased = true});
    server.clearRequests();
    full.emplace(0);
    QCoro::Task<> manual = updates->checkNow();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !server.requests().empty(); }));  // past the removal
    full.reset();
    server.release();
    QCoro::waitFor(std::move(manual));
    EXPECT_EQ(updates->manualResult(), ManualResult::available);
    EXPECT_EQ(updates->unwritten(), Unwritten::dismissalRemoval);
    ASSERT_TRUE(updates->offer());
    EXPECT_FALSE(checker()->offer());  // as the next start finds it

    // A dismissal that is written hides it again for this run too.
    QCoro::waitFor(updates->dismissOffer());
    EXPECT_FALSE(updates->offer());
    // A newer manifest kept: offered from the file, not from the one first held for this run.
    serve(manifest(43));
    QCoro::waitFor(updates->check());
    ASSERT_TRUE(updates->offer());
    EXPECT_EQ(updates->offer()->versionCode, 43);
}

TEST_F(SiteUpdatesTest, AManualCheckTellsItsResult) {
    serve(manifest(41));
    auto updates = checker(41);
    QCoro::waitFor(updates->checkNow());
    EXPECT_EQ(updates->manualResult(), ManualResult::upToDate);

    serve("{}", 500);
    QCoro::waitFor(updates->checkNow());
    EXPECT_EQ(updates->manualResult(), ManualResult::failed);

    unreachable();
    auto offline = checker(41);
    QCoro::waitFor(offline->checkNow());
    EXPECT_EQ(offline->manualResult(), ManualResult::failed);
}

TEST_F(SiteUpdatesTest, ChecksNeverOverlap) {
    server.on("GET", manifestPath, standin::Reply{.headers = {}, .body = manifest(42), .holdUntilReleased = true});
    auto updates = checker();
    QSignalSpy checking(updates.get(), &SiteUpdates::isCheckingChanged);
    auto first = updates->check();
    EXPECT_TRUE(updates->isChecking());
    ASSERT_TRUE(server.waitForRequests(1, seconds{30}));

    EXPECT_FALSE(QCoro::waitFor(updates->check()));
    QCoro::waitFor(updates->checkNow());
    EXPECT_EQ(updates->manualResult(), std::nullopt);  // the manual check did not run either

    server.release();
    EXPECT_TRUE(QCoro::waitFor(first));
    EXPECT_EQ(checking.count(), 2);  // on, then off
    EXPECT_EQ(server.requests().size(), 1U);
}

TEST(SiteUpdatesVersionTest, VersionCodesAndTheUserAgent) {
    EXPECT_EQ(SiteUpdates::versionCode("42"), 42);
    EXPECT_EQ(SiteUpdates::versionCode("+42"), 42);
    EXPECT_EQ(SiteUpdates::versionCode("-7"), -7);
    EXPECT_EQ(SiteUpdates::versionCode("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "1.2", "42a", " 42", "+-1", "9223372036854775808", "0x10"}) {
        EXPECT_EQ(SiteUpdates::versionCode(bad), 0) << bad;
    }

    EXPECT_TRUE(SiteUpdates::userAgentFor("?", 0).starts_with("Brisalune-macOS/? (0; "));
}

}  // namespace
}  // namespace brisalune
