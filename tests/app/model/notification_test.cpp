// The user's responses to alert notifications: acknowledge from the button, open from a click.

#include <app/model/delegate_fixture.hpp>

#include <brisalune/push/await_blocking.hpp>

#include <support/child_process.hpp>
#include <support/file_size_limit.hpp>
#include <support/qt_application.hpp>

#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

using standin::Reply;
using Ack = MacModel::NotificationAck;

namespace fs = std::filesystem;

constexpr const char* ack = "BRISALUNE_ACK";
constexpr const char* click = "default";

// The application as a process has it: its delegate, model and push state over pending
// acknowledgements kept in a file, signed in to the hosted service at `hosted` with a key for t1.
class AppOnDisk {
public:
    AppOnDisk(const fs::path& acksFile, const fs::path& defaultsFile, const platform::Url& hosted)
        : hosted_(hosted)
        , defaults_(defaultsFile)
        , acks(std::make_shared<PendingAckStore>(PendingAckStore::inFile(acksFile))) {
        pushState.setModel(delegate.sharedModel());
    }

    MacModel& model() const { return delegate.model(); }
    void respond(const std::string& action, const std::string& alertId, const std::string& tenantId) {
        NotificationResponse chosen;
        chosen.actionIdentifier = action;
        chosen.request.userInfo = {{"alert_id", alertId}, {"tenant_id", tenantId}};
        QCoro::waitFor(delegate.handleNotificationResponse(chosen));
    }

private:
    StoredSession session() const {
        return {
            .baseURL = hosted_,
            .sessionToken = "session-1",
            .accountId = "acc1",
            .email = "ops@example.com",
            .activeTenantId = "t1",
            .tenantKeys = {{"t1", TenantKey{"k1", "key-1", "t1"}}},
            .tenantHosts = {}};
    }
    MacAppDelegate::Setup setup() {
        testkit::widgetsApplication();
        return {
            .pushState = pushState,
            .defaults = defaults_,
            .sessionStore = keychain,
            .clientFactory =
                [this](const platform::Url& base, std::optional<std::string> token, std::optional<std::string> key) {
                    return std::make_shared<BrisaluneClient>(
                        base, std::move(token), std::move(key), nullptr, ClientIdentity::current(), compatibility_);
                },
            .addresses =
                {.hostedAPIBase = [url = hosted_] { return url; },
                 .hostedWebOrigin = [] { return *platform::Url::parse("https://portal.example"); },
                 .allowLoopbackHttp = false},
            .manifestURL = {},
            .versionCode = 41,
            .openURL = [](const platform::Url&) {},
            .showNotice = [](const QString&, const QString&) {}};
    }

    platform::Url hosted_;
    ServerCompatibility compatibility_;
    platform::Defaults defaults_;

public:
    std::shared_ptr<PendingAckStore> acks;
    std::shared_ptr<MemorySessionStore> keychain = std::make_shared<MemorySessionStore>(session());
    std::shared_ptr<testkit::RecordingNotificationCenter> center =
        std::make_shared<testkit::RecordingNotificationCenter>();
    PushState pushState{
        std::make_shared<DesktopPushHost>(),
        true,
        std::make_shared<MemoryDeviceRegistry>(),
        acks,
        PushState::Environment{.defaults = defaults_, .keychain = keychain, .notificationCenter = center}};
    MacAppDelegate delegate{setup()};
};

constexpr const char* childFileVariable = "BRISALUNE_NOTIFICATION_ACK_FILE";
constexpr const char* childUrlVariable = "BRISALUNE_NOTIFICATION_ACK_URL";

// Run in a child process by NotificationResponses: presses the button of t2's alert b1, whose
// key is then being issued, until the parent kills it.
TEST(NotificationAckDurabilityChild, Job) {
    const char* file = std::getenv(childFileVariable);
    if (!file) GTEST_SKIP() << "run by NotificationResponses in a child process";
    AppOnDisk app(
        file, fs::path(file).replace_filename("defaults.json"), *platform::Url::parse(std::getenv(childUrlVariable)));
    QCoro::waitFor(app.model().ensureLaunched());
    app.respond(ack, "b1", "t2");
}

