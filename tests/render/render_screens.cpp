// brisalune-render OUTPUT_FOLDER [--long|--hostile]: draws the tray interface's screens into PNG files, for
// people to look at. The app model talks to the demo service, run in this process on loopback;
// nothing is faked but the browser. Meant for an X server of its own (xvfb-run), or off screen.
// The desktop's theme, font and scale reach it as they reach the app (scripts/render draws the
// screens again under a dark theme, a 16 pt font and a scale of 2). With --long the demo's
// teams, alerts and account carry long names, the team has many alerts, and the notification
// row shows an error of several lines. With --hostile they carry what a careless or hostile
// server may send: markup, direction overrides, line breaks and tabs, a title of 10,000
// characters without a space, piled-up marks and emoji, an empty name.
//
//   menu-signed-out.png        the menu window before signing in
//   menu-choose-team.png       signed in, no team chosen yet
//   menu-alerts.png            a team's open alerts
//   menu-update-rows.png       an update on offer and an older server's banner
//   menu-update-required.png   a server refused this version of the app
//   sign-in.png, sign-in-error.png, box-join.png, box-sign-in.png
//   box-join-seat-clear-text.png  a seat code for a plain-http box on the LAN: address, warning, seat rows
//   maintenance-default-size.png  the maintenance window as it opens, a repeating window in the
//                              editor with its next occurrences in sight
//   maintenance-skipped.png    the same just after "Skip" on the second occurrence
//   maintenance-list.png       a project's windows (one in progress), the repeating one in the
//                              editor, on a larger window
//   maintenance-error.png      a new window refused by its own checks
//   maintenance-empty.png      a project without windows
//   menu-push-local.png        signed in where the platform has no push service
//   menu-push-no-service.png   signed in with no notification service on the bus
//   menu-scrolled.png          content taller than the screen, scrolled inside the window
//   tray-badge.png             the tray icon with 0, 1, 10, 99, 100, 1,000 and 1,000,000 open
//                              alerts, at 22 px on a dark and a light panel, up to date and then
//                              as a count that could not be refreshed, enlarged 6 times; then at
//                              64 px
//   menu-signing-out.png       "Sign out" pressed while another program holds the settings file:
//                              the sign-out waits for it, the alerts greyed
//   menu-sign-out-refused.png  the same once its patience ran out: the refusal, "Finish signing
//                              out", the alerts still greyed and their refresh refused unsent
//   box-signing-out.png        the box window meanwhile: why nothing can be joined or signed in to
//   maintenance-delete-unbroken.png, maintenance-delete-override.png  (--hostile only) the
//                              question before deleting a window whose name has no space, or
//                              turns its direction

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/shell/app_delegate.hpp>
#include <brisalune/app/shell/site_updates.hpp>
#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/mac_maintenance_editor.hpp>
#include <brisalune/app/ui/menu_bar_extra.hpp>
#include <brisalune/app/ui/maintenance_windows_view.hpp>
#include <brisalune/app/ui/menu_window.hpp>
#include <brisalune/app/ui/window_content.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/core/compatibility_model.hpp>
#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/client/maintenance/endpoints.hpp>
#include <brisalune/demo/demo_service.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/freedesktop_notifications.hpp>
#include <brisalune/push/push_host.hpp>
#include <brisalune/push/push_state.hpp>

#include <support/held_settings_lock.hpp>
#include <support/notification_daemon.hpp>
#include <support/qt_application.hpp>
#include <support/recording_notification_center.hpp>
#include <support/temp_dir.hpp>

#include <QApplication>
#include <QComboBox>
#include <QCoroTask>
#include <QLineEdit>
#include <QListWidget>
#include <QBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QPushButton>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace {

using namespace brisalune;
namespace fs = std::filesystem;

template <class T>
T await(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}
void await(QCoro::Task<>&& task) { QCoro::waitFor(std::move(task)); }

