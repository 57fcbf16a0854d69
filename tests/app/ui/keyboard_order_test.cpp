// The menu and the box window as someone using the keyboard meets them: Tab walks the menu's
// controls top to bottom as they read, with no stop that shows nothing, also after the team
// buttons and the alert rows have been made anew; Return opens the alert a row is on; the box
// window opens ready for typing and shows where the focus is. And a long team name on a button
// stays inside the fixed-width pane.

#include <brisalune/app/ui/alerts_section.hpp>
#include <brisalune/app/ui/menu_window.hpp>

#include <app/ui/menu_window_fixture.hpp>
#include <app/ui/ui_fixture.hpp>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace brisalune {
namespace {

// The controls Tab stops at in `window`, in the order Tab takes them.
std::vector<QWidget*> tabStops(QWidget* window) {
    std::vector<QWidget*> stops;
    for (QWidget* widget = window->nextInFocusChain(); widget != window; widget = widget->nextInFocusChain()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(window) && widget->isEnabled())
            stops.push_back(widget);
    }
    return stops;
}

std::string names(const std::vector<QWidget*>& stops) {
    std::string listed;
    for (const QWidget* stop : stops) listed += ' ' + stop->objectName().toStdString();
    return listed;
}

// Every stop is a control that shows (no bare scroll area) and, from the top-most one round, each
// is below the one before, or beside it to the right.
testing::AssertionResult readsTopToBottom(QWidget* window) {
    testkit::settleLayouts();
    std::vector<QWidget*> stops = tabStops(window);
    if (stops.size() < 2) return testing::AssertionFailure() << "too few stops:" << names(stops);
    for (const QWidget* stop : stops) {
        if (qobject_cast<const QAbstractScrollArea*>(stop))
            return testing::AssertionFailure() << "a scroll area takes Tab:" << names(stops);
    }
    const auto place = [window](const QWidget* widget) {
        const QPoint at = widget->mapTo(window, QPoint(0, 0));
        return std::pair(at.y(), at.x());
    };
    std::rotate(
        stops.begin(),
        std::min_element(
            stops.begin(), stops.end(), [&](const QWidget* a, const QWidget* b) { return place(a) < place(b); }),
        stops.end());
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (place(stops[i]) < place(stops[i - 1]))
            return testing::AssertionFailure() << stops[i]->objectName().toStdString() << " comes after "
                                               << stops[i - 1]->objectName().toStdString() << ":" << names(stops);
    }
    return testing::AssertionSuccess() << names(stops);
}

class KeyboardOrderTest : public testkit::UiTest {};

TEST_F(KeyboardOrderTest, TabWalksTheMenuAsItReadsInEveryPhase) {
    MenuWindow menu(environment());
    windows.provideTo(&menu);
    menu.open();
    await(model.ensureLaunched());
    EXPECT_TRUE(readsTopToBottom(&menu)) << "signed out";

    signIn();
    ASSERT_TRUE(shows(&menu, "tenantPicker.team.acme-ops"));
    EXPECT_TRUE(readsTopToBottom(&menu)) << "choosing a team";

    await(model.selectTenant("acme-ops"));
    ASSERT_TRUE(shows(&menu, "alerts.rows"));
    EXPECT_TRUE(readsTopToBottom(&menu)) << "a team's alerts";

    // Another pull makes the rows anew.
    await(model.refreshAlerts());
    EXPECT_TRUE(readsTopToBottom(&menu)) << "after a pull";
    await(model.selectTenant("harbor-lab"));
    await(model.selectTenant("acme-ops"));
    EXPECT_TRUE(readsTopToBottom(&menu)) << "back from another team";
}

TEST_F(KeyboardOrderTest, ReturnOnARowOpensItsAlert) {
    MenuWindow menu(environment());
    signInWithTeam();
    const auto rows = at(&menu, "alerts.rows").findChildren<AlertRow*>();
    ASSERT_FALSE(rows.empty());
    QTest::keyClick(rows.front(), Qt::Key_Return);
    ASSERT_EQ(opened.size(), 1u);
    QTest::keyClick(rows.back(), Qt::Key_Space);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_NE(opened[0], opened[1]);
}

TEST_F(KeyboardOrderTest, TheBoxWindowOpensAtItsFirstFieldAndItsChosenSegmentShowsFocus) {
    signInWithTeam();
    windows.show(WindowPresenter::Kind::box);
    QWidget* window = windows.window(WindowPresenter::Kind::box);
    ASSERT_NE(window, nullptr);
    auto& code = at<QLineEdit>(window, "joinBox.code");
    waitUntil([&] { return QApplication::focusWidget() == &code; });
    QTest::keyClicks(QApplication::focusWidget(), "blj_x");
    EXPECT_EQ(code.text(), "blj_x");

    // Tab stops at the chosen segment alone; the focus must show on it although it is painted in
    // the colour the style draws focus in.
    auto& chosen = at<QPushButton>(window, "box.path.join");
    chosen.setFocus(Qt::TabFocusReason);
    waitUntil([&] { return chosen.hasFocus(); });
    const QColor ink = chosen.palette().color(QPalette::ButtonText);
    const auto ringPixels = [&] {
        const QImage drawn = chosen.grab().toImage();
        int count = 0;
        for (int y = 4; y < drawn.height() - 4; ++y) count += drawn.pixelColor(3, y) == ink;
        return count;
    };
    EXPECT_GT(ringPixels(), 2);
    code.setFocus(Qt::TabFocusReason);
    waitUntil([&] { return code.hasFocus(); });
    EXPECT_EQ(ringPixels(), 0);
}

demo::Fixture longTeamName() {
    demo::Fixture fixture = demo::loadFixture(demo::defaultFixturePath());
    fixture.hosted.teams.front().name =
        "Acme Operations and Site Reliability Engineering for the Northern Hemisphere Region & Friends";
    return fixture;
}

class LongTeamNameTest : public testkit::UiTest {
protected:
    LongTeamNameTest() : UiTest(longTeamName()) {}
};

TEST_F(LongTeamNameTest, ItsButtonStaysInsideThePane) {
    MenuWindow menu(environment());
    menu.open();
    signIn();
    testkit::settleLayouts();
    const QWidget& content = menu.content();
    const auto& team = at<QPushButton>(&content, "tenantPicker.team.acme-ops");
    EXPECT_EQ(
        team.text().toStdString(),
        "Acme Operations and Site Reliability Engineering for the Northern Hemisphere "
        "Region && Friends");
    EXPECT_LE(team.minimumSizeHint().width(), content.width());
    const QRect placed(team.mapTo(&content, QPoint(0, 0)), team.size());
    EXPECT_TRUE(content.rect().contains(placed))
        << placed.x() << "," << placed.y() << " " << placed.width() << "x" << placed.height();
    // The short one keeps its own width.
    const auto& other = at<QPushButton>(&content, "tenantPicker.team.harbor-lab");
    EXPECT_EQ(other.width(), other.sizeHint().width());
}

}  // namespace
}  // namespace brisalune
