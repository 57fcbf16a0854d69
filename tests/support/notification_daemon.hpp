#pragma once

// python3-dbusmock's notification daemon on a D-Bus session bus of the test's own
// (support/session_bus.hpp), where only what the test starts answers. The daemon records every
// call it receives and emits the signals a test asks for. A missing dbus-daemon or
// python3-dbusmock fails the test. Also Debian's own notification-daemon, drawing its bubbles on an
// X server of the test's own (Xvfb), driven with xdotool.

#include <support/qt_application.hpp>
#include <support/session_bus.hpp>

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <QVariantList>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include <signal.h>
#include <sys/types.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace brisalune::testkit {

namespace detail {

[[noreturn]] inline void fail(const std::string& what, QProcess& process) {
    throw std::runtime_error(what + ": " + process.readAllStandardError().toStdString());
}

// Polls until `done` holds; false when `limit` passed first or the process ended.
template <class F>
bool waitUntil(F done, QProcess& process, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (process.state() == QProcess::NotRunning || std::chrono::steady_clock::now() > deadline) return false;
        QThread::msleep(20);
    }
    return true;
}

// A value of a D-Bus message as plain Qt values: variants unwrapped, string arrays as
// QStringList, dictionaries as QVariantMap.
inline QVariant plain(const QVariant& value) {
    if (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        return plain(value.value<QDBusVariant>().variant());
    if (value.userType() != qMetaTypeId<QDBusArgument>()) return value;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentType() == QDBusArgument::MapType) return qdbus_cast<QVariantMap>(argument);
    if (argument.currentSignature() == QStringLiteral("as")) return qdbus_cast<QStringList>(argument);
    return value;
}

}  // namespace detail

// A person reads a notification before pressing its button, and lets a moment pass between presses
// (the program hears each press as it comes).
inline void readBeforePressing() {
    const auto read = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    processEventsUntil([&] { return std::chrono::steady_clock::now() > read; });
}

// What an action key of the app carries after its identifier and blank, decoded.
inline QByteArray carriedByKey(const QString& key) {
    return QByteArray::fromBase64(key.section(QLatin1Char(' '), 1).toLatin1(), QByteArray::Base64UrlEncoding);
}

inline QDBusConnection PrivateBus::connection() const {
    const QString name = QStringLiteral("test-bus-") + QString::fromStdString(address_);
    if (!disconnect_) {
        coreApplication();
        if (!QDBusConnection::connectToBus(QString::fromStdString(address_), name).isConnected())
            throw std::runtime_error("could not connect to the private bus");
        disconnect_ = [name] { QDBusConnection::disconnectFromBus(name); };
    }
    return QDBusConnection(name);
}

class NotificationDaemon {
public:
    static constexpr const char* service = "org.freedesktop.Notifications";
    static constexpr const char* path = "/org/freedesktop/Notifications";

    // The template's own capabilities (body-markup among them) unless given, blank-separated.
    explicit NotificationDaemon(std::optional<QString> capabilities = std::nullopt) : capabilities_(capabilities) {
        start();
    }
    ~NotificationDaemon() { stop(); }
    NotificationDaemon(const NotificationDaemon&) = delete;
    NotificationDaemon& operator=(const NotificationDaemon&) = delete;

    QDBusConnection connection() const { return bus_.connection(); }
    QString address() const { return QString::fromStdString(bus_.address()); }

