#include <brisalune/app/ui/sign_in_view.hpp>

#include <app/ui/ui_fixture.hpp>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

class SignInViewTest : public testkit::UiTest {
protected:
    void SetUp() override {
        await(model.ensureLaunched());
        windows.show(WindowPresenter::Kind::signIn);
        window = windows.window(WindowPresenter::Kind::signIn);
    }

    QWidget* window = nullptr;
    QLineEdit& email() { return at<QLineEdit>(window, "signIn.email"); }
    QLineEdit& password() { return at<QLineEdit>(window, "signIn.password"); }
    QPushButton& submit() { return at<QPushButton>(window, "signIn.submit"); }
    SignInView& view() { return at<SignInView>(window, "signIn"); }
    // Lets whatever a press started run to its end.
    static void drain() { ASSERT_TRUE(testkit::settlePool()); }
};

TEST_F(SignInViewTest, SignInIsEnabledByRawEmptinessAndReturnPressesIt) {
    EXPECT_FALSE(submit().isEnabled());
    EXPECT_FALSE(at<QPushButton>(window, "signIn.joinBox").isEnabled());  // no session yet
    email().setText(QString::fromStdString(account().email));
    EXPECT_FALSE(submit().isEnabled());
    QTest::keyClick(&password(), Qt::Key_Return);  // disabled: Return does nothing
    drain();
    EXPECT_FALSE(model.lastError());
    password().setText("   ");
    EXPECT_TRUE(submit().isEnabled());  // blanks count as typed

    // Busy while the sign-in runs (however soon the service answers).
    std::vector<bool> enabledWhileBusy;
    QObject::connect(&model, &MacModel::lastErrorChanged, window, [&] {
        if (view().isBusy()) enabledWhileBusy.push_back(submit().isEnabled());
    });
    QTest::keyClick(&password(), Qt::Key_Return);
    waitUntil([&] { return !view().isBusy() && model.lastError(); });
    EXPECT_EQ(enabledWhileBusy, std::vector<bool>(enabledWhileBusy.size(), false));
    EXPECT_FALSE(enabledWhileBusy.empty());
    EXPECT_TRUE(shows(window, "signIn.error"));
    EXPECT_FALSE(textOf(window, "signIn.error").empty());
    EXPECT_EQ(password().text(), "   ");  // a failure keeps what was typed, for the next try
    EXPECT_EQ(email().text(), QString::fromStdString(account().email));
    EXPECT_TRUE(submit().isEnabled());
    EXPECT_EQ(
        textOf(window, "signIn.footer"), "No account yet? Create one at " + MenuEnvironment::publicWebDomain() + ".");

    // Minimised and brought back, it keeps it: a minimise is no close.
    window->showMinimized();
    windows.show(WindowPresenter::Kind::signIn);
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(password().text(), "   ");

    // Closed, the window keeps no password.
    windows.close(WindowPresenter::Kind::signIn);
    windows.show(WindowPresenter::Kind::signIn);
    EXPECT_EQ(password().text(), "");
    EXPECT_FALSE(submit().isEnabled());
}

TEST_F(SignInViewTest, ASuccessClearsThePasswordThenPicksATeamAndCloses) {
    email().setText(QString::fromStdString(account().email));
    password().setText(QString::fromStdString(account().password));
    submit().click();
    waitUntil([&] { return !view().isBusy(); });
    EXPECT_EQ(password().text(), "");  // Return cannot sign anyone in again after a sign-out
    EXPECT_TRUE(shows(window, "tenantPicker"));
    EXPECT_FALSE(shows(window, "signIn.form"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(at<QPushButton>(window, "signIn.joinBox").isEnabled());

    at<QPushButton>(window, "tenantPicker.team.acme-ops").click();
    waitUntil([&] { return !window->isVisible(); });
    EXPECT_EQ(model.phase(), MacModel::Phase::signedIn);

    // Shown again while signed in: who is signed in, and Done (Return) closes.
    windows.show(WindowPresenter::Kind::signIn);
    EXPECT_EQ(textOf(window, "signIn.signedInAs"), "Signed in as " + account().email + ".");
    QTest::keyClick(&at<QPushButton>(window, "signIn.done"), Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());

    await(model.signOut());
    windows.show(WindowPresenter::Kind::signIn);
    EXPECT_TRUE(shows(window, "signIn.form"));
    EXPECT_FALSE(submit().isEnabled());  // nothing left to sign back in with
}

TEST_F(SignInViewTest, ASessionChangeClearsATypedPassword) {
    email().setText(QString::fromStdString(account().email));
    password().setText(QString::fromStdString(account().password));
    // Signed in some other way while the form held a password (the launch, another window).
    await(model.signIn(account().email, account().password));
    EXPECT_EQ(password().text(), "");

    password().setText("typed while signed in");
    await(model.signOutLocally());
    EXPECT_EQ(password().text(), "");
    EXPECT_FALSE(submit().isEnabled());
}

// An e-mail address the server made huge is shown cut, so the window keeps a sane size.
class SignInViewHugeEmail : public testkit::UiTest {
protected:
    static demo::Fixture hugeEmail() {
        demo::Fixture fixture = standardFixture();
        fixture.hosted.accounts.front().email = std::string(200'000, 'a') + "@example.com";
        return fixture;
    }
    SignInViewHugeEmail() : UiTest(hugeEmail()) {}
};

TEST_F(SignInViewHugeEmail, TheSignedInLineStaysShort) {
    signInWithTeam();
    windows.show(WindowPresenter::Kind::signIn);
    const QWidget* window = windows.window(WindowPresenter::Kind::signIn);
    const std::string shown = textOf(window, "signIn.signedInAs");
    EXPECT_TRUE(shown.starts_with("Signed in as aaaa"));
    EXPECT_LT(shown.size(), 400u);
}

}  // namespace
}  // namespace brisalune
