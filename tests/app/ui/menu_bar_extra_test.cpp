#include <brisalune/app/ui/menu_bar_extra.hpp>
#include <brisalune/standin/server.hpp>

#include <app/ui/menu_window_fixture.hpp>
#include <app/ui/ui_fixture.hpp>
#include <support/notification_daemon.hpp>  // PrivateBus::connection
#include <support/session_bus.hpp>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

namespace brisalune {
namespace {

int reddish(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.alpha() > 200 && c.red() > 170 && c.green() < 110 && c.blue() < 110;
        }
    return count;
}

TEST(MenuBarIcon, PlainMarkWithoutAlertsRedMarkAndCountWithThem) {
    testkit::widgetsApplication();
    EXPECT_EQ(MenuBarIcon::accessibilityLabel(0), "Brisalune");
    EXPECT_EQ(MenuBarIcon::accessibilityLabel(1), "1 open alerts");  // the key has no singular
    EXPECT_EQ(MenuBarIcon::countText(7), "7");
    EXPECT_EQ(MenuBarIcon::countText(99), "99");
    EXPECT_EQ(MenuBarIcon::countText(100), "99+");

    const QImage plain = MenuBarIcon::picture(0).toImage();
    EXPECT_EQ(reddish(plain), 0);
    EXPECT_EQ(plain.pixelColor(0, 0).alpha(), 0);  // transparent around the mark
    const QImage counted = MenuBarIcon::picture(3).toImage();
    EXPECT_GT(reddish(counted), 100);
    EXPECT_EQ(counted.pixelColor(0, 0).alpha(), 0);
    EXPECT_NE(MenuBarIcon::picture(3).toImage(), MenuBarIcon::picture(4).toImage());
    EXPECT_EQ(MenuBarIcon::markImage().size(), QSize(18, 18));
}

TEST(MenuWindowPlace, UnderTheIconElseAboveAlwaysOnScreen) {
    const QRect screen(0, 0, 1000, 700);
    EXPECT_EQ(MenuWindow::popUpPosition({320, 400}, QRect(900, 0, 22, 30), screen), QPoint(680, 30));
    EXPECT_EQ(MenuWindow::popUpPosition({320, 400}, QRect(100, 670, 22, 30), screen), QPoint(100, 270));
    EXPECT_EQ(MenuWindow::popUpPosition({320, 400}, QRect(-50, 10, 1, 1), screen), QPoint(0, 11));
}

class MenuBarExtraTest : public testkit::UiTest {};

TEST_F(MenuBarExtraTest, RedrawsTheTrayPictureOnlyWhenTheCountChanges) {
    MenuBarExtra scene(environment(), windows);
    scene.showInTray();
    ASSERT_NE(scene.trayIcon(), nullptr);
    EXPECT_EQ(scene.pictureDraws(), 1);
    EXPECT_EQ(scene.trayIcon()->toolTip(), "Brisalune");
    const QList<QAction*> actions = scene.trayIcon()->contextMenu()->actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions.front()->text(), "Open");

    signInWithTeam("acme-ops");
    EXPECT_EQ(scene.pictureDraws(), 2);
    EXPECT_EQ(scene.trayIcon()->toolTip(), "6 open alerts");
    Q_EMIT model.openAlertsChanged();  // a change of the alerts that keeps their number
    EXPECT_EQ(scene.pictureDraws(), 2);

    // The menu opens from the context menu's "Open" too, and the icon's click closes it again.
    actions.front()->trigger();
    EXPECT_TRUE(scene.menuWindow().isVisible());
    scene.toggleMenu();
    EXPECT_FALSE(scene.menuWindow().isVisible());
}

// The team's key stops working (revoked, or the service refuses it): the icon keeps the last
// count it knew but no longer shows it as live, and its tooltip says why.
TEST_F(MenuBarExtraTest, ACountThatCannotBeRefreshedIsShownAsNotUpToDate) {
    MenuBarExtra scene(environment(), windows);
    scene.showInTray();
    signInWithTeam("acme-ops");
    const auto picture = [&] { return scene.trayIcon()->icon().pixmap(MenuBarIcon::drawnSize).toImage(); };
    EXPECT_GT(reddish(picture()), 100);
    const int draws = scene.pictureDraws();

    std::atomic<bool> refused = true;
    demo.hostedServer().on("GET", "/v1/pull", [&](const standin::ReceivedRequest&) {
        if (refused) return standin::Reply::json(R"({"error":"invalid api key"})", 401);
        return standin::Reply::json(R"({"cursor":9,"config_versions":{},"alerts":[]})");
    });
    await(model.refreshAlerts());
    ASSERT_TRUE(model.alertsError());
    EXPECT_EQ(scene.pictureDraws(), draws + 1);
    EXPECT_EQ(reddish(picture()), 0);
    EXPECT_TRUE(scene.trayIcon()->toolTip().startsWith("6 open alerts at the last update; couldn't update since: "))
        << scene.trayIcon()->toolTip().toStdString();
    await(model.refreshAlerts());  // still failing: nothing to redraw
    EXPECT_EQ(scene.pictureDraws(), draws + 1);
    EXPECT_EQ(MenuBarIcon::accessibilityLabel(0, "offline"), "Brisalune: couldn't update the alerts: offline");

    // The service answers again: the next refresh shows what is open now, with nothing stale about it.
    refused = false;
    await(model.refreshAlerts());
    EXPECT_EQ(model.alertsError(), std::nullopt);
    EXPECT_EQ(scene.trayIcon()->toolTip(), "Brisalune");
    EXPECT_EQ(scene.pictureDraws(), draws + 2);
}

