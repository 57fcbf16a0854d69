#include <brisalune/client/accounts/secret_service.hpp>
#include <brisalune/client/accounts/session.hpp>

#include <support/session_bus.hpp>
#include <support/session_print.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

// For the object-path calls that only the tests use.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace brisalune {
namespace {

StoredSession session(std::string token = "tok-secret-1") {
    return {
        .baseURL = *platform::Url::parse("https://api.brisalune.example"),
        .sessionToken = std::move(token),
        .accountId = "acc_1",
        .email = "ana@example.com",
        .activeTenantId = "t1",
        .tenantKeys = {{"t1", {.keyId = "k1", .apiKey = "bk_live_1", .tenantId = std::nullopt}}},
        .tenantHosts = {{"t1", *platform::Url::parse("https://box.local:8443")}}};
}

// Answers each operation with the status it was told to, itemNotFound by default.
class FakeItems final : public SecretItemStore {
public:
    std::map<std::string, std::int32_t> answers;  // operation -> status
    std::vector<std::string> calls;

    Read read(const SecretItemAddress&) override { return {.status = answer("read"), .data = ""}; }
    std::int32_t update(const SecretItemAddress&, std::string_view) override { return answer("update"); }
    std::int32_t add(const SecretItemAddress&, std::string_view) override { return answer("add"); }
    std::int32_t remove(const SecretItemAddress&) noexcept override { return KeychainStatus::success; }

private:
    std::int32_t answer(const std::string& operation) {
        calls.push_back(operation);
        return answers.contains(operation) ? answers.at(operation) : KeychainStatus::itemNotFound;
    }
};

TEST(KeychainStatusMapping, OnlyNotFoundIsAbsentAndAFailedSaveStepThrowsItsStatusAndStopsThere) {
    const auto items = std::make_shared<FakeItems>();
    KeychainSessionStore store("fake.session", items);
    EXPECT_EQ(store.load(), SessionLoad::absent());
    items->answers["read"] = KeychainStatus::interactionNotAllowed;  // a locked keyring is no sign-out
    EXPECT_EQ(store.load(), SessionLoad::unreadable());
    for (const auto& [operation, status] :
         {std::pair{"update", KeychainStatus::interactionNotAllowed}, std::pair{"add", KeychainStatus::failed}}) {
        items->answers = {{operation, status}};
        try {
            store.save(session());
            ADD_FAILURE() << "saved despite a failed " << operation;
        } catch (const KeychainError& error) {
            EXPECT_EQ(error.status(), status);
            EXPECT_EQ(std::string(error.what()).find("tok-secret-1"), std::string::npos);
        }
        EXPECT_EQ(items->calls.back(), operation);
    }
}

// Whatever sits in the item, a load answers; only a stored session is present.
TEST(KeychainSessionStoreGarbage, AnythingButAStoredSessionIsUnreadable) {
    class Holding final : public SecretItemStore {
    public:
        std::string data;
        Read read(const SecretItemAddress&) override { return {.status = KeychainStatus::success, .data = data}; }
        std::int32_t update(const SecretItemAddress&, std::string_view) override { return KeychainStatus::success; }
        std::int32_t add(const SecretItemAddress&, std::string_view) override { return KeychainStatus::success; }
        std::int32_t remove(const SecretItemAddress&) noexcept override { return KeychainStatus::success; }
    };
    const auto items = std::make_shared<Holding>();
    KeychainSessionStore store("garbage.session", items);
    const std::string valid = R"("baseURL":"https://a.example","sessionToken":"t","accountId":"a","email":"e")";
    const std::vector<std::string> garbage{
        "",
        std::string("\0\0\0", 3),
        "\xff\xfe{}",
        "null",
        "[]",
        "{" + valid + ",\"tenantKeys\":[]}",
        "{" + valid + ",\"tenantKeys\":{\"t\":{\"keyId\":1}}}",
        R"({"baseURL":"not a url","sessionToken":"t","accountId":"a","email":"e"})",
        "{" + valid + ",\"email\":\"\xc3\x28\"}",
        std::string(100'000, '[') + std::string(100'000, ']'),
        "{" + valid + "} trailing",
    };
    for (const std::string& data : garbage) {
        items->data = data;
        EXPECT_EQ(store.load(), SessionLoad::unreadable()) << data.substr(0, 80);
    }
}

// Every status a save can fail with reads as words a person can act on: no number, no status.
TEST(KeychainFailureText, EachCaseSaysWhatHappenedAndWhatToDo) {
    const std::vector<std::pair<std::int32_t, std::vector<std::string>>> cases{
        {KeychainStatus::notAvailable, {"no keyring service", "GNOME Keyring"}},
        {KeychainStatus::notResponding, {"keyring is not answering", "Try again"}},
        {KeychainStatus::unlockDismissed, {"unlock", "cancelled", "Try again"}},
        {KeychainStatus::keyringNotCreated, {"no keyring was created", "Create one", "sign in again"}},
        {KeychainStatus::noDefaultKeyring, {"none of your keyrings", "Choose one as the default", "sign in again"}},
        {KeychainStatus::interactionNotAllowed, {"keyring is locked", "Unlock it"}},
        {KeychainStatus::userCanceled, {"refused", "cancelled", "Try again"}},
        {KeychainStatus::failed, {"keyring", "Try again"}},
        {-1, {"keyring", "Try again"}},
    };
    for (const auto& [status, words] : cases) {
        const std::string text = KeychainError(status).what();
        EXPECT_EQ(KeychainError(status).status(), status);
        for (const std::string& word : words) EXPECT_NE(text.find(word), std::string::npos) << status << ": " << text;
        EXPECT_EQ(text.find_first_of("0123456789"), std::string::npos) << text;
        EXPECT_EQ(text.find("status"), std::string::npos) << text;
    }
    // A keyring that is there but silent, or whose unlock was refused, is not said to be missing.
    for (const std::int32_t status :
         {KeychainStatus::notResponding, KeychainStatus::unlockDismissed, KeychainStatus::keyringNotCreated}) {
        EXPECT_EQ(std::string(KeychainError(status).what()).find("no keyring service"), std::string::npos) << status;
    }
}

TEST(KeychainStatusMapping, DBusErrorsByName) {
    const std::vector<std::pair<std::string, std::int32_t>> cases{
        {"org.freedesktop.DBus.Error.ServiceUnknown", KeychainStatus::notAvailable},
        {"org.freedesktop.DBus.Error.NameHasNoOwner", KeychainStatus::notAvailable},
        {"org.freedesktop.DBus.Error.NoReply", KeychainStatus::notResponding},
        {"org.freedesktop.DBus.Error.Timeout", KeychainStatus::notResponding},
        {"org.freedesktop.DBus.Error.Spawn.ChildExited", KeychainStatus::notAvailable},
        {"org.freedesktop.DBus.Error.UnknownMethod", KeychainStatus::notAvailable},
        {"org.freedesktop.Secret.Error.IsLocked", KeychainStatus::interactionNotAllowed},
        {"org.freedesktop.DBus.Error.AccessDenied", KeychainStatus::userCanceled},
        {"org.freedesktop.DBus.Error.AuthFailed", KeychainStatus::userCanceled},
        {"org.freedesktop.Secret.Error.NoSuchObject", KeychainStatus::failed},
        {"org.freedesktop.DBus.Error.InvalidArgs", KeychainStatus::failed},
        {"org.freedesktop.DBus.Error.", KeychainStatus::failed},
        {"", KeychainStatus::failed},
    };
    for (const auto& [name, status] : cases) EXPECT_EQ(keychainStatusForDBusError(name), status) << name;
}

// ---- against the desktop's Secret Service ---------------------------------------------------

// Each test has its own item, so tests may run in parallel processes on one keyring.
std::string testService() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("test.brisalune.") + test->test_suite_name() + "." + test->name() + "." +
           std::to_string(::getpid()) + ".session";
}

class KeychainSessionStoreTest : public ::testing::Test {
protected:
    void TearDown() override { KeychainSessionStore(service).clear(); }
    SecretItemAddress item() const { return {.service = service, .account = "session"}; }

