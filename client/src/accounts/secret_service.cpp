#include <brisalune/client/accounts/secret_service.hpp>

// For the object-path calls: making a collection without libsecret's proxy of it.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace brisalune {

namespace {

struct Unref {
    void operator()(SecretService* p) const noexcept { g_object_unref(p); }
    void operator()(GHashTable* p) const noexcept { g_hash_table_unref(p); }
    void operator()(SecretValue* p) const noexcept { secret_value_unref(p); }
    void operator()(GError* p) const noexcept { g_error_free(p); }
    void operator()(GList* p) const noexcept { g_list_free_full(p, g_object_unref); }
    void operator()(GDBusProxy* p) const noexcept { g_object_unref(p); }
    void operator()(gchar* p) const noexcept { g_free(p); }
    void operator()(GDBusConnection* p) const noexcept { g_object_unref(p); }
    void operator()(GVariant* p) const noexcept { g_variant_unref(p); }
    void operator()(GCancellable* p) const noexcept { g_object_unref(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

// Items are matched by the two attributes alone, whatever schema name wrote them.
const SecretSchema* sessionSchema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "app.brisalune.desktop.Item";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// Error texts are dropped: only the status travels on, and the person reads words made from it.
std::int32_t ioStatus(const GError* error) {
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED)) {
        return KeychainStatus::userCanceled;
    }
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_DBUS_ERROR)) {
        // A remote error GLib has no code for: its name tells.
        const Owned<gchar> name(g_dbus_error_get_remote_error(error));
        return name ? keychainStatusForDBusError(name.get()) : KeychainStatus::failed;
    }
    // A service that owns the name but lets the call wait out its time.
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return KeychainStatus::notResponding;
    // No bus, a refused or closed connection.
    return KeychainStatus::notAvailable;
}

std::int32_t statusFor(const GError* error) {
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) return KeychainStatus::interactionNotAllowed;
    if (error->domain == G_IO_ERROR) return ioStatus(error);
    // The bus's own errors and the Secret Service's, by their D-Bus names.
    const Owned<gchar> name(g_dbus_error_encode_gerror(error));
    return keychainStatusForDBusError(name.get());
}

// libsecret's service object is shared by the whole process, and its blocking calls made from
// several threads at once can wait forever for an answer that was already given (seen with
// concurrent saves and clears). One operation at a time keeps each of them whole; an operation
// waiting on an unlock prompt holds the others back, as the user would expect.
std::mutex& oneAtATime() {
    static std::mutex lock;
    return lock;
}

// How long a call waits for the keyring's answer. The bus's own default is 25 s for each call,
// and an operation makes several; a keyring that answers at all does so in milliseconds. Prompts
// are not bounded: the person answers them at their pace.
constexpr gint answerTimeoutMs = 5000;

// Whether the owner of the Secret Service's name answers at all: a stopped or hung keyring is told
// apart from a missing one before any call of libsecret's waits on it. Without an owner (one may
// yet be started for the name), or without a bus, libsecret finds out itself; a cancelled ping
// tells nothing either.
std::int32_t answering(GCancellable* cancellable = nullptr) {
    GError* raw = nullptr;
    Owned<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    if (!bus) {
        g_clear_error(&raw);
        return KeychainStatus::success;
    }
    Owned<GVariant> pong(g_dbus_connection_call_sync(
        bus.get(),
        "org.freedesktop.secrets",
        "/org/freedesktop/secrets",
        "org.freedesktop.DBus.Peer",
        "Ping",
        nullptr,
        nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START,
        answerTimeoutMs,
        cancellable,
        &raw));
    if (pong) return KeychainStatus::success;
    Owned<GError> error(raw);
    return g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ? KeychainStatus::notResponding
                                                                          : KeychainStatus::success;
}

// The calls to the keyring's objects that wait for an answer, each with when it went out, watched
// on the process's session bus while an operation runs (one at a time). A prompt is no such call:
// its Prompt is answered at once and the person's answer comes later as a signal, so that wait
// stays unbounded.
class CallsInFlight {
public:
    CallsInFlight() {
        GError* raw = nullptr;
        bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
        g_clear_error(&raw);
        const std::lock_guard lock(mutex());
        sent().clear();
        if (bus_) filter_ = g_dbus_connection_add_filter(bus_.get(), watch, nullptr, nullptr);
    }
    ~CallsInFlight() {
        if (bus_) g_dbus_connection_remove_filter(bus_.get(), filter_);
    }
    CallsInFlight(const CallsInFlight&) = delete;
    CallsInFlight& operator=(const CallsInFlight&) = delete;