constexpr const char* childHeldFileVariable = "BRISALUNE_HELD_ACK_FILE";

// Run in a child process by NotificationResponses: presses Acknowledge on as many notifications
// as the network pool has threads, and once the parent has seen the service hold them all (it
// creates the file named `go` then), on a1 in the menu and on a2's notification, until the
// parent kills it.
TEST(HeldPoolAckDurabilityChild, Job) {
    const char* file = std::getenv(childHeldFileVariable);
    if (!file) GTEST_SKIP() << "run by NotificationResponses in a child process";
    AppOnDisk app(
        file, fs::path(file).replace_filename("defaults.json"), *platform::Url::parse(std::getenv(childUrlVariable)));
    QCoro::waitFor(app.model().ensureLaunched());
    std::vector<QCoro::Task<Ack>> held;
    for (int i = 0; i < blockingPool().maxThreadCount(); ++i)
        held.push_back(app.model().acknowledgeFromNotification("h" + std::to_string(i), "t1"));
    const fs::path go = fs::path(file).replace_filename("go");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return fs::exists(go); }, std::chrono::minutes(1)));
    QCoro::Task<AckAttemptOutcome> fromMenu = app.model().acknowledge("a1", "Disk full", app.acks);
    app.respond(ack, "a2", "t1");
}

class NotificationResponses : public testkit::DelegateTest {
protected:
    void SetUp() override {
        model = delegate->sharedModel();
        pushState.setModel(model);
    }
};

TEST_F(NotificationResponses, RefusedWithoutASessionATeamOrAMembership) {
    using Why = Ack::Refused::Why;
    EXPECT_EQ(run(model->acknowledgeFromNotification("a1", "t1")), Ack{Ack::Refused{Why::notSignedIn}});
    serveLogin();
    run(model->signIn("ops@example.com", "secret"));  // two teams: none active yet
    EXPECT_EQ(run(model->acknowledgeFromNotification("a1", std::nullopt)), Ack{Ack::Refused{Why::noTeam}});
    EXPECT_EQ(run(model->acknowledgeFromNotification("a1", "t9")), Ack{Ack::Refused{Why::notAMember}});
    EXPECT_TRUE(acks->all().empty());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);
}

TEST_F(NotificationResponses, AButtonPressedWhereNothingCanBeDoneIsToldNotSilentlyDropped) {
    // A notification outlives the team (or the sign-in) it came with; its button still asks. The
    // notice names the alert, says why in words, and has no button that would fail the same way.
    const auto told = [&](std::string_view body) {
        ASSERT_EQ(center->shown.size(), 1u);
        const NotificationRequest& notice = center->shown.front();
        EXPECT_EQ(notice.identifier, "brisalune.ack-failure.a1");
        EXPECT_EQ(notice.title, "Couldn't acknowledge");
        EXPECT_EQ(notice.body, body);
        EXPECT_EQ(notice.categoryIdentifier, "");  // no acknowledge button
        EXPECT_EQ(notice.userInfo, (json::Object{{"alert_id", "a1"}, {"tenant_id", notice.userInfo.at("tenant_id")}}));
        center->shown.clear();
    };
    launchWith(session());
    respond(ack, "a1", "t9");
    told("Disk full\nThis account is not a member of the alert's team, so it was not sent.");

    run(model->signOutLocally());
    respond(ack, "a1", "t1");
    told("Disk full\nYou are not signed in to Brisalune, so it was not sent.");
    // Pressed on the notice itself, or on a notification that came back with nothing but its
    // alert's ids: no title to name it by, and never the raw id.
    NotificationResponse again = response(ack, "a1", "t1");
    again.request.title = "Couldn't acknowledge";
    run(delegate->handleNotificationResponse(again));
    told("You are not signed in to Brisalune, so it was not sent.");
    again.request.title.clear();
    run(delegate->handleNotificationResponse(again));
    told("You are not signed in to Brisalune, so it was not sent.");
    EXPECT_TRUE(acks->all().empty());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);
}

