// The built program in a real system tray: an X server of its own (xvfb-run) with Debian's
// trayer, an XEmbed tray, running; the demo service in this process, and a session for it in the
// keychain of a private D-Bus session (the test runs under scripts/with-keyring). The program
// finds the tray, shows its icon there with the count of open alerts, and a click on the icon
// opens the menu window at it. Pictures of both go to the renders folder.

#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/demo/demo_service.hpp>
#include <brisalune/standin/server.hpp>

#include <brisalune/app/model/sign_out_record.hpp>
#include <brisalune/app/shell/site_updates.hpp>
#include <brisalune/app/ui/menu_bar_extra.hpp>
#include <brisalune/platform/defaults.hpp>

#include <app/ui/menu_window_fixture.hpp>
#include <app/ui/ui_fixture.hpp>
#include <support/demo_session.hpp>
#include <support/held_settings_lock.hpp>
#include <support/qt_application.hpp>
#include <support/qt_widgets_application.hpp>
#include <support/temp_dir.hpp>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariant>

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace brisalune {
namespace {

// A program's output, run to its end.
QString output(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The geometry of an X window, as xdotool tells it.
QRect geometry(const QString& window) {
    int x = 0, y = 0, width = 0, height = 0;
    for (const QString& line : output("xdotool", {"getwindowgeometry", "--shell", window}).split('\n')) {
        const QString value = line.section('=', 1);
        if (line.startsWith("X=")) x = value.toInt();
        if (line.startsWith("Y=")) y = value.toInt();
        if (line.startsWith("WIDTH=")) width = value.toInt();
        if (line.startsWith("HEIGHT=")) height = value.toInt();
    }
    return {x, y, width, height};
}

// The shown windows whose class (or, with `byName`, whose name) matches, with their geometry.
std::vector<QRect> shownWindows(const QString& pattern, bool byName) {
    std::vector<QRect> found;
    const QStringList ids = output("xdotool", {"search", "--onlyvisible", byName ? "--name" : "--classname", pattern})
                                .split('\n', Qt::SkipEmptyParts);
    for (const QString& id : ids) found.push_back(geometry(id));
    return found;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW).
void closeWindow(const QString& window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* connection = x11->connection();
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window.toUInt();
    message.type = atom(connection, "WM_PROTOCOLS");
    message.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, message.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

// What a tray sends the root window when it takes the screen's tray selection: MANAGER, naming
// the selection. Sent here by a client that owns nothing.
void forgeTrayAnnouncement() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = root;
    message.type = atom(connection, "MANAGER");
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = atom(connection, "_NET_SYSTEM_TRAY_S0");
    message.data.data32[2] = root;
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

// A tray in name only: a client of its own on the X server that owns the screen's tray selection
// and docks nothing. What becomes of the selection then is each case's.
class TrayInName {
public:
    TrayInName() : connection_(xcb_connect(nullptr, nullptr)), window_(xcb_generate_id(connection_)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        xcb_create_window(connection_, 0, window_, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, 0, 0, nullptr);
        sync();
    }
    ~TrayInName() { xcb_disconnect(connection_); }

    xcb_window_t window() const { return window_; }
    // Makes `owner` (none for XCB_WINDOW_NONE) the selection's owner.
    void own(xcb_window_t owner) {
        xcb_set_selection_owner(connection_, owner, atom(connection_, "_NET_SYSTEM_TRAY_S0"), XCB_CURRENT_TIME);
        sync();
    }
    // What this client made outlives it.
    void retainOnExit() {
        xcb_set_close_down_mode(connection_, XCB_CLOSE_DOWN_RETAIN_PERMANENT);
        sync();
    }
    // An icon asked to be docked (a tray's opcode message, REQUEST_DOCK).
    bool askedToDock() {
        read();
        return icon_ != XCB_WINDOW_NONE;
    }
    // Pings the icon that asked to be docked (_NET_WM_PING); its program answers from its event
    // loop, so only once it has done all it did on the turn it asked to dock in.
    void pingIcon() {
        const uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;  // the answer goes to the root window
        xcb_change_window_attributes(connection_, root(), XCB_CW_EVENT_MASK, &rootEvents);
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = icon_;
        message.type = atom(connection_, "WM_PROTOCOLS");
        message.data.data32[0] = atom(connection_, "_NET_WM_PING");
        message.data.data32[1] = XCB_CURRENT_TIME;
        message.data.data32[2] = icon_;
        xcb_send_event(connection_, 0, icon_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        sync();
    }
    bool iconAnswered() {
        read();
        return answered_;
    }

private:
    // Until the server has done what was asked.
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

    void read() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                if (message->type == atom(connection_, "_NET_SYSTEM_TRAY_OPCODE") && message->data.data32[1] == 0)
                    icon_ = message->data.data32[2];
                answered_ |= message->type == atom(connection_, "WM_PROTOCOLS") && message->window == root() &&
                             message->data.data32[0] == atom(connection_, "_NET_WM_PING") &&
                             message->data.data32[2] == icon_;
            }
            std::free(event);
        }
    }

    xcb_connection_t* connection_;
    xcb_window_t window_;
    xcb_window_t icon_ = XCB_WINDOW_NONE;
    bool answered_ = false;
};

// The ids of the shown windows named "Brisalune": the menu window.
QStringList menuWindowIds() {
    return output("xdotool", {"search", "--onlyvisible", "--name", "^Brisalune$"}).split('\n', Qt::SkipEmptyParts);
}

int reddish(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 170 && c.green() < 110 && c.blue() < 110;
        }
    return count;
}

QImage grab(const QRect& area) {
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

void save(const QImage& image, const char* name, int scale) {
    const std::filesystem::path folder = BRISALUNE_RENDERS_DIR;
    std::filesystem::create_directories(folder);
    const QImage scaled = image.scaled(image.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    ASSERT_TRUE(scaled.save(QString::fromStdString((folder / name).string()), "PNG"));
}

class Process {
public:
    // The ways a desktop ends a program at their default action, but `ignored`, as a program
    // started by nohup (SIGHUP) or as a shell's background job (SIGINT) has it.
    // Its stderr goes to `errorFile` when one is given.
    Process(
        const QString& program,
        const QStringList& arguments,
        const QProcessEnvironment& environment,
        int ignored = 0,
        const QString& errorFile = {}) {
        process_.setChildProcessModifier([ignored] {
            for (const int number : {SIGTERM, SIGINT, SIGHUP}) ::signal(number, number == ignored ? SIG_IGN : SIG_DFL);
        });
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(
            errorFile.isEmpty() ? QProcess::ForwardedErrorChannel : QProcess::ForwardedOutputChannel);
        if (!errorFile.isEmpty()) process_.setStandardErrorFile(errorFile);
        process_.start(program, arguments);
    }
    ~Process() {
        process_.terminate();
        if (!process_.waitForFinished(10000)) process_.kill();
        process_.waitForFinished(5000);
    }
    bool started() { return process_.waitForStarted(10000); }
    bool running() const { return process_.state() == QProcess::Running; }
    QProcess& process() { return process_; }

private:
    QProcess process_;
};

// Debian's trayer along the top edge, at the right, its panel shown.
class Trayer {
public:
    Trayer()
        : process_(
              "trayer",
              {"--edge",
               "top",
               "--align",
               "right",
               "--widthtype",
               "request",
               "--height",
               "32",
               "--transparent",
               "false",
               "--tint",
               "0x2b2b2b",
               "--SetDockType",
               "true",
               "--expand",
               "true"},
              QProcessEnvironment::systemEnvironment()) {}

    // Started, and its panel on the screen.
    bool started() {
        if (!process_.started()) return false;
        return testkit::processEventsUntil(
            [&] { return !(panel_ = shownWindows("^panel$", true)).empty(); }, std::chrono::seconds(60));
    }
    QRect panel() const { return panel_.empty() ? QRect() : panel_.front(); }

private:
    Process process_;
    std::vector<QRect> panel_;
};

// The question for a property of the StatusNotifierItem watcher on the session bus.
QDBusMessage watcherQuestion(const char* name) {
    const QString watcher = "org.kde.StatusNotifierWatcher";
    QDBusMessage get =
        QDBusMessage::createMethodCall(watcher, "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties", "Get");
    get << watcher << QString(name);
    return get;
}

// A property of the watcher; none while there is no watcher.
QVariant watcherProperty(const char* name) {
    const QDBusMessage answer = QDBusConnection::sessionBus().call(watcherQuestion(name));
    return answer.arguments().value(0).value<QDBusVariant>().variant();
}

// A client of the session bus that ends, as a short-lived program does: its name leaves the bus.
void aClientEnds() {
    const QString name = "ending client";
    QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    QDBusConnection::disconnectFromBus(name);
}

// Debian's standalone StatusNotifierItem tray, gtk-sni-tray-standalone, along the top edge, its
// icons at the right: a host of the watcher on the session bus, which draws the icons in a panel of
// its own.
class StatusNotifierTray {
public:
    StatusNotifierTray()
        : process_("gtk-sni-tray-standalone", {"--top", "--end"}, QProcessEnvironment::systemEnvironment()) {}

    // Started, registered with the watcher, and its panel on the screen.
    bool started() {
        if (!process_.started()) return false;
        return testkit::processEventsUntil(
            [&] {
                return watcherProperty("IsStatusNotifierHostRegistered").toBool() &&
                       !(panel_ = shownWindows("^gtk-sni-tray-standalone$", true)).empty();
            },
            std::chrono::seconds(60));
    }
    QRect panel() const { return panel_.empty() ? QRect() : panel_.front(); }
    // The panel's right half, where its icons are and a window that stands in does not reach.
    QRect icons() const { return panel().adjusted(panel().width() / 2, 0, 0, 0); }
    // Ends at once, telling no one (a crash, a SIGKILL).
    void kill() {
        process_.process().kill();
        process_.process().waitForFinished(10000);
    }

private:
    Process process_;
    std::vector<QRect> panel_;
};

// Debian's openbox managing the X server's windows, as a desktop's window manager does: it
// minimises a window when asked, and brings one back when the program asks.
class WindowManager {
public:
    WindowManager() : process_("openbox", {"--sm-disable"}, QProcessEnvironment::systemEnvironment()) {}

    // Started, and managing the screen.
    bool started() {
        if (!process_.started()) return false;
        return testkit::processEventsUntil(
            [] {
                return output("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
            },
            std::chrono::seconds(60));
    }

private:
    Process process_;
};

// Minimises the window as a person does by its title bar's button.
void minimise(const QString& window) { output("xdotool", {"windowminimize", window}); }

QString activeWindow() { return output("xdotool", {"getactivewindow"}).trimmed(); }

class TrayHost : public ::testing::Test {
protected:
    void SetUp() override {
        testkit::widgetsApplication();
        for (const char* tool : {"trayer", "xdotool"})
            ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty()) << tool << " is missing (scripts/setup-deps)";
    }

    template <class F>
    static bool until(F done) {
        return testkit::processEventsUntil(done, std::chrono::seconds(60));
    }

    // The program's shown window once it has one; none when the program ends or a minute passes.
    static QStringList windowOnceShown(const Process& app) {
        QStringList ids;
        until([&] { return !(ids = menuWindowIds()).empty() || !app.running(); });
        return ids;
    }

    // The demo's account signed in, its first team chosen, as the program keeps it.
    StoredSession storeSession(const demo::DemoService& demo) {
        const StoredSession session = testkit::demoSession(demo);
        KeychainSessionStore(std::string(KeychainSessionStore::appService)).save(session);
        return session;
    }

    // The program on the X server, its settings and instance lock in `dir`; its stderr to
    // `errorFile` when one is given.
    static Process startApp(const testkit::TempDir& dir, int ignoredSignal = 0, const QString& errorFile = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString((dir / "config").string()));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path().string()));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        return Process(BRISALUNE_APP_PROGRAM, {}, environment, ignoredSignal, errorFile);
    }

    // The program's icon, embedded in the tray's panel; empty when the program ended first.
    static QRect iconOf(const Process& app, const QRect& panel) {
        QRect icon;
        until([&] {
            for (const QRect& shown : shownWindows("^brisalune$", false))
                if (shown.intersects(panel.adjusted(-2, -2, 2, 2)) && shown.width() < 64) icon = shown;
            return !icon.isEmpty() || !app.running();
        });
        return icon;
    }

    // The menu window once it shows; none when it does not.
    static std::optional<QRect> shownMenu() {
        std::optional<QRect> menu;
        until([&] {
            for (const QRect& shown : shownWindows("^Brisalune$", true))
                if (shown.width() >= 320) menu = shown;  // wider at a larger desktop font
            return menu.has_value();
        });
        return menu;
    }

    // A click on the icon, then the menu window it pops up.
    static std::optional<QRect> openMenu(const QRect& icon) {
        output(
            "xdotool",
            {"mousemove", QString::number(icon.center().x()), QString::number(icon.center().y()), "click", "1"});
        return shownMenu();
    }

    // The program's icon in `area`, red with the count of open alerts; false when the program ended first.
    static bool iconDrawnIn(const Process& app, const QRect& area) {
        return until([&] { return reddish(grab(area)) > 20 || !app.running(); }) && app.running();
    }

    // Debian's watcher and standalone tray, the program's icon in the panel; `slowDown` keeps the
    // watcher from answering for a while as names leave the bus, and may end the tray meanwhile.
    // Once the watcher answers again, the window stands in for a tray that ended, with no other
    // name coming or going. Else, past the program's wait, the icon is still in the panel and no
    // window stands in; with `sameIcon`, the icon was never withdrawn either.
    void slowWatcher(
        const std::function<void(Process& watcher, std::optional<StatusNotifierTray>& tray)>& slowDown, bool sameIcon) {
        testkit::TempDir dir;
        demo::DemoService demo(demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)});
        storeSession(demo);
        Process watcher("status-notifier-watcher", {}, QProcessEnvironment::systemEnvironment());
        ASSERT_TRUE(watcher.started());
        ASSERT_TRUE(until([] { return watcherProperty("IsStatusNotifierHostRegistered").isValid(); }));
        std::optional<StatusNotifierTray> tray(std::in_place);
        ASSERT_TRUE(tray->started());
        Process app = startApp(dir);
        ASSERT_TRUE(app.started());
        ASSERT_TRUE(iconDrawnIn(app, tray->icons())) << "no icon in the panel";
        // The bus names of the icons registered with the watcher: Qt shows each icon it makes on a
        // connection of its own.
        const auto icons = [] {
            return watcherProperty("RegisteredStatusNotifierItems").toStringList().join(' ').toStdString();
        };
        const std::string shown = icons();
        ASSERT_FALSE(shown.empty());

        slowDown(watcher, tray);
        if (!tray) {
            // Within seconds of its answer, not at some later event on the bus.
            EXPECT_TRUE(testkit::processEventsUntil(
                [&] { return !menuWindowIds().empty() || !app.running(); }, std::chrono::seconds(20)))
                << "no icon and no window once the watcher woke";
            EXPECT_TRUE(app.running());
            return;
        }
        ASSERT_TRUE(until([] { return watcherProperty("IsStatusNotifierHostRegistered").toBool(); }));
        testkit::processEventsUntil([] { return false; }, std::chrono::seconds(4));  // past the program's wait
        EXPECT_TRUE(menuWindowIds().empty()) << "a window stands in though the tray stayed";
        EXPECT_TRUE(iconDrawnIn(app, tray->icons())) << "the icon left the panel";
        if (sameIcon) {
            EXPECT_EQ(icons(), shown) << "the icon was withdrawn";
        }
    }
};

