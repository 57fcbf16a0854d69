// The model and the delegate's announcements through many refreshes, each bringing a new firing
// alert and dropping an old one, and an acknowledgement held at each and sent again at the next,
// as weeks of a tray app's run would: the open files, the threads and the heap stay where the
// first thousand refreshes left them.

#include <app/model/delegate_fixture.hpp>

#include <support/heap_in_use.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using testkit::DelegateTest;

std::size_t entries(const char* folder) {
    const std::filesystem::directory_iterator listing(folder);
    return static_cast<std::size_t>(std::distance(begin(listing), end(listing)));
}

struct Footprint {
    std::size_t files = entries("/proc/self/fd");
    std::size_t threads = entries("/proc/self/task");
    std::int64_t heap = testkit::heapInUse();
};

class Soak : public DelegateTest {
protected:
    std::size_t pulls = 0;
    std::set<std::string> refused;  // the stand-in's thread only

    // Five firing alerts, one newer at each pull.
    void serveSlidingAlerts() {
        hosted.on("GET", "/v1/pull", [this](const standin::ReceivedRequest&) {
            std::vector<std::string> alerts;
            for (std::size_t n = pulls; n < pulls + 5; ++n)
                alerts.push_back(testkit::alertAnswer("a" + std::to_string(n), "firing"));
            ++pulls;
            return standin::Reply::json(pullAnswer(alerts));
        });
    }

    // Every acknowledgement is refused once (the service busy), then taken.
    void serveAcknowledgementsOnSecondTry() {
        hosted.otherwise([this](const standin::ReceivedRequest& request) {
            const bool ack = request.method == "POST" && request.path.ends_with("/ack");
            if (!ack) return standin::Reply::json(R"({"error":"not found"})", 404);
            if (refused.insert(request.path).second) return standin::Reply::json(R"({"error":"busy"})", 503);
            refused.erase(request.path);
            return standin::Reply::json(testkit::alertAnswer("a"));
        });
    }

    // Each refresh, then the newest alert acknowledged from its notification: held, and sent
    // again by the next refresh.
    Footprint refreshUntil(std::size_t total) {
        while (pulls < total) {
            run(delegate->model().refresh());
            respond(std::string(PushState::ackActionIdentifier), "a" + std::to_string(pulls + 3), "t1");
        }
        // What the test's own stand-ins keep of it is not the app's (their lists keep their
        // capacity: the first thousand pulls set it).
        hosted.clearRequests();
        made = {};
        center->shown.clear();
        center->categorySets.clear();
        return {};
    }
};

TEST_F(Soak, ThousandsOfRefreshesWithNewAlertsHoldNoMoreThanTheFirstThousand) {
    serveSlidingAlerts();
    serveAcknowledgementsOnSecondTry();
    MacModel& app = delegate->model();
    pushState.setModel(delegate->sharedModel());
    QObject::connect(&app, &MacModel::alertsPulled, delegate.get(), &MacAppDelegate::announceNewAlerts);
    keychain->save(session());
    run(app.ensureLaunched());
    const Footprint first = refreshUntil(1);
    const Footprint hundred = refreshUntil(100);
    const Footprint thousand = refreshUntil(1000);
    const Footprint later = refreshUntil(2000);
    std::printf(
        "after 1 / 100 / 1000 / 2000 pulls: open files %zu / %zu / %zu / %zu, threads %zu / %zu / %zu / %zu, "
        "heap %lld / %lld / %lld / %lld bytes\n",
        first.files,
        hundred.files,
        thousand.files,
        later.files,
        first.threads,
        hundred.threads,
        thousand.threads,
        later.threads,
        static_cast<long long>(first.heap),
        static_cast<long long>(hundred.heap),
        static_cast<long long>(thousand.heap),
        static_cast<long long>(later.heap));

    // Each pull was announced: the newest alert of the next one shows.
    run(app.refresh());
    ASSERT_EQ(app.openAlerts().size(), 5u);
    ASSERT_FALSE(center->shown.empty());
    EXPECT_EQ(center->shown[0].identifier, "brisalune.alert.a2004");
    // The last press went again with that refresh; none is held or reported any more.
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a2003/ack"), 1u);
    EXPECT_TRUE(acks->all().empty());
    EXPECT_TRUE(pushState.ackFailures().records.empty());
    EXPECT_LE(later.files, hundred.files + 2);
    EXPECT_LE(later.threads, hundred.threads + 2);
    // A thousand new alerts: a small entry kept for each would show.
    EXPECT_LT(later.heap - thousand.heap, 32 * 1024);
}

}  // namespace
}  // namespace brisalune