// A press while a sign-out runs would be kept for the next account: it is refused, and told so.
TEST_F(NotificationResponses, APressDuringASignOutIsRefusedAndToldSo) {
    launchWith(session());
    Reply heldLogout{204, {}, ""};
    heldLogout.holdUntilReleased = true;
    hosted.on("POST", "/v1/logout", heldLogout);
    QCoro::Task<> out = model->signOut();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") == 1; }));

    respond(ack, "a1", "t1");
    ASSERT_EQ(center->shown.size(), 1u);
    EXPECT_EQ(center->shown.front().body, "Disk full\nBrisalune is signing out, so it was not sent.");
    EXPECT_EQ(center->shown.front().categoryIdentifier, "");
    EXPECT_TRUE(acks->all().empty());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);
    hosted.release();
    run(std::move(out));
}

// A press whose key was still being issued as the sign-out began is told that the sign-out took
// it, whoever is signed in by the time it is told.
TEST_F(NotificationResponses, APressTheSignOutTookIsToldSoOnceTheNextAccountIsIn) {
    launchWith(session());
    Reply heldKey = Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    QCoro::Task<> pressed = delegate->handleNotificationResponse(response(ack, "b1", "t2"));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/tenants/t2/keys") == 1; }));
    QCoro::Task<> out = model->signOut();
    hosted.release();
    run(std::move(out));
    serveLogin("session-2");
    run(model->signIn("ops@example.com", "secret"));
    run(std::move(pressed));

    ASSERT_EQ(center->shown.size(), 1u);
    EXPECT_EQ(center->shown.front().body, "Disk full\nBrisalune was signing out, so it was not sent.");
    EXPECT_EQ(count(hosted, "POST /v1/alerts/b1/ack"), 0u);
}

TEST_F(NotificationResponses, ARefusalForWantOfATeamSaysSo) {
    serveLogin();
    run(model->signIn("ops@example.com", "secret"));  // two teams: none active yet
    respond(ack, "a1", "");
    ASSERT_EQ(center->shown.size(), 1u);
    EXPECT_EQ(center->shown.front().body, "Disk full\nNo team is chosen in Brisalune, so it was not sent.");
    EXPECT_EQ(center->shown.front().categoryIdentifier, "");
}

// The account's teams could not be read at launch: the press is refused, but not as if the alert's
// team were not the account's.
TEST_F(NotificationResponses, ARefusalForWantOfTheAccountsTeamsSaysSo) {
    hosted.on("GET", "/v1/me", Reply::json(R"({"error":"down"})", 503));
    launchWith(session());
    respond(ack, "a1", "t1");
    ASSERT_EQ(center->shown.size(), 1u);
    EXPECT_EQ(
        center->shown.front().body, "Disk full\nBrisalune could not read this account's teams, so it was not sent.");
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);
}

// A bubble left by an earlier run, for an alert the menu does not list: the notice names it as the
// bubble did, and says why, though the failure may pass.
TEST_F(NotificationResponses, AFailureNoticeNamesTheAlertAsItsNotificationDidAndSaysWhy) {
    launchWith(session());
    const std::string stale = "a2c000000000000d";
    hosted.on("POST", "/v1/alerts/" + stale + "/ack", Reply::json(R"({"error":"no such alert"})", 404));
    respond(ack, stale, "t1");
    ASSERT_EQ(acks->get(stale)->verdict, AckFailureVerdict::retryable);
    ASSERT_EQ(center->shown.size(), 1u);
    EXPECT_EQ(center->shown.front().body, "Disk full\nNot found: no such alert");
}

TEST_F(NotificationResponses, TheButtonAcknowledgesAndRefreshesTheActiveTeam) {
    launchWith(session());
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));
    servePull(hosted, {testkit::alertAnswer("a1", "acked")});
    respond(ack, "a1", "t1");
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 1u);
    // A failure notice of a record kept without a team names none: the active team's, as stored.
    respond(ack, "a1", "");
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 2u);
    EXPECT_EQ(model->openAlerts().front().state, "acked");  // refreshed before the response ends
    EXPECT_TRUE(acks->all().empty());
    EXPECT_TRUE(center->shown.empty());
}

