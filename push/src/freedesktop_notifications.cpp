#include <brisalune/push/freedesktop_notifications.hpp>

#include <brisalune/platform/json.hpp>
#include <brisalune/platform/text.hpp>

#include <QByteArray>
#include <QCoroDBus>
#include <QDBusMessage>
#include <QPointer>
#include <QVariantMap>

#include <dlfcn.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>

namespace brisalune {
namespace {

const QString serviceName = QString::fromLatin1(FreedesktopNotificationCenter::service);
const QString path = QString::fromLatin1(FreedesktopNotificationCenter::objectPath);
const QString interfaceName = serviceName;

QDBusMessage methodCall(const char* method) {
    return QDBusMessage::createMethodCall(serviceName, path, interfaceName, QString::fromLatin1(method));
}

const QString markupCapability = QStringLiteral("body-markup");

// libdbus stops reading a connection while the messages it has read and that still live pass
// 63 MiB, and reads again once they are freed. Qt 6.4 frees a signal's message on its receiver's
// thread, and cannot switch the reading back on from there: one signal that large (any program's
// notification may carry an action key of any size, and some services tell every program of its
// press) left the connection deaf for good. So libdbus is told never to stop; what the bus may
// queue for a connection stays bounded by the bus.
void keepReading(const QDBusConnection& connection) {
    void* const symbol = ::dlsym(RTLD_DEFAULT, "dbus_connection_set_max_received_size");
    if (!symbol || !connection.internalPointer()) return;
    const auto setMaxReceivedSize = std::bit_cast<void (*)(void*, long)>(symbol);
    setMaxReceivedSize(connection.internalPointer(), std::numeric_limits<long>::max());
}

// The service is there but gave no answer in time: it hangs.
bool unanswered(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ErrorMessage &&
           (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout"));
}

// An action key is the action's identifier, then a space and what the button acts on: the JSON
// array of the request's user info and its title as shown, base64url-encoded. Daemons' menus break
// on marks a title may hold (dunst's on "[" and "]"); base64url is letters, digits, "-" and "_".
// So a button pressed on a notification this run no longer remembers still tells what it acts on,
// and names it. What is too large to carry is left out, the title first, so that no key of ours
// is longer than its identifier, a blank and `maxCarriedBytes` (keys of the earlier forms too).
constexpr std::size_t maxCarriedBytes = 2048;
constexpr auto base64url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

std::string carried(const json::Object& userInfo, const std::string& title) {
    if (userInfo.empty()) return {};
    try {
        for (const std::string& named : {title, std::string()}) {
            const QByteArray text =
                QByteArray::fromStdString(json::write(json::Array{userInfo, named})).toBase64(base64url);
            if (static_cast<std::size_t>(text.size()) <= maxCarriedBytes) return " " + text.toStdString();
        }
    } catch (const std::exception&) {
    }
    return {};
}

struct ActionKey {
    std::string identifier;
    std::optional<json::Object> userInfo;  // none when the key carries none, or nothing readable
    std::string title;
};

ActionKey readActionKey(const QString& key) {
    const std::string text = key.toStdString();
    const auto space = text.find(' ');
    if (space == std::string::npos) return {text, std::nullopt, {}};
    ActionKey out{text.substr(0, space), std::nullopt, {}};
    std::string carried = text.substr(space + 1);
    // Keys of earlier versions carried the user info, or the array, as plain JSON.
    if (!carried.starts_with('{') && !carried.starts_with('[')) {
        const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
            QByteArray::fromStdString(carried), base64url | QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) return out;
        carried = decoded.decoded.toStdString();
    }
    try {
        json::Value info = json::parse(carried);
        if (const json::Array* both = info.get<json::Array>(); both && both->size() == 2) {
            if (const std::string* title = (*both)[1].get<std::string>()) out.title = *title;
            info = json::Value((*both)[0]);
        }
        if (json::Object* object = info.get<json::Object>()) out.userInfo = std::move(*object);
    } catch (const std::exception&) {
    }
    if (!out.userInfo) out.title.clear();
    return out;
}

}  // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(
    QDBusConnection connection, std::chrono::milliseconds replyLimit, QObject* parent)
    : PushNotificationCenter(parent)
    , connection_(std::move(connection))
    , replyLimit_(replyLimit)
    , watcher_(serviceName, connection_, QDBusServiceWatcher::WatchForOwnerChange) {
    keepReading(connection_);
    connection_.connect(
        serviceName, path, interfaceName, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    connection_.connect(
        serviceName,
        path,
        interfaceName,
        QStringLiteral("NotificationClosed"),
        this,
        SLOT(onNotificationClosed(uint, uint)));
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, &FreedesktopNotificationCenter::onOwnerChanged);
}

QString FreedesktopNotificationCenter::busText(std::string_view text) {
    QString out = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    out.remove(QChar(u'\0'));
    return out;
}

namespace {

// Control characters (and the line and paragraph separators) as spaces, but those `kept`.
QString spacedControls(QString text, std::u16string_view kept) {
    for (QChar& c : text) {
        const QChar::Category category = c.category();
        const bool control = category == QChar::Other_Control || category == QChar::Separator_Line ||
                             category == QChar::Separator_Paragraph;
        if (control && kept.find(c.unicode()) == std::u16string_view::npos) c = QLatin1Char(' ');
    }
    return text;
}

}  // namespace