    std::string service = testService();
    std::shared_ptr<SecretItemStore> raw = desktopSecretService();
};

TEST_F(KeychainSessionStoreTest, SaveLoadClearAcrossFreshStoresOfOneServiceOnly) {
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::absent());
    KeychainSessionStore(service).save(session());
    KeychainSessionStore(service).save(session("tok-2"));
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::present(session("tok-2")));
    KeychainSessionStore other(service + ".other");
    EXPECT_EQ(other.load(), SessionLoad::absent());
    other.clear();
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::present(session("tok-2")));
    KeychainSessionStore(service).clear();
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::absent());
}

TEST_F(KeychainSessionStoreTest, AnUnreadableDocumentStaysUntilSavedOver) {
    const std::string document = R"({"baseURL":"https://a.example","sessionToken":"t"})";
    ASSERT_EQ(raw->add(item(), document), KeychainStatus::success);
    KeychainSessionStore store(service);
    EXPECT_EQ(store.load(), SessionLoad::unreadable());
    EXPECT_EQ(raw->read(item()).data, document);
    store.save(session());
    EXPECT_EQ(store.load(), SessionLoad::present(session()));
}

GDBusConnection* sessionBus() {
    static GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    return bus;
}

// A collection of the test's own, so that locking it disturbs no test running beside it on the
// same keyring. The standard interface would prompt for a password to make or unlock it;
// gnome-keyring's own interface takes one instead.
class ScratchCollection {
public:
    ScratchCollection() {
        GError* error = nullptr;
        service_ = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
        check(error);
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        const std::string label = "test-" + std::to_string(::getpid());
        g_variant_builder_add(
            &properties, "{sv}", "org.freedesktop.Secret.Collection.Label", g_variant_new_string(label.c_str()));
        GVariant* made =
            keyring("CreateWithMasterPassword", g_variant_new("(a{sv}@(oayays))", &properties, password()));
        const gchar* path = nullptr;
        g_variant_get(made, "(&o)", &path);
        path_ = path;
        g_variant_unref(made);
    }