TEST_F(TrayHost, TheIconShowsTheCountAndAClickOpensTheMenu) {
    testkit::TempDir dir;
    Trayer trayer;
    ASSERT_TRUE(trayer.started());
    const QRect panel = trayer.panel();

    demo::DemoService demo(demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)});
    storeSession(demo);
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    const QRect icon = iconOf(app, panel);
    ASSERT_FALSE(icon.isEmpty());
    ASSERT_TRUE(app.running());

    // The open alerts arrive: the mark turns red and carries the count.
    ASSERT_TRUE(until([&] { return reddish(grab(icon)) > 20; })) << "no count drawn in the icon";
    const QRect trayArea = panel.united(icon) & QGuiApplication::primaryScreen()->geometry();
    save(grab(trayArea), "tray.png", 6);

    // A click on the icon pops the menu window up at it.
    const std::optional<QRect> menu = openMenu(icon);
    ASSERT_TRUE(menu);
    EXPECT_LE(std::abs(menu->top() - icon.bottom()), 40);  // right under the tray
    QCoreApplication::processEvents();
    save(
        grab(menu->united(trayArea).adjusted(-8, 0, 8, 8) & QGuiApplication::primaryScreen()->geometry()),
        "tray-menu.png",
        1);
}

// Quit from the menu while the service holds the program's requests unanswered: the program
// ends well before those requests would time out (a minute), so that it can be started again (a
// program still ending keeps its instance lock, and a new start then gives up).
TEST_F(TrayHost, QuitFromTheMenuEndsTheProgramWhileTheServiceHoldsItsRequests) {
    testkit::TempDir dir;
    Trayer trayer;
    ASSERT_TRUE(trayer.started());
    // The stand-in holds every request unanswered: a service that has stopped responding.
    standin::Server silent;
    silent.otherwise([](const standin::ReceivedRequest&) {
        standin::Reply held;
        held.holdUntilReleased = true;
        return held;
    });
    const StoredSession session{
        .baseURL = *platform::Url::parse(silent.baseUrl()),
        .sessionToken = "sess_silent",
        .accountId = "acct-silent",
        .email = "silent@brisalune.test",
        .activeTenantId = std::nullopt,
        .tenantKeys = {},
        .tenantHosts = {}};
    KeychainSessionStore(std::string(KeychainSessionStore::appService)).save(session);
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    const QRect icon = iconOf(app, trayer.panel());
    ASSERT_FALSE(icon.isEmpty());
    ASSERT_TRUE(until([&] { return !silent.requests().empty(); }));

    // Open the menu, then from its first control back round to its last one, "Quit Brisalune".
    ASSERT_TRUE(openMenu(icon));
    output("xdotool", {"key", "shift+Tab", "space"});
    // Well inside the minute the held requests would wait for an answer.
    EXPECT_TRUE(app.process().waitForFinished(30000)) << "still running after Quit";
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0);
}

