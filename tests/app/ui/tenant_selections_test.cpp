#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/menu_window.hpp>
#include <brisalune/app/ui/tenant_selections.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <app/ui/ui_fixture.hpp>
#include <app/ui/wheel_notch.hpp>
#include <brisalune/standin/server.hpp>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

// A hosted team without a key: selecting it issues one, which sign-out later revokes.
class TeamPressTest : public testkit::UiTest {
protected:
    standin::Server server;
    std::shared_ptr<MemorySessionStore> stored = std::make_shared<MemorySessionStore>(StoredSession{
        .baseURL = *platform::Url::parse(server.baseUrl()),
        .sessionToken = "s1",
        .accountId = "a1",
        .email = "ops@example.com",
        .activeTenantId = std::nullopt,
        .tenantKeys = {},
        .tenantHosts = {}});
    MacModel standinModel{pushState, defaults, stored, clientFactory(), addresses()};

    void SetUp() override {
        server.on("GET", "/v1/me", standin::Reply::json(R"({"account": {"id": "a1", "email": "ops@example.com"},
                      "memberships": [{"tenant_id": "t1", "tenant_name": "Ops & Co", "role": "admin"}]})"));
        server.on("POST", "/v1/tenants/t1/keys", standin::Reply::json(R"({"id": "k1", "token": "data-1"})"));
        server.on("GET", "/v1/pull", standin::Reply::json(R"({"alerts": [], "cursor": 0, "config_versions": {}})"));
        await(standinModel.ensureLaunched());
        ASSERT_EQ(standinModel.phase(), MacModel::Phase::selectingTenant);
    }

    std::size_t keyRequests() const {
        std::size_t count = 0;
        for (const auto& request : server.requests()) count += request.path == "/v1/tenants/t1/keys";
        return count;
    }
};

TEST_F(TeamPressTest, QuickRepeatedPressesIssueOneKey) {
    TenantPicker picker(standinModel);
    QPushButton& team = at<QPushButton>(&picker, "tenantPicker.team.t1");
    EXPECT_EQ(team.text(), "Ops && Co");  // shown as "Ops & Co", no shortcut
    team.click();
    team.click();
    team.click();
    waitUntil([&] { return standinModel.phase() == MacModel::Phase::signedIn; });
    waitUntil([&] { return !TenantSelections::of(standinModel).isRunning("t1"); });
    EXPECT_EQ(keyRequests(), 1u);
    EXPECT_EQ(standinModel.session()->tenantKeys.at("t1").keyId, "k1");
}

// A wheel turned over the menu's team picker on the way through the menu switches no team, nor
// after a click chose a team with it, nor while it holds a focus it does not show; once the
// picker shows the focus Tab gave it, the wheel picks the next team.
class TeamPickerWheelTest : public testkit::UiTest {};

TEST_F(TeamPickerWheelTest, SwitchesTeamOnlyWhileThePickerShowsTheFocus) {
    ui::installWheelGuard();
    MenuWindow menu(environment());
    windows.provideTo(&menu);
    signInWithTeam("acme-ops");
    menu.open();
    waitUntil([&] { return menu.isActiveWindow(); });
    auto& picker = at<QComboBox>(&menu, "alerts.teamPicker");
    ASSERT_TRUE(picker.isVisible());
    ASSERT_FALSE(picker.hasFocus());

    testkit::turnWheel(picker, -1);
    for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
    EXPECT_FALSE(TenantSelections::of(model).isRunning("harbor-lab"));
    EXPECT_EQ(model.session()->activeTenantId, "acme-ops");
    EXPECT_EQ(picker.currentText().toStdString(), "Acme Operations");

    // A click opens its list and closes it again: the picker holds no focus after it.
    QTest::mouseClick(&picker, Qt::LeftButton);
    waitUntil([&] { return picker.view()->isVisible(); });
    picker.hidePopup();
    waitUntil([&] { return !picker.view()->isVisible(); });
    EXPECT_FALSE(picker.hasFocus());
    // A focus it was given without the keyboard (a window opening at it) shows nothing.
    picker.setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(picker.hasFocus());
    EXPECT_FALSE(ui::showsFocus(&picker));
    testkit::turnWheel(picker, -1);
    for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
    EXPECT_EQ(model.session()->activeTenantId, "acme-ops");
    EXPECT_EQ(picker.currentText().toStdString(), "Acme Operations");

    picker.clearFocus();
    picker.setFocus(Qt::TabFocusReason);
    waitUntil([&] { return ui::showsFocus(&picker); });
    testkit::turnWheel(picker, -1);
    waitUntil([&] { return model.session()->activeTenantId == "harbor-lab"; });
    waitUntil([&] { return !TenantSelections::of(model).isRunning("harbor-lab"); });
}

}  // namespace
}  // namespace brisalune
