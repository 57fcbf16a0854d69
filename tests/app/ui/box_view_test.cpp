#include <brisalune/app/ui/box_view.hpp>

#include <app/ui/ui_fixture.hpp>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

// A join code for the demo box, as a seat or not.
std::string joinCode(const std::string& boxUrl, bool seat) {
    const std::string payload = R"({"u": ")" + boxUrl + R"(", "t": "harbor-lab", "c": "harbor-join-demo", "s": )" +
                                (seat ? "true" : "false") + R"(, "v": 1})";
    return "blj_" + QByteArray::fromStdString(payload)
                        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
                        .toStdString();
}

class BoxViewTest : public testkit::UiTest {
protected:
    explicit BoxViewTest(demo::Fixture fixture = standardFixture()) : UiTest(std::move(fixture)) {}

    QWidget* open() {
        windows.show(WindowPresenter::Kind::box);
        return windows.window(WindowPresenter::Kind::box);
    }
    // Signed in with the box team chosen, whose box holds no key of this computer yet.
    void chooseBoxTeam() {
        signInWithTeam("harbor-lab");
        ASSERT_TRUE(model.needsBoxSignIn());
    }
    void fillBoxCredentials(QWidget* window) {
        at<QLineEdit>(window, "boxSignIn.email").setText(QString::fromStdString(boxAccount().email));
        at<QLineEdit>(window, "boxSignIn.password").setText(QString::fromStdString(boxAccount().password));
    }
};

TEST_F(BoxViewTest, WithoutASessionOnlyAsksToSignInFirst) {
    await(model.ensureLaunched());
    QWidget* window = open();
    EXPECT_TRUE(shows(window, "box.signInFirst"));
    EXPECT_FALSE(shows(window, "box.path"));
    EXPECT_FALSE(shows(window, "joinBox"));
    EXPECT_EQ(at(window, "box").width(), 440);
}

TEST_F(BoxViewTest, JoinRecognisesCodesAndAsksSeatsForCredentials) {
    signInWithTeam("acme-ops");
    QWidget* window = open();
    EXPECT_EQ(at<BoxView>(window, "box").path(), BoxView::Path::join);
    EXPECT_EQ(at<QPushButton>(window, "box.path.join").text(), "Join a box");
    EXPECT_EQ(at<QPushButton>(window, "box.path.signIn").text(), "Sign in to a box");
    QLineEdit& code = at<QLineEdit>(window, "joinBox.code");
    QPushButton& join = at<QPushButton>(window, "joinBox.join");
    EXPECT_EQ(code.placeholderText(), "blj_\u2026");
    EXPECT_FALSE(join.isEnabled());

    const std::string plain = demo.joinCode();
    code.setText(QString::fromStdString("blx_" + plain.substr(4)));
    EXPECT_FALSE(join.isEnabled());
    code.setText(QString::fromStdString(plain.substr(0, plain.size() - 3)));
    EXPECT_FALSE(join.isEnabled());
    EXPECT_FALSE(shows(window, "joinBox.error"));  // no message for a code that is not one

    code.setText(QString::fromStdString(joinCode(demo.boxUrl(), true)));
    EXPECT_TRUE(join.isEnabled());  // even with empty credentials
    EXPECT_TRUE(shows(window, "joinBox.email"));
    EXPECT_TRUE(shows(window, "joinBox.seatNote"));
    at<QLineEdit>(window, "joinBox.password").setText("typed for the seat");

    code.setText(QString::fromStdString("  " + plain + "\n"));
    EXPECT_TRUE(join.isEnabled());
    EXPECT_FALSE(shows(window, "joinBox.email"));
    QTest::keyClick(&code, Qt::Key_Return);
    waitUntil([&] { return !at<JoinBoxForm>(window, "joinBox").isBusy(); });
    EXPECT_FALSE(shows(window, "joinBox.error")) << textOf(window, "joinBox.error");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(at<QLineEdit>(window, "joinBox.password").text(), "");
    EXPECT_TRUE(model.session()->hasOwnHost("harbor-lab"));
    EXPECT_EQ(model.session()->activeTenantId, "harbor-lab");
}