// A desktop whose tray comes up after the program (a login that starts the program before its
// panel): the window stands in at first, and the icon takes its place once the tray is there.
TEST_F(TrayHost, TheIconAppearsWhenATrayComesUpAfterTheProgram) {
    testkit::TempDir dir;
    demo::DemoService demo(demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)});
    storeSession(demo);
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    ASSERT_TRUE(until([&] { return !shownWindows("^Brisalune$", true).empty() || !app.running(); }));
    ASSERT_TRUE(app.running()) << "no window without a tray";
    save(grab(QGuiApplication::primaryScreen()->geometry()), "tray-none.png", 1);

    Trayer trayer;
    ASSERT_TRUE(trayer.started());
    const QRect icon = iconOf(app, trayer.panel());
    ASSERT_FALSE(icon.isEmpty()) << "no icon once the tray is up";
    ASSERT_TRUE(until([&] { return reddish(grab(icon)) > 20; }));
    save(grab(trayer.panel().united(icon)), "tray-late.png", 6);

    // The window is still the one that stood in; with the icon in the tray, closing it only
    // hides it, and the icon opens it again.
    const QStringList ids = menuWindowIds();
    ASSERT_FALSE(ids.empty());
    closeWindow(ids.front());
    ASSERT_TRUE(until([&] { return menuWindowIds().empty() || !app.running(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(app.running()) << "closing the window ended the program though its icon is in the tray";
    EXPECT_TRUE(openMenu(icon));
}

// No tray at all (a desktop whose tray takes no XEmbed icons, or none): the window stands in for
// the icon, and closing it ends the program.
TEST_F(TrayHost, WithoutATrayClosingTheWindowEndsTheProgram) {
    testkit::TempDir dir;
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    const QStringList ids = windowOnceShown(app);
    ASSERT_FALSE(ids.empty()) << "no window without a tray";
    ASSERT_TRUE(app.running());
    // Any client can send what a tray announces itself by: with no tray behind it, it changes nothing.
    forgeTrayAnnouncement();
    testkit::processEventsUntil([] { return false; }, std::chrono::seconds(2));  // the program reads it
    ASSERT_TRUE(app.running());
    const QRect window = geometry(ids.front());
    EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(window))
        << window.x() << "," << window.y() << " " << window.width() << "x" << window.height();
    closeWindow(ids.front());
    EXPECT_TRUE(app.process().waitForFinished(30000)) << "still running with no window and no icon";
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0);
}

// A panel that takes StatusNotifierItems (KDE Plasma's, LXQt's, waybar, GNOME's AppIndicator
// extension) comes up after the program, as at a login that starts the program first: the icon
// is registered with its watcher within seconds, the window working meanwhile, and the icon
// opens the window. The host leaving while its watcher stays takes the icon as the watcher leaving
// does.
TEST_F(TrayHost, TheIconGoesToAStatusNotifierHostThatComesUpAfterTheProgram) {
    testkit::TempDir dir;
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    ASSERT_TRUE(until([&] { return !menuWindowIds().empty() || !app.running(); }));
    ASSERT_TRUE(app.running());
    // Well past the program's start-up, and any first look at the bus it made there.
    std::this_thread::sleep_for(std::chrono::seconds(3));

    Process watcher("/usr/bin/python3", {BRISALUNE_SNI_WATCHER}, QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(watcher.started());
    QString said;
    // The lines the watcher printed so far with `what` in them.
    const auto heard = [&](const QString& what) {
        said += QString::fromUtf8(watcher.process().readAllStandardOutput());
        return said.split('\n').filter(what);
    };
    const auto registrations = [&](qsizetype count) {
        return testkit::processEventsUntil(
            [&] { return heard("item ").size() >= count || !watcher.running(); }, std::chrono::seconds(20));
    };
    // A line to the watcher, once it holds.
    const auto tell = [&](const QString& line) {
        const qsizetype told = heard("told " + line).size();
        watcher.process().write((line + '\n').toUtf8());
        return until([&] { return heard("told " + line).size() > told || !watcher.running(); });
    };
    // Once the program has asked the watcher nothing more for a while; false when it goes on asking.
    const auto askedNoMore = [&] {
        qsizetype asked = -1;
        auto since = std::chrono::steady_clock::now();
        return until([&] {
            if (heard("asked ").size() != asked) {
                asked = heard("asked ").size();
                since = std::chrono::steady_clock::now();
            }
            return std::chrono::steady_clock::now() - since > std::chrono::seconds(2);
        });
    };
    const auto windowStandsIn = [&] {
        // Within seconds, not at some later event on the bus.
        return testkit::processEventsUntil(
            [&] { return !menuWindowIds().empty() || !app.running(); }, std::chrono::seconds(20));
    };
    ASSERT_TRUE(registrations(1));
    const QStringList item = heard("item ").value(0).split(' ').mid(1);  // the item's bus name and path
    ASSERT_TRUE(item.size() == 2) << "no icon registered with the watcher; it said: " << said.toStdString();
    ASSERT_TRUE(app.running());
    EXPECT_FALSE(menuWindowIds().empty()) << "the window went away";

    // With the icon in the tray, closing the window only hides it; activating the icon opens it.
    closeWindow(menuWindowIds().value(0));
    ASSERT_TRUE(until([&] { return menuWindowIds().empty() || !app.running(); }));
    ASSERT_TRUE(app.running()) << "closing the window ended the program though its icon is in the tray";
    const QDBusMessage activate =
        QDBusMessage::createMethodCall(item[0], item[1], "org.kde.StatusNotifierItem", "Activate") << 10 << 10;
    const QDBusMessage answer = QDBusConnection::sessionBus().call(activate);
    EXPECT_NE(answer.type(), QDBusMessage::ErrorMessage) << answer.errorMessage().toStdString();
    EXPECT_TRUE(shownMenu()) << "activating the icon opened no window";

    // Names leaving the bus in a burst, as a session's short-lived programs end: the watcher is
    // asked after them, one question at a time rather than one for each name.
    const qsizetype asked = heard("asked ").size();
    QStringList clients;
    for (int client = 0; client < 200; ++client) {
        clients << QString("client %1").arg(client);
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, clients.back());
    }
    for (const QString& client : clients) QDBusConnection::disconnectFromBus(client);
    testkit::processEventsUntil([] { return false; }, std::chrono::seconds(2));
    const qsizetype questions = heard("asked ").size() - asked;
    EXPECT_GT(questions, 0) << "the watcher was not asked after names left";
    EXPECT_LT(questions, 50) << questions << " questions for 200 names leaving";

    // The host goes while its watcher stays: the window stands in; it comes back, and so does the icon.
    // The watcher answers only while the program dispatches its icon's calls: the end of the grace
    // must not wait for the answer on the program's own thread.
    const auto hidden = [&] {
        closeWindow(menuWindowIds().value(0));
        return until([&] { return menuWindowIds().empty() || !app.running(); }) && app.running();
    };
    ASSERT_TRUE(hidden());
    ASSERT_TRUE(tell("look first"));
    watcher.process().write("host gone\n");
    ASSERT_TRUE(windowStandsIn()) << "no window once the host went";
    ASSERT_TRUE(tell("answer"));
    watcher.process().write("host back\n");
    ASSERT_TRUE(registrations(2)) << "the icon did not come back to the host";
    ASSERT_TRUE(hidden());

    // A watcher that answers only with errors is asked a few times after a client ends, not without
    // end. Then it never answers the one question that waits for it: the next ones are still asked,
    // and its host going brings the window.
    ASSERT_TRUE(tell("errors"));
    const qsizetype beforeErrors = heard("asked ").size();
    aClientEnds();
    ASSERT_TRUE(askedNoMore()) << "the watcher answering errors is asked without end";
    EXPECT_LT(heard("asked ").size() - beforeErrors, 50);
    ASSERT_TRUE(tell("hold"));
    aClientEnds();
    ASSERT_TRUE(until([&] { return !heard("held ").empty() || !watcher.running(); }));
    watcher.process().write("host gone\n");
    ASSERT_TRUE(windowStandsIn()) << "no window once the host went while a question was held";
    ASSERT_TRUE(app.running());

    // A watcher that says nothing when its host comes back: a name leaving the bus asks it.
    ASSERT_TRUE(tell("quiet"));
    ASSERT_TRUE(tell("host back"));
    aClientEnds();
    ASSERT_TRUE(registrations(3)) << "the icon did not come back to the host";
    ASSERT_TRUE(hidden());

    // A watcher that answers nothing at the end of the grace has not said its host went: the icon
    // stays, and the watch goes on.
    ASSERT_TRUE(tell("host gone"));
    ASSERT_TRUE(tell("errors after one"));
    const qsizetype erred = heard("erred ").size();
    aClientEnds();
    ASSERT_TRUE(until([&] { return heard("erred ").size() > erred || !watcher.running(); }));
    ASSERT_TRUE(askedNoMore());
    EXPECT_TRUE(menuWindowIds().empty()) << "a window stands in though the watcher said nothing";
    ASSERT_TRUE(tell("answer"));
    aClientEnds();
    ASSERT_TRUE(windowStandsIn()) << "no window once the watcher answered again";
    ASSERT_TRUE(tell("host back"));
    aClientEnds();
    ASSERT_TRUE(registrations(4)) << "the icon did not come back to the host";
    ASSERT_TRUE(hidden());

    // The panel goes, and the icon with it: the window stands in again, and closing it ends the
    // program.
    ASSERT_TRUE(until([&] { return menuWindowIds().empty() || !app.running(); }));
    watcher.process().kill();
    ASSERT_TRUE(until([&] { return !menuWindowIds().empty() || !app.running(); }));
    ASSERT_TRUE(app.running());
    closeWindow(menuWindowIds().value(0));
    EXPECT_TRUE(app.process().waitForFinished(30000)) << "still running with no window and no icon";
}

// Debian's standalone StatusNotifierItem watcher and tray (status-notifier-watcher,
// gtk-sni-tray-standalone): a watcher that signals nothing when its host ends; only its property
// IsStatusNotifierHostRegistered turns false. A host killed and started again at once keeps the
// icon, with no window; one killed for good leaves the window standing in, a host that comes up
// then takes the icon, and when it is killed in turn the window stands in again.
TEST_F(TrayHost, AStatusNotifierHostThatEndsUnannouncedLeavesTheWindowStandingIn) {
    for (const char* tool : {"status-notifier-watcher", "gtk-sni-tray-standalone"})
        ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty()) << tool << " is missing (scripts/setup-deps)";
    testkit::TempDir dir;
    demo::DemoService demo(demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)});
    storeSession(demo);
    Process watcher("status-notifier-watcher", {}, QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(watcher.started());
    ASSERT_TRUE(until([] { return watcherProperty("IsStatusNotifierHostRegistered").isValid(); }));
    std::optional<StatusNotifierTray> tray(std::in_place);
    ASSERT_TRUE(tray->started());
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    const auto iconInPanel = [&] { return iconDrawnIn(app, tray->icons()); };
    ASSERT_TRUE(iconInPanel()) << "no icon in the panel";
    EXPECT_TRUE(menuWindowIds().empty());

    tray->kill();
    tray.emplace();
    ASSERT_TRUE(tray->started());
    EXPECT_TRUE(iconInPanel()) << "the icon did not come back";
    testkit::processEventsUntil([] { return false; }, std::chrono::seconds(4));  // past the program's wait
    EXPECT_TRUE(menuWindowIds().empty()) << "a window stands in though the tray came back";

    tray->kill();
    const QStringList ids = windowOnceShown(app);
    ASSERT_FALSE(ids.empty()) << "no icon and no window once the host was killed";
    tray.emplace();
    ASSERT_TRUE(tray->started());
    EXPECT_TRUE(iconInPanel()) << "the icon did not go to the host that came up";
    closeWindow(ids.front());
    ASSERT_TRUE(until([&] { return menuWindowIds().empty() || !app.running(); }));
    ASSERT_TRUE(app.running()) << "closing the window ended the program though its icon is in the tray";

    tray->kill();
    const QStringList again = windowOnceShown(app);
    ASSERT_FALSE(again.empty()) << "no icon and no window once the second host was killed";
    closeWindow(again.front());
    EXPECT_TRUE(app.process().waitForFinished(30000)) << "still running with no window and no icon";
}