QString FreedesktopNotificationCenter::summaryText(std::string_view title) {
    return spacedControls(busText(title), {});
}

QString FreedesktopNotificationCenter::bodyText(std::string_view body, bool markup) {
    QString text = spacedControls(busText(body), u"\n\t");
    return markup ? text.toHtmlEscaped() : text;
}

QCoro::Task<QDBusMessage> FreedesktopNotificationCenter::ask(QDBusMessage call) {
    co_return co_await connection_.asyncCall(call, static_cast<int>(replyLimit_.count()));
}

QCoro::Task<std::optional<QStringList>> FreedesktopNotificationCenter::capabilities() {
    // Copies: co_return moves from a member, which would empty what is kept.
    if (capabilities_) co_return std::optional<QStringList>(capabilities_);
    const QDBusMessage call = methodCall("GetCapabilities");
    const QDBusMessage reply = co_await ask(call);
    if (unanswered(reply)) co_return QStringList{markupCapability};  // asked again next time
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) co_return std::nullopt;
    capabilities_ = reply.arguments().constFirst().toStringList();
    co_return std::optional<QStringList>(capabilities_);
}

QCoro::Task<bool> FreedesktopNotificationCenter::requestAuthorization(AuthorizationOptions) {
    co_return (co_await capabilities()).has_value();
}

QCoro::Task<NotificationSettings> FreedesktopNotificationCenter::settings() {
    const bool answers = (co_await capabilities()).has_value();
    co_return NotificationSettings{
        answers ? AuthorizationStatus::authorized : AuthorizationStatus::denied, NotificationSetting::notSupported};
}

void FreedesktopNotificationCenter::setCategories(std::vector<NotificationCategory> categories) {
    categories_ = std::move(categories);
}

QStringList FreedesktopNotificationCenter::actions(const NotificationRequest& request) const {
    QStringList out{QString::fromLatin1(defaultActionIdentifier), QString::fromLatin1(defaultActionTitle)};
    const auto category = std::ranges::find(categories_, request.categoryIdentifier, &NotificationCategory::identifier);
    if (category == categories_.end()) return out;
    const std::string info = carried(request.userInfo, request.title);
    for (const NotificationAction& action : category->actions)
        out << busText(action.identifier + info) << busText(action.title);
    return out;
}

QCoro::Task<> FreedesktopNotificationCenter::add(NotificationRequest request) {
    const std::optional<QStringList> capabilities = co_await this->capabilities();
    if (!capabilities) co_return;
    const auto showing = std::ranges::find(
        shown_, request.identifier, [](const Shown& s) -> const std::string& { return s.request.identifier; });
    const uint replaces = showing == shown_.end() ? 0 : showing->id;

    QDBusMessage call = methodCall("Notify");
    // Whatever a server put in them, a notification stays a few readable lines.
    // Kept as shown: a server's megabyte is not held for as long as the notification is.
    request.title = platform::shortened(request.title, maxTitleBytes);
    request.body = platform::shortened(request.body, maxBodyBytes);
    const QStringList buttons = actions(request);
    // A service that moves notifications to a history after a while brings them back without
    // their buttons: one with buttons stays until the person acts on it. Not "resident": Debian's
    // notification-daemon then keeps the bubble on screen after the button and after it is closed.
    const bool withButtons = buttons.size() > 2;
    call << busText(applicationName) << replaces << QString() << summaryText(request.title)
         << bodyText(request.body, capabilities->contains(markupCapability)) << buttons << QVariantMap()
         << qint32(withButtons ? neverExpires : serviceDefaultExpiry);
    // A service that hangs shows it once it goes on, under an id this run never learns. A press's
    // showing again is awaited by nobody: this centre may be gone by the answer.
    const QPointer<FreedesktopNotificationCenter> alive(this);
    const QDBusMessage reply = co_await ask(call);
    if (!alive || reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) co_return;
    const uint id = reply.arguments().constFirst().toUInt();

    // Whatever shows under this identifier or id now is this request; another notification that
    // got in meanwhile under the same identifier is withdrawn.
    std::vector<uint> stale;
    std::erase_if(shown_, [&](const Shown& s) {
        if (s.id != id && s.request.identifier == request.identifier) stale.push_back(s.id);
        return s.id == id || s.request.identifier == request.identifier;
    });
    shown_.push_back({id, std::move(request), std::chrono::steady_clock::now()});
    if (withButtons)
        withButtons_.insert(id);
    else
        withButtons_.erase(id);
    if (shown_.size() > maxRemembered)
        shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(shown_.size() - maxRemembered));
    for (const uint old : stale) co_await close(old);
}

std::vector<NotificationRequest> FreedesktopNotificationCenter::delivered() const {
    std::vector<NotificationRequest> out;
    std::ranges::transform(shown_, std::back_inserter(out), &Shown::request);
    return out;
}