TEST_F(NotificationResponses, AHostedTeamNeverSelectedGetsItsKeyAndIsAcknowledged) {
    launchWith(session());
    serveKey(hosted, "t2", "k2", "key-2");
    hosted.on("POST", "/v1/alerts/b1/ack", Reply::json(testkit::alertAnswer("b1")));
    const std::size_t pulls = count(hosted, "GET /v1/pull?cursor=0");

    const Ack result = run(model->acknowledgeFromNotification("b1", "t2"));
    const auto* attempted = result.get<Ack::Attempted>();
    ASSERT_TRUE(attempted);
    EXPECT_TRUE(attempted->outcome.get<AckAttemptOutcome::Acknowledged>());
    EXPECT_EQ(authorizations(hosted).back(), "Bearer key-2");
    EXPECT_EQ(keychain->load().session()->tenantKeys.at("t2"), (TenantKey{"k2", "key-2", "t2"}));
    EXPECT_EQ(model->session()->activeTenantId, "t1");  // another team: not made active, not refreshed
    EXPECT_EQ(count(hosted, "GET /v1/pull?cursor=0"), pulls);
}

TEST_F(NotificationResponses, AKeyThatCannotBeIssuedLeavesTheAcknowledgementHeld) {
    launchWith(session());
    hosted.on("POST", "/v1/tenants/t2/keys", Reply::json(R"({"error":"admin role required"})", 403));
    respond(ack, "b1", "t2");
    const std::optional<PendingAck> held = acks->get("b1");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->tenantId, "t2");
    EXPECT_EQ(held->lastError, PendingAckCoordinator::noTenantKeyText);
    EXPECT_EQ(count(hosted, "POST /v1/alerts/b1/ack"), 0u);
    EXPECT_EQ(center->shown.size(), 1u);  // "Couldn't acknowledge"
    EXPECT_FALSE(model->session()->tenantKeys.contains("t2"));
}

TEST_F(NotificationResponses, TheRecordIsOnDiskBeforeTheKeyIsIssuedAndTheAttemptContinuesIt) {
    launchWith(session());
    std::optional<PendingAck> whileIssuing;
    hosted.on("POST", "/v1/tenants/t2/keys", [&](const standin::ReceivedRequest&) {
        whileIssuing = acks->get("b1");
        return Reply::json(R"({"id":"k2","token":"key-2"})");
    });
    hosted.on("POST", "/v1/alerts/b1/ack", Reply::json(R"({"error":"busy"})", 503));
    respond(ack, "b1", "t2");
    ASSERT_TRUE(whileIssuing);
    EXPECT_EQ(
        *whileIssuing, (PendingAck{"b1", "t2", "b1", 1, "Acknowledgement in progress.", AckFailureVerdict::retryable}));
    // One attempt, one record: the attempt settled the record it began with, not a second one.
    EXPECT_EQ(
        acks->get("b1"), (PendingAck{"b1", "t2", "b1", 1, "Server error 503: busy", AckFailureVerdict::retryable}));
    EXPECT_EQ(count(hosted, "POST /v1/alerts/b1/ack"), 1u);
    EXPECT_EQ(center->shown.size(), 1u);  // its first failure is told
}

TEST_F(NotificationResponses, AnAcknowledgementOutlivesAProcessKilledWhileItsKeyIsIssued) {
    const fs::path file = dir / "app" / "defaults.json";
    fs::create_directory(dir / "app");
    hosted.on(
        "POST", "/v1/tenants/t2/keys", Reply{.status = 200, .headers = {}, .body = "", .holdUntilReleased = true});
    {
        testkit::ChildProcess child(
            "NotificationAckDurabilityChild.*",
            {std::string(childFileVariable) + "=" + file.string(),
             std::string(childUrlVariable) + "=" + hosted.baseUrl()});
        ASSERT_TRUE(child.spawned());
        for (int polls = 0; polls < 6000 && count(hosted, "POST /v1/tenants/t2/keys") == 0; ++polls)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(count(hosted, "POST /v1/tenants/t2/keys"), 1u);
        ASSERT_TRUE(child.killed());  // while the service holds the key
    }
    hosted.release();
    const PendingAck preflight{"b1", "t2", "b1", 1, "Acknowledgement in progress.", AckFailureVerdict::retryable};
    EXPECT_EQ(PendingAckStore::inFile(file).all(), std::vector{preflight});

    // The restart: the team's key is issued this time, and the drain sends the acknowledgement once.
    serveKey(hosted, "t2", "k2", "key-2");
    hosted.on("POST", "/v1/alerts/b1/ack", Reply::json(testkit::alertAnswer("b1")));
    AppOnDisk restarted(file, file, hostedURL());
    run(restarted.model().ensureLaunched());
    run(restarted.model().selectTenant("t2"));
    run(restarted.pushState.drainPendingAcks(false));
    EXPECT_EQ(count(hosted, "POST /v1/alerts/b1/ack"), 1u);
    EXPECT_EQ(authorizations(hosted).back(), "Bearer key-2");
    EXPECT_TRUE(PendingAckStore::inFile(file).all().empty());
}