// A watcher stopped for longer than the program waits for an answer, while a client ends: it has
// not said its host went, and the icon stays where it is.
TEST_F(TrayHost, AStatusNotifierWatcherStoppedForAWhileKeepsTheIcon) {
    slowWatcher(
        [](Process& watcher, auto&) {
            const pid_t pid = static_cast<pid_t>(watcher.process().processId());
            ASSERT_EQ(::kill(pid, SIGSTOP), 0);
            aClientEnds();
            testkit::processEventsUntil([] { return false; }, std::chrono::seconds(8));
            ::kill(pid, SIGCONT);
        },
        true);
}

// A watcher stopped while its host is killed, with no other name coming or going after: once it
// wakes it says no host is left, and the window stands in. It may hold a question asked before
// the host ended (answered "yes", so asked again), or sleep through all the program asks in a row.
TEST_F(TrayHost, AStatusNotifierWatcherStoppedWhileItsHostEndsIsHeardWhenItWakes) {
    for (const auto& row : {std::pair{true, 2}, std::pair{false, 70}}) {
        const bool askedFirst = row.first;
        const int seconds = row.second;
        SCOPED_TRACE(seconds);
        slowWatcher(
            [&](Process& watcher, std::optional<StatusNotifierTray>& tray) {
                const pid_t pid = static_cast<pid_t>(watcher.process().processId());
                ASSERT_EQ(::kill(pid, SIGSTOP), 0);
                if (askedFirst) {
                    aClientEnds();
                    testkit::processEventsUntil([] { return false; }, std::chrono::seconds(1));
                }
                tray->kill();
                tray.reset();
                testkit::processEventsUntil([] { return false; }, std::chrono::seconds(seconds));
                ::kill(pid, SIGCONT);
            },
            true);
    }
}

