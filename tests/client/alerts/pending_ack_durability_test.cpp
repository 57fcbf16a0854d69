// A pending acknowledgement must outlive the process that wrote it: these tests kill a real
// child process (this test program, re-run with a filter) at the worst moments.

#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_drain.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/standin/server.hpp>

#include <support/alert_answer.hpp>
#include <support/child_process.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

namespace fs = std::filesystem;

constexpr const char* modeVariable = "BRISALUNE_PENDING_ACK_CHILD";
constexpr const char* fileVariable = "BRISALUNE_PENDING_ACK_FILE";
constexpr const char* urlVariable = "BRISALUNE_PENDING_ACK_URL";
constexpr const char* prefixVariable = "BRISALUNE_PENDING_ACK_PREFIX";

PendingAck record(std::string alertId, std::string lastError = "Server error 500") {
    return {
        .alertId = std::move(alertId),
        .tenantId = "t-1",
        .title = "Disk full on db-2",
        .attempts = 1,
        .lastError = std::move(lastError),
        .verdict = AckFailureVerdict::retryable};
}

// The id of the i-th record a filling child writes; ids sort in the order written.
std::string filled(std::size_t i) {
    const std::string digits = std::to_string(i);
    return "k-" + std::string(digits.size() < 6 ? 6 - digits.size() : 0, '0') + digits;
}

// How many records each of two racing processes writes.
constexpr std::size_t racedRecords = 150;

// This test program run again as a child that does one job (see PendingAckDurabilityChild).
class Child : public testkit::ChildProcess {
public:
    Child(const std::string& mode, const fs::path& file, const std::string& url = "", const std::string& prefix = "")
        : ChildProcess(
              "PendingAckDurabilityChild.*",
              {std::string(modeVariable) + "=" + mode,
               std::string(fileVariable) + "=" + file.string(),
               std::string(urlVariable) + "=" + url,
               std::string(prefixVariable) + "=" + prefix}) {}
};

TEST(PendingAckDurabilityChild, Job) {
    const char* mode = std::getenv(modeVariable);
    if (!mode) GTEST_SKIP() << "run by the durability tests in a child process";
    PendingAckStore store = PendingAckStore::inFile(std::getenv(fileVariable));

    if (std::string(mode) == "attempt") {
        const BrisaluneClient client(*platform::Url::parse(std::getenv(urlVariable)), std::nullopt, "data-key");
        PendingAckCoordinator::attempt("a-1", "t-1", "Disk full on db-2", &client, store);
    }
    if (std::string(mode) == "fill") {
        for (std::size_t i = 0; i < 100000; ++i) store.put(record(filled(i)));
    }
    if (std::string(mode) == "race") {
        const std::string prefix = std::getenv(prefixVariable);
        for (std::size_t i = 0; i < racedRecords; ++i) ASSERT_TRUE(store.put(record(prefix + filled(i))));
    }
}

class PendingAckDurability : public ::testing::Test {
protected:
    testkit::TempDir dir;
    fs::path file = dir / "defaults.json";
    PendingAckStore store = PendingAckStore::inFile(file);
};

TEST_F(PendingAckDurability, ThePreflightRecordIsOnDiskBeforeTheRequestLeaves) {
    standin::Server server;
    server.on(
        "POST",
        "/v1/alerts/a-1/ack",
        standin::Reply{.status = 200, .headers = {}, .body = "", .holdUntilReleased = true});
    store.put(record("a-0"));

    Child child("attempt", file, server.baseUrl());
    ASSERT_TRUE(child.spawned());
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(60)));
    ASSERT_TRUE(child.killed());  // while the service holds the acknowledgement

    EXPECT_EQ(store.all(), (std::vector{record("a-0"), record("a-1", "Acknowledgement in progress.")}));

    // The next start's drain sends it again (the service may have taken the first one: asking
    // twice only acknowledges twice) and clears what the service confirms.
    server.on("POST", "/v1/alerts/a-0/ack", standin::Reply::json(testkit::alertAnswer("a-0")));
    server.on("POST", "/v1/alerts/a-1/ack", standin::Reply::json(testkit::alertAnswer("a-1")));
    const BrisaluneClient client(*platform::Url::parse(server.baseUrl()), std::nullopt, "data-key");
    std::vector<std::string> cleared;
    PendingAckDrain::run(
        store.all(),
        "t-1",
        false,
        {.standing = [](const std::string&) { return PendingAckStanding::wanted; },
         .attempt =
             [&](const PendingAck& pending) {
                 return PendingAckCoordinator::attempt(pending.alertId, "t-1", pending.title, &client, store);
             },
         .discardAttempt = [](const std::string&, const AckAttemptOutcome&) {},
         .report = [](const PendingAck&) {},
         .clearReport = [&](const std::string& alertId) { cleared.push_back(alertId); }});
    EXPECT_EQ(cleared, (std::vector<std::string>{"a-0", "a-1"}));
    EXPECT_TRUE(store.all().empty());
}

TEST_F(PendingAckDurability, AProcessKilledMidWriteLosesNoEarlierRecord) {
    Child child("fill", file);
    ASSERT_TRUE(child.spawned());
    std::size_t seen = 0;
    for (int polls = 0; polls < 6000 && seen < 25; ++polls) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        seen = store.all().size();
    }
    ASSERT_GE(seen, 25u);
    ASSERT_TRUE(child.killed());

    // Whatever the kill interrupted, the file holds every record written before it, in one
    // unbroken run, and the next write keeps them all.
    const auto records = store.all();
    ASSERT_GE(records.size(), seen);
    for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i], record(filled(i)));
    EXPECT_TRUE(store.put(record("after")));
    EXPECT_EQ(store.all().size(), records.size() + 1);
}

TEST_F(PendingAckDurability, ATornTemporaryFileBesideTheDefaultsChangesNothing) {
    for (const char* id : {"a", "b", "c"}) store.put(record(id));
    const auto before = store.all();

    // What a crash between writing and renaming leaves: half of the next file under a temporary name.
    std::ifstream in(file, std::ios::binary);
    const std::string whole{std::istreambuf_iterator<char>(in), {}};
    std::ofstream(dir / ".defaults.json.x7Qz9A", std::ios::binary) << whole.substr(0, whole.size() / 2);

    EXPECT_EQ(store.all(), before);
    store.put(record("d"));
    store.remove("a");
    EXPECT_EQ(store.all(), (std::vector{record("b"), record("c"), record("d")}));
}

TEST_F(PendingAckDurability, TwoProcessesWritingAtOnceLoseNoRecord) {
    // Two app instances on one home folder (two sessions, or two machines sharing it) each keep
    // what the user acknowledged there.
    Child first("race", file, "", "x-");
    Child second("race", file, "", "y-");
    ASSERT_TRUE(first.spawned());
    ASSERT_TRUE(second.spawned());
    ASSERT_TRUE(first.succeeded());
    ASSERT_TRUE(second.succeeded());
    EXPECT_EQ(store.all().size(), 2 * racedRecords);
}

}  // namespace
}  // namespace brisalune
