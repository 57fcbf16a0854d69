#include <brisalune/client/pending_ack.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace brisalune {
namespace {

using Verdict = AckFailureVerdict;
using Action = PendingAck::DrainAction;

PendingAck record(std::string tenantId = "t-9", Verdict verdict = Verdict::retryable, std::int64_t attempts = 1) {
    return {.alertId = "a-1",
            .tenantId = std::move(tenantId),
            .title = "Disk full on db-2",
            .attempts = attempts,
            .lastError = "Not allowed: nope",
            .verdict = verdict};
}

std::string withVerdict(std::string_view verdict) {
    return R"({"alertId":"a-1","tenantId":"t-9","title":"T","attempts":2,"lastError":"E","verdict":)" +
           std::string(verdict) + "}";
}

TEST(PendingAckRecord, StoredFormOfAFirstAttempt) {
    const PendingAck first{.alertId = "a-1",
                           .tenantId = "t-9",
                           .title = "Disk full on db-2",
                           .attempts = 1,
                           .lastError = "Acknowledgement in progress.",
                           .verdict = Verdict::retryable};
    EXPECT_EQ(json::encode(first),
              R"({"alertId":"a-1","tenantId":"t-9","title":"Disk full on db-2","attempts":1,)"
              R"("lastError":"Acknowledgement in progress.","verdict":{"retryable":{}}})");
    for (Verdict verdict : {Verdict::gone, Verdict::final, Verdict::retryable}) {
        const PendingAck stored = record("t-9", verdict);
        EXPECT_EQ(json::decode<PendingAck>(json::encode(stored)), stored);
    }
}

TEST(PendingAckRecord, VerdictNeedsExactlyOneCaseName) {
    EXPECT_EQ(json::decode<PendingAck>(withVerdict(R"({"final":{},"other":1})")).verdict, Verdict::final);
    EXPECT_EQ(json::decode<PendingAck>(withVerdict(R"({"gone":{"why":"ignored"}})")).verdict, Verdict::gone);

    for (const char* bad : {R"({"retryable":{},"final":{}})", "{}", R"({"other":{}})", R"({"final":{},"final":{}})"}) {
        try {
            json::decode<PendingAck>(withVerdict(bad));
            ADD_FAILURE() << bad << " decoded";
        } catch (const json::DecodeError& error) {
            EXPECT_EQ(error.detail(), "Invalid number of keys found, expected one.") << bad;
            EXPECT_EQ(error.path(), "verdict") << bad;
        }
    }
    for (const char* bad : {R"({"final":true})", R"({"final":[]})", R"("final")"})
        EXPECT_THROW(json::decode<PendingAck>(withVerdict(bad)), json::DecodeError) << bad;
}

TEST(PendingAckRecord, EveryKeyIsRequiredAndExtraKeysAreIgnored) {
    EXPECT_THROW(json::decode<PendingAck>(
                     R"({"alertId":"a","tenantId":"","title":"T","lastError":"E","verdict":{"gone":{}}})"),
                 json::DecodeError);
    EXPECT_THROW(json::decode<PendingAck>(
                     R"({"alertId":"a","tenantId":"","title":"T","attempts":1.5,"lastError":"E","verdict":{"gone":{}}})"),
                 json::DecodeError);
    const auto extra = json::decode<PendingAck>(
        R"({"note":1,"alertId":"a","tenantId":"","title":"T","attempts":3,"lastError":"E","verdict":{"gone":{}}})");
    EXPECT_EQ(extra.attempts, 3);
    EXPECT_EQ(extra.tenantId, "");
}

TEST(PendingAckRecord, ReportBodyAndFirstFailure) {
    EXPECT_EQ(record("t-9", Verdict::final).reportBody(), "Disk full on db-2\nNot allowed: nope");
    EXPECT_EQ(record("t-9", Verdict::retryable).reportBody(), "Disk full on db-2");
    EXPECT_EQ(record("t-9", Verdict::gone).reportBody(), "Disk full on db-2");

    EXPECT_TRUE(record("t-9", Verdict::retryable, 0).isFirstFailure());
    EXPECT_TRUE(record("t-9", Verdict::retryable, 1).isFirstFailure());
    EXPECT_FALSE(record("t-9", Verdict::retryable, 2).isFirstFailure());
}

TEST(PendingAckRecord, DrainAction) {
    struct Case {
        std::string tenant;
        Verdict verdict;
        bool retryAll;
        Action expected;
    };
    const std::vector<Case> cases{
        {"t-2", Verdict::final, true, Action::retry},  // retry-all wins even for another team's final record
        {"t-1", Verdict::final, false, Action::report},
        {"t-1", Verdict::retryable, false, Action::retry},
        {"t-1", Verdict::gone, false, Action::retry},
        {"", Verdict::retryable, false, Action::retry},  // no tenant: the current team's
        {"", Verdict::final, false, Action::report},
        {"t-2", Verdict::retryable, false, Action::report},
    };
    for (const Case& c : cases)
        EXPECT_EQ(record(c.tenant, c.verdict).drainAction("t-1", c.retryAll), c.expected)
            << c.tenant << " " << name(c.verdict) << " " << c.retryAll;
}

TEST(PendingAckRecord, VerdictOfEveryClientError) {
    const std::vector<std::pair<BrisaluneError, Verdict>> cases{
        {BrisaluneError::unauthorized("x"), Verdict::final},
        {BrisaluneError::forbidden("x"), Verdict::final},
        {BrisaluneError::notFound("x"), Verdict::gone},
        {BrisaluneError::rateLimited("x"), Verdict::retryable},
        {BrisaluneError::conflict("x"), Verdict::retryable},
        {BrisaluneError::referenced({"r"}), Verdict::retryable},
        {BrisaluneError::validation({{"f", "r"}}), Verdict::final},
        {BrisaluneError::refused({"r"}), Verdict::final},
        {BrisaluneError::quota("l", "m"), Verdict::final},
        {BrisaluneError::clientOutdated(ClientOutdated{"macos", "2.0"}), Verdict::retryable},
        {BrisaluneError::serverOutdated(*platform::Url::parse("https://x.test"), "1.0"), Verdict::retryable},
        {BrisaluneError::server(500, "m"), Verdict::retryable},
        {BrisaluneError::transport("m"), Verdict::retryable},
        {BrisaluneError::invalidResponse("m"), Verdict::retryable},
        {BrisaluneError::invalidResetToken(), Verdict::final},
        {BrisaluneError::emailNotVerified(), Verdict::final},
        {BrisaluneError::invalidVerificationToken(), Verdict::final},
    };
    for (const auto& [error, verdict] : cases) EXPECT_EQ(ackVerdict(error), verdict) << error.what();
}

}  // namespace
}  // namespace brisalune