// A watcher that another client keeps busy with its calls answers late, while a few clients end:
// the icon stays, or comes back, and no window stands in for it.
TEST_F(TrayHost, AStatusNotifierWatcherKeptBusyKeepsTheIcon) {
    slowWatcher(
        [](Process&, auto&) {
            // Calls on a connection of their own whose answers no one waits for: the watcher works
            // through them in turn, for seconds, and every question after them waits.
            const QString flooding = "flooding client";
            QDBusConnection flood = QDBusConnection::connectToBus(QDBusConnection::SessionBus, flooding);
            const QDBusMessage get = watcherQuestion("IsStatusNotifierHostRegistered");
            for (int call = 0; call < 300000; ++call) flood.send(get);
            for (int client = 0; client < 5; ++client) aClientEnds();
            flood.call(get, QDBus::Block, 300000);  // the last of them answered
            QDBusConnection::disconnectFromBus(flooding);
        },
        false);
}

// An XEmbed tray that goes away (its panel ends) takes the icon with it: the window stands in,
// whole on the screen, and closing it ends the program, as on a desktop without a tray.
TEST_F(TrayHost, WhenTheTrayGoesAwayTheWindowStandsIn) {
    testkit::TempDir dir;
    std::optional<Trayer> trayer(std::in_place);
    ASSERT_TRUE(trayer->started());
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    ASSERT_FALSE(iconOf(app, trayer->panel()).isEmpty());
    ASSERT_TRUE(menuWindowIds().empty());

    trayer.reset();
    const QStringList ids = windowOnceShown(app);
    ASSERT_FALSE(ids.empty()) << "no icon and no window once the tray went";
    ASSERT_TRUE(app.running());
    const std::optional<QRect> menu = shownMenu();
    ASSERT_TRUE(menu);
    EXPECT_TRUE(QGuiApplication::primaryScreen()->geometry().contains(*menu))
        << menu->x() << "," << menu->y() << " " << menu->width() << "x" << menu->height();
    save(grab(QGuiApplication::primaryScreen()->geometry()), "tray-gone.png", 1);

    // A StatusNotifierItem host that comes up now cannot take an icon that began in an XEmbed
    // tray: the window still stands in.
    Process watcher("/usr/bin/python3", {BRISALUNE_SNI_WATCHER}, QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(watcher.started());
    std::this_thread::sleep_for(std::chrono::seconds(3));
    closeWindow(ids.front());
    EXPECT_TRUE(app.process().waitForFinished(30000)) << "still running with no window and no icon";
    EXPECT_EQ(app.process().exitCode(), 0);
}

// The ways an X tray goes besides its window ending: its selection given up while its client runs
// on, handed to a window whose client then ends, or its client ended with what it made kept (its
// window outlives it). Each leaves the window standing in, and closing it ends the program.
TEST_F(TrayHost, EveryWayAnXTrayGoesLeavesTheWindowStandingIn) {
    const std::vector<std::pair<const char*, std::function<void(std::optional<TrayInName>&)>>> ways{
        {"given up", [](auto& tray) { tray->own(XCB_WINDOW_NONE); }},
        {"handed over", [](auto& tray) { tray->own(TrayInName().window()); }},
        {"ended, its window kept",
         [](auto& tray) {
             tray->retainOnExit();
             tray.reset();
         }},
    };
    // A row that fails ends there, and the next row still runs.
    const auto row = [&](const std::function<void(std::optional<TrayInName>&)>& go) {
        testkit::TempDir dir;
        std::optional<TrayInName> tray(std::in_place);
        tray->own(tray->window());
        Process app = startApp(dir);
        ASSERT_TRUE(app.started());
        ASSERT_TRUE(until([&] { return tray->askedToDock() || !app.running(); }));
        // The program watches the tray from the turn it docks in, at the latest: the tray goes only
        // once the program has answered after that, where only the watch can see it go.
        tray->pingIcon();
        ASSERT_TRUE(until([&] { return tray->iconAnswered() || !app.running(); }));
        ASSERT_TRUE(app.running());
        go(tray);
        const QStringList ids = windowOnceShown(app);
        ASSERT_FALSE(ids.empty()) << "no icon and no window once the tray went";
        closeWindow(ids.front());
        EXPECT_TRUE(app.process().waitForFinished(30000)) << "still running with no window and no icon";
    };
    for (const auto& [way, go] : ways) {
        SCOPED_TRACE(way);
        row(go);
    }
}

// The tray's host restarts (a panel crash, a desktop restart): the icon comes back with its count,
// and no window stands in for the moment the tray was away.
TEST_F(TrayHost, TheIconComesBackWhenTheTrayRestarts) {
    testkit::TempDir dir;
    demo::DemoService demo(demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)});
    storeSession(demo);
    std::optional<Trayer> trayer(std::in_place);
    ASSERT_TRUE(trayer->started());
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    ASSERT_FALSE(iconOf(app, trayer->panel()).isEmpty());

    trayer.reset();
    ASSERT_TRUE(until([] { return shownWindows("^panel$", true).empty(); }));
    // Back after a moment, as a desktop's panel restarts (trayer leaves 20 ms, xfce4-panel -r about
    // 270 ms); short, so that a slow start of the new one on a busy machine stays within the grace.
    testkit::processEventsUntil([] { return false; }, std::chrono::milliseconds(250));
    trayer.emplace();
    ASSERT_TRUE(trayer->started());
    const QRect icon = iconOf(app, trayer->panel());
    ASSERT_FALSE(icon.isEmpty()) << "the icon did not come back";
    ASSERT_TRUE(app.running());
    ASSERT_TRUE(until([&] { return reddish(grab(icon)) > 20; }));
    save(grab(trayer->panel().united(icon)), "tray-restarted.png", 6);
    testkit::processEventsUntil([] { return false; }, std::chrono::seconds(4));  // past the program's wait
    EXPECT_TRUE(menuWindowIds().empty()) << "a window stands in though the tray came back";
    EXPECT_TRUE(openMenu(icon));
}