    ~ScratchCollection() {
        if (GVariant* prompt = g_dbus_connection_call_sync(
                bus(),
                "org.freedesktop.secrets",
                path_.c_str(),
                "org.freedesktop.Secret.Collection",
                "Delete",
                nullptr,
                nullptr,
                G_DBUS_CALL_FLAGS_NONE,
                -1,
                nullptr,
                nullptr)) {
            g_variant_unref(prompt);
        }
        g_object_unref(service_);
    }
    ScratchCollection(const ScratchCollection&) = delete;
    ScratchCollection& operator=(const ScratchCollection&) = delete;

    const std::string& path() const { return path_; }

    // Through the Secret Service's own Lock, as a screen locker would.
    void lock() {
        const gchar* paths[] = {path_.c_str(), nullptr};
        GError* error = nullptr;
        secret_service_lock_dbus_paths_sync(service_, paths, nullptr, nullptr, &error);
        check(error);
    }

    void unlock() {
        g_variant_unref(keyring("UnlockWithMasterPassword", g_variant_new("(o@(oayays))", path_.c_str(), password())));
    }

private:
    static void check(GError* error) {
        if (!error) return;
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("scratch collection: " + message);
    }

    GDBusConnection* bus() const { return g_dbus_proxy_get_connection(G_DBUS_PROXY(service_)); }

    GVariant* password() const {
        SecretValue* value = secret_value_new("scratch", -1, "text/plain");
        GVariant* encoded = secret_service_encode_dbus_secret(service_, value);
        secret_value_unref(value);
        return encoded;
    }

    GVariant* keyring(const char* method, GVariant* parameters) const {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus(),
            "org.freedesktop.secrets",
            "/org/freedesktop/secrets",
            "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
            method,
            parameters,
            nullptr,
            G_DBUS_CALL_FLAGS_NONE,
            -1,
            nullptr,
            &error);
        check(error);
        return reply;
    }

    SecretService* service_ = nullptr;
    std::string path_;
};

// The unlock prompts this process asks the Secret Service to show.
class PromptCount {
public:
    PromptCount() : id_(g_dbus_connection_add_filter(sessionBus(), count, this, nullptr)) {}
    ~PromptCount() { g_dbus_connection_remove_filter(sessionBus(), id_); }
    PromptCount(const PromptCount&) = delete;
    PromptCount& operator=(const PromptCount&) = delete;

    int taken() { return prompts_.exchange(0); }

private:
    static GDBusMessage* count(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer self) {
        const char* member = g_dbus_message_get_member(message);
        const char* interface = g_dbus_message_get_interface(message);
        if (!incoming && member && interface && std::string_view(interface) == "org.freedesktop.Secret.Prompt" &&
            std::string_view(member) == "Prompt") {
            ++static_cast<PromptCount*>(self)->prompts_;
        }
        return message;
    }

