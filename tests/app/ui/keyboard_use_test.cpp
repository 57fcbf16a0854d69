// The windows as someone using the keyboard or a screen reader meets them, driven with real key
// presses: Tab and Shift+Tab go round every usable control in the order they read, stopping at
// nothing unseen and at no control twice; each stop has a name a screen reader can say (read
// through Qt's accessibility interfaces, as a screen reader's bridge reads them); a window opens
// at the field a person types into first, and after an error the focus waits where the next
// typing goes, and a control that goes away or is disabled takes the focus with it; Return and
// Space do what a click does.

#include <brisalune/app/ui/alerts_section.hpp>
#include <brisalune/app/ui/box_view.hpp>
#include <brisalune/app/ui/compatibility_rows.hpp>
#include <brisalune/app/ui/menu_window.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/standin/server.hpp>

#include <app/ui/menu_window_fixture.hpp>
#include <app/ui/ui_fixture.hpp>

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace brisalune {
namespace {

QWidget* focused() { return QApplication::focusWidget(); }

void press(QWidget* window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(focused() ? focused() : window, static_cast<Qt::Key>(key), modifiers);
    testkit::settleLayouts();
}

// A key as the desktop sends it: to the window, which hands it to the open list, the focused
// control or itself.
void typeIn(QWidget* window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(window->windowHandle(), static_cast<Qt::Key>(key), modifiers);
    testkit::settleLayouts();
}

std::string nameOf(const QWidget* widget) { return widget ? widget->objectName().toStdString() : "nothing"; }

std::string names(const std::vector<QWidget*>& widgets) {
    std::string listed;
    for (const QWidget* widget : widgets) listed += ' ' + nameOf(widget);
    return listed;
}

// The stops Tab (or Shift+Tab) takes from the focused control until it comes back to it. A field
// of several parts (a date's day, month and year) is one stop. Those that were out of sight, in a
// scroll area that did not follow, are added to `unseen`.
std::vector<QWidget*> tabRound(QWidget* window, bool backwards, std::vector<QWidget*>& unseen) {
    std::vector<QWidget*> stops{focused()};
    for (int i = 0; i < 200; ++i) {
        press(window, backwards ? Qt::Key_Backtab : Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        if (focused() && focused()->visibleRegion().isEmpty()) unseen.push_back(focused());
        if (focused() == stops.front()) return stops;
        if (focused() != stops.back()) stops.push_back(focused());
    }
    return {};  // stuck, or round a cycle that does not pass the start again
}

// The controls of `window` a keyboard can use: shown, enabled, taking Tab.
std::set<QWidget*> usable(QWidget* window) {
    std::set<QWidget*> found;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window || widget->focusProxy()) continue;
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible() && widget->isEnabled()) found.insert(widget);
    }
    return found;
}

// What a screen reader says a control is. A drop-down list tells its choice as its name on this
// platform and is named by the label that its "labelled by" relation points at.
QString spokenName(QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    if (!accessible) return {};
    QString name = accessible->text(QAccessible::Name);
    if (accessible->role() == QAccessible::ComboBox) {
        name.clear();
        for (const auto& [label, relation] : accessible->relations(QAccessible::Label)) {
            name += label->text(QAccessible::Name);
        }
    }
    return name.trimmed();
}

std::string spokenDescription(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description).toStdString();
}

// Names made for code (object names) are no names for a person.
bool isIdentifier(const QString& name, const QWidget* window) {
    return !window->findChildren<QWidget*>(name).isEmpty();
}

// The widget whose place a stop is read in: the content of the scroll area it sits in, or the
// window. Within it, stops go down the rows and, on a row, to the right.
QWidget* region(QWidget* widget) {
    for (QWidget* up = widget; up && !up->isWindow(); up = up->parentWidget()) {
        QWidget* viewport = up->parentWidget();
        if (viewport && qobject_cast<QAbstractScrollArea*>(viewport->parentWidget())) return up;
    }
    return widget->window();
}

std::pair<int, int> placeIn(QWidget* region, QWidget* widget) {
    const QPoint at = widget->mapTo(region, QPoint(0, 0));
    return {at.y(), at.x()};
}

