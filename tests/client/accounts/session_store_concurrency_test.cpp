#include <brisalune/client/accounts/session.hpp>

#include <support/session_print.hpp>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <exception>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

StoredSession session(int writer) {
    const std::string n = std::to_string(writer);
    return {
        .baseURL = *platform::Url::parse("https://api" + n + ".brisalune.example"),
        .sessionToken = "tok-" + n,
        .accountId = "acc_" + n,
        .email = "user" + n + "@example.com",
        .activeTenantId = "t" + n,
        .tenantKeys = {{"t" + n, {.keyId = "k" + n, .apiKey = "bk_" + n, .tenantId = std::nullopt}}},
        .tenantHosts = {}};
}

// Each writer saves its own session, loads, and now and then clears, all at once: every load
// that gives a session gives one writer's whole session. `besides` runs in each round too.
// Returns how many saves succeeded.
int useFromManyThreads(SessionStoring& store, int writers, int rounds, const std::function<void(int)>& besides) {
    std::atomic<int> saved = 0;
    std::latch start(writers);
    std::vector<std::jthread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            start.arrive_and_wait();
            for (int i = 0; i < rounds; ++i) {
                besides(i);
                try {
                    store.save(session(w));
                    ++saved;
                } catch (const std::exception&) {
                    // scripted (memory), or the item was cleared under the update (keychain)
                }
                const auto load = store.load();
                if (load.session()) {
                    const auto& token = load.session()->sessionToken;
                    const int writer = std::stoi(token.substr(token.find('-') + 1));
                    EXPECT_EQ(*load.session(), session(writer));
                }
                if (i % 5 == 4) store.clear();
            }
        });
    }
    threads.clear();
    return saved;
}

TEST(SessionStoreConcurrency, TheMemoryStoreGivesWholeSessionsWhileItsSaveErrorChanges) {
    MemorySessionStore store;
    const int saved = useFromManyThreads(store, 6, 200, [&](int round) {
        store.setSaveError(round % 3 == 0 ? std::optional(MemorySessionStore::SaveError{}) : std::nullopt);
    });
    EXPECT_GT(saved, 0);
}

// Save is an update then, when there is none, an add: racing writers may add twice, which
// loading and clearing both take in their stride.
TEST(SessionStoreConcurrency, TheKeychainStoreGivesWholeSessionsToThreadsSharingTheItem) {
    const std::string service = "test.brisalune.concurrency." + std::to_string(::getpid()) + ".session";
    KeychainSessionStore store(service);
    EXPECT_GT(useFromManyThreads(store, 4, 10, [](int) {}), 0);
    store.clear();
    EXPECT_EQ(store.load(), SessionLoad::absent());
}

}  // namespace
}  // namespace brisalune