// Starting the app again (a launcher, a second autostart) while it runs brings the running one's
// window up at its icon; the second start ends at once.
TEST_F(TrayHost, ASecondStartBringsUpTheRunningOnesWindow) {
    testkit::TempDir dir;
    Trayer trayer;
    ASSERT_TRUE(trayer.started());
    demo::DemoService demo(demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)});
    storeSession(demo);
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    const QRect icon = iconOf(app, trayer.panel());
    ASSERT_FALSE(icon.isEmpty());
    ASSERT_TRUE(shownWindows("^Brisalune$", true).empty());

    Process second = startApp(dir);
    ASSERT_TRUE(second.started());
    EXPECT_TRUE(second.process().waitForFinished(30000));
    EXPECT_EQ(second.process().exitCode(), 0);
    const std::optional<QRect> menu = shownMenu();
    EXPECT_TRUE(menu) << "the running app's window did not come up";
    EXPECT_TRUE(app.running());
    if (menu) save(grab(menu->united(icon) & QGuiApplication::primaryScreen()->geometry()), "tray-second-start.png", 1);
}

// Under a window manager, the window minimised: starting the program again brings it back, raised
// and focused, and once a tray has come up, so does a click on the icon.
TEST_F(TrayHost, AMinimisedWindowComesBackByAStartAndByTheIcon) {
    ASSERT_FALSE(QStandardPaths::findExecutable("openbox").isEmpty()) << "openbox is missing (scripts/setup-deps)";
    WindowManager manager;
    ASSERT_TRUE(manager.started());
    testkit::TempDir dir;
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    const QStringList ids = windowOnceShown(app);
    ASSERT_FALSE(ids.empty()) << "no window without a tray";
    ASSERT_TRUE(app.running());
    const QString window = ids.front();
    // Asked again until done: a window manager that has only just taken the window on may not
    // have heard the first request.
    const auto minimised = [&] {
        return until([&] {
            minimise(window);
            return menuWindowIds().empty();
        });
    };
    const auto broughtBack = [&] {
        return until([&] { return menuWindowIds().contains(window) && activeWindow() == window; });
    };

    ASSERT_TRUE(minimised());
    Process second = startApp(dir);
    ASSERT_TRUE(second.process().waitForFinished(30000));
    EXPECT_TRUE(broughtBack()) << "a second start left the window minimised";

    Trayer trayer;
    ASSERT_TRUE(trayer.started());
    const QRect icon = iconOf(app, trayer.panel());
    ASSERT_FALSE(icon.isEmpty());
    ASSERT_TRUE(minimised());
    output(
        "xdotool", {"mousemove", QString::number(icon.center().x()), QString::number(icon.center().y()), "click", "1"});
    EXPECT_TRUE(broughtBack()) << "a click on the icon left the window minimised";
    EXPECT_TRUE(app.running());
}

// A killed app (SIGKILL, a crash) leaves its lock file and its beacon behind: the next start runs,
// and a start after that reaches it.
TEST_F(TrayHost, AfterAKilledRunTheNextStartRunsAndAnswersTheOneAfter) {
    testkit::TempDir dir;
    Trayer trayer;
    ASSERT_TRUE(trayer.started());
    demo::DemoService demo(demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)});
    storeSession(demo);
    {
        Process killed = startApp(dir);
        ASSERT_TRUE(killed.started());
        ASSERT_FALSE(iconOf(killed, trayer.panel()).isEmpty());
        killed.process().kill();
        ASSERT_TRUE(killed.process().waitForFinished(10000));
    }
    ASSERT_TRUE(until([] { return shownWindows("^brisalune$", false).empty(); }));

    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    ASSERT_FALSE(iconOf(app, trayer.panel()).isEmpty());
    ASSERT_TRUE(app.running());
    Process second = startApp(dir);
    ASSERT_TRUE(second.process().waitForFinished(30000));
    EXPECT_TRUE(shownMenu()) << "the window did not come up";
    EXPECT_TRUE(app.running());
}