// Tab reaches every usable control once, in reading order, each with a name, and shows it;
// Shift+Tab goes the same round backwards.
testing::AssertionResult walksAsItReads(QWidget* window) {
    testkit::settleLayouts();
    if (!focused() || focused()->window() != window) return testing::AssertionFailure() << "no focus in the window";
    std::vector<QWidget*> unseen;
    const std::vector<QWidget*> round = tabRound(window, false, unseen);
    if (round.empty()) return testing::AssertionFailure() << "Tab never comes round";
    if (!unseen.empty()) return testing::AssertionFailure() << "focus out of sight on" << names(unseen);
    const std::set<QWidget*> stops(round.begin(), round.end());
    if (stops.size() != round.size()) return testing::AssertionFailure() << "a stop twice:" << names(round);
    std::vector<QWidget*> skipped;
    for (QWidget* control : usable(window)) {
        if (!stops.contains(control)) skipped.push_back(control);
    }
    if (!skipped.empty())
        return testing::AssertionFailure() << "never reached:" << names(skipped) << " in" << names(round);
    std::map<QWidget*, std::size_t> runs;  // the runs of stops in each region
    int descents = 0;
    for (std::size_t i = 0; i < round.size(); ++i) {
        QWidget* stop = round[i];
        QWidget* previous = round[(i + round.size() - 1) % round.size()];
        if (!stop->isVisible() || qobject_cast<QScrollArea*>(stop))
            return testing::AssertionFailure()
                   << "a stop that shows no focus: " << nameOf(stop) << " in" << names(round);
        QWidget* here = region(stop);
        if (region(previous) != here) {
            ++runs[here];
        } else if (placeIn(here, stop) < placeIn(here, previous)) {
            ++descents;
        }
        const QString name = spokenName(stop);
        if (name.isEmpty() || isIdentifier(name, window))
            return testing::AssertionFailure() << nameOf(stop) << " is read as \"" << name.toStdString() << "\"";
    }
    // Each region is read in one run, top to bottom; the round goes back up to the top once.
    const int allowed = 1;
    for (const auto& [where, count] : runs) {
        if (count > 1) return testing::AssertionFailure() << nameOf(where) << " is entered twice:" << names(round);
    }
    if (descents > allowed) return testing::AssertionFailure() << "not in reading order:" << names(round);
    std::vector<QWidget*> back = tabRound(window, true, unseen);
    if (back.size() > 1) std::reverse(back.begin() + 1, back.end());
    if (back != round)
        return testing::AssertionFailure() << "Shift+Tab goes" << names(back) << " against" << names(round);
    return testing::AssertionSuccess() << names(round);
}

class KeyboardUseTest : public testkit::UiTest {
protected:
    QWidget* show(WindowPresenter::Kind kind) {
        windows.show(kind);
        QWidget* window = windows.window(kind);
        waitUntil([&] { return window->isActiveWindow() && focused(); });
        testkit::settleLayouts();
        return window;
    }
    static void settle() {
        ASSERT_TRUE(testkit::settlePool());
        testkit::settleLayouts();
    }
};

