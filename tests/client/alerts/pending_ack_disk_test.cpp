// An acknowledgement on a real disk that is full: it is sent once all the same, and when that
// fails too the person is told it was refused and not kept. The disk is a tmpfs mounted in the
// child that runs each case (support/own_mounts.hpp); the stand-in server stays in this process
// and counts what it received.

#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>

#include <support/alert_answer.hpp>
#include <support/endpoint_fixture.hpp>
#include <support/own_mounts.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace brisalune {
namespace {

namespace fs = std::filesystem;
using Outcome = AckAttemptOutcome;
using standin::Reply;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class PendingAckOnAFullDisk : public testkit::EndpointTest {
protected:
    void SetUp() override {
        if (!testkit::childrenCanMount()) GTEST_SKIP() << "no file system can be mounted here";
        fs::create_directory(disk);
        server.on("POST", "/v1/alerts/refused/ack", Reply::json(R"({"error":"try later"})", 503));
        server.on("POST", "/v1/alerts/taken/ack", Reply::json(testkit::alertAnswer("taken")));
    }

    std::size_t requestsFor(std::string_view alertId) const {
        const std::string path = "/v1/alerts/" + std::string(alertId) + "/ack";
        std::size_t n = 0;
        for (const auto& request : server.requests()) n += request.path == path ? 1 : 0;
        return n;
    }

    testkit::TempDir dir;
    fs::path disk = dir / "disk";
    BrisaluneClient withKey = client(std::nullopt, "data-key");
};

TEST_F(PendingAckOnAFullDisk, TheAcknowledgementIsSentOnceAndALossIsToldInWords) {
    testkit::inOwnMounts([&] {
        ASSERT_TRUE(testkit::mountTmpfs(disk, 64 * 1024));
        const fs::path file = disk / "brisalune" / "defaults.json";
        PendingAckStore store = PendingAckStore::inFile(file);
        const PendingAck earlier{
            .alertId = "earlier",
            .tenantId = "t-1",
            .title = "Disk full on db-1",
            .attempts = 1,
            .lastError = "Server error 500",
            .verdict = AckFailureVerdict::retryable};
        ASSERT_TRUE(store.put(earlier));
        const std::string before = readFile(file);
        const fs::path filler = testkit::fillUp(disk);

        const auto attempt = [&](std::string_view alertId) {
            return PendingAckCoordinator::attempt(alertId, "t-1", "Disk full on db-2", &withKey, store);
        };
        EXPECT_TRUE(attempt("taken").get<Outcome::Acknowledged>());
        const Outcome lost = attempt("refused");
        ASSERT_TRUE(lost.get<Outcome::NotKept>());
        const std::string told = lost.get<Outcome::NotKept>()->record.reportBody();
        EXPECT_EQ(
            told,
            "Disk full on db-2\n" + PendingAckCoordinator::notKeptText(AckDelivery::refused) +
                "\nServer error 503: try later");
        EXPECT_EQ(readFile(file), before);  // the record already kept is whole
        EXPECT_EQ(store.all(), std::vector{earlier});

        // Once there is room again, a failed acknowledgement is kept to be retried.
        fs::remove(filler);
        ASSERT_TRUE(attempt("refused").get<Outcome::Held>());
        EXPECT_EQ(store.all().size(), 2u);
    });
    EXPECT_EQ(requestsFor("taken"), 1u);
    EXPECT_EQ(requestsFor("refused"), 2u);  // once on the full disk, once after
}

}  // namespace
}  // namespace brisalune