// The ways a desktop ends the program (SIGTERM at a log-out or shutdown, SIGINT, SIGHUP) are a
// quit as by the menu.
// Each in trayer's tray, with the demo's session in the keyring and an acknowledgement kept from
// before that the service still refuses.
class QuitSignals : public TrayHost {
protected:
    void SetUp() override {
        TrayHost::SetUp();
        ASSERT_TRUE(trayer.emplace().started());
        session = storeSession(demo);
        // Checked for updates a moment ago: no check is due, so "Check for Updates…" takes the focus in turn.
        const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        platform::Defaults(settings).set(SiteUpdates::checkedAtKey, now);
        ASSERT_TRUE(PendingAckStore::inFile(settings).put(
            {.alertId = "a-kept", .tenantId = "acme-ops", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}}));
        demo.hostedServer().on("POST", "/v1/alerts/a-kept/ack", standin::Reply::json(R"({"error":"busy"})", 503));
    }

    // "Sign out" pressed in the menu opened at the program's icon: from the menu's first control
    // back round past "Quit Brisalune", "Check for Updates…" and "Launch at login", once the menu
    // has the keyboard.
    void pressSignOut(const Process& app) {
        const QRect icon = iconOf(app, trayer->panel());
        ASSERT_FALSE(icon.isEmpty());
        ASSERT_TRUE(openMenu(icon));
        ASSERT_TRUE(until([] { return menuWindowIds().contains(output("xdotool", {"getwindowfocus"}).trimmed()); }));
        output("xdotool", {"key", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "space"});
    }

    static std::size_t asked(const standin::Server& server, const std::string& path) {
        const std::vector<standin::ReceivedRequest> requests = server.requests();
        return static_cast<std::size_t>(
            std::ranges::count_if(requests, [&](const auto& request) { return request.path == path; }));
    }
    // Ends within the quit's grace (3 s) as a quit does, its status saying which signal it took
    // (of two sent together, the kernel hands over the lower number first); the signals `apart`
    // from each other.
    static void endsAsAQuit(
        Process& app, const std::vector<int>& sent, std::chrono::milliseconds apart = std::chrono::milliseconds(0)) {
        for (std::size_t i = 0; i < sent.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(apart);
            ASSERT_EQ(::kill(static_cast<pid_t>(app.process().processId()), sent[i]), 0);
        }
        ASSERT_TRUE(app.process().waitForFinished(10000)) << "still running after SIG" << sigabbrev_np(sent.back());
        EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
        EXPECT_TRUE(std::ranges::count(sent, app.process().exitCode() - 128)) << app.process().exitCode();
    }

    testkit::TempDir dir;
    std::optional<Trayer> trayer;
    demo::DemoService demo{demo::loadFixture(demo::defaultFixturePath()), {0, 0, std::chrono::milliseconds(0)}};
    const std::filesystem::path settings = dir / "config" / "brisalune" / "defaults.json";
    StoredSession session;
};

// Signals sent to the program one after the other, as a desktop or a terminal sends them.
struct SignalsSent {
    const char* name;
    std::vector<int> numbers;
    std::chrono::milliseconds apart{0};
};

// A few seconds into a sign-out whose log-out the service keeps failing: the quit, within its
// grace, leaves no session in the keyring for the next start, however many signals come. Its clear
// takes a while: an unsent acknowledgement is to go, and another program holds the settings file
// for a second from the first signal on.
class QuitSignal : public QuitSignals, public ::testing::WithParamInterface<SignalsSent> {};

TEST_P(QuitSignal, DuringASignOutLeavesNoSessionForTheNextStart) {
    demo.hostedServer().on("POST", "/v1/logout", standin::Reply::json(R"({"error":"unavailable"})", 503));
    Process app = startApp(dir);
    ASSERT_TRUE(app.started());
    pressSignOut(app);
    ASSERT_TRUE(until([&] { return asked(demo.hostedServer(), "/v1/logout") >= 4 || !app.running(); }))
        << asked(demo.hostedServer(), "/v1/logout") << " log-out(s) asked";
    const testkit::HeldSettingsLock held(settings, std::chrono::seconds(1));
    endsAsAQuit(app, GetParam().numbers, GetParam().apart);
    KeychainSessionStore keychain{std::string(KeychainSessionStore::appService)};
    EXPECT_TRUE(keychain.load().is(SessionLoad::Case::absent)) << "the next start is signed in";
}

INSTANTIATE_TEST_SUITE_P(
    ,
    QuitSignal,
    ::testing::Values(
        SignalsSent{"SIGTERM", {SIGTERM}},
        SignalsSent{"SIGINT", {SIGINT}},
        SignalsSent{"SIGHUP", {SIGHUP}},
        SignalsSent{"SessionStopped", {SIGTERM, SIGHUP}},  // systemd ends a login session's unit
        // The kernel's hang-up and the shell's, tens of milliseconds apart.
        SignalsSent{"TerminalClosed", {SIGHUP, SIGHUP}, std::chrono::milliseconds(30)},
        SignalsSent{"CtrlCTwice", {SIGINT, SIGINT}, std::chrono::milliseconds(300)}),
    [](const ::testing::TestParamInfo<SignalsSent>& sent) { return std::string(sent.param.name); });

// SIGTERM while nothing runs keeps what a quit keeps: the session, and an acknowledgement still to
// be sent. A SIGHUP the program was started with ignored (nohup) stays ignored.
TEST_F(QuitSignals, WhileIdleKeepTheSessionAndWhatIsLeftToSend) {
    Process app = startApp(dir, SIGHUP);
    ASSERT_TRUE(app.started());
    ASSERT_TRUE(until([&] { return asked(demo.hostedServer(), "/v1/alerts/a-kept/ack") > 0 || !app.running(); }));

    ::kill(static_cast<pid_t>(app.process().processId()), SIGHUP);
    testkit::processEventsUntil([] { return false; }, std::chrono::seconds(2));
    ASSERT_TRUE(app.running()) << "a SIGHUP it was started with ignored ended it";
    endsAsAQuit(app, {SIGTERM});
    KeychainSessionStore keychain{std::string(KeychainSessionStore::appService)};
    EXPECT_TRUE(keychain.load().session());
    EXPECT_TRUE(PendingAckStore::inFile(settings).get("a-kept"));
    keychain.clear();
}

// A sign-out the program did not live to finish is finished by the next start before anything
// else of the session goes; a record of another session, or one that cannot be read, changes
// nothing but itself.
class UnfinishedSignOut : public QuitSignals, public ::testing::WithParamInterface<const char*> {
protected:
    // What the earlier run left, by name.
    void leave(std::string_view left) {
        if (left == "KilledSigningOut") {
            Process app = startApp(dir);
            ASSERT_TRUE(app.started());
            pressSignOut(app);
            ASSERT_TRUE(until([&] { return asked(demo.hostedServer(), "/v1/logout") > 0 || !app.running(); }));
            app.process().kill();
            ASSERT_TRUE(app.process().waitForFinished(10000));
        } else if (left == "KilledBeforeItsFirstCall") {
            platform::Defaults defaults(settings);
            SignOutRecord::write(defaults, session);
        } else if (left == "AnotherSessionsRecord") {
            StoredSession another = session;
            another.sessionToken = "signed-in-before";
            platform::Defaults defaults(settings);
            SignOutRecord::write(defaults, another);
        } else {
            platform::Defaults(settings).set(SignOutRecord::key, 42);
        }
    }
    // The token of the session the keyring holds; none when it holds none.
    static std::optional<std::string> heldToken() {
        const SessionLoad loaded = KeychainSessionStore(std::string(KeychainSessionStore::appService)).load();
        return loaded.session() ? std::optional(loaded.session()->sessionToken) : std::nullopt;
    }
    // A request that carries the session's token or its key.
    bool carriesTheSession(const standin::ReceivedRequest& request) const {
        const std::string authorization = request.header("Authorization").value_or("");
        return authorization == "Bearer " + session.sessionToken ||
               authorization == "Bearer " + session.tenantKeys.begin()->second.apiKey;
    }
};

