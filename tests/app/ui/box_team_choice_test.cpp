#include <brisalune/app/ui/box_view.hpp>

#include <app/ui/ui_fixture.hpp>
#include <brisalune/standin/server.hpp>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace brisalune {
namespace {

using standin::ReceivedRequest;
using standin::Reply;

// A hosted team whose data lives on a box, and a box whose account is on two teams there; the
// box refuses the first key it is asked for.
class BoxTeamChoiceTest : public testkit::UiTest {
protected:
    standin::Server hosted;
    standin::Server box;
    std::shared_ptr<MemorySessionStore> stored = std::make_shared<MemorySessionStore>(StoredSession{
        .baseURL = *platform::Url::parse(hosted.baseUrl()),
        .sessionToken = "s1",
        .accountId = "a1",
        .email = "ops@example.com",
        .activeTenantId = "t1",
        .tenantKeys = {},
        .tenantHosts = {{"t1", *platform::Url::parse(box.baseUrl())}}});
    MacModel boxModel{pushState, defaults, stored, clientFactory(), addresses()};
    std::atomic<int> keyRequests{0};

    // The hosted service serves team t1 at `boxUrl`.
    void serveTeamAt(const std::string& boxUrl) {
        hosted.on(
            "GET",
            "/v1/me",
            Reply::json(
                R"({"account": {"id": "a1", "email": "ops@example.com"},
            "memberships": [{"tenant_id": "t1", "tenant_name": "Harbor", "role": "admin",
                             "data_plane_url": ")" +
                boxUrl + R"("}]})"));
    }

    // Signs in to the box on the view's sign-in form, and waits for the answer.
    BoxSignInForm& signIn(BoxView& view) {
        auto& form = at<BoxSignInForm>(&view, "boxSignIn");
        at<QLineEdit>(&view, "boxSignIn.email").setText("ops@box");
        at<QLineEdit>(&view, "boxSignIn.password").setText("secret");
        at<QPushButton>(&view, "boxSignIn.submit").click();
        waitUntil([&] { return !form.isBusy(); });
        return form;
    }

    void SetUp() override {
        serveTeamAt(box.baseUrl());
        box.on("POST", "/v1/login", Reply::json(R"({"account": {"id": "b1", "email": "ops@box"}, "token": "bs1"})"));
        box.on("GET", "/v1/me", Reply::json(R"({"account": {"id": "b1", "email": "ops@box"}, "memberships": [
            {"tenant_id": "bx1", "tenant_name": "Harbor Day", "role": "admin"},
            {"tenant_id": "bx2", "tenant_name": "Harbor Night", "role": "admin"}]})"));
        box.on("POST", "/v1/tenants/bx2/keys", [this](const ReceivedRequest&) {
            if (keyRequests++ == 0) return Reply::json(R"({"error": "keys are off for a moment"})", 503);
            Reply issued = Reply::json(R"({"id": "k2", "token": "data-2"})");
            issued.holdUntilReleased = true;
            return issued;
        });
        box.on("GET", "/v1/pull", Reply::json(R"({"alerts": [], "cursor": 0, "config_versions": {}})"));
        await(boxModel.ensureLaunched());
        ASSERT_TRUE(boxModel.needsBoxSignIn());
    }
    void TearDown() override { box.release(); }
};

