#include <brisalune/app/ui/tray_watch.hpp>

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMetaObject>
#include <QStringList>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

namespace brisalune {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString hostRegistered = QStringLiteral("StatusNotifierHostRegistered");  // the watcher's signals
const QString hostUnregistered = QStringLiteral("StatusNotifierHostUnregistered");
const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
const QString nameOwnerChanged = QStringLiteral("NameOwnerChanged");
// A name that leaves the bus: its new owner (the signal's third argument) is empty.
const QStringList nameLeft{QString(), QString(), QStringLiteral("")};
constexpr int busPatience = 2000;  // ms the question of isTrayAvailable waits for its answer
constexpr int askPatience = 5000;  // ms a question in the background waits for its answer
// Questions without an answer asked again in a row; after them, one question waits as long as the
// watcher takes (D-Bus's "no timeout"), so that a watcher that wakes is heard without another event.
constexpr int unknownsAskedAgain = 12;
constexpr int noTimeout = std::numeric_limits<int>::max();

// Whether a host is registered with the watcher, as Qt asks it before it takes the watcher.
QDBusMessage hostQuestion() {
    QDBusMessage question = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    question << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asking must not start a watcher that the desktop did not start.
    question.setAutoStartService(false);
    return question;
}

// Whether the answer says a host is registered; nothing when it did not say. Only a watcher that
// is not on the bus (or a bus the app is not on) has no host for certain: a slow one, or one that
// answered with an error, may have one.
std::optional<bool> hostIn(const QDBusMessage& answer) {
    if (answer.type() == QDBusMessage::ReplyMessage)
        return !answer.arguments().isEmpty() && answer.arguments().front().value<QDBusVariant>().variant().toBool();
    const QString error = answer.errorName();
    if (error == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        error == QDBusError::errorString(QDBusError::ServiceUnknown) ||
        error == QDBusError::errorString(QDBusError::Disconnected))
        return false;
    return std::nullopt;
}

template <class T>
using XReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t internAtom(xcb_connection_t* connection, const QByteArray& name) {
    const XReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The first event code of XFixes once a version is agreed with the server; none without it. Only
// XFixes tells a client other than the owner that a selection changed hands, or ended with its
// owner's client.
std::optional<uint8_t> xfixesEvents(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!extension || !extension->present) return std::nullopt;
    std::free(xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 2, 0), nullptr));
    return extension->first_event;
}

}  // namespace

// The XEmbed tray of the display's screen: its selection's owner now, the MANAGER message by
// which a new owner announces itself (Qt has the root window's structure events sent to it), and
// every change of the owner: given up, handed over, its window or its client gone (a client that
// retains its resources leaves its window behind).
class TrayWatch::XEmbedTray final : public QAbstractNativeEventFilter {
public:
    static std::unique_ptr<XEmbedTray> ofThisDisplay(TrayWatch& owner) {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection()) return nullptr;
        xcb_connection_t* connection = x11->connection();
        char* host = nullptr;
        int display = 0;
        int screen = 0;
        xcb_parse_display(nullptr, &host, &display, &screen);
        std::free(host);
        return std::unique_ptr<XEmbedTray>(new XEmbedTray(
            owner,
            connection,
            internAtom(connection, "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen)),
            internAtom(connection, "MANAGER"),
            xfixesEvents(connection)));
    }

    ~XEmbedTray() override {
        awaitingManager_ = false;
        watched_ = XCB_WINDOW_NONE;
        follow();
    }

    xcb_window_t owner() const {
        const XReply<xcb_get_selection_owner_reply_t> reply(
            xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection_), nullptr),
            &std::free);
        return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    }

    bool isOwned() const { return owner() != XCB_WINDOW_NONE; }

    void listenForManager(bool on) {
        awaitingManager_ = on;
        follow();
    }

    // Watches the present owner for its end; false when the selection has no owner.
    bool watchOwner() {
        watched_ = owner();
        follow();
        selectOwnerChanges(watched_ != XCB_WINDOW_NONE);
        if (watched_ == XCB_WINDOW_NONE) return false;
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, watched_, XCB_CW_EVENT_MASK, &mask);
        // An owner that ended before the mask was set tells nothing: look once more after it.
        if (owner() != watched_) QMetaObject::invokeMethod(&owner_, &TrayWatch::lookAtLoss, Qt::QueuedConnection);
        return true;
    }

    void unwatchOwner() {
        if (watched_ != XCB_WINDOW_NONE) selectOwnerChanges(false);
        watched_ = XCB_WINDOW_NONE;
        follow();
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CLIENT_MESSAGE && awaitingManager_) {
            const auto* client = static_cast<const xcb_client_message_event_t*>(message);
            // Any client may send this message: the selection's owner is asked after it, once Qt
            // has seen the message too (its tray looks for the new owner then).
            if (client->type == manager_ && client->format == 32 && client->data.data32[1] == selection_)
                QMetaObject::invokeMethod(&owner_, &TrayWatch::lookAtXEmbedTray, Qt::QueuedConnection);
        } else if (type == XCB_DESTROY_NOTIFY && watched_ != XCB_WINDOW_NONE) {
            if (static_cast<const xcb_destroy_notify_event_t*>(message)->window == watched_)
                QMetaObject::invokeMethod(&owner_, &TrayWatch::lookAtLoss, Qt::QueuedConnection);
        } else if (
            xfixesEvents_ && type == *xfixesEvents_ + XCB_XFIXES_SELECTION_NOTIFY && watched_ != XCB_WINDOW_NONE) {
            if (static_cast<const xcb_xfixes_selection_notify_event_t*>(message)->selection == selection_)
                QMetaObject::invokeMethod(&owner_, &TrayWatch::lookAtLoss, Qt::QueuedConnection);
        }
        return false;
    }