    std::atomic<int> prompts_ = 0;
    guint id_;
};

// Unlocking is refused here (the test keyring's prompts are dismissed at once): a locked keychain
// may hold a session, so it must never read as signed out, and the refusal is told as such. Once
// dismissed, the prompt comes back only for a write, which the person asked for.
TEST_F(KeychainSessionStoreTest, ALockedCollectionIsUnreadableNeverAbsentAndKeepsItsSession) {
    ScratchCollection collection;
    const auto items = desktopSecretService(collection.path());
    KeychainSessionStore store(service, items);
    KeychainSessionStore neverSaved(service + ".never", items);
    store.save(session());

    collection.lock();
    PromptCount prompts;
    EXPECT_EQ(store.load(), SessionLoad::unreadable());
    EXPECT_EQ(prompts.taken(), 1);
    EXPECT_EQ(neverSaved.load(), SessionLoad::unreadable());  // nothing found proves nothing
    EXPECT_EQ(store.load(), SessionLoad::unreadable());
    EXPECT_EQ(prompts.taken(), 0);  // dismissed once: the reads that follow ask no more
    try {
        store.save(session("tok-2"));
        ADD_FAILURE() << "saved into a locked collection";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), KeychainStatus::unlockDismissed);
        EXPECT_NE(std::string(error.what()).find("unlock was cancelled"), std::string::npos) << error.what();
    }
    EXPECT_EQ(prompts.taken(), 1);  // one for the sign-in's save, not one per step of it
    try {
        store.clear();
        ADD_FAILURE() << "cleared a locked collection";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), KeychainStatus::unlockDismissed);
        EXPECT_EQ(
            std::string(error.what()).rfind("The keyring could not forget your session: ", 0),
            0u)
            << error.what();
    }
    EXPECT_EQ(prompts.taken(), 1);

    collection.unlock();
    EXPECT_EQ(store.load(), SessionLoad::present(session()));
    EXPECT_EQ(neverSaved.load(), SessionLoad::absent());
}

// A copy as another tool writes it: the same two attributes under another schema's name.
void storeAsAnotherTool(const SecretItemAddress& item, const std::string& data) {
    static const SecretSchema generic = [] {
        SecretSchema s{};
        s.name = "org.freedesktop.Secret.Generic";
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    GError* error = nullptr;
    const bool stored = secret_password_store_sync(
        &generic,
        SECRET_COLLECTION_DEFAULT,
        "copy",
        data.c_str(),
        nullptr,
        &error,
        "service",
        item.service.c_str(),
        "account",
        item.account.c_str(),
        nullptr);
    if (error) g_error_free(error);
    ASSERT_TRUE(stored);
}

// Sign-out leaves no copy behind, wherever it lies: the next start is signed out. While a copy
// stays locked, the sign-out fails and says so.
TEST_F(KeychainSessionStoreTest, ClearRemovesEveryCopyInEveryCollectionOrFails) {
    ScratchCollection second;
    const auto inSecond = desktopSecretService(second.path());
    KeychainSessionStore store(service);
    const auto copies = [&] {
        store.save(session());
        storeAsAnotherTool(item(), json::encode(session("tok-old")));
        ASSERT_EQ(inSecond->add(item(), json::encode(session("tok-other"))), KeychainStatus::success);
    };
    copies();
    store.clear();
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::absent());

    copies();
    second.lock();
    try {
        store.clear();
        ADD_FAILURE() << "cleared while a copy stays locked";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), KeychainStatus::unlockDismissed);
    }
    second.unlock();
    EXPECT_NE(KeychainSessionStore(service).load(), SessionLoad::absent());
    store.clear();
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::absent());
}

// ---- the keyring going away mid-session ----------------------------------------------------

// The process that owns the Secret Service's name; 0 when nobody does.
unsigned secretServiceOwner() {
    GVariant* reply = g_dbus_connection_call_sync(
        sessionBus(),
        "org.freedesktop.DBus",
        "/org/freedesktop/DBus",
        "org.freedesktop.DBus",
        "GetConnectionUnixProcessID",
        g_variant_new("(s)", "org.freedesktop.secrets"),
        G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE,
        -1,
        nullptr,
        nullptr);
    if (!reply) return 0;
    guint32 pid = 0;
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
    return pid;
}