// Every thread of the network pool held by a service that does not answer: an acknowledgement
// pressed then is on disk at once, not when a thread frees, and a kill does not lose it.
TEST_F(NotificationResponses, AnAcknowledgementPressedWhileTheServiceHoldsEveryRequestOutlivesAKill) {
    const fs::path file = dir / "app" / "defaults.json";
    fs::create_directory(dir / "app");
    const int threads = blockingPool().maxThreadCount();
    const auto heldAck = [](int i) { return "/v1/alerts/h" + std::to_string(i) + "/ack"; };
    for (int i = 0; i < threads; ++i)
        hosted.on("POST", heldAck(i), Reply{.status = 200, .headers = {}, .body = "", .holdUntilReleased = true});
    {
        testkit::ChildProcess child(
            "HeldPoolAckDurabilityChild.*",
            {std::string(childHeldFileVariable) + "=" + file.string(),
             std::string(childUrlVariable) + "=" + hosted.baseUrl()});
        ASSERT_TRUE(child.spawned());
        const auto heldCount = [&] {
            std::size_t held = 0;
            for (int i = 0; i < threads; ++i) held += count(hosted, "POST " + heldAck(i));
            return held;
        };
        for (int polls = 0; polls < 6000 && heldCount() < static_cast<std::size_t>(threads); ++polls)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(heldCount(), static_cast<std::size_t>(threads));
        std::ofstream(dir / "app" / "go").close();
        const auto recorded = [&] {
            const PendingAckStore store = PendingAckStore::inFile(file);
            return store.get("a1") && store.get("a2");
        };
        for (int polls = 0; polls < 100 && !recorded(); ++polls)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(recorded()) << "not on disk a second after the press";
        ASSERT_TRUE(child.killed());
    }
    hosted.release();

    // The restart: the drain sends each once.
    for (int i = 0; i < threads; ++i)
        hosted.on("POST", heldAck(i), Reply::json(testkit::alertAnswer("h" + std::to_string(i))));
    for (const char* id : {"a1", "a2"})
        hosted.on("POST", std::string("/v1/alerts/") + id + "/ack", Reply::json(testkit::alertAnswer(id)));
    AppOnDisk restarted(file, file, hostedURL());
    run(restarted.model().ensureLaunched());
    run(restarted.pushState.drainPendingAcks(false));
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 1u);
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a2/ack"), 1u);
    EXPECT_TRUE(PendingAckStore::inFile(file).all().empty());
}

TEST_F(NotificationResponses, AnAcknowledgementNeitherSentNorKeptIsToldSoEachTime) {
    fs::create_directory(dir / "blocked.json");  // no file can be written in its place
    AppOnDisk app(dir / "blocked.json", dir / "app.json", hostedURL());
    run(app.model().ensureLaunched());
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(R"({"error":"busy"})", 503));
    for (std::size_t press = 1; press <= 2; ++press) {
        app.center->shown.clear();
        app.respond(ack, "a1", "t1");
        EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), press);  // sent each time the user asked
        ASSERT_EQ(app.center->shown.size(), 1u);
        const NotificationRequest& told = app.center->shown.front();
        EXPECT_EQ(told.title, "Couldn't acknowledge");
        EXPECT_EQ(
            told.body, "r\n" + PendingAckCoordinator::notKeptText(AckDelivery::refused) + "\nServer error 503: busy");
        EXPECT_TRUE(app.acks->all().empty());
    }

    app.center->shown.clear();
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1")));
    app.respond(ack, "a1", "t1");
    EXPECT_TRUE(app.center->shown.empty());  // it went through: nothing to tell
}