class EndingSessionTrayTest : public testkit::RefusedSignOutTest {};

// From the press of "Sign out" the count is no longer refreshed: grey at once, and the tooltip
// says what the menu says, until the session is gone.
TEST_F(EndingSessionTrayTest, TheIconGreysAtOnceAndItsTooltipSaysWhy) {
    MenuBarExtra scene(environment(updates, refusingModel), windows);
    scene.showInTray();
    signInWithTeam(refusingModel, "acme-ops");
    const auto picture = [&] { return scene.trayIcon()->icon().pixmap(MenuBarIcon::drawnSize).toImage(); };
    ASSERT_GT(reddish(picture()), 100);

    holdLogout();  // still signing out while the icon is looked at
    QCoro::Task<> out = refusingModel.signOut();
    EXPECT_EQ(reddish(picture()), 0);
    EXPECT_EQ(scene.trayIcon()->toolTip().toStdString(), "Signing out\u2026");
    answerLogout();
    await(std::move(out));
    EXPECT_EQ(reddish(picture()), 0);
    EXPECT_EQ(
        scene.trayIcon()->toolTip().toStdString(),
        "Brisalune could not finish signing out, as the keyring could not forget your session: the keyring is "
        "locked, and its unlock was cancelled. Try again, and unlock the keyring when it asks. Nothing of this "
        "session is sent meanwhile; it tries again when its window opens or you press "
        "\u201cFinish signing out\u201d.");

    keychain->refuses = false;
    await(refusingModel.retryRefusedSignOut());
    EXPECT_EQ(scene.trayIcon()->toolTip().toStdString(), "Brisalune");
}

TEST_F(MenuBarExtraTest, SignOutIsDisabledWhileItRuns) {
    MenuContentView view(environment());
    signInWithTeam("acme-ops");
    auto& signOut = at<QPushButton>(&view, "account.signOut");
    EXPECT_TRUE(signOut.isEnabled());
    // The sign-out may run to its end inside the click when the service answers at once: what the
    // button showed is looked at each time the model's flag changes.
    std::vector<std::pair<bool, bool>> seen;  // signing out, button enabled
    QObject::connect(&model, &MacModel::signingOutChanged, &view, [&] {
        seen.emplace_back(model.isSigningOut(), signOut.isEnabled());
    });
    signOut.click();
    waitUntil([&] { return seen.size() == 2; });
    EXPECT_EQ(seen, (std::vector<std::pair<bool, bool>>{{true, false}, {false, true}}));
    EXPECT_TRUE(at<QPushButton>(&view, "account.boxes").isEnabled());
    waitUntil([&] { return model.phase() == MacModel::Phase::signedOut; });
    EXPECT_FALSE(shows(&view, "account"));
}

TEST(MenuWindowPlace, ContentTallerThanTheRoomScrollsOnTheRoomierSide) {
    using Side = MenuWindow::Side;
    const QRect screen(0, 0, 1000, 700);
    const QRect top(900, 0, 22, 30), bottom(100, 670, 22, 30), middle(500, 200, 22, 30);
    EXPECT_EQ(MenuWindow::sideFor(400, top, screen), Side::below);
    EXPECT_EQ(MenuWindow::sideFor(400, bottom, screen), Side::above);
    EXPECT_EQ(MenuWindow::sideFor(900, middle, screen), Side::below);  // 470 below, 200 above
    EXPECT_EQ(MenuWindow::sideFor(900, QRect(500, 500, 22, 30), screen), Side::above);
    // The scroll bar widens it; the edge toward the icon stays.
    EXPECT_EQ(MenuWindow::popUpGeometry({320, 900}, 12, middle, screen, Side::below), QRect(500, 230, 332, 470));
    EXPECT_EQ(MenuWindow::popUpGeometry({320, 900}, 12, bottom, screen, Side::above), QRect(100, 0, 332, 670));
    EXPECT_EQ(MenuWindow::popUpGeometry({320, 100}, 12, bottom, screen, Side::above), QRect(100, 570, 320, 100));
    EXPECT_EQ(MenuWindow::popUpGeometry({320, 100}, 12, top, screen, Side::below), QRect(680, 30, 320, 100));
}