template <class F>
bool within(F holds) {
    for (int i = 0; i < 400; ++i) {
        if (holds()) return true;
        ::usleep(25'000);
    }
    return false;
}

// Kills the running gnome-keyring and starts a new one, unlocked, over a fresh folder: what a
// crash and a restart of the desktop's keyring look like to a running app. The folder outlives
// the test, as the new keyring serves the tests after it: it lies in scripts/with-keyring's, which
// goes when the tests end. The control socket stays in it too, away from a desktop keyring's.
void restartKeyring() {
    const char* keyringHome = std::getenv("BRISALUNE_KEYRING_HOME");
    const std::filesystem::path base = keyringHome ? keyringHome : std::filesystem::temp_directory_path();
    std::string pattern = (base / "restarted-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path home = pattern;
    const unsigned old = secretServiceOwner();
    ASSERT_NE(old, 0u);
    ::kill(static_cast<pid_t>(old), SIGKILL);
    ASSERT_TRUE(within([] { return secretServiceOwner() == 0; }));
    std::filesystem::create_directories(home / "keyrings");
    std::FILE* name = std::fopen((home / "keyrings" / "default").c_str(), "w");
    std::fputs("login", name);
    std::fclose(name);
    const std::string start = "printf brisalune-tests | XDG_DATA_HOME='" + home.string() +
                              "' GNOME_KEYRING_TEST_PROMPTER=app.brisalune.tests.NoPrompter gnome-keyring-daemon "
                              "--unlock --components=secrets --control-directory='" +
                              (home / "control").string() + "' >/dev/null";
    ASSERT_EQ(std::system(start.c_str()), 0);
    ASSERT_TRUE(within([old] {
        const unsigned now = secretServiceOwner();
        return now != 0 && now != old;
    }));
}

// The keyring restarted under a running app: the app's next save lands in the new one, and the
// session it saved reads back, without a restart of the app.
TEST_F(KeychainSessionStoreTest, AKeyringRestartedMidSessionTakesTheNextSave) {
    KeychainSessionStore store(service);
    store.save(session());
    ASSERT_EQ(store.load(), SessionLoad::present(session()));

    restartKeyring();
    EXPECT_EQ(store.load(), SessionLoad::absent());  // a new, empty keyring
    store.save(session("tok-2"));
    EXPECT_EQ(store.load(), SessionLoad::present(session("tok-2")));
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::present(session("tok-2")));
}

// A keyring that is there but does not answer (stopped): told as such, and in seconds, not after
// the bus's own time-out for each of several calls.
TEST_F(KeychainSessionStoreTest, AStoppedKeyringIsNotAnsweringAndSaysSoInSeconds) {
    KeychainSessionStore store(service);
    store.save(session());
    const unsigned owner = secretServiceOwner();
    ASSERT_NE(owner, 0u);
    ASSERT_EQ(::kill(static_cast<pid_t>(owner), SIGSTOP), 0);
    const auto started = std::chrono::steady_clock::now();
    std::optional<std::int32_t> status;
    try {
        store.save(session("tok-2"));
    } catch (const KeychainError& error) {
        status = error.status();
        EXPECT_NE(std::string(error.what()).find("keyring is not answering"), std::string::npos) << error.what();
    }
    EXPECT_EQ(store.load(), SessionLoad::unreadable());
    const auto waited = std::chrono::steady_clock::now() - started;
    ::kill(static_cast<pid_t>(owner), SIGCONT);
    EXPECT_EQ(status, KeychainStatus::notResponding);
    EXPECT_LT(waited, std::chrono::seconds(30));  // the bus alone gives up after 25 s per call
    EXPECT_EQ(store.load(), SessionLoad::present(session()));
}

// The keyring stopped at a random moment inside each operation, once per round: every operation
// answers within seconds, done or not answering, however far it got (a search loading its items,
// a new connection after a retry, a delete). An operation on a live keyring takes a few
// milliseconds here, so most stops land inside it; each such round waits the seconds that a
// keyring is given to answer, which is what keeps the rounds few.
constexpr int rounds = 10;

template <class Prepare, class Operation>
void stopKeyringInside(Prepare prepare, Operation operation) {
    const auto owner = static_cast<pid_t>(secretServiceOwner());
    ASSERT_NE(owner, 0);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayUs(0, 8000);
    for (int round = 0; round < rounds; ++round) {
        prepare();
        const auto delay = std::chrono::microseconds(delayUs(random));
        const auto started = std::chrono::steady_clock::now();
        std::jthread stopper([&] {
            std::this_thread::sleep_until(started + delay);
            ::kill(owner, SIGSTOP);
        });
        const bool answered = operation();
        const auto waited = std::chrono::steady_clock::now() - started;
        stopper.join();
        ::kill(owner, SIGCONT);
        EXPECT_TRUE(answered) << "round " << round;
        EXPECT_LT(waited, std::chrono::seconds(12))
            << "round " << round << ", stopped after " << delay.count() << " us";
    }
}

// Done, or failed as not answering.
template <class F>
bool doneOrNotAnswering(F step) {
    try {
        step();
        return true;
    } catch (const KeychainError& error) {
        return error.status() == KeychainStatus::notResponding &&
               std::string(error.what()).find("the keyring is not answering") != std::string::npos;
    }
}

TEST_F(KeychainSessionStoreTest, AKeyringStoppedInsideALoadAnswersInSeconds) {
    KeychainSessionStore store(service);
    store.save(session());
    stopKeyringInside(
        [] {},
        [&] {
            const SessionLoad load = store.load();
            return load == SessionLoad::present(session()) || load == SessionLoad::unreadable();
        });
}

TEST_F(KeychainSessionStoreTest, AKeyringStoppedInsideASaveAnswersInSeconds) {
    KeychainSessionStore store(service);
    int round = 0;
    stopKeyringInside(
        [] {}, [&] { return doneOrNotAnswering([&] { store.save(session("tok-" + std::to_string(++round))); }); });
}

TEST_F(KeychainSessionStoreTest, AKeyringStoppedInsideAClearAnswersInSeconds) {
    KeychainSessionStore store(service);
    stopKeyringInside([&] { store.save(session()); }, [&] { return doneOrNotAnswering([&] { store.clear(); }); });
}

// Runs in a child process whose session bus address leads nowhere, with its home and data
// folders in a fresh folder; names each failed check on stderr.
bool worksWithoutSecretService() {
    testkit::TempDir home;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (home / "no-bus").string()).c_str(), 1);
    ::setenv("HOME", home.path().c_str(), 1);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        ::setenv(name, (home / name).c_str(), 1);
    std::string failed;
    auto check = [&](bool held, const char* what) { failed += held ? "" : std::string(what) + "\n"; };
    KeychainSessionStore store(testService());
    check(store.load() == SessionLoad::unreadable(), "load was not unreadable");
    try {
        store.save(session());
        check(false, "save did not throw");
    } catch (const KeychainError& error) {
        check(error.status() == KeychainStatus::notAvailable, "save failed with another status");
        check(std::string(error.what()).find("no keyring service") != std::string::npos, "the text is not words");
    }
    try {
        store.clear();
        check(false, "clear did not throw");
    } catch (const KeychainError& error) {
        check(error.status() == KeychainStatus::notAvailable, "clear failed with another status");
    }
    check(std::filesystem::is_empty(home.path()), "something was written under the home folder");
    std::fputs(failed.c_str(), stderr);
    return failed.empty();
}

