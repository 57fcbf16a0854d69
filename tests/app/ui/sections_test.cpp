#include <brisalune/app/ui/alerts_section.hpp>
#include <brisalune/app/ui/app_section.hpp>
#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/push_status_row.hpp>
#include <brisalune/app/ui/update_row.hpp>

#include <app/ui/ui_fixture.hpp>
#include <brisalune/push/freedesktop_notifications.hpp>
#include <brisalune/standin/server.hpp>
#include <support/file_size_limit.hpp>
#include <support/notification_daemon.hpp>
#include <support/stopped_keyring.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace brisalune {
namespace {

class AlertsSectionTest : public testkit::UiTest {
protected:
    std::unique_ptr<MenuContentView> view = std::make_unique<MenuContentView>(environment());
    void SetUp() override { windows.provideTo(view.get()); }
    QWidget* alerts() { return &at(view.get(), "alerts"); }
};

TEST_F(AlertsSectionTest, CountsEveryOpenAlertAndListsFive) {
    signInWithTeam("acme-ops");
    EXPECT_EQ(textOf(alerts(), "alerts.count"), "6 open");
    demo.hosted().raise(demo.fixture().arrivals.front());
    await(model.refreshAlerts());
    EXPECT_EQ(textOf(alerts(), "alerts.count"), "7 open");
    const auto rows = at(alerts(), "alerts.rows").findChildren<AlertRow*>();
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[0]->objectName().toStdString(), "alerts.row." + model.openAlerts()[0].id);
    const AlertSnapshot& first = model.openAlerts()[0];
    EXPECT_EQ(
        rows[0]->findChild<QLabel*>("alerts.row.detail")->text().toStdString(),
        first.project + " \u00b7 " + first.state);
    EXPECT_EQ(rows[0]->findChild<QLabel*>("alerts.row.rule")->textFormat(), Qt::PlainText);

    // Two teams: a picker showing the active one.
    EXPECT_FALSE(shows(alerts(), "alerts.teamName"));
    auto& picker = at<QComboBox>(alerts(), "alerts.teamPicker");
    EXPECT_EQ(picker.currentText(), "Acme Operations");

    rows[0]->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened.back().text().find(first.id), std::string::npos);
    at<QPushButton>(alerts(), "alerts.openPortal").click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_FALSE(shows(alerts(), "alerts.notice"));
}

TEST_F(AlertsSectionTest, ABoxTeamWithoutItsKeyShowsTheWayToTheBox) {
    signInWithTeam("acme-ops");
    auto& picker = at<QComboBox>(alerts(), "alerts.teamPicker");
    picker.setCurrentIndex(1);
    Q_EMIT picker.activated(1);
    waitUntil([&] { return model.session()->activeTenantId == "harbor-lab"; });
    EXPECT_EQ(picker.currentText(), "Harbor Lab");
    EXPECT_TRUE(shows(alerts(), "alerts.box"));
    EXPECT_FALSE(shows(alerts(), "alerts.count"));
    EXPECT_FALSE(shows(alerts(), "alerts.openPortal"));

    // The notice still shows under the gate.
    auto* section = static_cast<AlertsSection*>(alerts());
    view->notice().set("a notice");
    EXPECT_TRUE(shows(alerts(), "alerts.notice"));
    section->openAlert("b0c0000000000001");  // the box is not signed in: the box window, notice cleared
    EXPECT_FALSE(shows(alerts(), "alerts.notice"));
    ASSERT_NE(windows.window(WindowPresenter::Kind::box), nullptr);
    EXPECT_TRUE(windows.window(WindowPresenter::Kind::box)->isVisible());
}

// From "Sign out" on, the list is the last one known and not live, its count and titles in the
// secondary ink, and a refresh refused unsent leaves no line of its own: the account section
// carries the one line.
class EndingAlertsTest : public testkit::RefusedSignOutTest {};