    // How long the call that waited longest for its answer, of those still waiting, has waited.
    static std::chrono::steady_clock::duration longestWait() {
        const std::lock_guard lock(mutex());
        if (sent().empty()) return {};
        const auto oldest = std::ranges::min_element(sent(), {}, [](const auto& call) { return call.second; });
        return std::chrono::steady_clock::now() - oldest->second;
    }

private:
    // Runs on GDBus's own thread, for every message in or out; it may still run once the filter
    // is removed, so it keeps no state of an object.
    static GDBusMessage* watch(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
        const GDBusMessageType type = g_dbus_message_get_message_type(message);
        const char* path = g_dbus_message_get_path(message);
        const std::lock_guard lock(mutex());
        if (!incoming && type == G_DBUS_MESSAGE_TYPE_METHOD_CALL && path &&
            std::string_view(path).starts_with("/org/freedesktop/secrets") &&
            !(g_dbus_message_get_flags(message) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED)) {
            sent()[g_dbus_message_get_serial(message)] = std::chrono::steady_clock::now();
        } else if (incoming && (type == G_DBUS_MESSAGE_TYPE_METHOD_RETURN || type == G_DBUS_MESSAGE_TYPE_ERROR)) {
            sent().erase(g_dbus_message_get_reply_serial(message));
        }
        return message;
    }

    // Never destroyed: GDBus's thread may still run the filter as the process exits.
    static std::mutex& mutex() {
        static auto* lock = new std::mutex;
        return *lock;
    }
    static std::map<guint32, std::chrono::steady_clock::time_point>& sent() {
        static auto* calls = new std::map<guint32, std::chrono::steady_clock::time_point>;
        return *calls;
    }

    Owned<GDBusConnection> bus_;
    guint filter_ = 0;
};

// Cancels the operation once the keyring stops answering: a ping goes unanswered, or a call waits
// longer than a keyring that answers at all ever makes it. libsecret makes calls of its own that
// no timeout of ours reaches (loading an item's properties, a new connection's, an item's Delete),
// each waiting for the bus's 25 s; all of them take the operation's cancellable. A keyring that
// shows a prompt still answers pings and calls, so the person has all the time they need.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            const std::lock_guard lock(mutex_);
            ended_ = true;
        }
        wake_.notify_one();
        g_cancellable_cancel(ping_.get());
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    GCancellable* cancellable() const { return operation_.get(); }
    bool gaveUp() const { return gaveUp_; }

private:
    static constexpr auto pingInterval = std::chrono::milliseconds(500);

    void watch() {
        std::unique_lock lock(mutex_);
        while (!ended_) {
            lock.unlock();
            const bool silent = answering(ping_.get()) == KeychainStatus::notResponding ||
                                CallsInFlight::longestWait() > std::chrono::milliseconds(answerTimeoutMs);
            lock.lock();
            if (silent && !ended_) {
                gaveUp_ = true;
                g_cancellable_cancel(operation_.get());
                return;
            }
            wake_.wait_for(lock, pingInterval, [this] { return ended_; });
        }
    }

    Owned<GCancellable> operation_{g_cancellable_new()};
    Owned<GCancellable> ping_{g_cancellable_new()};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool ended_ = false;
    std::atomic<bool> gaveUp_ = false;
    std::thread thread_;
};

