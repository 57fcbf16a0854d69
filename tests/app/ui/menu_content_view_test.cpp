#include <brisalune/app/ui/menu_content_view.hpp>

#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/standin/server.hpp>

#include <app/ui/ui_fixture.hpp>
#include <support/demo_session.hpp>
#include <support/file_size_limit.hpp>

#include <QComboBox>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace brisalune {
namespace {

class MenuContentViewTest : public testkit::UiTest {
protected:
    std::unique_ptr<MenuContentView> view = std::make_unique<MenuContentView>(environment());

    void SetUp() override { windows.provideTo(view.get()); }

    bool showsAccountRows() const { return shows(view.get(), "push") && shows(view.get(), "account"); }

    // Lets the compatibility model's hop to the main thread arrive.
    static void settle() { QCoreApplication::processEvents(); }

    // An answer of the active team's host with these headers.
    void answerFromActiveHost(http::Headers headers) {
        compatibility.record(200, headers, "/v1/pull", *view->activeHost());
        settle();
    }
};

TEST_F(MenuContentViewTest, FollowsThePhase) {
    EXPECT_TRUE(shows(view.get(), "menu.loading"));
    EXPECT_FALSE(showsAccountRows());
    EXPECT_TRUE(shows(view.get(), "app"));

    await(model.ensureLaunched());
    EXPECT_FALSE(shows(view.get(), "menu.loading"));
    EXPECT_EQ(textOf(view.get(), "menu.notSignedIn"), "Not signed in");
    EXPECT_FALSE(showsAccountRows());
    at<QPushButton>(view.get(), "menu.signIn").click();
    ASSERT_NE(windows.window(WindowPresenter::Kind::signIn), nullptr);
    EXPECT_TRUE(windows.window(WindowPresenter::Kind::signIn)->isVisible());

    signIn();
    EXPECT_TRUE(shows(view.get(), "tenantPicker"));
    EXPECT_FALSE(shows(view.get(), "menu.signedOut"));
    EXPECT_TRUE(showsAccountRows());
    EXPECT_FALSE(shows(view.get(), "account.maintenance"));
    EXPECT_TRUE(shows(view.get(), "account.boxes"));
    EXPECT_EQ(textOf(view.get(), "account.email"), account().email);
    // The buttons keep the service's order, not the alphabet's.
    const auto buttons = at(view.get(), "tenantPicker.teams").findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->objectName(), "tenantPicker.team.acme-ops");
    EXPECT_EQ(buttons[0]->text(), "Acme Operations");
    EXPECT_EQ(buttons[1]->objectName(), "tenantPicker.team.harbor-lab");

    buttons[0]->click();
    waitUntil([&] { return model.phase() == MacModel::Phase::signedIn && !model.openAlerts().empty(); });
    EXPECT_TRUE(shows(view.get(), "alerts"));
    EXPECT_FALSE(shows(view.get(), "tenantPicker"));
    EXPECT_TRUE(shows(view.get(), "account.maintenance"));
    EXPECT_TRUE(showsAccountRows());
}

