#pragma once

// The tray interface's views over a real app model that talks to the demo service (the hosted
// service and one box, in memory, on loopback), with the test's own compatibility record, update
// checker and desktop services. Widgets are found by object name.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/shell/site_updates.hpp>
#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/menu_environment.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/app/ui/window_content.hpp>
#include <brisalune/client/accounts/secret_service.hpp>
#include <brisalune/client/core/compatibility_model.hpp>
#include <brisalune/demo/demo_service.hpp>
#include <brisalune/demo/fixture.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>

#include <push/push_state_fixture.hpp>
#include <support/qt_application.hpp>
#include <support/qt_widgets_application.hpp>
#include <support/recording_notification_center.hpp>
#include <support/settled_pool.hpp>
#include <support/temp_dir.hpp>

#include <QAbstractButton>
#include <QCoroTask>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brisalune::testkit {

class UiTest : public ::testing::Test {
protected:
    static demo::Fixture standardFixture() { return demo::loadFixture(demo::defaultFixturePath()); }

    explicit UiTest(demo::Fixture fixture = standardFixture())
        : demo(std::move(fixture), demo::DemoOptions{0, 0, std::chrono::milliseconds(0)}) {
        widgetsApplication();
        ui::installListKeyGuard();  // as the app does at its start
    }

    // Requests still on the pool use the compatibility record, the settings and the servers: let
    // them end first, and those that their continuations start too.
    ~UiTest() override {
        if (!settlePool()) ADD_FAILURE() << "requests still running as the test ends";
    }

    demo::DemoService demo;
    TempDir dir;
    platform::Defaults defaults{dir / "defaults.json"};
    ServerCompatibility compatibility{
        ServerMinimums{.supported = ReleaseVersion{1, 5, 0}, .required = ReleaseVersion{1, 0, 0}}};
    ClientCompatibilityModel compatibilityModel{compatibility, defaults};
    std::shared_ptr<RecordingNotificationCenter> center = std::make_shared<RecordingNotificationCenter>();
    PushState pushState{
        std::make_shared<TestHost>(),
        true,
        std::make_shared<MemoryDeviceRegistry>(),
        std::make_shared<MemoryPendingAckStore>(),
        PushState::Environment{
            .defaults = defaults, .keychain = std::make_shared<MemorySessionStore>(), .notificationCenter = center}};
    std::shared_ptr<MemorySessionStore> sessions = std::make_shared<MemorySessionStore>();
    MacModel model{pushState, defaults, sessions, clientFactory(), addresses()};
    SiteUpdates updates{std::nullopt, 1, defaults};
    WindowPresenter windows{[this](WindowPresenter::Kind kind) { return makeWindowContent(kind, model); }};
    std::vector<platform::Url> opened;  // what the views handed to the browser

    ClientFactory clientFactory() {
        return [this](const platform::Url& base, std::optional<std::string> session, std::optional<std::string> key) {
            return std::make_shared<BrisaluneClient>(
                base, std::move(session), std::move(key), nullptr, ClientIdentity::current(), compatibility);
        };
    }
    MacModel::Addresses addresses() {
        const std::string hosted = demo.hostedUrl();
        return {
            .hostedAPIBase = [hosted] { return *platform::Url::parse(hosted); },
            .hostedWebOrigin = [hosted] { return *platform::Url::parse(hosted); },
            .allowLoopbackHttp = true};
    }
    MenuEnvironment environment() { return environment(updates); }
    MenuEnvironment environment(SiteUpdates& checker) { return environment(checker, model); }
    MenuEnvironment environment(SiteUpdates& checker, MacModel& shown) {
        return {
            .model = shown,
            .updates = checker,
            .compatibility = compatibilityModel,
            .openURL = [this](const platform::Url& url) { opened.push_back(url); },
            .openNotificationSettings = [] { return true; },
            .hasNotificationSettings = [] { return true; },
            .makeLaunchAtLogin =
                [this] { return std::make_unique<LaunchAtLogin>(dir / "autostart/brisalune.desktop", "/bin/true"); },
            .quit = [] {},
            .versionName = "0.1.0",
            .versionCode = 1};
    }