// "Use this team" fails: the error shows and the teams on the box stay on offer; the next
// attempt keeps the old error up until it has an answer of its own.
TEST_F(BoxTeamChoiceTest, AFailedUseShowsTheErrorAndKeepsTheChoice) {
    BoxView view(boxModel, BoxView::Path::signIn);
    view.show();
    auto& form = signIn(view);
    ASSERT_TRUE(form.isPending());
    auto& boxTeam = at<QComboBox>(&view, "boxSignIn.boxTeam");
    ASSERT_EQ(boxTeam.count(), 2);
    boxTeam.setCurrentIndex(1);
    auto& use = at<QPushButton>(&view, "boxSignIn.useTeam");
    use.click();
    waitUntil([&] { return !form.isBusy(); });

    ASSERT_TRUE(shows(&view, "boxSignIn.error"));
    const std::string failure = textOf(&view, "boxSignIn.error");
    EXPECT_NE(failure.find("keys are off for a moment"), std::string::npos) << failure;
    EXPECT_TRUE(form.isPending());
    EXPECT_TRUE(shows(&view, "boxSignIn.boxTeam"));
    EXPECT_FALSE(shows(&view, "boxSignIn.email"));
    EXPECT_EQ(boxTeam.count(), 2);
    EXPECT_EQ(boxTeam.currentText(), "Harbor Night");
    EXPECT_TRUE(use.isEnabled());
    EXPECT_TRUE(boxModel.needsBoxSignIn());

    use.click();
    waitUntil([&] { return keyRequests == 2; });
    EXPECT_TRUE(form.isBusy());
    EXPECT_FALSE(use.isEnabled());
    EXPECT_TRUE(shows(&view, "boxSignIn.error"));
    EXPECT_EQ(textOf(&view, "boxSignIn.error"), failure);
    box.release();
    waitUntil([&] { return !form.isBusy(); });
    EXPECT_FALSE(form.isPending());
    EXPECT_EQ(boxModel.session()->tenantKeys.at("t1").tenantId, "bx2");
}

// A box sign-in nobody will use any more is signed out on the box: when the form goes while it
// waits for its team, and when the one-team shortcut fails (nothing is left to retry with).
TEST_F(BoxTeamChoiceTest, ASignInLeftBehindIsSignedOutOnTheBox) {
    const auto loggedOut = [&] {
        const auto all = box.requests();
        return std::ranges::count_if(all, [](const ReceivedRequest& r) {
            return r.path == "/v1/logout" && r.header("Authorization") == "Bearer bs1";
        });
    };
    box.on("POST", "/v1/logout", Reply::json("{}"));
    BoxView view(boxModel, BoxView::Path::signIn);
    view.show();
    ASSERT_TRUE(signIn(view).isPending());
    at<QPushButton>(&view, "box.path.join").click();  // the sign-in form goes, its choice with it
    waitUntil([&] { return loggedOut() == 1; });

    box.on("GET", "/v1/me", Reply::json(R"({"account": {"id": "b1", "email": "ops@box"}, "memberships": [
        {"tenant_id": "bx2", "tenant_name": "Harbor Night", "role": "admin"}]})"));
    at<QPushButton>(&view, "box.path.signIn").click();
    EXPECT_FALSE(signIn(view).isPending());
    EXPECT_NE(textOf(&view, "boxSignIn.error").find("keys are off for a moment"), std::string::npos);
    waitUntil([&] { return loggedOut() == 2; });
    EXPECT_TRUE(boxModel.needsBoxSignIn());
}

// The hosted service moves the team to another box while the choice waits: nothing is left to
// choose from, and the form asks for the credentials of the team's box again.
TEST_F(BoxTeamChoiceTest, ATeamThatMovedWhileTheChoiceWaitedAsksForItsBoxAgain) {
    standin::Server moved;
    serveTeamAt(moved.baseUrl());
    BoxView view(boxModel, BoxView::Path::signIn);
    view.show();
    auto& form = signIn(view);
    ASSERT_TRUE(form.isPending());
    await(boxModel.refreshAccount());

    at<QPushButton>(&view, "boxSignIn.useTeam").click();
    waitUntil([&] { return !form.isBusy(); });
    EXPECT_EQ(textOf(&view, "boxSignIn.error"), BoxConnectionError::boxMoved().errorDescription());
    EXPECT_FALSE(form.isPending());
    EXPECT_TRUE(shows(&view, "boxSignIn.email"));
    EXPECT_EQ(form.tenantId(), "t1");
    EXPECT_EQ(textOf(&view, "boxSignIn.address"), moved.baseUrl());  // where the next password goes
    EXPECT_EQ(keyRequests, 0);
}

}  // namespace
}  // namespace brisalune
