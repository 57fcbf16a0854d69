// The main road end to end: the demo service's program on loopback, the application (its
// library, its real windows) in this process on an X server of its own. Sign in, pick a team,
// see its alerts, open one in the portal and acknowledge it from a notification, sign in to the
// team's box, sign out. Then the built program itself: it comes up, and a second one leaves.

#include <brisalune/app/shell/app_delegate.hpp>
#include <brisalune/app/ui/alerts_section.hpp>
#include <brisalune/app/ui/menu_bar_extra.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/push/push_host.hpp>
#include <brisalune/push/push_state.hpp>

#include <support/qt_application.hpp>
#include <support/qt_widgets_application.hpp>
#include <support/recording_notification_center.hpp>
#include <support/temp_dir.hpp>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

namespace brisalune {
namespace {

using Phase = MacModel::Phase;
using Kind = WindowPresenter::Kind;

// The demo service's program, with the addresses it prints.
class DemoProgram {
public:
    DemoProgram() {
        process_.start(
            QStringLiteral(BRISALUNE_DEMO_PROGRAM), {"--port", "0", "--box-port", "0", "--web-port", "0", "--new-alert-every", "0"});
        if (!process_.waitForStarted()) throw std::runtime_error("the demo service did not start");
        QString printed;
        while (!printed.contains(QStringLiteral("Serving")) && process_.waitForReadyRead(10000))
            printed += QString::fromUtf8(process_.readAllStandardOutput());
        hosted = field(printed, "hosted service");
        box = field(printed, "self-hosted box");
        manifest = field(printed, "update manifest");
        const QStringList signIn = field(printed, "sign in").split(QStringLiteral(" / "));
        if (hosted.isEmpty() || signIn.size() != 2)
            throw std::runtime_error("the demo service said: " + printed.toStdString());
        email = signIn[0];
        password = signIn[1];
        const QStringList boxSignIn = field(printed, "box sign-in").split(QStringLiteral(" / "));
        boxEmail = boxSignIn.value(0);
        boxPassword = boxSignIn.value(1);
    }
    ~DemoProgram() {
        process_.terminate();
        if (!process_.waitForFinished(10000)) process_.kill();
    }

    QString hosted, box, manifest, email, password, boxEmail, boxPassword;

private:
    static QString field(const QString& printed, const char* name) {
        const QRegularExpression line(
            QStringLiteral("^  %1 +(.+)$").arg(QString::fromLatin1(name)), QRegularExpression::MultilineOption);
        return line.match(printed).captured(1).trimmed();
    }

    QProcess process_;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { testkit::widgetsApplication(); }

    template <class W>
    static W* widget(QWidget* window, const char* name) {
        W* found = window ? window->findChild<W*>(QString::fromLatin1(name)) : nullptr;
        if (!found) ADD_FAILURE() << "no widget " << name;
        return found;
    }

    static void type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
    }

