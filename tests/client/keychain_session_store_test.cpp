#include <brisalune/client/secret_service.hpp>
#include <brisalune/client/session.hpp>

#include "support/session_print.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
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
        .tenantHosts = {{"t1", *platform::Url::parse("https://box.local:8443")}},
    };
}

// ---- the store's algorithm over a small fake ------------------------------------------------

// Items in a map; each operation can be told to answer a status instead.
class FakeItems final : public SecretItemStore {
public:
    std::map<std::pair<std::string, std::string>, std::string> items;
    std::optional<std::int32_t> readAnswer, updateAnswer, addAnswer, removeAnswer;
    std::vector<std::string> calls;

    Read read(const SecretItemAddress& item) override {
        calls.emplace_back("read");
        if (readAnswer) return {.status = *readAnswer, .data = {}};
        auto found = items.find(key(item));
        if (found == items.end()) return {.status = KeychainStatus::itemNotFound, .data = {}};
        return {.status = KeychainStatus::success, .data = found->second};
    }
    std::int32_t update(const SecretItemAddress& item, std::string_view data) override {
        calls.emplace_back("update");
        if (updateAnswer) return *updateAnswer;
        auto found = items.find(key(item));
        if (found == items.end()) return KeychainStatus::itemNotFound;
        found->second = data;
        return KeychainStatus::success;
    }
    std::int32_t add(const SecretItemAddress& item, std::string_view data) override {
        calls.emplace_back("add");
        if (addAnswer) return *addAnswer;
        items.insert_or_assign(key(item), std::string(data));
        return KeychainStatus::success;
    }
    std::int32_t remove(const SecretItemAddress& item) noexcept override {
        calls.emplace_back("remove");
        if (removeAnswer) return *removeAnswer;
        return items.erase(key(item)) ? KeychainStatus::success : KeychainStatus::itemNotFound;
    }

private:
    static std::pair<std::string, std::string> key(const SecretItemAddress& item) {
        return {item.service, item.account};
    }
};

class KeychainStatusMapping : public ::testing::Test {
protected:
    std::shared_ptr<FakeItems> items = std::make_shared<FakeItems>();
    KeychainSessionStore store{"fake.session", items};
};

TEST_F(KeychainStatusMapping, OnlyNotFoundIsAbsent) {
    EXPECT_EQ(store.load(), SessionLoad::absent());
    for (auto status : {KeychainStatus::notAvailable, KeychainStatus::interactionNotAllowed, KeychainStatus::failed}) {
        items->readAnswer = status;
        EXPECT_EQ(store.load(), SessionLoad::unreadable()) << status;
    }
}

TEST_F(KeychainStatusMapping, FirstSaveAddsAfterNotFoundLaterSavesUpdate) {
    store.save(session());
    EXPECT_EQ(items->calls, (std::vector<std::string>{"update", "add"}));
    EXPECT_TRUE(items->items.contains({"fake.session", "session"}));
    items->calls.clear();
    store.save(session("tok-2"));
    EXPECT_EQ(items->calls, (std::vector<std::string>{"update"}));
    EXPECT_EQ(store.load(), SessionLoad::present(session("tok-2")));
}

TEST_F(KeychainStatusMapping, FailedUpdateThrowsItsStatusWithoutAdding) {
    items->updateAnswer = KeychainStatus::interactionNotAllowed;
    try {
        store.save(session());
        FAIL() << "saved";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), KeychainStatus::interactionNotAllowed);
        EXPECT_EQ(std::string(error.what()).find("tok-secret-1"), std::string::npos);
    }
    EXPECT_EQ(items->calls, (std::vector<std::string>{"update"}));
}

TEST_F(KeychainStatusMapping, FailedAddThrowsTheAddsStatus) {
    items->addAnswer = KeychainStatus::failed;
    try {
        store.save(session());
        FAIL() << "saved";
    } catch (const KeychainError& error) {
        EXPECT_EQ(error.status(), KeychainStatus::failed);
    }
    EXPECT_TRUE(items->items.empty());
}

TEST_F(KeychainStatusMapping, ClearAcceptsAnyAnswer) {
    items->removeAnswer = KeychainStatus::notAvailable;
    store.clear();
    items->removeAnswer.reset();
    store.clear();
    EXPECT_EQ(items->calls, (std::vector<std::string>{"remove", "remove"}));
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

    void putRaw(std::string_view data) {
        ASSERT_EQ(raw->add({.service = service, .account = "session"}, data), KeychainStatus::success);
    }
    SecretItemStore::Read readRaw() { return raw->read({.service = service, .account = "session"}); }

    std::string service = testService();
    std::shared_ptr<SecretItemStore> raw = desktopSecretService();
};

TEST_F(KeychainSessionStoreTest, SaveLoadClearAcrossFreshStores) {
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::absent());
    KeychainSessionStore(service).clear();

    KeychainSessionStore(service).save(session());
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::present(session()));

    KeychainSessionStore(service).save(session("tok-2"));
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::present(session("tok-2")));

    KeychainSessionStore(service).clear();
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::absent());
    EXPECT_EQ(readRaw().status, KeychainStatus::itemNotFound);
}

TEST_F(KeychainSessionStoreTest, ServicesDoNotSeeEachOthersItems) {
    KeychainSessionStore(service).save(session());
    KeychainSessionStore other(service + ".other");
    EXPECT_EQ(other.load(), SessionLoad::absent());
    other.clear();
    EXPECT_EQ(KeychainSessionStore(service).load(), SessionLoad::present(session()));
}

TEST_F(KeychainSessionStoreTest, UnreadableDocumentsStayUntilSavedOver) {
    const std::vector<std::string> documents = {
        "not json",
        R"({"baseURL":"https://a.example","sessionToken":"t","accountId":"a"})",
        R"({"baseURL":"https://","sessionToken":"t","accountId":"a","email":"e"})",
    };
    for (const auto& document : documents) {
        putRaw(document);
        KeychainSessionStore store(service);
        EXPECT_EQ(store.load(), SessionLoad::unreadable()) << document;
        EXPECT_EQ(readRaw().data, document);

        store.save(session());
        EXPECT_EQ(store.load(), SessionLoad::present(session()));
        store.clear();
    }
}

// Runs in a child process whose session bus address leads nowhere, with its home and data
// folders in a fresh folder; answers how many checks failed, each named on stderr.
int failuresWithoutSecretService() {
    testing::TempDir home;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (home / "no-bus").string()).c_str(), 1);
    ::setenv("HOME", home.path().c_str(), 1);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        ::setenv(name, (home / name).c_str(), 1);
    }
    int failures = 0;
    auto check = [&](bool held, const char* what) {
        if (!held) {
            std::fprintf(stderr, "%s\n", what);
            ++failures;
        }
    };
    KeychainSessionStore store(testService());
    check(store.load() == SessionLoad::unreadable(), "load was not unreadable");
    try {
        store.save(session());
        check(false, "save did not throw");
    } catch (const KeychainError& error) {
        check(error.status() == KeychainStatus::notAvailable, "save failed with another status");
    }
    store.clear();
    check(store.load() == SessionLoad::unreadable(), "load after clear was not unreadable");
    check(std::filesystem::is_empty(home.path()), "something was written under the home folder");
    return failures;
}

TEST(KeychainWithoutSecretService, LoadIsUnreadableSaveThrowsAndNoFileAppears) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // _Exit: the libraries' exit-time teardown is not under test.
    EXPECT_EXIT(std::_Exit(failuresWithoutSecretService() == 0 ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace brisalune