private:
    XEmbedTray(
        TrayWatch& owner,
        xcb_connection_t* connection,
        xcb_atom_t selection,
        xcb_atom_t manager,
        std::optional<uint8_t> xfixesEvents)
        : owner_(owner)
        , connection_(connection)
        , selection_(selection)
        , manager_(manager)
        , xfixesEvents_(xfixesEvents) {}

    void selectOwnerChanges(bool on) {
        if (!xfixesEvents_) return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        // The selection's owner set, its window destroyed, its client gone.
        constexpr uint32_t everyOwnerChange = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE;
        xcb_xfixes_select_selection_input(connection_, root, selection_, on ? everyOwnerChange : 0);
        xcb_flush(connection_);
    }

    // Filters the display's events while something is awaited from them.
    void follow() {
        const bool listen = awaitingManager_ || watched_ != XCB_WINDOW_NONE;
        if (listen == listening_) return;
        QCoreApplication* application = QCoreApplication::instance();
        if (!application) return;
        listening_ = listen;
        if (listen) {
            application->installNativeEventFilter(this);
        } else {
            application->removeNativeEventFilter(this);
        }
    }

    TrayWatch& owner_;
    xcb_connection_t* connection_;
    xcb_atom_t selection_;
    xcb_atom_t manager_;
    std::optional<uint8_t> xfixesEvents_;
    bool awaitingManager_ = false;
    xcb_window_t watched_ = XCB_WINDOW_NONE;
    bool listening_ = false;
};

TrayWatch::TrayWatch(QObject* parent) : QObject(parent), xembed_(XEmbedTray::ofThisDisplay(*this)) {
    grace_.setSingleShot(true);
    grace_.setInterval(comebackGrace);
    connect(&grace_, &QTimer::timeout, this, &TrayWatch::graceEnded);
}

TrayWatch::~TrayWatch() {
    stop();
    stopWatchingForLoss();
}

bool TrayWatch::isTrayAvailable() {
    if (xembed_ && xembed_->isOwned() && statusNotifierTaken_ != true) return true;
    if (statusNotifierTaken_ == false) return false;
    const std::optional<bool> host =
        hostIn(QDBusConnection::sessionBus().call(hostQuestion(), QDBus::Block, busPatience));
    if (!host) lookAtStatusNotifierWatcher();
    return host.value_or(false);
}

void TrayWatch::watch() {
    if (watching_) return;
    watching_ = true;
    if (xembed_) xembed_->listenForManager(true);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    busWatch_ = new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(busWatch_, &QDBusServiceWatcher::serviceRegistered, this, &TrayWatch::lookAtStatusNotifierWatcher);
    // A watcher that came up before its host tells when the host registers; the watcher is asked.
    bus.connect(watcherService, watcherPath, watcherService, hostRegistered, this, SLOT(lookAtStatusNotifierWatcher()));
    // One that told before it could be heard (it was slow to answer) tells nothing more: it is
    // asked again whenever a name comes or goes, as its hosts do.
    if (statusNotifierTaken_ != false)
        bus.connect(busService, busPath, busService, nameOwnerChanged, this, SLOT(lookAtStatusNotifierWatcher()));
}

void TrayWatch::lookOnce() {
    lookAtXEmbedTray();
    lookAtStatusNotifierWatcher();
}

void TrayWatch::stop() {
    if (!watching_) return;
    watching_ = false;
    if (xembed_) xembed_->listenForManager(false);
    if (!busWatch_) return;
    busWatch_->deleteLater();
    busWatch_ = nullptr;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(
        watcherService, watcherPath, watcherService, hostRegistered, this, SLOT(lookAtStatusNotifierWatcher()));
    bus.disconnect(busService, busPath, busService, nameOwnerChanged, this, SLOT(lookAtStatusNotifierWatcher()));
}