QCoro::Task<> FreedesktopNotificationCenter::removeDelivered(std::string categoryIdentifier) {
    std::vector<std::string> identifiers;
    for (const Shown& s : shown_)
        if (s.request.categoryIdentifier == categoryIdentifier) identifiers.push_back(s.request.identifier);
    co_await removeDeliveredNotifications(std::move(identifiers));
}

QCoro::Task<> FreedesktopNotificationCenter::removeDeliveredNotifications(std::vector<std::string> identifiers) {
    std::vector<uint> ids;
    std::erase_if(shown_, [&](const Shown& s) {
        const bool listed = std::ranges::find(identifiers, s.request.identifier) != identifiers.end();
        if (listed) ids.push_back(s.id);
        return listed;
    });
    for (const uint id : ids) co_await close(id);
}

QCoro::Task<> FreedesktopNotificationCenter::close(uint id) {
    withButtons_.erase(id);
    QDBusMessage call = methodCall("CloseNotification");
    call << id;
    co_await ask(call);  // a service that is gone has closed it already
}

void FreedesktopNotificationCenter::closeNow(uint id) {
    withButtons_.erase(id);
    QDBusMessage call = methodCall("CloseNotification");
    call << id;
    connection_.send(call);
}

std::size_t FreedesktopNotificationCenter::longestKey() const {
    std::size_t identifier = defaultActionIdentifier.size();
    for (const NotificationCategory& category : categories_)
        for (const NotificationAction& action : category.actions)
            identifier = std::max(identifier, action.identifier.size());
    return identifier + 1 + maxCarriedBytes;
}

void FreedesktopNotificationCenter::onActionInvoked(uint id, const QString& actionKey) {
    // Longer than any key of ours (in UTF-16 units, never more than its UTF-8 bytes): another
    // program's, or a service's garbage, not worth reading.
    if (static_cast<std::size_t>(actionKey.size()) > longestKey()) return;
    ActionKey key = readActionKey(actionKey);
    const auto shown = std::ranges::find(shown_, id, &Shown::id);
    // Not shown by this run: a button of ours carries what it acts on; anything else is another
    // program's notification.
    const auto category = std::ranges::find_if(categories_, [&](const NotificationCategory& c) {
        return std::ranges::find(c.actions, key.identifier, &NotificationAction::identifier) != c.actions.end();
    });
    const bool ours = shown != shown_.end() || (key.userInfo && category != categories_.end());
    if (!ours) return;
    // A press hard on the heels of the previous one, or of its own bubble showing, is the rest of a
    // double click landing on the next bubble, not a choice made on what it says: it does nothing,
    // and the bubble, which the service may have closed on the press, shows again. One of an
    // earlier run shows again in its place from what its key carries.
    const auto now = std::chrono::steady_clock::now();
    const bool hasty = (lastPress_ && now - *lastPress_ < readingTime) ||
                       (shown != shown_.end() && now - shown->shownAt < readingTime);
    lastPress_ = now;
    if (hasty) {
        if (shown != shown_.end()) {
            add(shown->request);
        } else {
            NotificationRequest request{
                .identifier = "earlier-run." + std::to_string(id),
                .title = std::move(key.title),
                .body = {},
                .categoryIdentifier = category->identifier,
                .userInfo = std::move(*key.userInfo)};
            shown_.push_back({id, request, now});  // what `add` replaces
            withButtons_.insert(id);
            add(std::move(request));
        }
        return;
    }
    if (shown != shown_.end()) {
        const NotificationResponse response{std::move(key.identifier), shown->request};
        // A service may keep a notification that never expires after its button; acted on, it goes.
        if (withButtons_.contains(id)) {
            shown_.erase(shown);
            closeNow(id);
        }
        Q_EMIT responseReceived(response);
        return;
    }
    closeNow(id);  // a notification with our buttons never expires
    NotificationRequest request;
    request.title = std::move(key.title);
    request.userInfo = std::move(*key.userInfo);
    Q_EMIT responseReceived(NotificationResponse{std::move(key.identifier), std::move(request)});
}

void FreedesktopNotificationCenter::withdrawButtonsAtQuit(std::chrono::milliseconds limit) {
    if (withButtons_.empty()) return;
    const std::set<uint> ids = std::exchange(withButtons_, {});
    std::erase_if(shown_, [&](const Shown& s) { return ids.contains(s.id); });
    for (const uint id : ids) closeNow(id);
    // The bus takes a connection's messages in order: once it answers a call of its own sent after
    // them, it holds every close for the service, which gets them however long it hangs.
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"),
        QStringLiteral("Ping"));
    connection_.call(ping, QDBus::Block, static_cast<int>(limit.count()));
}

void FreedesktopNotificationCenter::onNotificationClosed(uint id, uint) {
    std::erase_if(shown_, [&](const Shown& s) { return s.id == id; });
    withButtons_.erase(id);
}

void FreedesktopNotificationCenter::onOwnerChanged(const QString&, const QString& oldOwner, const QString&) {
    // A service that went away took its notifications and its capabilities with it.
    if (oldOwner.isEmpty()) return;
    capabilities_.reset();
    shown_.clear();
    withButtons_.clear();
}

}  // namespace brisalune