// Lets layouts settle and queued work arrive.
// Layouts settle one level per pass of the event loop; new rows show on a later pass.
void settle() {
    for (int i = 0; i < 40; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Waits for the requests on the pool and what their answers start, past the editor's pause.
void settleRequests() {
    for (int round = 0; round < 3; ++round) {
        settle();
        waitForBlockingCalls();
        const auto pauseEnds = std::chrono::steady_clock::now() + MacMaintenanceEditor::previewPause * 2;
        while (std::chrono::steady_clock::now() < pauseEnds) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    settle();
}

// A seat's join code for a box at a LAN address over plain http (nothing is sent to it).
// With `hostile`, a user name that looks like another host stands before it, and the box's
// address goes on for 1,500 characters.
std::string lanSeatCode(bool hostile = false) {
    const QByteArray user = hostile ? "boxes.acme-ops.example.com:443@" : "";
    const QByteArray path = hostile ? QByteArray(1500, 'p') : QByteArray();
    const QByteArray payload = R"({"u":"http://)" + user + "192.168.1.20:8080/" + path +
                               R"(","t":"harbor-lab","c":"harbor-seat","s":true,"v":1})";
    return "blj_" + payload.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

class Screens {
public:
    explicit Screens(fs::path output) : output_(std::move(output)) { fs::create_directories(output_); }

    // Shows the window first: a popup closes when another window comes up. A window that keeps
    // its size is drawn at the size it has.
    // A screen caught mid-way (before an answer that is on its way) is drawn without settling.
    void write(QWidget& widget, const char* name, bool fitContent = true, bool settled = true) {
        widget.show();
        if (settled) settle();
        if (fitContent) widget.adjustSize();
        if (settled) settle();
        const fs::path file = output_ / name;
        if (!widget.grab().save(QString::fromStdString(file.string()), "PNG"))
            throw std::runtime_error("could not write " + file.string());
        std::cout << file.string() << "\n";
    }

    void write(const QImage& image, const char* name) {
        const fs::path file = output_ / name;
        if (!image.save(QString::fromStdString(file.string()), "PNG"))
            throw std::runtime_error("could not write " + file.string());
        std::cout << file.string() << "\n";
    }

private:
    fs::path output_;
};

// The tray's picture as a 22 px tray shows it (scaled down smoothly from the drawn size), on a
// dark and on a light panel, live and stale, enlarged so that each pixel shows; and at the drawn
// size below.
void renderBadges(Screens& screens) {
    const std::vector<int> counts{0, 1, 10, 99, 100, 1000, 1000000};
    const std::vector<QColor> panels{QColor(0x2b, 0x2b, 0x2b), QColor(0xee, 0xee, 0xee)};
    constexpr int tray = 22, zoom = 6, gap = 4;
    const int cell = tray + 2 * gap;
    const int rows = static_cast<int>(panels.size()) * 2;
    QImage small(cell * static_cast<int>(counts.size()), cell * rows, QImage::Format_ARGB32);
    QPainter painter(&small);
    for (int row = 0; row < rows; ++row) {
        const bool upToDate = row < static_cast<int>(panels.size());
        painter.fillRect(0, row * cell, small.width(), cell, panels[static_cast<std::size_t>(row) % panels.size()]);
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const QPixmap icon = MenuBarExtra::icon(counts[i], upToDate).pixmap(tray, tray);
            painter.drawPixmap(static_cast<int>(i) * cell + gap, row * cell + gap, icon);
        }
    }
    painter.end();
    const QImage enlarged = small.scaled(small.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const int drawn = MenuBarIcon::drawnSize;
    QImage sheet(enlarged.width(), enlarged.height() + drawn + 2 * gap, QImage::Format_ARGB32);
    sheet.fill(panels.front());
    QPainter sheetPainter(&sheet);
    sheetPainter.drawImage(0, 0, enlarged);
    for (std::size_t i = 0; i < counts.size(); ++i)
        sheetPainter.drawPixmap(
            static_cast<int>(i) * cell * zoom + gap, enlarged.height() + gap, MenuBarIcon::picture(counts[i]));
    sheetPainter.end();
    screens.write(sheet, "tray-badge.png");
}

// Long names everywhere a server's text shows, and more alerts than the menu lists.
void lengthen(demo::Fixture& fixture) {
    fixture.hosted.accounts.front().email = "operations.on-call.primary-responder@acme-operations-worldwide.example";
    for (demo::TeamSeed& team : fixture.hosted.teams) {
        if (team.id == "acme-ops") {
            team.name = "Acme Operations — Payments, Checkout and Customer Platform Reliability";
            team.projects.push_back("customer-notifications-delivery-pipeline");
            const demo::AlertSeed model = team.alerts.front();
            for (int i = 0; i < 30; ++i) {
                demo::AlertSeed alert = model;
                alert.id = "a1c00000000001" + std::to_string(10 + i);
                alert.project = "customer-notifications-delivery-pipeline";
                alert.rule = "Delivery latency of transactional e-mail above the agreed objective for region eu-west-" +
                             std::to_string(i + 1);
                team.alerts.insert(team.alerts.begin(), alert);
            }
        }
        if (team.id == "harbor-lab") team.name = "Harbor Lab (self-hosted, building 7, second floor server room)";
    }
}

// A text of `length` letters without a space.
std::string unbroken(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
    return text;
}

// What a careless or hostile server may put where a name shows.
void roughen(demo::Fixture& fixture) {
    fixture.hosted.accounts.front().email = unbroken(300) + "@example.com";
    for (demo::TeamSeed& team : fixture.hosted.teams) {
        if (team.id == "acme-ops") {
            team.name = "\u202EAcme Ops <b>bold</b>";
            std::vector<demo::AlertSeed> rough;
            const demo::AlertSeed model = team.alerts.front();
            const std::vector<std::pair<std::string, std::string>> kinds{
                {"checkout\u202E", "<img src=\"/usr/share/icons/hicolor/48x48/apps/xterm-color.png\"> <a href=\"https://evil.example\">Disk</a> full"},
                {"payments-api", "Disk full\non db-1\tnow\r\x07" "bell"},
                {"", ""},
                {"payments-api", unbroken(10000)},
                {"payments-api", "Z\u0351\u0352\u0353\u0354\u0355\u0356\u0357\u0358\u0359\u035a\u0351\u0352\u0353\u0354\u0355\u0356\u0357\u0358\u0359\u035aalgo \U0001F525\U0001F469\u200D\U0001F4BB on\u200B\u200Bline \u2067\u05e9\u05dc\u05d5\u05dd"},
            };
            for (std::size_t i = 0; i < kinds.size(); ++i) {
                demo::AlertSeed alert = model;
                alert.id = "a1c00000000002" + std::to_string(10 + i);
                alert.project = kinds[i].first;
                alert.rule = kinds[i].second;
                alert.lastSeenMinutesAgo = static_cast<std::int64_t>(i);  // all five listed
                rough.push_back(alert);
            }
            team.alerts.insert(team.alerts.begin(), rough.begin(), rough.end());
        }
        if (team.id == "harbor-lab") team.name = "";
    }
}

std::string hostileError() {
    return "<b>Refused</b> \u202Eby the gateway\nDetails:\t<img src=\"/usr/share/icons/hicolor/48x48/apps/xterm-color.png\">\n" +
           unbroken(400);
}

const char* const longError =
    "The notification service refused this device: the certificate chain presented by the push gateway "
    "could not be verified.\nDetails: unable to get local issuer certificate (depth 2).\nTry again later, "
    "or ask your administrator to check the gateway's certificates.";

// The menu with rows enough to be taller than its screen, scrolled to the end, popped up under
// an icon at the screen's top right.
void renderScrolled(MenuWindow& menu, Screens& screens) {
    auto* layout = static_cast<QBoxLayout*>(menu.content().layout());
    std::vector<QLabel*> rows;
    for (int i = 0; i < 24; ++i) {
        rows.push_back(new QLabel(QStringLiteral("A row that makes the content taller (%1)").arg(i + 1)));
        rows.back()->setFixedHeight(36);
        layout->insertWidget(0, rows.back());
    }
    const QRect available = menu.screen()->availableGeometry();
    menu.popUp(QRect(available.right() - 30, available.top(), 22, 22));
    settle();
    QScrollBar* bar = menu.scrollArea().verticalScrollBar();
    bar->setValue(bar->maximum());
    settle();
    screens.write(menu.grab().toImage(), "menu-scrolled.png");
    menu.hide();
    for (QLabel* row : rows) delete row;
    settle();
}

// A one-off window of the project, stored through the library: `from` and `to` hours from the
// next full hour.
void storeOneOff(BrisaluneClient& client, const std::string& project, const char* name, int from, int to) {
    const auto now = MaintenanceWindowDraft::currentInstant();
    MaintenanceWindowDraft draft = MaintenanceWindowDraft::initNew(now, *platform::TimeZone::named("Europe/Berlin"));
    draft.name = name;
    const auto fullHour = draft.start;  // the next one
    draft.start = fullHour + std::chrono::hours(from);
    draft.end = fullHour + std::chrono::hours(to);
    createMaintenanceWindow(client, project, draft.input());
}

// The maintenance window on the demo's seeded windows of the active team, with one window in
// progress and one that runs over several days beside them.
void renderMaintenance(WindowPresenter& windows, MacModel& model, Screens& screens, bool hostile) {
    const auto client = model.client(*model.session()->activeTenantId);
    const std::string unbrokenName = unbroken(2000);
    const char* const overrideName = "<b>Storage</b>\nmigration \u202Ein progress";
    storeOneOff(*client, "payments-api", hostile ? overrideName : "Storage migration", -2, 30);
    storeOneOff(*client, "payments-api", hostile ? unbrokenName.c_str() : "Data centre move", 74, 105);
    windows.show(WindowPresenter::Kind::maintenance);
    QWidget* window = windows.window(WindowPresenter::Kind::maintenance);
    auto* view = window->findChild<MaintenanceWindowsView*>("maintenance");
    auto* project = window->findChild<QComboBox*>("maintenance.project");
    settleRequests();

    project->setCurrentIndex(project->findText(QStringLiteral("payments-api")));
    settleRequests();
    auto* list = window->findChild<QListWidget*>("maintenance.list");
    if (hostile) {
        // The question before deleting each of the server's rough names.
        for (const auto& [stored, name] :
             {std::pair{unbrokenName, "maintenance-delete-unbroken.png"},
              {std::string(overrideName), "maintenance-delete-override.png"}}) {
            const auto& shown = view->windows();
            const auto at = std::ranges::find(shown, stored, [](const auto& w) { return w.input.name; });
            list->clearSelection();
            list->item(static_cast<int>(at - shown.begin()))->setSelected(true);
            settleRequests();
            view->editor()->findChild<QPushButton*>("editor.delete")->click();
            settle();
            auto* question = view->editor()->findChild<QMessageBox*>("editor.deleteDialog");
            screens.write(*question, name, false);
            question->reject();
            settle();
        }
    }
    // The repeating window: the one whose rule is set.
    list->clearSelection();
    for (int row = 0; row < list->count(); ++row) {
        if (view->windows()[static_cast<std::size_t>(row)].input.rrule.empty()) continue;
        list->item(row)->setSelected(true);
    }
    settleRequests();
    // At the size the window opens with.
    screens.write(*window, "maintenance-default-size.png", false);

    // A skipped date stays in its row until the next answer.
    window->findChild<QPushButton*>("editor.preview.skip.1")->click();
    screens.write(*window, "maintenance-skipped.png", false, false);
    settleRequests();

    window->resize(1040, 720);
    screens.write(*window, "maintenance-list.png", false);

    window->findChild<QPushButton*>("maintenance.new")->click();
    MaintenanceWindowDraft draft = view->editor()->draft();
    draft.name = "Nightly backups";
    draft.recurring = true;
    draft.rrule.clear();
    view->editor()->setDraft(draft);
    await(view->editor()->save());
    settleRequests();
    screens.write(*window, "maintenance-error.png", false);

    // The checkout project's one window, deleted through the library.
    for (const MaintenanceWindow& stored : maintenanceWindows(*client, "checkout")) {
        deleteMaintenanceWindow(*client, "checkout", stored.id);
    }
    project->setCurrentIndex(project->findText(QStringLiteral("checkout")));
    settleRequests();
    screens.write(*window, "maintenance-empty.png", false);
    windows.close(WindowPresenter::Kind::maintenance);
}

// "Sign out" pressed in the open menu on a team with alerts and an acknowledgement not yet sent,
// while another program holds the settings file past the sign-out's patience: the menu as it
// waits and once it gave up, then the box window. The menu stays open throughout: opened again,
// it would run the sign-out again.
void renderSigningOut(
    MenuWindow& menu, WindowPresenter& windows, MacModel& model, const platform::Defaults& defaults, Screens& screens) {
    const platform::Defaults::PeerLockPatience uiThread(MacAppDelegate::uiSettingsLockPatience);  // as in the app
    await(model.selectTenant("acme-ops"));
    menu.show();
    // After the refresh that showing it starts: the record below stays unsent.
    settle();
    waitForBlockingCalls();
    settle();
    // An acknowledgement not yet sent, which the sign-out clears from the file.
    const std::string alertId = model.openAlerts().front().id;
    PendingAckStore::inFile(defaults.file())
        .put({.alertId = alertId, .tenantId = "acme-ops", .title = "", .attempts = 1, .lastError = {}, .verdict = {}});
    testkit::HeldSettingsLock held(defaults.file());
    model.setSignOutSettingsPatience(std::chrono::seconds(3));
    QCoro::Task<> out = model.signOut();
    testkit::processEventsUntil([&] { return model.signOutWaitsForSettings() || !model.isSigningOut(); });
    screens.write(menu, "menu-signing-out.png");
    await(std::move(out));
    await(model.refreshAlerts());
    screens.write(menu, "menu-sign-out-refused.png");
    windows.show(WindowPresenter::Kind::box);
    screens.write(*windows.window(WindowPresenter::Kind::box), "box-signing-out.png");
}

enum class Content { usual, long_, hostile };

int run(const fs::path& output, Content content) {
    const bool longContent = content == Content::long_;
    demo::Fixture fixture = demo::loadFixture(demo::defaultFixturePath());
    if (longContent) lengthen(fixture);
    if (content == Content::hostile) roughen(fixture);
    demo::DemoService demo(std::move(fixture), {0, 0, std::chrono::milliseconds(0)});
    testkit::TempDir dir;
    platform::Defaults defaults(dir / "defaults.json");
    ServerCompatibility compatibility(ServerMinimums{.supported = {1, 9, 0}, .required = {1, 0, 0}});
    ClientCompatibilityModel compatibilityModel(compatibility, defaults);
    const auto center = std::make_shared<testkit::RecordingNotificationCenter>();
    PushState pushState(
        std::make_shared<DesktopPushHost>(),
        true,
        std::make_shared<MemoryDeviceRegistry>(),
        // In the settings file, as the app keeps them: the sign-out's clear waits on its lock.
        std::make_shared<PendingAckStore>(PendingAckStore::inFile(defaults.file())),
        {.defaults = defaults,
         .keychain = std::make_shared<MemorySessionStore>(),
         .notificationCenter = center});
    const platform::Url hosted = *platform::Url::parse(demo.hostedUrl());
    MacModel model(
        pushState,
        defaults,
        std::make_shared<MemorySessionStore>(),
        [&](const platform::Url& base, std::optional<std::string> session, std::optional<std::string> key) {
            return std::make_shared<BrisaluneClient>(
                base, std::move(session), std::move(key), nullptr, ClientIdentity::current(), compatibility);
        },
        {.hostedAPIBase = [hosted] { return hosted; },
         .hostedWebOrigin = [hosted] { return hosted; },
         .allowLoopbackHttp = true});
    SiteUpdates noUpdates(std::nullopt, 1, defaults);
    SiteUpdates updates(platform::Url::parse(demo.manifestUrl()), 1, defaults);
    WindowPresenter windows([&](WindowPresenter::Kind kind) { return makeWindowContent(kind, model); });
    const auto environment = [&](SiteUpdates& checker) {
        return MenuEnvironment{
            .model = model,
            .updates = checker,
            .compatibility = compatibilityModel,
            .openURL = [](const platform::Url&) {},
            .openNotificationSettings = [] { return true; },
            .makeLaunchAtLogin =
                [&] {
                    return std::make_unique<LaunchAtLogin>(dir / "autostart/brisalune.desktop", "/usr/bin/brisalune");
                },
            .quit = [] {},
            .versionName = "0.1.0",
            .versionCode = 1};
    };
    MenuWindow menu(environment(noUpdates));
    windows.provideTo(&menu);
    Screens screens(output);
    const demo::AccountSeed& account = demo.fixture().hosted.accounts.front();

    await(model.ensureLaunched());
    menu.show();
    screens.write(menu, "menu-signed-out.png");

    windows.show(WindowPresenter::Kind::signIn);
    QWidget* signIn = windows.window(WindowPresenter::Kind::signIn);
    signIn->findChild<QLineEdit*>("signIn.email")->setText(QString::fromStdString(account.email));
    screens.write(*signIn, "sign-in.png");
    // A failure keeps what was typed, so the person corrects it rather than typing it all again.
    signIn->findChild<QLineEdit*>("signIn.password")->setText("not the password");
    signIn->findChild<QPushButton*>("signIn.submit")->click();
    settleRequests();
    screens.write(*signIn, "sign-in-error.png");

    await(model.signIn(account.email, account.password));
    screens.write(menu, "menu-choose-team.png");

    await(model.selectTenant("acme-ops"));
    demo.hosted().raise(demo.fixture().arrivals.front());
    await(model.refreshAlerts());
    screens.write(menu, "menu-alerts.png");
    windows.close(WindowPresenter::Kind::signIn);

    // This desktop's own push host: no platform push service, the app's notifications instead.
    center->currentSettings.authorizationStatus = AuthorizationStatus::authorized;
    await(pushState.refreshSettings());
    pushState.setRegistrationError(
        longContent                      ? std::string(longError)
        : content == Content::hostile ? hostileError()
                                         : std::string(DesktopPushHost::unavailableText));
    screens.write(menu, "menu-push-local.png");
    {
        testkit::PrivateBus bus;  // no notification service on it
        pushState.setNotificationCenter(std::make_shared<FreedesktopNotificationCenter>(bus.connection()));
        await(pushState.refreshSettings());
        screens.write(menu, "menu-push-no-service.png");
        pushState.setNotificationCenter(center);
        await(pushState.refreshSettings());
    }
    menu.hide();
    renderScrolled(menu, screens);
    renderBadges(screens);
    menu.show();

    // An update on offer, and the team's server older than this app fully supports.
    await(updates.checkNow());
    MenuWindow offering(environment(updates));
    windows.provideTo(&offering);
    offering.show();
    // After the refresh that showing it starts, which hears the demo's own version.
    settle();
    waitForBlockingCalls();
    settle();
    compatibility.record(200, {{"X-Brisalune-Version", "1.8.0"}}, "/v1/pull", hosted);
    screens.write(offering, "menu-update-rows.png");
    offering.hide();

    compatibility.recordClientOutdated({.client = "brisalune-desktop", .minVersion = "9.0.0"}, hosted);
    screens.write(menu, "menu-update-required.png");
    compatibility.clearClientOutdated();

    renderMaintenance(windows, model, screens, content == Content::hostile);

    windows.show(WindowPresenter::Kind::box);
    QWidget* box = windows.window(WindowPresenter::Kind::box);
    auto* code = box->findChild<QLineEdit*>("joinBox.code");
    code->setText(QString::fromStdString(demo.joinCode()));
    code->setCursorPosition(0);
    screens.write(*box, "box-join.png");
    // A seat on a box in the office network, over plain http: its address, the warning line and
    // the seat's rows in the columns of the others.
    code->setText(QString::fromStdString(lanSeatCode(content == Content::hostile)));
    code->setCursorPosition(0);
    box->findChild<QLineEdit*>("joinBox.name")->setText(QStringLiteral("Ana on the laptop"));
    box->findChild<QLineEdit*>("joinBox.email")->setText(QStringLiteral("ana@harbor.box"));
    box->findChild<QLineEdit*>("joinBox.password")->setText(QStringLiteral("secret"));
    screens.write(*box, "box-join-seat-clear-text.png");
    code->clear();
    await(model.selectTenant("harbor-lab"));
    windows.close(WindowPresenter::Kind::box);
    menu.hide();
    QWidget* boxAgain = nullptr;
    {
        // The box window is made once; its sign-in page shows through its switch.
        windows.show(WindowPresenter::Kind::box);
        boxAgain = windows.window(WindowPresenter::Kind::box);
        auto* pathButton = boxAgain->findChild<QAbstractButton*>("box.path.signIn");
        pathButton->click();
        boxAgain->findChild<QLineEdit*>("boxSignIn.email")
            ->setText(QString::fromStdString(demo.fixture().box.accounts.front().email));
        boxAgain->findChild<QLineEdit*>("boxSignIn.password")->setText(QStringLiteral("secret"));
    }
    screens.write(*boxAgain, "box-sign-in.png");
    windows.close(WindowPresenter::Kind::box);
    renderSigningOut(menu, windows, model, defaults, screens);

    waitForBlockingCalls();
    settle();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string option = argc == 3 ? argv[2] : "";
    const Content content = option == "--long" ? Content::long_ : option == "--hostile" ? Content::hostile : Content::usual;
    if (argc != 2 && content == Content::usual) {
        std::fprintf(stderr, "usage: brisalune-render OUTPUT_FOLDER [--long|--hostile]\n");
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brisalune"));
    try {
        return run(argv[1], content);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brisalune-render: %s\n", error.what());
        return 1;
    }
}
