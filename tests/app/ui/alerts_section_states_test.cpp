#include <brisalune/app/ui/alerts_section.hpp>
#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <app/ui/ui_fixture.hpp>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

QColor secondaryInk() { return ui::toneColour(ui::Tone::secondary, QApplication::palette()); }

class AlertsStatesTest : public testkit::UiTest {
protected:
    explicit AlertsStatesTest(demo::Fixture fixture = standardFixture()) : UiTest(std::move(fixture)) {}

    std::unique_ptr<MenuContentView> view;
    QWidget* alerts() { return &at(view.get(), "alerts"); }
    AlertsSection& section() { return at<AlertsSection>(view.get(), "alerts"); }
    void openView() {
        view = std::make_unique<MenuContentView>(environment());
        windows.provideTo(view.get());
    }
    QList<AlertRow*> rows() { return at(alerts(), "alerts.rows").findChildren<AlertRow*>(); }
};

TEST_F(AlertsStatesTest, AnAlertRowsSecondLineIsInTheSecondaryColour) {
    openView();
    signInWithTeam("acme-ops");
    ASSERT_FALSE(rows().empty());
    const auto* detail = rows().front()->findChild<QLabel*>("alerts.row.detail");
    EXPECT_EQ(inkOf(*detail), secondaryInk());
    EXPECT_NE(inkOf(*detail), inkOf(*rows().front()->findChild<QLabel*>("alerts.row.rule")));
    EXPECT_EQ(inkOf(at<QLabel>(alerts(), "alerts.count")), QApplication::palette().color(QPalette::WindowText));
}

// "Open portal" with a page to open leaves a notice standing; pressing a row always clears it.
TEST_F(AlertsStatesTest, OpenPortalKeepsAnEarlierNoticeAndARowClearsIt) {
    openView();
    signInWithTeam("acme-ops");
    view->notice().set("an earlier notice");
    at<QPushButton>(alerts(), "alerts.openPortal").click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(shows(alerts(), "alerts.notice"));
    EXPECT_EQ(textOf(alerts(), "alerts.notice"), "an earlier notice");

    rows().front()->click();
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_FALSE(shows(alerts(), "alerts.notice"));
    EXPECT_FALSE(view->notice().text());
}

// The hosted service announces a portal this app refuses to open (plain http away from this
// computer): nothing opens, the notice names the service's host.
class NoPortalTest : public AlertsStatesTest {
protected:
    static demo::Fixture withoutPortal() {
        demo::Fixture fixture = standardFixture();
        fixture.hosted.portalOrigin = "http://portal.example";
        return fixture;
    }
    NoPortalTest() : AlertsStatesTest(withoutPortal()) {}
};

TEST_F(NoPortalTest, ARowAndOpenPortalTellThatTheServerHasNoWebPortal) {
    openView();
    signInWithTeam("acme-ops");
    await(model.refreshPortalOrigins());
    ASSERT_FALSE(model.alertsPageURL());
    const std::string notice = noWebPortalNotice(*platform::Url::parse(demo.hostedUrl()));
    EXPECT_EQ(notice, "127.0.0.1 has no web portal. Its operator turns one on with -portal-origin.");

    rows().front()->click();
    EXPECT_TRUE(opened.empty());
    ASSERT_TRUE(shows(alerts(), "alerts.notice"));
    EXPECT_EQ(textOf(alerts(), "alerts.notice"), notice);
    EXPECT_EQ(inkOf(at<QLabel>(alerts(), "alerts.notice")), secondaryInk());

    view->notice().set(std::nullopt);
    at<QPushButton>(alerts(), "alerts.openPortal").click();
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(textOf(alerts(), "alerts.notice"), notice);
    EXPECT_EQ(section().portalFallbackNotice(), notice);
}

// An account on one team, which has no open alerts.
class QuietSingleTeamTest : public AlertsStatesTest {
protected:
    static demo::Fixture oneQuietTeam() {
        demo::Fixture fixture = standardFixture();
        fixture.hosted.teams.resize(1);
        fixture.hosted.teams.front().alerts.clear();
        return fixture;
    }
    QuietSingleTeamTest() : AlertsStatesTest(oneQuietTeam()) {}
};

TEST_F(QuietSingleTeamTest, OneTeamIsAHeadingAndNoAlertsSaySo) {
    openView();
    await(model.ensureLaunched());
    await(model.signIn(account().email, account().password));
    if (model.phase() == MacModel::Phase::selectingTenant) await(model.selectTenant("acme-ops"));
    ASSERT_EQ(model.phase(), MacModel::Phase::signedIn);
    await(model.refreshAlerts());

    EXPECT_TRUE(shows(alerts(), "alerts.teamName"));
    EXPECT_EQ(textOf(alerts(), "alerts.teamName"), "Acme Operations");
    EXPECT_FALSE(shows(alerts(), "alerts.picker"));

    EXPECT_EQ(textOf(alerts(), "alerts.count"), "No open alerts");
    EXPECT_EQ(inkOf(at<QLabel>(alerts(), "alerts.count")), secondaryInk());
    EXPECT_FALSE(shows(alerts(), "alerts.rows"));
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(shows(alerts(), "alerts.openPortal"));
    EXPECT_FALSE(shows(alerts(), "alerts.error"));
    EXPECT_FALSE(shows(alerts(), "alerts.notice"));

    // An alert arriving turns the line into a count in the primary colour.
    demo.hosted().raise(demo.fixture().arrivals.front());
    await(model.refreshAlerts());
    EXPECT_EQ(textOf(alerts(), "alerts.count"), "1 open");
    EXPECT_EQ(inkOf(at<QLabel>(alerts(), "alerts.count")), QApplication::palette().color(QPalette::WindowText));
    EXPECT_EQ(rows().size(), 1);
}

}  // namespace
}  // namespace brisalune