TEST_F(MenuContentViewTest, AnOutdatedClientBlocksEveryPhaseAndBannersNeedASignedInTeam) {
    const auto refuse = [this] {
        compatibility.recordClientOutdated(
            {.client = "brisalune-desktop", .minVersion = "9.0.0"}, *platform::Url::parse(demo.hostedUrl()));
        settle();
    };
    signIn();
    refuse();
    EXPECT_TRUE(shows(view.get(), "update-required"));
    EXPECT_FALSE(shows(view.get(), "tenantPicker"));
    EXPECT_TRUE(showsAccountRows());  // the push row and the account still follow
    EXPECT_FALSE(shows(view.get(), "update-nudge"));
    EXPECT_FALSE(shows(view.get(), "updateRow"));

    await(model.selectTenant("acme-ops"));  // the server's answers lift the refusal
    refuse();
    EXPECT_TRUE(shows(view.get(), "update-required"));
    EXPECT_FALSE(shows(view.get(), "alerts"));
    // A server banner still shows, above the blocking section.
    answerFromActiveHost({{"X-Brisalune-Version", "1.2.0"}});
    EXPECT_TRUE(shows(view.get(), "server-update-nudge"));

    at<QPushButton>(view.get(), "update-required.update").click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.back(), MenuEnvironment::updateFallbackURL());  // no offer: the app's page
    // "Try again" pulls at once; the test's own answers below must come after that pull's.
    int pulls = 0;
    QObject::connect(&model, &MacModel::alertsPulled, view.get(), [&] { ++pulls; });
    at<QPushButton>(view.get(), "update-required.tryAgain").click();
    waitUntil([&] { return !shows(view.get(), "update-required") && pulls > 0; });
    EXPECT_TRUE(shows(view.get(), "alerts"));

    at<QToolButton>(view.get(), "server-update-nudge.dismiss").click();
    settle();
    EXPECT_FALSE(shows(view.get(), "server-update-nudge"));

    // A server too old to use replaces the alerts only while a team is chosen.
    answerFromActiveHost({{"X-Brisalune-Version", "0.9.0"}});
    EXPECT_TRUE(shows(view.get(), "server-update-required"));
    EXPECT_FALSE(shows(view.get(), "alerts"));
    EXPECT_EQ(at(view.get(), "server-update-required").findChildren<QPushButton*>().size(), 0);
    await(model.signOut());
    EXPECT_FALSE(shows(view.get(), "server-update-required"));
    EXPECT_TRUE(shows(view.get(), "menu.signedOut"));
}

// Started with a team while the service refused this version for the account and the alerts
// alike: once it answers again, "Try again" brings back the team row, not only the alerts.
TEST_F(MenuContentViewTest, TryAgainAfterAnOutdatedStartShowsTheTeams) {
    const StoredSession session = testkit::demoSession(demo);
    const BrisaluneClient account(session.baseURL, session.sessionToken);
    const BrisaluneClient team(session.baseURL, std::nullopt, session.tenantKeys.at("acme-ops").apiKey);
    // What the demo answers now, refused while `outdated` holds, as a proxy in front of it would.
    const auto outdated = std::make_shared<std::atomic<bool>>(true);
    const auto refusedUntilUpdated = [&](const std::string& path, std::string answer) {
        const std::string version = demo.fixture().hosted.version;
        demo.hostedServer().on("GET", path, [outdated, answer, version](const standin::ReceivedRequest&) {
            standin::Reply reply =
                *outdated ? standin::Reply::json(R"({"code":"client_outdated"})", 426) : standin::Reply::json(answer);
            reply.headers.emplace_back("X-Brisalune-Version", version);
            return reply;
        });
    };
    refusedUntilUpdated("/v1/me", json::encode(me(account)));
    refusedUntilUpdated("/v1/pull", json::encode(pull(team, 0, 0)));
    sessions->save(session);
    await(model.ensureLaunched());
    settle();
    ASSERT_TRUE(shows(view.get(), "update-required"));

    *outdated = false;
    int pulls = 0;
    QObject::connect(&model, &MacModel::alertsPulled, view.get(), [&] { ++pulls; });
    at<QPushButton>(view.get(), "update-required.tryAgain").click();
    waitUntil([&] { return pulls > 0; });
    EXPECT_EQ(textOf(view.get(), "alerts.count"), "6 open");
    ASSERT_TRUE(shows(view.get(), "alerts.picker"));
    EXPECT_EQ(at<QComboBox>(view.get(), "alerts.teamPicker").currentText(), "Acme Operations");
    EXPECT_EQ(at<QComboBox>(view.get(), "alerts.teamPicker").count(), 2);
}