// One operation of the process at a time, under a main context of its own and watched. libsecret's
// objects hand their clean-up to the thread-default context of where they were made, which no loop
// runs on a pool thread: this one is current while the operation's objects live and go, and is
// drained when it ends.
class Operation {
public:
    Operation() : one_(oneAtATime()), context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~Operation() {
        g_main_context_pop_thread_default(context_);
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_context_unref(context_);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    GCancellable* cancellable() const { return watchdog_.cancellable(); }
    bool gaveUp() const { return watchdog_.gaveUp(); }
    // Whatever a call answered once the keyring stopped answering, it is that.
    std::int32_t settled(std::int32_t status) const {
        return watchdog_.gaveUp() && status != KeychainStatus::success ? KeychainStatus::notResponding : status;
    }

private:
    std::lock_guard<std::mutex> one_;
    GMainContext* context_;
    CallsInFlight calls_;
    Watchdog watchdog_;
};

// Set once the person dismissed an unlock prompt: reads then ask no more (they run unasked, at
// each refresh), so that the next prompt is the one a write asks for, as the person signs in.
// Anything found unlocked, or found absent, ends it.
std::atomic<bool>& unlockWasDismissed() {
    static std::atomic<bool> dismissed = false;
    return dismissed;
}

std::int32_t& statusOf(std::int32_t& status) { return status; }
std::int32_t& statusOf(SecretItemStore::Read& read) { return read.status; }

// libsecret keeps one connection to the service for the whole process. When the keyring went
// away and came back (a crash, a restart of the desktop's keyring), that connection speaks to
// nobody, and every call would fail until the app restarted; dropped, the next call connects
// anew.
template <class F>
auto reconnectingOnce(const Operation& operation, F attempt) -> decltype(attempt()) {
    decltype(attempt()) result{};
    if ((statusOf(result) = answering()) != KeychainStatus::success) return result;
    result = attempt();
    if (statusOf(result) == KeychainStatus::notAvailable && !operation.gaveUp()) {
        secret_service_disconnect();
        result = attempt();
    }
    statusOf(result) = operation.settled(statusOf(result));
    return result;
}

// Whether an operation may ask the person to unlock.
enum class Prompting { no, yes };

class DesktopSecretService final : public SecretItemStore {
public:
    explicit DesktopSecretService(std::string collection) : collection_(std::move(collection)) {}

    Read read(const SecretItemAddress& item) override {
        const Operation operation;
        const Prompting prompting = unlockWasDismissed() ? Prompting::no : Prompting::yes;
        return reconnectingOnce(operation, [&] { return readItem(item, prompting, operation.cancellable()); });
    }

    std::int32_t update(const SecretItemAddress& item, std::string_view data) override {
        const Operation operation;
        return reconnectingOnce(operation, [&] { return updateItem(item, data, operation.cancellable()); });
    }

    std::int32_t add(const SecretItemAddress& item, std::string_view data) override {
        const Operation operation;
        return reconnectingOnce(operation, [&] { return addItem(item, data, operation.cancellable()); });
    }

    std::int32_t remove(const SecretItemAddress& item) noexcept override {
        const Operation operation;
        return reconnectingOnce(operation, [&] { return removeItem(item, operation.cancellable()); });
    }

private:
    // Whether a search stops at the first item, or takes every one in every collection.
    enum class Matches { first, all };

    Read readItem(const SecretItemAddress& item, Prompting prompting, GCancellable* cancellable) const {
        Found found = find(item, prompting, Matches::first, cancellable);
        if (found.status != KeychainStatus::success) return {.status = found.status, .data = {}};
        // Loaded apart from the search, whose own loading does not stop when cancelled.
        GError* raw = nullptr;
        if (!secret_item_load_secret_sync(found.item(), cancellable, &raw)) return {.status = failure(raw), .data = {}};
        Owned<SecretValue> value(secret_item_get_secret(found.item()));
        if (!value) return {.status = KeychainStatus::failed, .data = {}};
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        return {.status = KeychainStatus::success, .data = std::string(bytes, length)};
    }

    std::int32_t updateItem(const SecretItemAddress& item, std::string_view data, GCancellable* cancellable) const {
        Found found = find(item, Prompting::yes, Matches::first, cancellable);
        if (found.status != KeychainStatus::success) return found.status;
        GError* raw = nullptr;
        if (!secret_item_set_secret_sync(found.item(), secret(data).get(), cancellable, &raw)) return failure(raw);
        return KeychainStatus::success;
    }

    std::int32_t addItem(const SecretItemAddress& item, std::string_view data, GCancellable* cancellable) const {
        GError* raw = nullptr;
        Owned<SecretService> service = connected(cancellable, &raw);
        if (!service) return failure(raw);
        const Destination destination = this->destination(service.get(), cancellable);
        if (destination.status != KeychainStatus::success) return destination.status;
        // The label is what keyring managers show.
        if (!secret_service_store_sync(
                service.get(),
                sessionSchema(),
                attributes(item).get(),
                destination.path.c_str(),
                item.service.c_str(),
                secret(data).get(),
                cancellable,
                &raw)) {
            return failure(raw);
        }
        return KeychainStatus::success;
    }