TEST_F(EndingAlertsTest, AreGreyedAndTheirRefreshRefusedUnsentSaysNothing) {
    MenuContentView view(environment(updates, refusingModel));
    signInWithTeam(refusingModel, "acme-ops");
    QWidget& rows = at(&view, "alerts.rows");
    QWidget& teams = at(&view, "alerts.teamPicker");
    // The count's ink, then each title's.
    const auto inks = [&] {
        std::vector<std::string> all{inkOf(at<QLabel>(&view, "alerts.count")).name().toStdString()};
        for (const AlertRow* row : rows.findChildren<AlertRow*>())
            all.push_back(inkOf(at<QLabel>(row, "alerts.row.rule")).name().toStdString());
        return all;
    };
    const auto allIn = [&](ui::Tone tone) {
        return std::vector<std::string>(
            inks().size(), ui::toneColour(tone, QApplication::palette()).name().toStdString());
    };
    ASSERT_TRUE(rows.isEnabled());
    ASSERT_TRUE(teams.isEnabled());
    ASSERT_GT(inks().size(), 1u);
    EXPECT_EQ(inks(), allIn(ui::Tone::primary));
    holdLogout();  // still signing out while the list is looked at
    QCoro::Task<> out = refusingModel.signOut();
    EXPECT_FALSE(rows.isEnabled());  // at once
    EXPECT_FALSE(teams.isEnabled());
    EXPECT_EQ(inks(), allIn(ui::Tone::secondary));
    answerLogout();
    await(std::move(out));
    ASSERT_TRUE(refusingModel.signOutRefusal());

    await(refusingModel.refreshAlerts());
    EXPECT_EQ(refusingModel.alertsError(), "Not sent: Brisalune is signing out of this session.");
    EXPECT_FALSE(shows(&view, "alerts.error"));
    EXPECT_TRUE(shows(&view, "account.error"));
    EXPECT_EQ(inks(), allIn(ui::Tone::secondary));
    const auto listed = rows.findChildren<AlertRow*>();
    ASSERT_FALSE(listed.empty());
    for (AlertRow* row : listed) EXPECT_FALSE(row->isEnabled()) << row->objectName().toStdString();
    listed.front()->click();
    EXPECT_TRUE(opened.empty());

    keychain->refuses = false;
    await(refusingModel.retryRefusedSignOut());
    EXPECT_EQ(refusingModel.phase(), MacModel::Phase::signedOut);
    signInWithTeam(refusingModel, "acme-ops");  // a live session again: in the primary ink
    EXPECT_EQ(inks(), allIn(ui::Tone::primary));
}

TEST(PortalNotice, NamesTheHostOrTheWholeAddress) {
    EXPECT_EQ(
        noWebPortalNotice(*platform::Url::parse("https://box.example:8443/api")),
        "box.example has no web portal. Its operator turns one on with -portal-origin.");
    EXPECT_EQ(
        noWebPortalNotice(*platform::Url::parse("file:///srv/box")),
        "file:///srv/box has no web portal. Its operator turns one on with -portal-origin.");
}

class PushRowTest : public testkit::UiTest {
protected:
    MenuEnvironment env = environment();
    PushStatusRow row{pushState, env};

    std::string message() { return textOf(&row, "push.message"); }
    void settings(AuthorizationStatus status) {
        center->currentSettings.authorizationStatus = status;
        await(pushState.refreshSettings());
    }
};

TEST_F(PushRowTest, ShowsTheOneHelpfulActionForEachState) {
    EXPECT_TRUE(shows(&row, "push.turnOn"));
    EXPECT_FALSE(shows(&row, "push.message"));

    center->requestFails = {true, true};
    at<QPushButton>(&row, "push.turnOn").click();
    EXPECT_EQ(message(), PushStatusRow::requestingText);
    waitUntil([&] { return !pushState.isRequestingAuthorization(); });
    EXPECT_EQ(message(), PushStatusRow::requestFailedText);
    EXPECT_TRUE(shows(&row, "push.openSettings"));

    settings(AuthorizationStatus::denied);
    pushState.setRegistrationError("ignored while denied");
    EXPECT_EQ(message(), PushStatusRow::deniedText);
    EXPECT_TRUE(shows(&row, "push.openSettings"));

    settings(AuthorizationStatus::provisional);
    pushState.setDeviceRegistrationError("the service refused");
    EXPECT_EQ(message(), "Not registered for push: ignored while denied");  // the platform's error first
    pushState.setRegistrationError(std::nullopt);
    EXPECT_EQ(message(), "Not registered for push: the service refused");
    pushState.didReceiveDeviceToken(QByteArray::fromHex("ab01"));
    EXPECT_TRUE(shows(&row, "push.message"));  // an error outranks the token
    pushState.setDeviceRegistrationError(std::nullopt);
    EXPECT_TRUE(shows(&row, "push.on"));
    EXPECT_FALSE(shows(&row, "push.message"));
}

// The account rows over the desktop's keyring.
class AccountSectionTest : public testkit::KeychainMenuTest {
protected:
    bool showsRed() { return shows(view.get(), "account.error"); }
};