TEST_F(MenuContentViewTest, TheNudgeTakesTheUpdateOffersPlace) {
    // The demo's manifest offers the release after this build's, for download on its own origin.
    SiteUpdates offering(platform::Url::parse(demo.manifestUrl()), 1, defaults);
    await(offering.checkNow());
    ASSERT_TRUE(offering.offer());
    MenuEnvironment withOffer = environment();
    auto offered = std::make_unique<MenuContentView>(MenuEnvironment{
        .model = model, .updates = offering, .compatibility = compatibilityModel, .openURL = withOffer.openURL});
    await(model.ensureLaunched());
    EXPECT_TRUE(shows(offered.get(), "updateRow"));
    EXPECT_EQ(textOf(offered.get(), "updateRow.text"), "Brisalune " + demo.release().versionName + " is available");

    compatibility.record(
        200, {{"X-Brisalune-Client-Unsupported", "0.3.0"}}, "/v1/me", *platform::Url::parse(demo.hostedUrl()));
    settle();
    EXPECT_TRUE(shows(offered.get(), "update-nudge"));
    EXPECT_FALSE(shows(offered.get(), "updateRow"));
    at<QPushButton>(offered.get(), "update-nudge.update").click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.back().text(), demo.release().url);

    at<QToolButton>(offered.get(), "update-nudge.dismiss").click();
    settle();
    EXPECT_FALSE(shows(offered.get(), "update-nudge"));
    EXPECT_TRUE(shows(offered.get(), "updateRow"));
}

// The dismissals' 24 hours on a clock running `ahead` of the system's, each reading taking
// `eachReading`: the rows come back as the menu opens after them, and at their end while it is
// open, even where one runs out while the rows are being read. One the settings file cannot take
// is said on its row, which stays to be read until a later one is written or the menu closes.
TEST_F(MenuContentViewTest, DismissalsRunOutAsTheMenuOpensAndWhileItIsOpen) {
    using namespace std::chrono;
    system_clock::duration ahead{};
    milliseconds eachReading{0};
    platform::Defaults own(dir / "clocked.json");
    ClientCompatibilityModel clocked(compatibility, own, [&] {
        std::this_thread::sleep_for(eachReading);
        return system_clock::now() + ahead;
    });
    MenuEnvironment env = environment();
    auto menu = std::make_unique<MenuContentView>(
        MenuEnvironment{.model = model, .updates = updates, .compatibility = clocked, .openURL = env.openURL});
    windows.provideTo(menu.get());
    signInWithTeam();
    // Opens the menu, then `whileOpening`; once the refresh that opening starts is over (its
    // answer tells the demo's own version), an older server that asks for a newer app.
    int pulls = 0;
    QObject::connect(&model, &MacModel::alertsPulled, menu.get(), [&] { ++pulls; });
    const auto openAtOlderServer = [&](const std::function<void()>& whileOpening) {
        const int before = pulls;
        menu->show();
        whileOpening();
        waitUntil([&] { return pulls > before; });
        settle();
        compatibility.record(
            200,
            {{"X-Brisalune-Client-Unsupported", "0.3.0"}, {"X-Brisalune-Version", "1.2.0"}},
            "/v1/pull",
            *menu->activeHost());
        settle();
    };
    const auto bothShow = [&] { return shows(menu.get(), "update-nudge") && shows(menu.get(), "server-update-nudge"); };
    openAtOlderServer([] {});
    ASSERT_TRUE(bothShow());

    const auto dismissBoth = [&] {
        at<QToolButton>(menu.get(), "update-nudge.dismiss").click();
        at<QToolButton>(menu.get(), "server-update-nudge.dismiss").click();
        settle();
        ASSERT_FALSE(shows(menu.get(), "update-nudge"));
        ASSERT_FALSE(shows(menu.get(), "server-update-nudge"));
    };

    // Run out while the menu was closed: back as it opens, nothing else needed.
    dismissBoth();
    menu->hide();
    ahead += ClientCompatibilityModel::snooze + 1s;
    openAtOlderServer([&] { EXPECT_TRUE(bothShow()); });

    // Running out while it is open: back at the end, with no other change to follow.
    dismissBoth();
    menu->hide();
    ahead += ClientCompatibilityModel::snooze - 2s;
    openAtOlderServer([] {});
    EXPECT_FALSE(shows(menu.get(), "update-nudge"));
    EXPECT_FALSE(shows(menu.get(), "server-update-nudge"));
    waitUntil(bothShow);

    // A loaded machine reads the clock slowly: the banner, dismissed 50 ms after the nudge, runs
    // out while the rows are read at the nudge's end, and comes back all the same.
    at<QToolButton>(menu.get(), "update-nudge.dismiss").click();
    ahead += 50ms;
    at<QToolButton>(menu.get(), "server-update-nudge.dismiss").click();
    settle();
    menu->hide();
    ahead += ClientCompatibilityModel::snooze - 2s;
    openAtOlderServer([] {});
    eachReading = 20ms;
    EXPECT_FALSE(shows(menu.get(), "server-update-nudge"));
    waitUntil(bothShow);

    const auto told = [&](const QString& row) { return shows(menu.get(), row + ".unwritten"); };
    {
        const testkit::FileSizeLimit full(0);
        at<QToolButton>(menu.get(), "update-nudge.dismiss").click();
        at<QToolButton>(menu.get(), "server-update-nudge.dismiss").click();
    }
    settle();
    EXPECT_TRUE(bothShow());
    EXPECT_TRUE(told("update-nudge") && told("server-update-nudge"));
    EXPECT_EQ(
        textOf(menu.get(), "update-nudge.unwritten"),
        "Brisalune's settings file could not be written, so this notice will show again when Brisalune restarts.");
    at<QToolButton>(menu.get(), "server-update-nudge.dismiss").click();
    settle();
    EXPECT_FALSE(shows(menu.get(), "server-update-nudge"));
    EXPECT_FALSE(told("server-update-nudge"));
    menu->hide();
    EXPECT_FALSE(shows(menu.get(), "update-nudge"));
    EXPECT_FALSE(told("update-nudge"));
}