TEST_F(MenuBarExtraTest, TheOpenMenuFollowsItsContentWithoutLeavingTheScreenOrItsEdge) {
    MenuWindow menu(environment());
    windows.provideTo(&menu);
    await(model.ensureLaunched());
    const QRect available = menu.screen()->availableGeometry();
    const QRect top(available.right() - 40, available.top(), 22, 24);
    const QRect bottom(available.left() + 10, available.bottom() - 23, 22, 24);
    for (const auto& [icon, side] :
         {std::pair{top, MenuWindow::Side::below}, std::pair{bottom, MenuWindow::Side::above}}) {
        menu.popUp(icon);
        testkit::settleLayouts();
        const int edge = side == MenuWindow::Side::below ? icon.bottom() + 1 : icon.top();
        EXPECT_TRUE(testkit::staysPlaced(menu, menu.geometry(), available, side, edge));

        std::vector<QWidget*> rows = testkit::addRows(menu, 3);
        testkit::settleLayouts();
        EXPECT_TRUE(testkit::staysPlaced(menu, menu.geometry(), available, side, edge));
        std::vector<QWidget*> more = testkit::addRows(menu, available.height() / 40);
        testkit::settleLayouts();
        EXPECT_TRUE(testkit::staysPlaced(menu, menu.geometry(), available, side, edge));
        EXPECT_TRUE(menu.scrollArea().verticalScrollBar()->isVisible());

        testkit::removeRows(more);
        testkit::settleLayouts();
        EXPECT_TRUE(testkit::staysPlaced(menu, menu.geometry(), available, side, edge));
        testkit::removeRows(rows);
        testkit::settleLayouts();
        EXPECT_TRUE(testkit::staysPlaced(menu, menu.geometry(), available, side, edge));
        menu.hide();
    }
}

// A tray on any display: Debian's StatusNotifierItem watcher on a bus of the test's own, made this
// process's session bus, with the test's connection to it as its host. That connection closing is
// the panel ending.
class StatusNotifierTray {
public:
    StatusNotifierTray() {
        bus_.makeSessionBus();
        watcher_.start(QStringLiteral("status-notifier-watcher"), {});
    }
    ~StatusNotifierTray() {
        watcher_.kill();
        watcher_.waitForFinished();
    }
    // Running, its host registered.
    bool started() {
        const QDBusConnection host = bus_.connection();
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        QDBusMessage registration = QDBusMessage::createMethodCall(
            watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, QStringLiteral("RegisterStatusNotifierHost"));
        registration << host.baseService();
        return watcher_.waitForStarted() && testkit::processEventsUntil([&] {
                   return host.call(registration).type() == QDBusMessage::ReplyMessage;
               });
    }
    void end() { QDBusConnection::disconnectFromBus(bus_.connection().name()); }
    // Whether it is this process's session bus: a process keeps to the one it reached first.
    bool isSessionBus() const {
        return bus_.connection().interface()->isServiceRegistered(QDBusConnection::sessionBus().baseService());
    }

private:
    testkit::PrivateBus bus_;
    QProcess watcher_;
};

// The tray goes while the popup is open, a control focused in it: the window that stands in opens
// as at a start without a tray, whole on the screen, its first control focused and ringed, and the
// ring goes where the keys move the focus.
TEST_F(MenuBarExtraTest, TheWindowStandingInForAnOpenPopupOpensAsAtAStartWithoutATray) {
    StatusNotifierTray tray;
    if (!tray.isSessionBus()) GTEST_SKIP() << "the process reached another session bus first: run the case alone";
    ASSERT_TRUE(tray.started()) << "status-notifier-watcher is missing (scripts/setup-deps)";
    await(model.ensureLaunched());
    MenuBarExtra scene(environment(), windows);
    scene.show();
    ASSERT_NE(scene.trayIcon(), nullptr);
    MenuWindow& menu = scene.menuWindow();
    const QRect available = menu.screen()->availableGeometry();
    QCursor::setPos(available.bottomRight());  // this tray tells no place: the popup opens at the pointer
    scene.openMenu();
    waitUntil([&] { return menu.isActiveWindow(); });
    QTest::keyClick(menu.windowHandle(), Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_EQ(QApplication::focusWidget(), find(&menu, "app.quit"));

    tray.end();
    waitUntil([&] { return scene.trayIcon() == nullptr; });
    testkit::settleLayouts();
    EXPECT_EQ(menu.style(), MenuWindow::Style::ordinary);
    EXPECT_TRUE(menu.isActiveWindow());
    for (const char* name : {"menu.signIn", "app.launchAtLogin"}) {
        const QWidget* focus = QApplication::focusWidget();
        EXPECT_EQ(focus ? focus->objectName().toStdString() : "nothing", name);
        EXPECT_TRUE(focus && ui::showsFocus(focus)) << name;
        QTest::keyClick(menu.windowHandle(), Qt::Key_Tab);
    }
    MenuWindow fresh(environment(), MenuWindow::Style::ordinary);
    fresh.open();
    EXPECT_EQ(menu.frameGeometry(), fresh.frameGeometry());
    EXPECT_TRUE(available.contains(menu.frameGeometry()));
}

}  // namespace
}  // namespace brisalune