TEST_F(KeyboardUseTest, TheMenuInEveryPhase) {
    MenuWindow menu(environment());
    windows.provideTo(&menu);
    await(model.ensureLaunched());
    menu.open();
    waitUntil([&] { return menu.isActiveWindow(); });
    press(&menu, Qt::Key_Tab);
    EXPECT_EQ(nameOf(focused()), "menu.signIn");
    EXPECT_TRUE(walksAsItReads(&menu)) << "signed out";

    // Taller than the screen: the first Tab finds its control scrolled into sight.
    std::vector<QWidget*> filler = testkit::addRows(menu, 60);
    testkit::settleLayouts();
    ASSERT_TRUE(menu.scrollArea().verticalScrollBar()->isVisible());
    focused()->clearFocus();
    press(&menu, Qt::Key_Tab);
    EXPECT_EQ(nameOf(focused()), "menu.signIn");
    EXPECT_FALSE(focused()->visibleRegion().isEmpty());
    testkit::removeRows(filler);

    // A control that goes hands its focus to none: Tab starts again from the top.
    signIn();
    EXPECT_EQ(nameOf(focused()), "nothing");
    press(&menu, Qt::Key_Tab);
    EXPECT_TRUE(walksAsItReads(&menu)) << "choosing a team";
    at(&menu, "tenantPicker.team.acme-ops").setFocus(Qt::TabFocusReason);
    press(&menu, Qt::Key_Space);
    // The alerts come after the phase: the walk waits for their rows, which join the round.
    waitUntil([&] { return !at(&menu, "alerts.rows").findChildren<AlertRow*>().isEmpty(); });
    testkit::settleLayouts();
    EXPECT_EQ(nameOf(focused()), "nothing");
    press(&menu, Qt::Key_Tab);
    EXPECT_TRUE(walksAsItReads(&menu)) << "a team's alerts";

    // The row Tab is on is marked otherwise than one under the pointer.
    auto* row = at(&menu, "alerts.rows").findChildren<AlertRow*>().at(1);
    while (focused() != row) press(&menu, Qt::Key_Tab);
    const QImage focusedRow = row->grab().toImage();
    press(&menu, Qt::Key_Tab);
    row->setAttribute(Qt::WA_UnderMouse);
    EXPECT_NE(row->grab().toImage(), focusedRow);
    row->setAttribute(Qt::WA_UnderMouse, false);

    await(model.selectTenant("harbor-lab"));  // its data is on a box this computer has no key for
    ASSERT_TRUE(shows(&menu, "alerts.box.signIn"));
    EXPECT_EQ(nameOf(focused()), "nothing");
    press(&menu, Qt::Key_Tab);
    EXPECT_TRUE(walksAsItReads(&menu)) << "box sign-in offered";
}

// The rows above the phase's content keep their identifiers for tests; a screen reader reads
// their texts, never the identifiers.
TEST_F(KeyboardUseTest, CompatibilityRowsAreNotReadByTheirIdentifiers) {
    MenuEnvironment env = environment();
    CompatibilityNudgeRow nudge(env);
    ServerBannerRow banner(env);
    UpdateRequiredSection required(env);
    ServerOutdatedSection outdated;
    for (QWidget* row : std::initializer_list<QWidget*>{&nudge, &banner, &required, &outdated}) {
        EXPECT_NE(
            QAccessible::queryAccessibleInterface(row)->text(QAccessible::Name).toStdString(),
            row->objectName().toStdString());
        for (auto* dismiss : row->findChildren<QToolButton*>()) EXPECT_EQ(spokenName(dismiss), "Dismiss");
    }
}