    const demo::AccountSeed& account() const { return demo.fixture().hosted.accounts.front(); }
    const demo::AccountSeed& boxAccount() const { return demo.fixture().box.accounts.front(); }

    template <class T>
    static T await(QCoro::Task<T>&& task) {
        return QCoro::waitFor(std::move(task));
    }
    static void await(QCoro::Task<>&& task) { QCoro::waitFor(std::move(task)); }

    // Signed in at the demo's hosted service, no team chosen yet (the account has two).
    void signIn() { signIn(model); }
    void signIn(MacModel& on) {
        await(on.ensureLaunched());
        await(on.signIn(account().email, account().password));
        ASSERT_EQ(on.phase(), MacModel::Phase::selectingTenant);
    }
    void signInWithTeam(const std::string& tenantId = "acme-ops") { signInWithTeam(model, tenantId); }
    void signInWithTeam(MacModel& on, const std::string& tenantId) {
        signIn(on);
        await(on.selectTenant(tenantId));
        ASSERT_EQ(on.phase(), MacModel::Phase::signedIn);
    }

    // The service's answer to the log-out held until answerLogout(): a sign-out begun stays under
    // way while the test looks, however soon every other call it makes is answered.
    void holdLogout() {
        standin::Reply held{204, {}, ""};
        held.holdUntilReleased = true;
        demo.hostedServer().on("POST", "/v1/logout", held);
    }
    // Answers the held log-out, and every later one at once.
    void answerLogout() {
        demo.hostedServer().on("POST", "/v1/logout", standin::Reply{204, {}, ""});
        demo.hostedServer().release();
    }

    template <class W = QWidget>
    static W* find(const QWidget* root, const QString& name) {
        return root->findChild<W*>(name);
    }
    // The named widget, which must exist.
    template <class W = QWidget>
    static W& at(const QWidget* root, const QString& name) {
        W* found = root->findChild<W*>(name);
        if (!found) throw std::runtime_error("no widget named " + name.toStdString());
        return *found;
    }
    // Shown as far as its own window is concerned (the window itself may be hidden).
    static bool shows(const QWidget* root, const QString& name) {
        const QWidget* widget = find(root, name);
        return widget && widget->isVisibleTo(root->window());
    }
    static std::string textOf(const QWidget* root, const QString& name) {
        return at<QLabel>(root, name).text().toStdString();
    }
    // The colour a label's text is drawn in, wherever it sits (a label in a button draws in the
    // button's text colour unless told otherwise).
    static QColor inkOf(const QLabel& label) { return label.palette().color(label.foregroundRole()); }
    static void waitUntil(const std::function<bool()>& done) {
        ASSERT_TRUE(processEventsUntil(done, std::chrono::seconds(30)));
    }
};

// The menu over the desktop's keyring (the test's D-Bus session), with an item of the test's own.
class KeychainMenuTest : public UiTest {
protected:
    std::shared_ptr<KeychainSessionStore> store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.menu-" + dir.path().filename().string());
    MacModel keychainModel{pushState, defaults, store, clientFactory(), addresses()};
    std::unique_ptr<MenuContentView> view = std::make_unique<MenuContentView>(environment(updates, keychainModel));

    ~KeychainMenuTest() override { store->clear(); }
};

// A keyring that will not forget the session while `refuses` holds, as a locked one whose unlock
// was dismissed: a sign-out's local step is refused at once, and the session stays ending.
class RefusingKeychain final : public SessionStoring {
public:
    SessionLoad load() override { return memory_.load(); }
    void save(const StoredSession& session) override { memory_.save(session); }
    void clear() override {
        if (refuses) throw KeychainError(KeychainStatus::unlockDismissed, KeychainError::Step::clear);
        memory_.clear();
    }

    std::atomic<bool> refuses = true;

private:
    MemorySessionStore memory_;
};

// The views over a model whose sign-out the keyring refuses until told otherwise.
class RefusedSignOutTest : public UiTest {
protected:
    std::shared_ptr<RefusingKeychain> keychain = std::make_shared<RefusingKeychain>();
    MacModel refusingModel{pushState, defaults, keychain, clientFactory(), addresses()};
};

}  // namespace brisalune::testkit