// The disk fills while the request is out: the record it began with stands, and the person reads
// that the failure was not saved.
TEST_F(NotificationResponses, AFailureThatCannotBeSavedIsToldSo) {
    AppOnDisk app(dir / "acks.json", dir / "app.json", hostedURL());
    run(app.model().ensureLaunched());
    std::optional<testkit::FileSizeLimit> full;
    hosted.on("POST", "/v1/alerts/a1/ack", [&](const standin::ReceivedRequest&) {
        full.emplace(0);
        return Reply::json(R"({"error":"boom"})", 500);
    });
    app.respond(ack, "a1", "t1");
    full.reset();
    ASSERT_EQ(app.center->shown.size(), 1u);
    EXPECT_EQ(
        app.center->shown.front().body,
        "r\n" + PendingAckCoordinator::notSavedText(AckDelivery::refused) + "\nServer error 500: boom");
    EXPECT_EQ(app.acks->get("a1")->lastError, PendingAckCoordinator::inProgressText);  // retried by a drain
}

TEST_F(NotificationResponses, ABoxTeamNotSignedInIsQueuedAndTheBoxWindowOpens) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    launchWith(stored);
    const PendingAck earlier{"b1", "t2", "Disk full", 3, "earlier", AckFailureVerdict::final};
    acks->put(earlier);

    respond(ack, "b1", "t2");
    PendingAck queued = earlier;
    queued.attempts = 0;
    queued.lastError = "Sign in to this box to acknowledge.";
    queued.verdict = AckFailureVerdict::retryable;
    EXPECT_EQ(acks->get("b1"), queued);
    QWidget* boxWindow = delegate->windows().window(WindowPresenter::Kind::box);
    ASSERT_TRUE(boxWindow);
    EXPECT_TRUE(boxWindow->isVisible());
    EXPECT_EQ(count(hosted, "POST /v1/tenants/t2/keys"), 0u);  // a box team's key comes from the box
    EXPECT_EQ(count(box, "POST /v1/alerts/b1/ack"), 0u);
}

TEST_F(NotificationResponses, OnlyTheFirstFailureIsToldByANotification) {
    launchWith(session());
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(R"({"error":"busy"})", 503));
    respond(ack, "a1", "t1");
    ASSERT_EQ(center->shown.size(), 1u);
    const NotificationRequest& told = center->shown.front();
    EXPECT_EQ(told.identifier, "brisalune.ack-failure.a1");
    EXPECT_EQ(told.title, "Couldn't acknowledge");
    EXPECT_EQ(told.categoryIdentifier, "BRISALUNE_ALERT");
    EXPECT_EQ(told.userInfo, (json::Object{{"alert_id", "a1"}, {"tenant_id", "t1"}}));

    center->shown.clear();
    respond(ack, "a1", "t1");  // its own acknowledge button: the same alert again
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 2u);
    EXPECT_TRUE(center->shown.empty());
    EXPECT_EQ(acks->get("a1")->attempts, 2);
}

TEST_F(NotificationResponses, AClickOpensTheAlertOrSaysWhyItCannot) {
    serveHealth(hosted, "https://portal.example");
    launchWith(session());
    respond(click, "a1", "t1");
    EXPECT_EQ(opened, std::vector<std::string>{"https://portal.example/t/t1/alerts/a1"});

    // An origin the app cannot use: the hosted service then has none.
    serveHealth(hosted, "https://portal.example/sub");
    run(model->refreshPortalOrigins());
    respond(click, "a1", "t1");
    EXPECT_EQ(opened.size(), 1u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, "Nothing to open");
    EXPECT_EQ(
        notices[0].second.toStdString(), "127.0.0.1 has no web portal. Its operator turns one on with -portal-origin.");

    respond(click, "a1", "t9");  // not a team of this account: nothing
    respond(ack, "", "t1");      // no alert id: not a notification of ours
    NotificationResponse incident = response(click, "x", "t1");
    incident.request.userInfo = {{"event", "incident.alerts_resolved"}, {"incident", 7.0}, {"tenant_id", "t1"}};
    run(delegate->handleNotificationResponse(incident));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(notices.size(), 1u);
}

}  // namespace
}  // namespace brisalune