TEST_P(UnfinishedSignOut, IsFinishedByTheNextStartOfItsSessionOnly) {
    const std::string left = GetParam();
    const bool finishes = left.starts_with("Killed");
    demo.hostedServer().on("POST", "/v1/logout", standin::Reply::json(R"({"error":"unavailable"})", 503));
    leave(left);
    ASSERT_EQ(heldToken(), session.sessionToken);
    const SignOutRecord::Found kept = SignOutRecord::find(platform::Defaults(settings), session);
    ASSERT_EQ(kept == SignOutRecord::Found::thisSession, finishes);

    demo.hostedServer().on("POST", "/v1/logout", standin::Reply{204, {}, ""});
    demo.hostedServer().clearRequests();
    const std::filesystem::path said = dir / "stderr.txt";
    Process app = startApp(dir, 0, QString::fromStdString(said.string()));
    ASSERT_TRUE(app.started());
    if (finishes) {
        // Its record goes once the keyring has let go of the session (the file is watched, not
        // the keyring, which the program is busy with).
        EXPECT_TRUE(until([&] {
            return SignOutRecord::find(platform::Defaults(settings), session) == SignOutRecord::Found::none ||
                   !app.running();
        }));
    } else {  // up and running: the kept acknowledgement is sent
        EXPECT_TRUE(until([&] { return asked(demo.hostedServer(), "/v1/alerts/a-kept/ack") > 0 || !app.running(); }));
    }
    endsAsAQuit(app, {SIGTERM});
    std::ifstream file(said);
    const std::string errors{std::istreambuf_iterator<char>(file), {}};
    SCOPED_TRACE("its stderr: " + errors);
    EXPECT_EQ(SignOutRecord::find(platform::Defaults(settings), session), SignOutRecord::Found::none);
    if (finishes) {
        EXPECT_GE(asked(demo.hostedServer(), "/v1/logout"), 1u);
        for (const standin::ReceivedRequest& request : demo.hostedServer().requests()) {
            if (!carriesTheSession(request)) continue;
            EXPECT_TRUE(
                request.path == "/v1/logout" || request.path.find("/keys/") != std::string::npos ||
                request.path == "/v1/projects")  // a key's revocation, and whether the key is dead
                << request.method << " " << request.path << " is not the sign-out's";
        }
        EXPECT_FALSE(heldToken()) << "still signed in";
        return;
    }
    EXPECT_EQ(asked(demo.hostedServer(), "/v1/logout"), 0u);
    EXPECT_GE(asked(demo.hostedServer(), "/v1/me"), 1u);
    EXPECT_EQ(heldToken(), session.sessionToken);
    EXPECT_TRUE(PendingAckStore::inFile(settings).get("a-kept"));
    EXPECT_EQ(errors.find("could not be read") != std::string::npos, left == "UnreadableRecord");
    KeychainSessionStore(std::string(KeychainSessionStore::appService)).clear();
}

INSTANTIATE_TEST_SUITE_P(
    ,
    UnfinishedSignOut,
    ::testing::Values("KilledSigningOut", "KilledBeforeItsFirstCall", "AnotherSessionsRecord", "UnreadableRecord"),
    [](const ::testing::TestParamInfo<const char*>& left) { return std::string(left.param); });

// This process's own tray icon and menu window in trayer's panel, over the demo service: the
// window's content grows and shrinks while it is open, and the window, as the X server has it,
// keeps hanging from the icon's lower edge inside the screen.
class TrayMenu : public testkit::UiTest {
protected:
    void SetUp() override {
        for (const char* tool : {"trayer", "xdotool"})
            ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty()) << tool << " is missing (scripts/setup-deps)";
    }

    template <class F>
    static bool until(F done) {
        return testkit::processEventsUntil(done, std::chrono::seconds(60));
    }
};

TEST_F(TrayMenu, TheOpenWindowStaysAtTheIconAndOnScreenAsItsContentChanges) {
    Trayer trayer;
    ASSERT_TRUE(trayer.started());
    await(model.ensureLaunched());
    MenuBarExtra scene(environment(), windows);
    scene.showInTray();
    QRect icon;
    ASSERT_TRUE(until([&] {
        icon = scene.trayIcon()->geometry();
        return !icon.isEmpty() && icon.intersects(trayer.panel());
    }));
    scene.openMenu();
    MenuWindow& menu = scene.menuWindow();
    ASSERT_TRUE(until([&] { return menu.isVisible(); }));
    const QRect available = menu.screen()->availableGeometry();
    const int edge = icon.bottom() + 1;

    // Where the X server has the window, once it has caught up with the content.
    const auto placed = [&](const char* step) {
        testkit::settleLayouts();
        QRect shown;
        EXPECT_TRUE(until([&] { return (shown = geometry(QString::number(menu.winId()))) == menu.geometry(); }))
            << step;
        return testkit::staysPlaced(menu, shown, available, MenuWindow::Side::below, edge) << " (" << step << ")";
    };
    EXPECT_TRUE(placed("signed out"));

    await(model.signIn(account().email, account().password));
    EXPECT_TRUE(placed("choosing a team"));
    await(model.selectTenant("acme-ops"));
    EXPECT_TRUE(placed("a team's alerts"));
    menu.content().notice().set("A notice line that wraps, long enough to take two lines or three in the menu.");
    EXPECT_TRUE(placed("a notice"));
    std::vector<QWidget*> rows = testkit::addRows(menu, available.height() / 40);
    EXPECT_TRUE(placed("taller than the screen"));
    EXPECT_TRUE(menu.scrollArea().verticalScrollBar()->isVisible());
    menu.scrollArea().verticalScrollBar()->setValue(menu.scrollArea().verticalScrollBar()->maximum());
    testkit::settleLayouts();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    save(grab(menu.geometry().united(trayer.panel()) & screen), "tray-menu-scrolled.png", 1);

    testkit::removeRows(rows);
    EXPECT_TRUE(placed("rows gone"));
    menu.content().notice().set(std::nullopt);
    EXPECT_TRUE(placed("the notice gone"));
    await(model.signOut());
    EXPECT_TRUE(placed("signed out again"));

    // The icon is not under the window: a click on it closes the window.
    output(
        "xdotool", {"mousemove", QString::number(icon.center().x()), QString::number(icon.center().y()), "click", "1"});
    EXPECT_TRUE(until([&] { return !menu.isVisible(); }));
}

}  // namespace
}  // namespace brisalune