    // Every copy, in every collection, unlocked first: a copy left behind (a duplicate from racing
    // saves or another tool, one in a second keyring) would sign the person in again at the next
    // start. A locked item is not a deleted one; while any stays locked, none is deleted.
    std::int32_t removeItem(const SecretItemAddress& item, GCancellable* cancellable) const noexcept {
        Found found = find(item, Prompting::yes, Matches::all, cancellable);
        if (found.status != KeychainStatus::success) return found.status;
        for (GList* each = found.items.get(); each; each = each->next) {
            GError* raw = nullptr;
            if (!secret_item_delete_sync(SECRET_ITEM(each->data), cancellable, &raw)) return failure(raw);
        }
        return KeychainStatus::success;
    }

    // The items when status is success: found and unlocked.
    struct Found {
        std::int32_t status = KeychainStatus::success;
        Owned<GList> items;
        SecretItem* item() const { return SECRET_ITEM(items->data); }
    };

    // Unlocks locked items, which may prompt the user. Nothing found is not yet absence: some
    // services hide the items of a locked collection, so a locked collection is asked to unlock
    // once and searched again; staying locked, it answers interactionNotAllowed, never
    // itemNotFound (a locked keychain is not an empty one).
    Found find(const SecretItemAddress& item, Prompting prompting, Matches matches, GCancellable* cancellable) const {
        GError* raw = nullptr;
        Owned<SecretService> service = connected(cancellable, &raw);
        if (!service) return {.status = failure(raw), .items = {}};
        Found found = search(service.get(), item, prompting, matches, cancellable);
        if (found.status == KeychainStatus::itemNotFound) {
            const std::int32_t opened = unlockCollection(service.get(), prompting, cancellable);
            if (opened == KeychainStatus::success) found = search(service.get(), item, prompting, matches, cancellable);
            if (opened != KeychainStatus::itemNotFound && opened != KeychainStatus::success) found.status = opened;
        }
        // Whatever answered, found or absent, the keyring is open to us again.
        if (found.status == KeychainStatus::success || found.status == KeychainStatus::itemNotFound)
            unlockWasDismissed() = false;
        return found;
    }

    static Found search(
        SecretService* service,
        const SecretItemAddress& item,
        Prompting prompting,
        Matches matches,
        GCancellable* cancellable) {
        GError* raw = nullptr;
        const int unlock = prompting == Prompting::yes ? SECRET_SEARCH_UNLOCK : SECRET_SEARCH_NONE;
        const int all = matches == Matches::all ? SECRET_SEARCH_ALL : SECRET_SEARCH_NONE;
        Owned<GList> items(secret_service_search_sync(
            service,
            sessionSchema(),
            attributes(item).get(),
            static_cast<SecretSearchFlags>(unlock | all),
            cancellable,
            &raw));
        if (raw) return {.status = failure(raw), .items = {}};
        if (!items) return {.status = KeychainStatus::itemNotFound, .items = {}};
        for (GList* each = items.get(); each; each = each->next) {
            // An unlock prompt that was dismissed leaves the item locked, without an error;
            // unasked, the item stays locked since the last dismissal.
            if (secret_item_get_locked(SECRET_ITEM(each->data))) return {.status = dismissed(), .items = {}};
            g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(each->data), answerTimeoutMs);
        }
        return {.status = KeychainStatus::success, .items = std::move(items)};
    }

    // success when the collection was locked and now is not; itemNotFound when it was not
    // locked, or does not exist (nothing can hide there); unlockDismissed when it stays locked.
    std::int32_t unlockCollection(SecretService* service, Prompting prompting, GCancellable* cancellable) const {
        GError* raw = nullptr;
        Owned<GDBusProxy> collection = this->collection(service, cancellable, &raw);
        if (raw) return failure(raw);
        if (!collection || !isLocked(collection.get())) return KeychainStatus::itemNotFound;
        if (prompting == Prompting::no) return KeychainStatus::unlockDismissed;
        GList objects{.data = collection.get(), .next = nullptr, .prev = nullptr};
        if (secret_service_unlock_sync(service, &objects, cancellable, nullptr, &raw) > 0)
            return KeychainStatus::success;
        return failure(raw);
    }

