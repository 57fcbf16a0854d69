#include <brisalune/client/alerts/pending_ack_store.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

PendingAck record(std::string alertId, std::int64_t attempts) {
    return {
        .alertId = std::move(alertId),
        .tenantId = "t-1",
        .title = "Disk full",
        .attempts = attempts,
        .lastError = "E",
        .verdict = AckFailureVerdict::retryable};
}

class PendingAckStoreConcurrency : public ::testing::TestWithParam<bool> {
protected:
    testkit::TempDir dir;
    std::unique_ptr<PendingAckStoring> store =
        GetParam() ? std::unique_ptr<PendingAckStoring>(new PendingAckStore(PendingAckStore::inFile(dir / "d.json")))
                   : std::make_unique<MemoryPendingAckStore>();
};

// Each thread counts one shared record up by compare-and-swap and keeps one record of its own:
// no increment is lost and no record of another thread is overwritten.
TEST_P(PendingAckStoreConcurrency, CompareAndSwapLosesNoIncrementAndWritersKeepTheirOwnRecords) {
    constexpr int writers = 4;
    constexpr int increments = 15;
    ASSERT_TRUE(store->put(record("shared", 0)));
    std::latch start(writers);
    {
        std::vector<std::jthread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                start.arrive_and_wait();
                const std::string own = "own-" + std::to_string(w);
                for (int i = 1; i <= increments; ++i) {
                    for (;;) {
                        const auto seen = store->get("shared");
                        if (store->replace("shared", seen, record("shared", seen ? seen->attempts + 1 : 1)) ==
                            PendingAckStoring::Replaced::written)
                            break;
                    }
                    EXPECT_TRUE(store->put(record(own, i)));
                }
            });
        }
    }
    std::vector<PendingAck> expected;
    for (int w = 0; w < writers; ++w) expected.push_back(record("own-" + std::to_string(w), increments));
    expected.push_back(record("shared", writers * increments));
    EXPECT_EQ(store->all(), expected);
}

INSTANTIATE_TEST_SUITE_P(, PendingAckStoreConcurrency, ::testing::Bool(), [](const auto& param) {
    return param.param ? "Defaults" : "Memory";
});

}  // namespace
}  // namespace brisalune