    // The arguments of every call of the method, oldest first.
    std::vector<QVariantList> calls(const QString& method) const {
        const QDBusMessage reply = mock(QStringLiteral("GetMethodCalls"), {method});
        std::vector<QVariantList> out;
        if (reply.type() != QDBusMessage::ReplyMessage) return out;
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            quint64 timestamp = 0;
            QVariantList arguments;
            list.beginStructure();
            list >> timestamp >> arguments;
            list.endStructure();
            for (QVariant& argument : arguments) argument = detail::plain(argument);
            out.push_back(arguments);
        }
        list.endArray();
        return out;
    }

    // The names of every method called on the daemon, oldest first.
    QStringList calledMethods() const {
        const QDBusMessage reply = mock(QStringLiteral("GetCalls"), {});
        QStringList out;
        if (reply.type() != QDBusMessage::ReplyMessage) return out;
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            quint64 timestamp = 0;
            QString method;
            QVariantList arguments;
            list.beginStructure();
            list >> timestamp >> method >> arguments;
            list.endStructure();
            out << method;
        }
        list.endArray();
        return out;
    }

    // D-Bus's own reply time.
    static constexpr std::chrono::milliseconds replyTime = std::chrono::seconds(25);

    // Emits a signal of the notification interface, e.g. ("ActionInvoked", "us", {id, key}). The
    // daemon answers once it has sent the signal: a huge one needs more than `replyTime` on a
    // busy machine.
    void emitSignal(
        const QString& name,
        const QString& signature,
        const QVariantList& arguments,
        std::chrono::milliseconds patience = replyTime) const {
        const QDBusMessage reply = mock(
            QStringLiteral("EmitSignal"),
            {QString::fromLatin1(service), name, signature, QVariant(arguments)},
            patience);
        if (reply.type() != QDBusMessage::ReplyMessage) throw std::runtime_error(reply.errorMessage().toStdString());
    }

    // The daemon held with SIGSTOP, as a desktop component that hangs: calls to it wait for an
    // answer. Until resumed, or stopped.
    void pause() { ::kill(static_cast<pid_t>(mock_.processId()), SIGSTOP); }
    void resume() { ::kill(static_cast<pid_t>(mock_.processId()), SIGCONT); }

    // The daemon goes away.
    void stop() {
        if (mock_.state() == QProcess::NotRunning) return;
        mock_.kill();
        mock_.waitForFinished();
    }

    // A stopped daemon comes back, as new, on the same bus.
    void start() {
        QStringList arguments{"-m", "dbusmock", "--template", "notification_daemon"};
        if (capabilities_) arguments << "-p" << QStringLiteral(R"({"capabilities": "%1"})").arg(*capabilities_);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address());
        mock_.setProcessEnvironment(environment);
        // It logs every call there: a pipe nobody reads would hold it up once full.
        mock_.setStandardOutputFile(QProcess::nullDevice());
        // Debian's python3-dbusmock belongs to the system's interpreter, whatever else is on PATH.
        mock_.start(QStringLiteral("/usr/bin/python3"), arguments);
        if (!mock_.waitForStarted()) detail::fail("python3 did not start", mock_);
        const auto registered = [&] {
            return connection().interface()->isServiceRegistered(QString::fromLatin1(service)).value();
        };
        if (!detail::waitUntil(registered, mock_)) detail::fail("the notification daemon did not come up", mock_);
    }

private:
    QDBusMessage mock(
        const QString& method, const QVariantList& arguments, std::chrono::milliseconds patience = replyTime) const {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QString::fromLatin1(service),
            QString::fromLatin1(path),
            QStringLiteral("org.freedesktop.DBus.Mock"),
            method);
        call.setArguments(arguments);
        return connection().call(call, QDBus::Block, static_cast<int>(patience.count()));
    }

    std::optional<QString> capabilities_;
    PrivateBus bus_;
    QProcess mock_;
};

// Debian's notification-daemon on a private bus, showing its bubbles on a private Xvfb. It shows
// one bubble at a time, 400 pixels wide, its buttons at the bottom right.
class BubbleDaemon {
public:
    static constexpr const char* program = "/usr/lib/notification-daemon/notification-daemon";