    // Where new items go, as an object path, when status is success.
    struct Destination {
        std::int32_t status = KeychainStatus::success;
        std::string path;
    };

    // A missing collection for the alias is made here, which asks the person for the new keyring's
    // password: that prompt is the one of the save. libsecret would make it too, but then carry on
    // after a dismissal into an error that reads as no service at all (and so is tried again,
    // prompting twice).
    Destination destination(SecretService* service, GCancellable* cancellable) const {
        GError* raw = nullptr;
        const std::optional<std::string> path = collectionPath(service, cancellable, &raw);
        if (raw) return {.status = failure(raw), .path = {}};
        if (path) return {.status = KeychainStatus::success, .path = *path};
        // Keyrings with none of them the default: which one to use is the person's choice.
        const std::int32_t others = otherCollections(service, cancellable);
        if (others != KeychainStatus::itemNotFound) return {.status = others, .path = {}};
        // The label is what the prompt and keyring managers show.
        Owned<GHashTable> properties(g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, unrefVariant));
        g_hash_table_insert(
            properties.get(),
            const_cast<gchar*>("org.freedesktop.Secret.Collection.Label"),
            g_variant_ref_sink(g_variant_new_string("Default keyring")));
        Owned<gchar> made(secret_service_create_collection_dbus_path_sync(
            service, properties.get(), collection_.c_str(), SECRET_COLLECTION_CREATE_NONE, cancellable, &raw));
        // A dismissed prompt answers the path "/", or none.
        if (!made || std::string_view(made.get()) == "/") return {.status = notCreated(raw), .path = {}};
        return {.status = KeychainStatus::success, .path = made.get()};
    }

    // noDefaultKeyring when the service keeps a collection besides the login session's (which
    // goes when the session ends); itemNotFound when it keeps none.
    static std::int32_t otherCollections(SecretService* service, GCancellable* cancellable) {
        GError* raw = nullptr;
        Owned<GVariant> reply(g_dbus_proxy_call_sync(
            G_DBUS_PROXY(service),
            "org.freedesktop.DBus.Properties.Get",
            g_variant_new("(ss)", "org.freedesktop.Secret.Service", "Collections"),
            G_DBUS_CALL_FLAGS_NONE,
            -1,
            cancellable,
            &raw));
        if (!reply) return failure(raw);
        const Owned<gchar> session(secret_service_read_alias_dbus_path_sync(service, "session", cancellable, &raw));
        if (raw) return failure(raw);
        GVariant* value = nullptr;
        g_variant_get(reply.get(), "(v)", &value);
        const Owned<GVariant> paths(value);
        if (!g_variant_is_of_type(paths.get(), G_VARIANT_TYPE_OBJECT_PATH_ARRAY)) return KeychainStatus::failed;
        GVariantIter each;
        g_variant_iter_init(&each, paths.get());
        const gchar* path = nullptr;
        while (g_variant_iter_next(&each, "&o", &path)) {
            if (!session || std::string_view(path) != session.get()) return KeychainStatus::noDefaultKeyring;
        }
        return KeychainStatus::itemNotFound;
    }

    static void unrefVariant(gpointer variant) { g_variant_unref(static_cast<GVariant*>(variant)); }

    // The process's connection to the service, its calls bounded in time.
    static Owned<SecretService> connected(GCancellable* cancellable, GError** error) {
        Owned<SecretService> service(secret_service_get_sync(SECRET_SERVICE_NONE, cancellable, error));
        if (service) g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(service.get()), answerTimeoutMs);
        return service;
    }

    // A prompt to make a keyring that was dismissed or cancelled leaves none to keep items in.
    static std::int32_t notCreated(GError* raw) noexcept {
        if (!raw || g_error_matches(raw, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            g_clear_error(&raw);
            return KeychainStatus::keyringNotCreated;
        }
        return failure(raw);
    }

    // A prompt the person dismissed: later reads ask no more.
    static std::int32_t dismissed() noexcept {
        unlockWasDismissed() = true;
        return KeychainStatus::unlockDismissed;
    }

    // The object path of the collection that new items go to; none when no collection has the
    // alias.
    std::optional<std::string> collectionPath(SecretService* service, GCancellable* cancellable, GError** error) const {
        if (collection_.starts_with('/')) return collection_;
        Owned<GDBusProxy> aliased(G_DBUS_PROXY(secret_collection_for_alias_sync(
            service, collection_.c_str(), SECRET_COLLECTION_NONE, cancellable, error)));
        if (!aliased) return std::nullopt;
        return g_dbus_proxy_get_object_path(aliased.get());
    }

    // A proxy of the collection that new items go to, made now so that its properties are
    // current; none when no collection has the alias.
    Owned<GDBusProxy> collection(SecretService* service, GCancellable* cancellable, GError** error) const {
        const std::optional<std::string> path = collectionPath(service, cancellable, error);
        if (!path) return {};
        auto* serviceProxy = G_DBUS_PROXY(service);
        return Owned<GDBusProxy>(g_dbus_proxy_new_sync(
            g_dbus_proxy_get_connection(serviceProxy),
            G_DBUS_PROXY_FLAGS_DO_NOT_CONNECT_SIGNALS,
            nullptr,
            g_dbus_proxy_get_name(serviceProxy),
            path->c_str(),
            "org.freedesktop.Secret.Collection",
            cancellable,
            error));
    }

    static bool isLocked(GDBusProxy* collection) {
        GVariant* locked = g_dbus_proxy_get_cached_property(collection, "Locked");
        if (!locked) return false;  // no such collection
        const bool answer = g_variant_is_of_type(locked, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(locked);
        g_variant_unref(locked);
        return answer;
    }

    static Owned<GHashTable> attributes(const SecretItemAddress& item) {
        return Owned<GHashTable>(secret_attributes_build(
            sessionSchema(), "service", item.service.c_str(), "account", item.account.c_str(), nullptr));
    }

    static Owned<SecretValue> secret(std::string_view data) {
        return Owned<SecretValue>(secret_value_new(data.data(), static_cast<gssize>(data.size()), "application/json"));
    }

    // A call that failed without saying why was refused by the user (a dismissed prompt).
    static std::int32_t failure(GError* raw) noexcept {
        if (!raw) return dismissed();
        Owned<GError> error(raw);
        return statusFor(error.get());
    }

    std::string collection_;  // where new items go: an alias, or a collection's object path
};

}  // namespace