    static void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    template <class F>
    static bool until(F done) {
        return testkit::processEventsUntil(done, std::chrono::seconds(60));
    }
};

TEST_F(EndToEnd, SignInPickATeamAcknowledgeAndSignOut) {
    DemoProgram demo;
    testkit::TempDir dir;
    const auto keychain =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.e2e-" + dir.path().filename().string());
    const auto acks = std::make_shared<PendingAckStore>(PendingAckStore::inFile(dir / "defaults.json"));
    const auto center = std::make_shared<testkit::RecordingNotificationCenter>();
    PushState pushState(
        std::make_shared<DesktopPushHost>(),
        true,
        std::make_shared<MemoryDeviceRegistry>(),
        acks,
        {.defaults = platform::Defaults(dir / "defaults.json"), .keychain = keychain, .notificationCenter = center});
    std::vector<std::string> opened;
    const platform::Url hostedURL = *platform::Url::parse(demo.hosted.toStdString());
    MacAppDelegate delegate(
        {.pushState = pushState,
         .defaults = platform::Defaults(dir / "defaults.json"),
         .sessionStore = keychain,
         .addresses =
             {.hostedAPIBase = [hostedURL] { return hostedURL; },
              .hostedWebOrigin = [hostedURL] { return hostedURL; },
              .allowLoopbackHttp = true},
         .manifestURL = [&] { return platform::Url::parse(demo.manifest.toStdString()); },
         .versionCode = 1,
         .openURL = [&](const platform::Url& url) { opened.push_back(url.text()); }});
    MenuBarExtra scene(
        {.model = delegate.model(),
         .updates = delegate.updates(),
         .openURL = [&](const platform::Url& url) { opened.push_back(url.text()); }},
        delegate.windows());
    scene.show();
    delegate.applicationDidFinishLaunching();
    MacModel& model = delegate.model();
    QWidget* menu = &scene.menuWindow();

    // Nothing stored: signed out, and the release the demo publishes is offered.
    ASSERT_TRUE(until([&] { return model.hasLaunched() && delegate.updates().offer(); }));
    EXPECT_TRUE(menu->isVisible());  // no tray on a bare X server: the menu is a window
    EXPECT_TRUE(widget<QLabel>(menu, "menu.notSignedIn")->isVisible());
    EXPECT_TRUE(widget<QWidget>(menu, "updateRow")->isVisible());

    // Sign in through the sign-in window.
    click(widget<QPushButton>(menu, "menu.signIn"));
    QWidget* signIn = delegate.windows().window(Kind::signIn);
    ASSERT_TRUE(signIn && signIn->isVisible());
    type(widget<QLineEdit>(signIn, "signIn.email"), demo.email);
    type(widget<QLineEdit>(signIn, "signIn.password"), demo.password);
    click(widget<QPushButton>(signIn, "signIn.submit"));
    ASSERT_TRUE(until([&] { return model.phase() == Phase::selectingTenant; }));
    // The sign-in window turns into the team picker, as the menu does.
    EXPECT_TRUE(signIn->isVisible());
    EXPECT_TRUE(widget<QWidget>(menu, "tenantPicker")->isVisible());

    // Pick the hosted team: the sign-in window closes.
    QPushButton* acme = nullptr;
    ASSERT_TRUE(until([&] {
        return (acme = signIn->findChild<QPushButton*>(QStringLiteral("tenantPicker.team.acme-ops"))) != nullptr;
    }));
    click(acme);
    ASSERT_TRUE(until([&] { return model.phase() == Phase::signedIn && !model.openAlerts().empty(); }));
    ASSERT_TRUE(until([&] { return !signIn->isVisible(); }));

    // Its open alerts: the first five listed, each opening in the portal.
    const auto rows = [&] { return menu->findChildren<AlertRow*>(); };
    ASSERT_TRUE(until(
        [&] { return rows().size() == std::min<qsizetype>(5, static_cast<qsizetype>(model.openAlerts().size())); }));
    const auto firing = [&](const std::string& id) {
        for (const AlertSnapshot& alert : model.openAlerts())
            if (alert.id == id) return alert.state == "firing";
        return false;
    };
    const std::string first = model.openAlerts().front().id;
    ASSERT_TRUE(firing(first));

    // The portal's address is asked for once the team is chosen; until it is known, a click
    // says the team has no portal.
    ASSERT_TRUE(until([&] {
        return model.alertPortalDestination(std::nullopt, first).get<PortalLinks::Destination::Portal>() != nullptr;
    }));
    QTest::mouseClick(rows().front(), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened.back().find(first), std::string::npos);

    // Acknowledge it from a notification's button.
    const std::string second = first;
    ASSERT_FALSE(second.empty());
    const NotificationResponse response{
        .actionIdentifier = std::string(PushState::ackActionIdentifier),
        .request = {
            .identifier = "alert." + second,
            .title = "Alert",
            .body = "",
            .categoryIdentifier = std::string(PushState::alertCategoryIdentifier),
            .userInfo = {{"alert_id", second}, {"tenant_id", "acme-ops"}}}};
    Q_EMIT center->responseReceived(response);
    ASSERT_TRUE(until([&] { return !firing(second); }));
    EXPECT_TRUE(acks->all().empty());
    EXPECT_TRUE(center->shown.empty());  // no failure to tell

    // The team on the box: its sign-in, then its alerts come from the box.
    auto* picker = widget<QComboBox>(menu, "alerts.teamPicker");
    const int harbor = picker->findText(QStringLiteral("Harbor Lab"));
    ASSERT_GE(harbor, 0);
    Q_EMIT picker->activated(harbor);
    ASSERT_TRUE(until([&] { return model.needsBoxSignIn(); }));
    click(widget<QPushButton>(menu, "alerts.box.signIn"));
    QWidget* boxWindow = delegate.windows().window(Kind::box);
    ASSERT_TRUE(boxWindow && boxWindow->isVisible());
    type(widget<QLineEdit>(boxWindow, "boxSignIn.email"), demo.boxEmail);
    type(widget<QLineEdit>(boxWindow, "boxSignIn.password"), demo.boxPassword);
    // The box account is on one team of the box: it is put to use at once.
    click(widget<QPushButton>(boxWindow, "boxSignIn.submit"));
    ASSERT_TRUE(until([&] { return !model.needsBoxSignIn() && !model.openAlerts().empty(); }))
        << widget<QLabel>(boxWindow, "boxSignIn.error")->text().toStdString();
    EXPECT_TRUE(until([&] { return !boxWindow->isVisible(); }));  // once the team is in use
    EXPECT_EQ(model.openAlerts().front().id.substr(0, 3), "b0c");

    // Sign out: the model and the keychain forget the session.
    click(widget<QPushButton>(menu, "account.signOut"));
    ASSERT_TRUE(until([&] { return model.phase() == Phase::signedOut && !model.isTearingDown(); }));
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
    EXPECT_TRUE(widget<QLabel>(menu, "menu.notSignedIn")->isVisible());

    delegate.applicationWillTerminate();
    ASSERT_TRUE(until([&] { return !delegate.isRefreshLoopRunning(); }));
}

TEST_F(EndToEnd, TheBuiltProgramComesUpAndASecondOneLeavesAtOnce) {
    testkit::TempDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((dir / "config").string()));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(dir.path().string()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(BRISALUNE_APP_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());

    // Its menu window maps on this display.
    const auto shown = [] {
        QProcess windows;
        windows.start(QStringLiteral("xwininfo"), {"-root", "-tree"});
        windows.waitForFinished();
        return QString::fromUtf8(windows.readAllStandardOutput()).contains(QStringLiteral("\"Brisalune\""));
    };
    ASSERT_TRUE(until([&] { return shown() || first.state() == QProcess::NotRunning; }));
    ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(BRISALUNE_APP_PROGRAM), {});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    EXPECT_TRUE(first.waitForFinished(30000));
}

// A user with no home folder (no HOME, no account entry) is told so, rather than the program
// ending on an uncaught exception.
TEST_F(EndToEnd, TheBuiltProgramWithoutAHomeFolderSaysWhyItCannotStart) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        GTEST_SKIP() << "needs root and setpriv to run as a user without an account entry";
    }
    QProcess program;
    program.setProcessEnvironment(QProcessEnvironment());  // nothing: no HOME, no XDG folders
    program.start(
        QStringLiteral("setpriv"),
        {"--reuid=54321", "--regid=54321", "--clear-groups", "--", QStringLiteral(BRISALUNE_APP_PROGRAM)});
    ASSERT_TRUE(program.waitForFinished(30000));
    const QString said = QString::fromUtf8(program.readAllStandardError());
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << said.toStdString();
    EXPECT_EQ(program.exitCode(), 1) << said.toStdString();
    EXPECT_TRUE(said.startsWith(QStringLiteral("brisalune: "))) << said.toStdString();
}

}  // namespace
}  // namespace brisalune