// Only a sign-out that the keyring refused is told here, and only while it holds: a session that
// could not be kept is not, and the refusal goes once the person opens the menu again with the
// keyring back. The button says which: signing out, one to finish, or none begun.
TEST_F(AccountSectionTest, ShowsOnlyASignOutTheKeyringRefusedWhileItHolds) {
    await(keychainModel.ensureLaunched());
    await(keychainModel.signIn(account().email, account().password));
    await(keychainModel.selectTenant("acme-ops"));
    ASSERT_EQ(keychainModel.phase(), MacModel::Phase::signedIn);

    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    await(keychainModel.selectTenant("harbor-lab"));  // the team choice cannot be kept
    ASSERT_TRUE(keychainModel.lastError());
    EXPECT_FALSE(showsRed()) << *keychainModel.lastError();

    auto& signOut = at<QPushButton>(view.get(), "account.signOut");
    EXPECT_EQ(signOut.text().toStdString(), "Sign out");
    signOut.click();
    EXPECT_EQ(signOut.text().toStdString(), "Signing out\u2026");
    EXPECT_FALSE(signOut.isEnabled());
    waitUntil([&] { return !keychainModel.isTearingDown(); });
    ASSERT_EQ(keychainModel.phase(), MacModel::Phase::signedIn);
    EXPECT_EQ(signOut.text().toStdString(), "Finish signing out");
    EXPECT_TRUE(signOut.isEnabled());
    ASSERT_TRUE(showsRed());
    const QString red = at<QLabel>(view.get(), "account.error").text();
    EXPECT_TRUE(red.startsWith("Brisalune could not finish signing out, as the keyring could not forget your session: "))
        << red.toStdString();
    EXPECT_TRUE(
        red.endsWith(" Nothing of this session is sent meanwhile; it tries again when its window opens or you press "
                     "\u201cFinish signing out\u201d."))
        << red.toStdString();

    stopped.reset();
    view->show();  // the person opens the menu: the sign-out is tried again, and goes through
    waitUntil([&] { return keychainModel.phase() == MacModel::Phase::signedOut; });
    EXPECT_FALSE(keychainModel.lastError());
    EXPECT_FALSE(showsRed());
    EXPECT_TRUE(store->load().is(SessionLoad::Case::absent));
}

class AppSectionTest : public testkit::UiTest {};