TEST_F(BoxViewTest, AFailedJoinShowsTheErrorAndKeepsTheFields) {
    signInWithTeam("acme-ops");
    QWidget* window = open();
    // A code for an address where no box answers.
    const std::string nowhere = joinCode("http://127.0.0.1:9", false);
    at<QLineEdit>(window, "joinBox.code").setText(QString::fromStdString(nowhere));
    at<QLineEdit>(window, "joinBox.name").setText("  ");
    at<QPushButton>(window, "joinBox.join").click();
    waitUntil([&] { return !at<JoinBoxForm>(window, "joinBox").isBusy(); });
    EXPECT_TRUE(shows(window, "joinBox.error"));
    EXPECT_FALSE(textOf(window, "joinBox.error").empty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(at<QPushButton>(window, "joinBox.join").isEnabled());
    EXPECT_EQ(at<QLineEdit>(window, "joinBox.name").text(), "  ");
}

TEST_F(BoxViewTest, SignInWithOneBoxTeamGoesStraightToUse) {
    chooseBoxTeam();
    QWidget* window = open();
    EXPECT_EQ(at<BoxView>(window, "box").path(), BoxView::Path::signIn);
    auto& form = at<BoxSignInForm>(window, "boxSignIn");
    EXPECT_EQ(form.tenantId(), "harbor-lab");  // the team that needs its box
    QPushButton& signIn = at<QPushButton>(window, "boxSignIn.submit");
    EXPECT_FALSE(signIn.isEnabled());
    at<QLineEdit>(window, "boxSignIn.email").setText(QString::fromStdString(boxAccount().email));
    EXPECT_FALSE(signIn.isEnabled());  // the password is still empty
    at<QLineEdit>(window, "boxSignIn.password").setText("wrong");
    signIn.click();
    waitUntil([&] { return !form.isBusy(); });
    EXPECT_TRUE(shows(window, "boxSignIn.error"));
    EXPECT_EQ(at<QLineEdit>(window, "boxSignIn.password").text(), "wrong");

    fillBoxCredentials(window);
    QTest::keyClick(&at<QLineEdit>(window, "boxSignIn.password"), Qt::Key_Return);
    waitUntil([&] { return !form.isBusy(); });
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(form.isPending());  // "Team on the box" never showed
    EXPECT_FALSE(model.needsBoxSignIn());
    EXPECT_EQ(at<QLineEdit>(window, "boxSignIn.password").text(), "");
}

// The box account is on two teams of the box.
demo::Fixture twoBoxTeams() {
    demo::Fixture fixture = demo::loadFixture(demo::defaultFixturePath());
    demo::TeamSeed second = fixture.box.teams.front();
    second.id = "harbor-night";
    second.name = "Harbor Night Shift";
    second.alerts.clear();
    fixture.box.teams.push_back(second);
    return fixture;
}

class TwoBoxTeamsTest : public BoxViewTest {
protected:
    TwoBoxTeamsTest() : BoxViewTest(twoBoxTeams()) {}
};

TEST_F(TwoBoxTeamsTest, SeveralBoxTeamsAskWhichToUseAndKeepTheChoiceWhenReopened) {
    chooseBoxTeam();
    QWidget* window = open();
    auto& form = at<BoxSignInForm>(window, "boxSignIn");
    fillBoxCredentials(window);
    at<QPushButton>(window, "boxSignIn.submit").click();
    waitUntil([&] { return !form.isBusy(); });
    ASSERT_TRUE(form.isPending());
    EXPECT_TRUE(shows(window, "boxSignIn.boxTeam"));
    EXPECT_FALSE(shows(window, "boxSignIn.email"));
    auto& boxTeam = at<QComboBox>(window, "boxSignIn.boxTeam");
    ASSERT_EQ(boxTeam.count(), 2);
    EXPECT_EQ(boxTeam.currentText(), "Harbor Lab");
    EXPECT_EQ(form.tenantId(), "harbor");

    // Closed and opened again while the choice waits: the box team stays chosen.
    windows.close(WindowPresenter::Kind::box);
    open();
    EXPECT_EQ(form.tenantId(), "harbor");
    EXPECT_TRUE(form.isPending());

    boxTeam.setCurrentIndex(1);
    EXPECT_EQ(form.tenantId(), "harbor-night");
    QTest::keyClick(&boxTeam, Qt::Key_Return);  // "Use this team" is not the default action
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.isPending());
    EXPECT_TRUE(window->isVisible());
    at<QPushButton>(window, "boxSignIn.useTeam").click();
    waitUntil([&] { return !form.isBusy(); });
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(model.session()->tenantKeys.at("harbor-lab").tenantId, "harbor-night");
}

}  // namespace
}  // namespace brisalune