void TrayWatch::watchForLoss() {
    if (losing_ || (statusNotifierTaken_ == false && !xembed_)) return;
    losing_ = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (statusNotifierTaken_ != false) {
        // A watcher learns that a host has gone only by the host's name leaving the bus, and some
        // say nothing then: the watcher is asked after any name leaves.
        bus.connect(busService, busPath, busService, nameOwnerChanged, nameLeft, QString(), this, SLOT(lookAtLoss()));
    }
    if (statusNotifierTaken_ == true) {
        // Qt keeps to StatusNotifierItems once it chose them: the tray ends with its watcher, or
        // with its host while the watcher stays.
        lossWatch_ = new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForUnregistration, this);
        connect(lossWatch_, &QDBusServiceWatcher::serviceUnregistered, this, &TrayWatch::lost);
        bus.connect(watcherService, watcherPath, watcherService, hostUnregistered, this, SLOT(lookAtLoss()));
    }
    // A tray that went before the watch began tells nothing: it is looked at once now.
    lookAtLoss();
}

void TrayWatch::stopWatchingForLoss() {
    const bool askedOnNames = losing_ && statusNotifierTaken_ != false;
    losing_ = false;
    judging_ = false;
    grace_.stop();
    if (xembed_) xembed_->unwatchOwner();
    if (askedOnNames)
        QDBusConnection::sessionBus().disconnect(
            busService, busPath, busService, nameOwnerChanged, nameLeft, QString(), this, SLOT(lookAtLoss()));
    if (!lossWatch_) return;
    lossWatch_->deleteLater();
    lossWatch_ = nullptr;
    QDBusConnection::sessionBus().disconnect(
        watcherService, watcherPath, watcherService, hostUnregistered, this, SLOT(lookAtLoss()));
}

void TrayWatch::ask() {
    if (asking_) {
        askAgain_ = true;
        return;
    }
    // The question with no timeout never holds up the next: a watcher may never answer it.
    const bool patient = !waiting_ && unknownsInARow_ > unknownsAskedAgain;
    (patient ? waiting_ : asking_) = true;
    overtookWaiting_ = !patient;
    auto* answer = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(hostQuestion(), patient ? noTimeout : askPatience), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this, patient](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        (patient ? waiting_ : asking_) = false;
        heard(hostIn(call->reply()), patient);
    });
}

void TrayWatch::heard(std::optional<bool> registered, bool patient) {
    // An answer to a question asked before something happened, or before a later question; it still
    // tells, but does not judge.
    const bool overtaken = patient ? overtookWaiting_ : std::exchange(askAgain_, false);
    unknownsInARow_ = registered ? 0 : unknownsInARow_ + 1;
    // A question that waited for its answer and got none: the watcher left the bus (the bus answers
    // for it then) or answers with errors. The next event on the bus asks. So does one without an
    // answer past the re-asks while that question is still out, else errors would ask without end.
    const bool patientOut = waiting_ && unknownsInARow_ > unknownsAskedAgain;
    if (!patient && (overtaken || (!registered && !patientOut))) ask();
    if (!registered) {
        // A watcher still silent at the end of the grace has not said its host went: the icon stays.
        if (judging_ && !asking_) {
            judging_ = false;
            watchForLoss();
        }
        return;
    }
    if (watching_) {
        if (*registered && statusNotifierTaken_ != false) cameUp();
    } else if (losing_ && !statusNotifierTaken_) {
        // Qt asked the watcher the same just before, as it took a kind of tray for the icon.
        stopWatchingForLoss();
        statusNotifierTaken_ = *registered;
        watchForLoss();
    } else if (losing_) {
        if (!*registered && statusNotifierTaken_ == true) lost();
    } else if (judging_ && !overtaken) {
        // Only an answer to a question asked after the grace ended judges.
        judging_ = false;
        if (*registered) {
            watchForLoss();
        } else {
            Q_EMIT trayWentAway();
        }
    }
}

void TrayWatch::lookAtStatusNotifierWatcher() {
    if (watching_ && statusNotifierTaken_ != false) ask();
}

void TrayWatch::lookAtXEmbedTray() {
    if (statusNotifierTaken_ != true && xembed_ && xembed_->isOwned()) cameUp();
}

void TrayWatch::lookAtLoss() {
    if (!losing_) return;
    // The watcher is asked whether its host is still there, or, before Qt's choice is known,
    // which kind of tray Qt took.
    if (statusNotifierTaken_ != false) {
        ask();
        return;
    }
    // A tray that another took over from (a restarted panel) is still a tray: Qt moves the icon.
    if (xembed_ && xembed_->watchOwner()) return;
    lost();
}

void TrayWatch::cameUp() {
    if (!watching_) return;
    stop();
    Q_EMIT trayCameUp();
}

void TrayWatch::lost() {
    if (!losing_) return;
    stopWatchingForLoss();
    // A panel that restarts leaves no tray for a moment; one back by the end of the grace keeps
    // the icon (Qt moves it there).
    grace_.start();
}

void TrayWatch::graceEnded() {
    if (statusNotifierTaken_ != false) {
        judging_ = true;
        ask();
        return;
    }
    if (xembed_ && xembed_->isOwned()) {
        watchForLoss();
        return;
    }
    Q_EMIT trayWentAway();
}

}  // namespace brisalune