TEST_F(AppSectionTest, SwitchVersionAndManualCheck) {
    MenuEnvironment env = environment();
    AppSection withoutUpdates(env);
    withoutUpdates.show();
    EXPECT_EQ(textOf(&withoutUpdates, "app.version"), "Version 0.1.0 (1)");
    EXPECT_TRUE(shows(&withoutUpdates, "app.updatesOff"));
    EXPECT_FALSE(shows(&withoutUpdates, "app.checkForUpdates"));

    auto& launch = at<QCheckBox>(&withoutUpdates, "app.launchAtLogin");
    EXPECT_FALSE(launch.isChecked());
    launch.click();
    EXPECT_TRUE(launch.isChecked());
    EXPECT_TRUE(std::filesystem::exists(dir / "autostart/brisalune.desktop"));
    // A refused change: the entry's folder cannot be written; the switch shows the real status.
    std::filesystem::remove(dir / "autostart/brisalune.desktop");
    std::filesystem::remove(dir / "autostart");
    std::ofstream(dir / "autostart") << "a file where the folder should be";
    launch.click();  // was read as on; now asks for off, which needs no folder
    launch.click();  // asks for on again: cannot write
    EXPECT_FALSE(launch.isChecked());
    EXPECT_TRUE(shows(&withoutUpdates, "app.launchAtLogin.error"));

    // A manifest that lists this very version: up to date; one that cannot be had: failed.
    standin::Server site;
    site.on(
        "GET",
        "/latest.json",
        standin::Reply::json(R"({"version_code": 1, "version_name": "0.1.0", "url": "https://127.0.0.1/a"})"));
    SiteUpdates checker(platform::Url::parse(site.baseUrl() + "/latest.json"), 1, defaults);
    MenuEnvironment checking = environment(checker);
    AppSection section(checking);
    section.show();
    auto& check = at<QPushButton>(&section, "app.checkForUpdates");
    EXPECT_EQ(check.text(), "Check for Updates\u2026");
    // What the button showed while the check ran (however soon the manifest came).
    std::vector<std::pair<QString, bool>> whileChecking;
    QObject::connect(&checker, &SiteUpdates::isCheckingChanged, &section, [&](bool running) {
        if (running) whileChecking.emplace_back(check.text(), check.isEnabled());
    });
    check.click();
    waitUntil([&] { return !checker.isChecking() && checker.manualResult(); });
    EXPECT_EQ(whileChecking, (std::vector<std::pair<QString, bool>>{{"Checking for Updates\u2026", false}}));
    EXPECT_EQ(check.text(), "Check for Updates\u2026");
    EXPECT_EQ(textOf(&section, "app.checkResult"), "You're up to date.");
    site.on("GET", "/latest.json", standin::Reply::json(R"({"error": "down"})", 500));
    check.click();
    waitUntil([&] { return checker.manualResult() == SiteUpdates::ManualResult::failed; });
    EXPECT_EQ(
        textOf(&section, "app.checkResult"),
        "Couldn't reach " + MenuEnvironment::publicWebDomain() + " to check for updates.");
    // A newer release: the update row offers it, so this section adds no line of its own.
    site.on(
        "GET",
        "/latest.json",
        standin::Reply::json(R"({"version_code": 2, "version_name": "0.2.0", "url": "https://127.0.0.1/a"})"));
    check.click();
    waitUntil([&] { return checker.manualResult() == SiteUpdates::ManualResult::available; });
    EXPECT_FALSE(shows(&section, "app.checkResult"));
}

TEST_F(AppSectionTest, UpdateRowNeedsAnHttpsDownloadOnTheManifestsHost) {
    standin::Server site;
    const auto offering = [&](const std::string& url, bool held = false) {
        standin::Reply reply =
            standin::Reply::json(R"({"version_code": 9, "version_name": "2.1", "url": ")" + url + R"("})");
        reply.holdUntilReleased = held;
        site.on("GET", "/latest.json", reply);
    };
    SiteUpdates checker(platform::Url::parse(site.baseUrl() + "/latest.json"), 1, defaults);
    MenuEnvironment env = environment(checker);
    UpdateRow row(env);
    for (const std::string refused : {"http://127.0.0.1/d.tgz", "https://elsewhere.example/d.tgz", "https://"}) {
        offering(refused);
        await(checker.checkNow());
        EXPECT_FALSE(UpdateRow::downloadAddress(checker)) << refused;
    }
    offering("HTTPS://127.0.0.1/brisalune-2.1.tgz");
    await(checker.checkNow());
    ASSERT_TRUE(UpdateRow::downloadAddress(checker));
    EXPECT_EQ(textOf(&row, "updateRow.text"), "Brisalune 2.1 is available");
    EXPECT_EQ(at<QToolButton>(&row, "updateRow.dismiss").accessibleName(), "Dismiss");
    at<QPushButton>(&row, "updateRow.download").click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(UpdateRow::downloadAddress(checker));  // downloading keeps the offer
    EXPECT_FALSE(shows(&row, "updateRow.unwritten"));
    {
        // A dismissal the settings file cannot take (a full disk): the offer stays, and says why.
        const testkit::FileSizeLimit full(0);
        at<QToolButton>(&row, "updateRow.dismiss").click();
        waitUntil([&] { return UpdateRow::downloadAddress(checker).has_value(); });
    }
    ASSERT_TRUE(shows(&row, "updateRow.unwritten"));
    EXPECT_EQ(
        textOf(&row, "updateRow.unwritten"),
        "Brisalune's settings file could not be written, so this update was not dismissed.");
    await(checker.checkNow());  // a manual check leaves no earlier note standing
    EXPECT_FALSE(shows(&row, "updateRow.unwritten"));
    at<QToolButton>(&row, "updateRow.dismiss").click();
    EXPECT_FALSE(UpdateRow::downloadAddress(checker));
    EXPECT_FALSE(shows(&row, "updateRow.unwritten"));
    ASSERT_TRUE(testkit::settlePool());  // the dismissal written

    // A manual check on a full disk: the manifest it fetched is not kept.
    {
        const testkit::FileSizeLimit full(0);
        await(checker.checkNow());
    }
    ASSERT_TRUE(shows(&row, "updateRow.unwritten"));
    EXPECT_EQ(
        textOf(&row, "updateRow.unwritten"),
        "Brisalune's settings file could not be written, so this update is not remembered after Brisalune quits.");
    // One whose removal of the dismissal fails, though it keeps the manifest.
    offering("HTTPS://127.0.0.1/brisalune-2.1.tgz", true);
    site.clearRequests();
    std::optional<testkit::FileSizeLimit> full(std::in_place, 0);
    QCoro::Task<> manual = checker.checkNow();
    waitUntil([&] { return !site.requests().empty(); });  // past the removal
    full.reset();
    site.release();
    await(std::move(manual));
    ASSERT_TRUE(shows(&row, "updateRow.unwritten"));
    EXPECT_EQ(
        textOf(&row, "updateRow.unwritten"),
        "Brisalune's settings file could not be written, so this update will be hidden again when Brisalune "
        "restarts.");
}

TEST_F(PushRowTest, WithoutAPushServiceItSaysCalmlyWhatTheAppDoesInstead) {
    settings(AuthorizationStatus::authorized);
    pushState.setRegistrationError(std::string(DesktopPushHost::unavailableText));
    EXPECT_TRUE(shows(&row, "push.on"));
    EXPECT_FALSE(shows(&row, "push.message"));
    EXPECT_EQ(textOf(&row, "push.on.text"), PushStatusRow::localText);

    // A real failure keeps the error's look.
    pushState.setRegistrationError("the platform refused");
    EXPECT_EQ(message(), "Not registered for push: the platform refused");
    EXPECT_FALSE(shows(&row, "push.on"));
    pushState.setRegistrationError(std::nullopt);
    pushState.didReceiveDeviceToken(QByteArray::fromHex("ab01"));
    EXPECT_EQ(textOf(&row, "push.on.text"), PushStatusRow::onText);
}

TEST_F(PushRowTest, NoSettingsButtonWhereTheDesktopHasNoneToOpen) {
    MenuEnvironment bare = environment();
    bare.hasNotificationSettings = [] { return false; };
    PushStatusRow plain(pushState, bare);
    settings(AuthorizationStatus::denied);
    EXPECT_EQ(textOf(&plain, "push.message"), PushStatusRow::deniedText);
    EXPECT_FALSE(shows(&plain, "push.openSettings"));
    EXPECT_TRUE(shows(&row, "push.openSettings"));
}

// Nothing shows without a notification service: the row says so, in place of "on" or "off".
TEST_F(PushRowTest, WithoutANotificationServiceItSaysNoneCanBeShown) {
    testkit::PrivateBus bus;  // no notification service on it
    pushState.setNotificationCenter(std::make_shared<FreedesktopNotificationCenter>(bus.connection()));
    pushState.setRegistrationError(std::string(DesktopPushHost::unavailableText));
    await(pushState.refreshNotificationSettings());
    EXPECT_EQ(message(), PushStatusRow::noServiceText);
    EXPECT_FALSE(shows(&row, "push.on"));
    EXPECT_FALSE(shows(&row, "push.openSettings"));
    EXPECT_FALSE(shows(&row, "push.turnOn"));
}

// A variable of the environment for the scope, put back as it was at its end.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value) : name_(name), before_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedVariable() {
        if (before_.isNull()) {
            qunsetenv(name_);
        } else {
            qputenv(name_, before_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    QByteArray before_;
};

// The running desktop's own settings program, found on PATH; here a script that leaves a mark.
TEST(DesktopNotificationSettings, OnlyTheRunningDesktopsKnownProgramOnPath) {
    testkit::widgetsApplication();
    testkit::TempDir bin;
    const std::filesystem::path mark = bin / "opened";
    const auto install = [&](const std::string& program) {
        const std::filesystem::path path = bin / program;
        std::ofstream(path) << "#!/bin/sh\necho \"$@\" > '" << mark.string() << "'\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    };
    const ScopedVariable path("PATH", QByteArray::fromStdString(bin.path().string()));
    {
        const ScopedVariable desktop("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        EXPECT_FALSE(MenuEnvironment::desktopHasNotificationSettings());  // nothing installed
        EXPECT_FALSE(MenuEnvironment::openDesktopNotificationSettings());
        install("xfce4-notifyd-config");
        EXPECT_FALSE(MenuEnvironment::desktopHasNotificationSettings());  // another desktop's
        install("gnome-control-center");
        EXPECT_TRUE(MenuEnvironment::desktopHasNotificationSettings());
        ASSERT_TRUE(MenuEnvironment::openDesktopNotificationSettings());
        ASSERT_TRUE(testkit::processEventsUntil(
            [&] { return std::filesystem::exists(mark) && std::filesystem::file_size(mark) > 0; }));
        std::string arguments;
        std::getline(std::ifstream(mark), arguments);
        EXPECT_EQ(arguments, "notifications");
    }
    for (const char* other : {"", "Sway"}) {
        const ScopedVariable desktop("XDG_CURRENT_DESKTOP", other);
        EXPECT_FALSE(MenuEnvironment::desktopHasNotificationSettings()) << other;
    }
}

}  // namespace
}  // namespace brisalune
