// The daily update check when the wall clock jumps: the next check is never put off by how far
// the clock was wrong.

#include <brisalune/app/shell/site_updates.hpp>

#include <support/qt_widgets_application.hpp>
#include <support/temp_dir.hpp>

#include <brisalune/standin/server.hpp>

#include <QCoroTask>

#include <gtest/gtest.h>

#include <memory>

namespace brisalune {
namespace {

using namespace std::chrono;

constexpr const char* manifestPath = "/releases/linux.json";

class SiteUpdatesClock : public ::testing::Test {
protected:
    void SetUp() override {
        testkit::widgetsApplication();
        server.on(
            "GET",
            manifestPath,
            standin::Reply::json(
                R"({"version_code":42,"version_name":"1.4.0","url":"https://127.0.0.1/b.tar.gz","channel":"stable"})"));
    }

    std::unique_ptr<SiteUpdates> checker() {
        return std::make_unique<SiteUpdates>(
            platform::Url::parse(server.baseUrl() + manifestPath),
            41,
            defaults,
            SiteUpdates::transportFetch(),
            [this] { return now; });
    }

    // Whether a due check asked the server.
    bool fetchedWhenDue(SiteUpdates& updates) {
        server.clearRequests();
        QCoro::waitFor(updates.checkIfDue());
        return !server.requests().empty();
    }

    testkit::TempDir dir;
    platform::Defaults defaults{dir / "defaults.json"};
    standin::Server server;
    system_clock::time_point now = sys_days{year{2024} / 5 / 1} + hours{9};
};

TEST_F(SiteUpdatesClock, ACheckTimedByAClockAheadIsFollowedByOneAsSoonAsTheClockIsSetRight) {
    const auto rightTime = now;
    for (const auto ahead : {seconds{1}, seconds{hours{23}}, seconds{hours{24 * 400}}}) {
        now = rightTime + ahead;
        const auto updates = checker();
        ASSERT_TRUE(fetchedWhenDue(*updates));
        ASSERT_FALSE(fetchedWhenDue(*updates));

        now = rightTime;  // set right (NTP, or the user): checked again at once, then daily
        EXPECT_TRUE(fetchedWhenDue(*updates)) << ahead.count();
        EXPECT_FALSE(fetchedWhenDue(*updates)) << ahead.count();
        now += seconds{86'399};
        EXPECT_FALSE(fetchedWhenDue(*updates)) << ahead.count();
        now += seconds{1};
        EXPECT_TRUE(fetchedWhenDue(*updates)) << ahead.count();
        now = rightTime;
    }
}

}  // namespace
}  // namespace brisalune