// A session kept from before, at a service of the test's own that answers the account's teams
// as `me` says. Until the answer, and when it fails, the picker never claims that the account is
// on no team: it shows that it waits, then why the teams could not be had.
TEST_F(MenuContentViewTest, ThePickerSaysNoTeamsOnlyWhenTheServiceSaysSo) {
    standin::Server service;
    const std::string me =
        R"({"account":{"id":"acct-1","email":"one@brisalune.test","display_name":"One"},"memberships":[]})";
    std::atomic<int> status = 503;
    service.on("GET", "/v1/me", [&](const standin::ReceivedRequest&) {
        standin::Reply reply = standin::Reply::json(status == 200 ? me : R"({"error":"down for maintenance"})", status);
        reply.holdUntilReleased = true;
        return reply;
    });
    sessions->save(StoredSession{
        .baseURL = *platform::Url::parse(service.baseUrl()),
        .sessionToken = "sess_1",
        .accountId = "acct-1",
        .email = "one@brisalune.test",
        .activeTenantId = std::nullopt,
        .tenantKeys = {},
        .tenantHosts = {}});
    QCoro::Task<> launch = model.ensureLaunched();
    waitUntil([&] { return model.phase() == MacModel::Phase::selectingTenant && !service.requests().empty(); });
    EXPECT_TRUE(shows(view.get(), "tenantPicker.loading"));
    EXPECT_FALSE(shows(view.get(), "tenantPicker.empty"));
    EXPECT_FALSE(shows(view.get(), "tenantPicker.error"));

    service.release();
    waitUntil([&] { return model.alertsError().has_value(); });
    EXPECT_FALSE(shows(view.get(), "tenantPicker.loading"));
    EXPECT_FALSE(shows(view.get(), "tenantPicker.empty"));
    ASSERT_TRUE(shows(view.get(), "tenantPicker.error"));
    EXPECT_FALSE(textOf(view.get(), "tenantPicker.error").empty());
    await(std::move(launch));

    // The service back: an account with no team at all says so, and the failure is gone.
    status = 200;
    QCoro::Task<> again = model.refreshAccount();
    const auto asked = [&] {
        const std::vector<standin::ReceivedRequest> received = service.requests();
        return std::count_if(received.begin(), received.end(), [](const auto& r) { return r.path == "/v1/me"; });
    };
    waitUntil([&] { return asked() == 2; });
    service.release();
    await(std::move(again));
    EXPECT_TRUE(model.membershipsKnown());
    EXPECT_TRUE(shows(view.get(), "tenantPicker.empty"));
    EXPECT_EQ(textOf(view.get(), "tenantPicker.empty"), "This account is not on any team yet.");
    EXPECT_FALSE(shows(view.get(), "tenantPicker.error"));
    EXPECT_FALSE(shows(view.get(), "tenantPicker.loading"));

    // Signed out and in again: unknown until the new session's answer.
    await(model.signOutLocally());
    EXPECT_FALSE(model.membershipsKnown());
}

}  // namespace
}  // namespace brisalune