    BubbleDaemon() : BubbleDaemon(QString::fromLatin1(program), {}) {}
    // Another daemon that draws on X, started as `daemon` with `arguments`.
    BubbleDaemon(const QString& daemon, const QStringList& arguments) {
        xvfb_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        if (!xvfb_.waitForStarted()) detail::fail("Xvfb did not start", xvfb_);
        if (!detail::waitUntil([&] { return xvfb_.canReadLine() || xvfb_.waitForReadyRead(20); }, xvfb_))
            detail::fail("Xvfb gave no display", xvfb_);
        display_ = QStringLiteral(":") + QString::fromUtf8(xvfb_.readLine()).trimmed();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address());
        environment.insert(QStringLiteral("DISPLAY"), display_);
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));  // else a Wayland desktop would show it
        daemon_.setProcessEnvironment(environment);
        daemon_.start(daemon, arguments);
        if (!daemon_.waitForStarted()) detail::fail(daemon.toStdString() + " did not start", daemon_);
        const auto registered = [&] {
            return connection()
                .interface()
                ->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"))
                .value();
        };
        if (!detail::waitUntil(registered, daemon_)) detail::fail(daemon.toStdString() + " did not come up", daemon_);
    }
    ~BubbleDaemon() {
        for (QProcess* process : {&daemon_, &xvfb_}) {
            process->kill();
            process->waitForFinished();
        }
    }
    BubbleDaemon(const BubbleDaemon&) = delete;
    BubbleDaemon& operator=(const BubbleDaemon&) = delete;

    QDBusConnection connection() const { return bus_.connection(); }
    QString address() const { return QString::fromStdString(bus_.address()); }

    // The bubbles on screen.
    QStringList bubbles() const { return xdotool({"search", "--onlyvisible", "--name", "^Notification$"}); }

    // Clicks the bubble's rightmost button (a short title, as "Acknowledge"), then moves the
    // pointer off it: a bubble under the pointer waits.
    void clickButton(const QString& bubble) const {
        const QStringList geometry = xdotool({"getwindowgeometry", "--shell", bubble});
        int width = 0;
        int height = 0;
        for (const QString& line : geometry) {
            if (line.startsWith(QLatin1String("WIDTH="))) width = line.mid(6).toInt();
            if (line.startsWith(QLatin1String("HEIGHT="))) height = line.mid(7).toInt();
        }
        xdotool(
            {"mousemove", "--window", bubble, QString::number(width - 80), QString::number(height - 39), "click", "1"});
        xdotool({"mousemove", "0", "0"});
    }

private:
    QStringList xdotool(const QStringList& arguments) const {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display_);
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral("xdotool"), arguments);
        if (!tool.waitForFinished()) detail::fail("xdotool did not finish", tool);
        return QString::fromUtf8(tool.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    PrivateBus bus_;
    QProcess xvfb_;
    QString display_;
    QProcess daemon_;
};

// dunst on a private bus and display, with its configuration and menu in `dir`. Its buttons are
// reached only through its context menu (`dunstctl context`), whose dmenu here picks the first
// line naming Acknowledge.
class Dunst {
public:
    explicit Dunst(const std::filesystem::path& dir)
        : config_(configure(dir)), daemon_(QStringLiteral("dunst"), {"-config", QString::fromStdString(config_)}) {}

    QDBusConnection connection() const { return daemon_.connection(); }

    // How many notifications are on screen.
    int displayed() const { return dunstctl({"count", "displayed"}).toInt(); }

    // Once a notification shows, presses Acknowledge in the context menu.
    void pressAcknowledge() const {
        const auto shown = [&] { return displayed() > 0; };
        if (!processEventsUntil(shown)) throw std::runtime_error("dunst showed no notification");
        dunstctl({"context"});
    }

private:
    static std::string configure(const std::filesystem::path& dir) {
        const std::filesystem::path menu = dir / "menu";
        std::ofstream(menu) << "#!/bin/sh\ngrep Acknowledge | sed -n 1p\n";  // reads all it is given
        std::filesystem::permissions(menu, std::filesystem::perms::owner_all);
        const std::filesystem::path config = dir / "dunstrc";
        std::ofstream(config) << "[global]\ndmenu = " << menu.string() << "\n";
        return config.string();
    }

    QString dunstctl(const QStringList& arguments) const {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), daemon_.address());
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral("dunstctl"), arguments);
        if (!tool.waitForFinished()) detail::fail("dunstctl did not finish", tool);
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }

    std::string config_;
    BubbleDaemon daemon_;
};

}  // namespace brisalune::testkit