// "Check for Updates…" is pressed with Space and finds an update: the row that offers it comes
// back, and the focus stays on the button, so that a second Space checks again and quits nothing.
TEST_F(KeyboardUseTest, CheckingForUpdatesLeavesTheFocusWhereItWas) {
    standin::Server site;
    site.on(
        "GET",
        "/latest.json",
        standin::Reply::json(R"({"version_code": 9, "version_name": "2.1", "url": "HTTPS://127.0.0.1/b.tgz"})"));
    SiteUpdates checker(platform::Url::parse(site.baseUrl() + "/latest.json"), 1, defaults);
    MenuEnvironment env = environment(checker);
    int quits = 0;
    env.quit = [&quits] { ++quits; };
    MenuWindow menu(env);
    windows.provideTo(&menu);
    await(model.ensureLaunched());
    menu.open();
    waitUntil([&] { return menu.isActiveWindow(); });
    QWidget& check = at(&menu, "app.checkForUpdates");
    while (focused() != &check) press(&menu, Qt::Key_Tab);

    for (int round = 0; round < 2; ++round) {
        press(&menu, Qt::Key_Space);
        waitUntil([&] { return !checker.isChecking() && checker.manualResult(); });
        testkit::settleLayouts();
        ASSERT_TRUE(shows(&menu, "updateRow")) << round;
        EXPECT_EQ(nameOf(focused()), "app.checkForUpdates") << round;
        EXPECT_TRUE(ui::showsFocus(&check)) << round;
    }
    EXPECT_EQ(quits, 0);
}

// A control that goes away or is disabled under the focus hands it to no other control: after
// "Sign out" pressed with Space, a second Space switches nothing on.
TEST_F(KeyboardUseTest, AControlGoingAwayTakesTheFocusWithIt) {
    MenuWindow menu(environment());
    windows.provideTo(&menu);
    signInWithTeam();
    menu.open();
    waitUntil([&] { return menu.isActiveWindow(); });
    QWidget& signOut = at(&menu, "account.signOut");
    while (focused() != &signOut) press(&menu, Qt::Key_Tab);
    holdLogout();
    typeIn(&menu, Qt::Key_Space);
    ASSERT_TRUE(model.isSigningOut());
    EXPECT_TRUE(!focused() || focused() == &signOut) << nameOf(focused());  // while it runs
    answerLogout();
    waitUntil([&] { return model.phase() == MacModel::Phase::signedOut; });
    settle();
    EXPECT_EQ(nameOf(focused()), "nothing");
    typeIn(&menu, Qt::Key_Space);
    EXPECT_FALSE(at<QCheckBox>(&menu, "app.launchAtLogin").isChecked());
    typeIn(&menu, Qt::Key_Tab);
    EXPECT_EQ(nameOf(focused()), "menu.signIn");  // Tab goes on from the top

    // One hidden while the popup was closed has it no more when the popup opens again.
    signIn();
    QWidget& team = at(&menu, "tenantPicker.team.acme-ops");
    while (focused() != &team) press(&menu, Qt::Key_Tab);
    menu.hide();
    await(model.selectTenant("acme-ops"));
    menu.open();
    waitUntil([&] { return menu.isActiveWindow(); });
    EXPECT_EQ(nameOf(focused()), "nothing");
}

// The window that stands in for a missing tray gives its first control the focus as it opens,
// where keys act at once, and rings it from the start.
TEST_F(KeyboardUseTest, TheStandInWindowShowsTheFocusItOpensWith) {
    MenuWindow menu(environment(), MenuWindow::Style::ordinary);
    windows.provideTo(&menu);
    await(model.ensureLaunched());
    menu.open();
    waitUntil([&] { return menu.isActiveWindow() && focused(); });
    EXPECT_EQ(nameOf(focused()), "menu.signIn");
    EXPECT_TRUE(ui::showsFocus(focused()));
}

// Escape in the open team list closes the list and leaves the menu open, whether the list was
// opened from the keyboard or by a click; the menu's own Escape comes after.
TEST_F(KeyboardUseTest, EscapeClosesAnOpenListOnly) {
    MenuWindow menu(environment());
    windows.provideTo(&menu);
    signInWithTeam();
    auto& picker = at<QComboBox>(&menu, "alerts.teamPicker");
    for (const bool byKeys : {true, false}) {
        menu.open();
        waitUntil([&] { return menu.isActiveWindow(); });
        if (byKeys) {
            while (focused() != &picker) press(&menu, Qt::Key_Tab);
            typeIn(&menu, Qt::Key_Down, Qt::AltModifier);
        } else {
            QTest::mouseClick(&picker, Qt::LeftButton);
        }
        waitUntil([&] { return picker.view()->isVisible(); });
        typeIn(&menu, Qt::Key_Escape);
        EXPECT_FALSE(picker.view()->isVisible()) << byKeys;
        EXPECT_TRUE(menu.isVisible()) << byKeys;
        typeIn(&menu, Qt::Key_Escape);
        EXPECT_FALSE(menu.isVisible()) << byKeys;
    }
    EXPECT_EQ(model.session()->activeTenantId, "acme-ops");
}

// Return presses "Update" of an outdated app wherever the focus is in the window, or with none,
// as the default button it is drawn as.
TEST_F(KeyboardUseTest, ReturnPressesUpdateWhereverTheFocusIs) {
    MenuWindow menu(environment());
    windows.provideTo(&menu);
    signIn();
    compatibility.recordClientOutdated(
        {.client = "brisalune-desktop", .minVersion = "9.0.0"}, *platform::Url::parse(demo.hostedUrl()));
    menu.open();
    waitUntil([&] { return menu.isActiveWindow() && shows(&menu, "update-required"); });
    settle();
    for (const std::string where : {"push.turnOn", "update-required.tryAgain", "update-required.update", ""}) {
        if (!where.empty()) {
            at(&menu, QString::fromStdString(where)).setFocus(Qt::TabFocusReason);
        } else if (focused()) {
            focused()->clearFocus();
        }
        ASSERT_EQ(nameOf(focused()), where.empty() ? "nothing" : where);
        opened.clear();
        typeIn(&menu, Qt::Key_Return);
        ASSERT_EQ(opened.size(), 1u) << where;
        EXPECT_EQ(opened.front(), MenuEnvironment::updateFallbackURL());
    }
}

TEST_F(KeyboardUseTest, TheSignInWindowOpensAtTheEmailAndComesBackToThePasswordAfterAFailure) {
    await(model.ensureLaunched());
    QWidget* window = show(WindowPresenter::Kind::signIn);
    EXPECT_EQ(nameOf(focused()), "signIn.email");
    QTest::keyClicks(focused(), QString::fromStdString(account().email));
    press(window, Qt::Key_Tab);
    QTest::keyClicks(focused(), "wrong");
    EXPECT_TRUE(walksAsItReads(window));

    // Space on "Sign in": the password was wrong; the focus waits in its field, which keeps it.
    at(window, "signIn.submit").setFocus(Qt::TabFocusReason);
    press(window, Qt::Key_Space);
    waitUntil([&] { return model.lastError().has_value(); });
    settle();
    EXPECT_EQ(nameOf(focused()), "signIn.password");
    EXPECT_EQ(at<QLineEdit>(window, "signIn.password").selectedText(), "wrong");
    EXPECT_EQ(spokenDescription(focused()), textOf(window, "signIn.error"));  // read with the field

    // Typing replaces the wrong password; Return in the field signs in.
    QTest::keyClicks(focused(), QString::fromStdString(account().password));
    press(window, Qt::Key_Return);
    waitUntil([&] { return model.phase() == MacModel::Phase::selectingTenant; });
    settle();
    // The form went out of sight, and the focus with it, to no other control: a second key
    // chooses no team. Tab goes on from the top, to the teams.
    EXPECT_EQ(nameOf(focused()), "nothing");
    press(window, Qt::Key_Tab);
    EXPECT_EQ(nameOf(focused()), "tenantPicker.team.acme-ops");
    EXPECT_TRUE(walksAsItReads(window)) << "choosing a team";
}

TEST_F(KeyboardUseTest, TheBoxWindowOpensAtItsFirstFieldAndTabStopsAtTheChosenPage) {
    signInWithTeam("harbor-lab");
    QWidget* window = show(WindowPresenter::Kind::box);  // the box's team needs its sign-in
    auto& join = at<QPushButton>(window, "box.path.join");
    auto& signInPage = at<QPushButton>(window, "box.path.signIn");
    ASSERT_TRUE(signInPage.isChecked());
    EXPECT_EQ(nameOf(focused()), "boxSignIn.team");
    EXPECT_TRUE(walksAsItReads(window));

    // A wrong password, with Return: it stays, and the focus waits in its field with the error.
    press(window, Qt::Key_Tab);
    QTest::keyClicks(focused(), QString::fromStdString(boxAccount().email));
    press(window, Qt::Key_Tab);
    QTest::keyClicks(focused(), "wrong");
    press(window, Qt::Key_Return);
    waitUntil([&] { return shows(window, "boxSignIn.error"); });
    settle();
    EXPECT_EQ(nameOf(focused()), "boxSignIn.password");
    EXPECT_EQ(spokenDescription(focused()), textOf(window, "boxSignIn.error"));

    while (!at<QWidget>(window, "box.path").isAncestorOf(focused())) press(window, Qt::Key_Tab);
    EXPECT_EQ(focused(), &signInPage);

    // The arrow keys move to the other page, as between radio buttons.
    press(window, Qt::Key_Left);
    EXPECT_EQ(focused(), &join);
    EXPECT_TRUE(join.isChecked());
    ASSERT_TRUE(shows(window, "joinBox"));
    EXPECT_TRUE(walksAsItReads(window)) << "join";

    // A code that fails: it stays, and the focus waits in its field for the next one.
    at(window, "joinBox.code").setFocus(Qt::TabFocusReason);
    const QByteArray nowhere(R"({"u": "http://127.0.0.1:9", "t": "harbor-lab", "c": "harbor-join-demo", "v": 1})");
    QTest::keyClicks(
        focused(), "blj_" + nowhere.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    at(window, "joinBox.join").setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(at(window, "joinBox.join").isEnabled());
    press(window, Qt::Key_Space);
    waitUntil([&] { return shows(window, "joinBox.error"); });
    settle();
    EXPECT_EQ(nameOf(focused()), "joinBox.code");
    EXPECT_EQ(spokenDescription(focused()), textOf(window, "joinBox.error"));
}

TEST_F(KeyboardUseTest, TheMaintenanceWindowsListAndEditor) {
    signInWithTeam();
    QWidget* window = show(WindowPresenter::Kind::maintenance);
    settle();
    auto& picker = at<QComboBox>(window, "maintenance.project");
    EXPECT_EQ(nameOf(focused()), "maintenance");  // no control: a drop-down would take the wheel
    press(window, Qt::Key_Tab);
    EXPECT_EQ(focused(), &picker);
    picker.setCurrentIndex(picker.findText("payments-api"));
    settle();
    EXPECT_TRUE(walksAsItReads(window)) << "the list";

    // Each window in the list reads as its row shows it.
    auto& list = at<QListWidget>(window, "maintenance.list");
    ASSERT_EQ(list.count(), 1);
    QAccessibleInterface* accessibleList = QAccessible::queryAccessibleInterface(&list);
    ASSERT_EQ(accessibleList->childCount(), 1);
    EXPECT_TRUE(accessibleList->child(0)->text(QAccessible::Name).startsWith("Weekly database maintenance"))
        << accessibleList->child(0)->text(QAccessible::Name).toStdString();

    // Return on the window opens it, as a click does.
    list.setFocus(Qt::TabFocusReason);
    press(window, Qt::Key_Return);
    settle();
    ASSERT_TRUE(shows(window, "editor"));
    QTest::qWait(600);  // the preview's pause
    settle();
    EXPECT_TRUE(walksAsItReads(window)) << "the editor";

    // Return in an open list of the editor chooses and presses no "Save": no drop-down of the
    // menu's kind was ever made in this window.
    auto& pattern = at<QComboBox>(window, "recurrence.pattern");
    pattern.setFocus(Qt::TabFocusReason);
    typeIn(window, Qt::Key_Down, Qt::AltModifier);
    waitUntil([&] { return pattern.view()->isVisible(); });
    demo.hostedServer().clearRequests();
    typeIn(window, Qt::Key_Return);
    settle();
    EXPECT_FALSE(pattern.view()->isVisible());
    for (const auto& request : demo.hostedServer().requests()) EXPECT_NE(request.method, "PUT") << request.path;

    // Rows added while it is open take their places: a group's names, a skipped date.
    at(window, "scope.checks.toggle").setFocus(Qt::TabFocusReason);
    press(window, Qt::Key_Space);
    ASSERT_TRUE(shows(window, "scope.checks.entry.1"));
    at(window, "editor.preview.skip.2").setFocus(Qt::TabFocusReason);
    press(window, Qt::Key_Space);
    ASSERT_TRUE(shows(window, "recurrence.restore.1"));
    EXPECT_TRUE(walksAsItReads(window)) << "rows added";

    // A screen reader tells one "Skip" or "Restore" from the next by the date it is about.
    const auto description = spokenDescription;
    std::set<std::string> dates;
    for (auto* skip : window->findChildren<QPushButton*>(QRegularExpression("^editor\\.preview\\.skip\\.")))
        dates.insert(description(skip));
    EXPECT_EQ(dates.size(), 10u);
    EXPECT_FALSE(dates.contains(""));
    EXPECT_EQ(description(&at(window, "recurrence.restore.1")), textOf(window, "recurrence.skip.1"));
}

}  // namespace
}  // namespace brisalune