TEST(KeychainWithoutSecretService, LoadIsUnreadableSaveThrowsAndNoFileAppears) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // _Exit: the libraries' exit-time teardown is not under test.
    EXPECT_EXIT(std::_Exit(worksWithoutSecretService() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// A private bus with a gnome-keyring that has no keyring yet, so no default collection, as on a
// desktop whose login keyring was never made; its prompts are dismissed, as in
// scripts/with-keyring.
class KeyringWithoutCollections {
public:
    explicit KeyringWithoutCollections(const std::filesystem::path& home) {
        bus_.makeSessionBus();  // before the process first reaches the bus: a child process's job
        const std::string start = "XDG_DATA_HOME='" + home.string() +
                                  "' GNOME_KEYRING_TEST_PROMPTER=app.brisalune.tests.NoPrompter gnome-keyring-daemon "
                                  "--start --components=secrets --control-directory='" +
                                  (home / "control").string() + "' >/dev/null 2>&1";
        if (std::system(start.c_str()) != 0 || !within([] { return secretServiceOwner() != 0; }))
            throw std::runtime_error("gnome-keyring did not start");
    }

private:
    testkit::PrivateBus bus_;
};

// Names each failed check on stderr.
bool signsInWithoutAKeyring() {
    testkit::TempDir home;
    const KeyringWithoutCollections keyring(home.path());
    std::string failed;
    auto check = [&](bool held, const char* what) { failed += held ? "" : std::string(what) + "\n"; };
    PromptCount prompts;
    KeychainSessionStore store(testService());
    // The save fails with `status`, in words holding `words`; `what` names the case.
    const auto saveFails = [&](std::int32_t status, const char* words, const std::string& what) {
        try {
            store.save(session());
            check(false, (what + " did not throw").c_str());
        } catch (const KeychainError& error) {
            check(error.status() == status, (what + " failed with another status").c_str());
            check(std::string(error.what()).find(words) != std::string::npos, (what + ": its text says otherwise").c_str());
        }
    };
    check(store.load() == SessionLoad::absent(), "load was not absent");
    check(prompts.taken() == 0, "load prompted");
    saveFails(KeychainStatus::keyringNotCreated, "no keyring was created", "save");
    check(prompts.taken() == 1, "the save did not prompt once, to make the keyring");
    // A keyring, but none the default, as a keyring manager can leave it: none is made unasked.
    const ScratchCollection kept;
    check(secret_service_set_alias_sync(nullptr, "default", nullptr, nullptr, nullptr), "the default stayed");
    saveFails(KeychainStatus::noDefaultKeyring, "Choose one", "save without a default");
    check(prompts.taken() == 0, "the save without a default prompted to make another keyring");
    std::fputs(failed.c_str(), stderr);
    return failed.empty();
}

// Without a keyring to keep the session in, the save asks once to make one; dismissed, it says
// that none was made, not that no keyring service runs. With keyrings but none of them the
// default, it makes none and says to choose one.
TEST(KeychainWithoutCollections, ASaveAsksOnceToCreateOneAndADismissalSaysNoneWasCreated) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(signsInWithoutAKeyring() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// A private bus on which this process takes the Secret Service's name and answers pings, but
// never any call: a keyring stuck at its work while its connection lives.
class KeyringAnsweringOnlyPings {
public:
    KeyringAnsweringOnlyPings() {
        bus_.makeSessionBus();
        g_dbus_connection_add_filter(sessionBus(), swallow, nullptr, nullptr);
        g_bus_own_name_on_connection(
            sessionBus(), "org.freedesktop.secrets", G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, nullptr, nullptr);
        if (!within([] { return secretServiceOwner() != 0; })) throw std::runtime_error("the name was not taken");
    }

private:
    // Every call that comes in is dropped; GDBus answers pings itself, past the filters.
    static GDBusMessage* swallow(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
        const char* interface = g_dbus_message_get_interface(message);
        if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL ||
            (interface && std::string_view(interface) == "org.freedesktop.DBus.Peer"))
            return message;
        g_object_unref(message);
        return nullptr;
    }

    testkit::PrivateBus bus_;
};

// Names each failed check on stderr.
bool boundedByAKeyringAnsweringOnlyPings() {
    const KeyringAnsweringOnlyPings keyring;
    std::string failed;
    auto check = [&](bool held, const char* what) { failed += held ? "" : std::string(what) + "\n"; };
    KeychainSessionStore store(testService());
    // A bus's own time-out is 25 s for each call; an operation makes several.
    auto started = std::chrono::steady_clock::now();
    const auto inBound = [&] {
        const auto now = std::chrono::steady_clock::now();
        return now - std::exchange(started, now) < std::chrono::seconds(20);
    };
    check(store.load() == SessionLoad::unreadable() && inBound(), "load was not unreadable within its bound");
    try {
        store.save(session());
        check(false, "save did not throw");
    } catch (const KeychainError& error) {
        check(error.status() == KeychainStatus::notResponding && inBound(), "save did not say so within its bound");
    }
    std::fputs(failed.c_str(), stderr);
    return failed.empty();
}

// A keyring that answers pings, so that no watch for a stopped one fires, but none of its calls:
// each operation ends within seconds and says the keyring is not answering.
TEST(KeychainAnsweringOnlyPings, EachOperationEndsWithinItsBoundAndSaysSo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(boundedByAKeyringAnsweringOnlyPings() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace brisalune
