#include <brisalune/client/accounts/secret_service.hpp>
#include <brisalune/client/accounts/session.hpp>

#include <support/session_print.hpp>
#include <support/temp_dir.hpp>

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
    return {.baseURL = *platform::Url::parse("https://api.brisalune.example"), .sessionToken = std::move(token),
            .accountId = "acc_1", .email = "ana@example.com", .activeTenantId = "t1",
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
    for (const auto& [operation, status] : {std::pair{"update", KeychainStatus::interactionNotAllowed},
                                            std::pair{"add", KeychainStatus::failed}}) {
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
    }
    store.clear();
    check(std::filesystem::is_empty(home.path()), "something was written under the home folder");
    std::fputs(failed.c_str(), stderr);
    return failed.empty();
}

TEST(KeychainWithoutSecretService, LoadIsUnreadableSaveThrowsAndNoFileAppears) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // _Exit: the libraries' exit-time teardown is not under test.
    EXPECT_EXIT(std::_Exit(worksWithoutSecretService() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace brisalune