std::int32_t keychainStatusForDBusError(std::string_view name) noexcept {
    struct Meaning {
        std::string_view name;
        std::int32_t status;
    };
    static constexpr std::string_view bus = "org.freedesktop.DBus.Error.";
    static constexpr std::array meanings{
        // Nobody answers as a Secret Service on the bus, or the bus itself is gone.
        Meaning{"ServiceUnknown", KeychainStatus::notAvailable},
        Meaning{"NameHasNoOwner", KeychainStatus::notAvailable},
        Meaning{"NoServer", KeychainStatus::notAvailable},
        Meaning{"NoNetwork", KeychainStatus::notAvailable},
        Meaning{"Disconnected", KeychainStatus::notAvailable},
        // Somebody owns the name, but its answer did not come in time.
        Meaning{"NoReply", KeychainStatus::notResponding},
        Meaning{"Timeout", KeychainStatus::notResponding},
        Meaning{"TimedOut", KeychainStatus::notResponding},
        // The name's owner is no Secret Service.
        Meaning{"UnknownInterface", KeychainStatus::notAvailable},
        Meaning{"UnknownMethod", KeychainStatus::notAvailable},
        Meaning{"AccessDenied", KeychainStatus::userCanceled},
        Meaning{"AuthFailed", KeychainStatus::userCanceled},
        Meaning{"InteractiveAuthorizationRequired", KeychainStatus::userCanceled},
    };
    if (name == "org.freedesktop.Secret.Error.IsLocked") return KeychainStatus::interactionNotAllowed;
    if (!name.starts_with(bus)) return KeychainStatus::failed;
    const std::string_view rest = name.substr(bus.size());
    // The bus could not start a service for the name (activation).
    if (rest.starts_with("Spawn.")) return KeychainStatus::notAvailable;
    const auto* found = std::ranges::find(meanings, rest, &Meaning::name);
    return found == meanings.end() ? KeychainStatus::failed : found->status;
}

std::shared_ptr<SecretItemStore> desktopSecretService() { return desktopSecretService(SECRET_COLLECTION_DEFAULT); }

std::shared_ptr<SecretItemStore> desktopSecretService(std::string collection) {
    return std::make_shared<DesktopSecretService>(std::move(collection));
}

}  // namespace brisalune
