// brisalune-demo-notifications: the desktop's notification service on the demo's private D-Bus
// session. scripts/run starts the demo app on a bus of its own, so that its keychain is a private
// one; this program owns org.freedesktop.Notifications there and passes every call on to the
// desktop's notification service (on the bus named by BRISALUNE_DESKTOP_BUS), and the service's
// signals back, so the demo's notifications and their buttons still show on the desktop. It owns
// the name only while the desktop has such a service (running, or one its bus starts when asked),
// and takes it anew when the desktop's changes hands: the app sees the desktop's service come, go
// and change as it would on the desktop's own bus.
//
//     BRISALUNE_DESKTOP_BUS=<address> brisalune-demo-notifications
//
// Runs until it is stopped.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QVariantMap>

#include <cstdio>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

// A hints map ("a{sv}") arrives undecoded; decoded, it can be sent again. Other arguments are
// plain values already.
QVariant passable(const QVariant& argument) {
    if (argument.metaType() != QMetaType::fromType<QDBusArgument>()) return argument;
    const auto value = argument.value<QDBusArgument>();
    if (value.currentSignature() != QLatin1String("a{sv}")) return argument;
    QVariantMap hints = qdbus_cast<QVariantMap>(value);
    // Nested structures (an image's pixels) are left out rather than sent garbled.
    for (auto it = hints.begin(); it != hints.end();) {
        it = it->metaType() == QMetaType::fromType<QDBusArgument>() ? hints.erase(it) : std::next(it);
    }
    return hints;
}

class Forwarder final : public QDBusVirtualObject {
public:
    explicit Forwarder(QDBusConnection desktop) : desktop_(std::move(desktop)) {}

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.Notifications\">"
            "<method name=\"GetCapabilities\"><arg direction=\"out\" type=\"as\"/></method>"
            "<method name=\"Notify\"><arg type=\"s\" direction=\"in\"/><arg type=\"u\" direction=\"in\"/>"
            "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"as\" direction=\"in\"/><arg type=\"a{sv}\" direction=\"in\"/>"
            "<arg type=\"i\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/></method>"
            "<method name=\"CloseNotification\"><arg type=\"u\" direction=\"in\"/></method>"
            "<method name=\"GetServerInformation\"><arg type=\"s\" direction=\"out\"/>"
            "<arg type=\"s\" direction=\"out\"/><arg type=\"s\" direction=\"out\"/>"
            "<arg type=\"s\" direction=\"out\"/></method>"
            "<signal name=\"NotificationClosed\"><arg type=\"u\"/><arg type=\"u\"/></signal>"
            "<signal name=\"ActionInvoked\"><arg type=\"u\"/><arg type=\"s\"/></signal>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != interface) return false;
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, message.member());
        QVariantList arguments;
        for (const QVariant& argument : message.arguments()) arguments << passable(argument);
        call.setArguments(arguments);
        const QDBusMessage reply = desktop_.call(call, QDBus::Block, 25000);
        if (message.isReplyRequired()) {
            connection.send(
                reply.type() == QDBusMessage::ReplyMessage
                    ? message.createReply(reply.arguments())
                    : message.createErrorReply(reply.errorName(), reply.errorMessage()));
        }
        return true;
    }

private:
    QDBusConnection desktop_;
};

// Passes the desktop service's signals on to the private bus, from the name owned there.
class SignalRelay final : public QObject {
    Q_OBJECT
public:
    explicit SignalRelay(QDBusConnection own) : own_(std::move(own)) {}

public Q_SLOTS:
    void relay(const QDBusMessage& signal) {
        QDBusMessage copy = QDBusMessage::createSignal(path, interface, signal.member());
        copy.setArguments(signal.arguments());
        own_.send(copy);
    }

private:
    QDBusConnection own_;
};

// Holds the name on the demo's bus while the desktop's service is there.
class NameMirror final : public QObject {
public:
    NameMirror(QDBusConnection desktop, QDBusConnection own)
        : desktop_(std::move(desktop))
        , own_(std::move(own))
        , watcher_(service, desktop_, QDBusServiceWatcher::WatchForOwnerChange) {
        connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { follow(); });
    }

    // False when the name could not be taken although the desktop has the service.
    bool follow() {
        // Given up first, so that the app hears of every change, a new owner included.
        own_.unregisterService(service);
        return !desktopHasService() || own_.registerService(service);
    }

private:
    bool desktopHasService() const {
        QDBusConnectionInterface* bus = desktop_.interface();
        return bus->isServiceRegistered(service).value() || bus->activatableServiceNames().value().contains(service);
    }

    QDBusConnection desktop_;
    QDBusConnection own_;
    QDBusServiceWatcher watcher_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QString desktopAddress = qEnvironmentVariable("BRISALUNE_DESKTOP_BUS");
    QDBusConnection own = QDBusConnection::sessionBus();
    QDBusConnection desktop = QDBusConnection::connectToBus(desktopAddress, QStringLiteral("desktop"));
    if (desktopAddress.isEmpty() || !desktop.isConnected() || !own.isConnected()) {
        std::fprintf(
            stderr, "brisalune-demo-notifications: no desktop bus (BRISALUNE_DESKTOP_BUS) or no session bus\n");
        return 1;
    }
    Forwarder forwarder(desktop);
    SignalRelay relay(own);
    for (const char* name : {"ActionInvoked", "NotificationClosed", "ActivationToken"}) {
        desktop.connect(service, path, interface, QString::fromLatin1(name), &relay, SLOT(relay(QDBusMessage)));
    }
    NameMirror mirror(desktop, own);
    if (!own.registerVirtualObject(path, &forwarder) || !mirror.follow()) {
        std::fprintf(stderr, "brisalune-demo-notifications: cannot own %s\n", qPrintable(service));
        return 1;
    }
    return QCoreApplication::exec();
}

#include "notification_bridge.moc"
