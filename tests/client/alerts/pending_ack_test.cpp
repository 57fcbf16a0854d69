#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace brisalune {
namespace {

using Verdict = AckFailureVerdict;
using Action = PendingAck::DrainAction;

PendingAck record(std::string tenantId = "t-9", Verdict verdict = Verdict::retryable, std::int64_t attempts = 1) {
    return {
        .alertId = "a-1",
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

TEST(PendingAckRecord, StoredForm) {
    EXPECT_EQ(
        json::encode(record()),
        R"({"alertId":"a-1","tenantId":"t-9","title":"Disk full on db-2","attempts":1,)"
        R"("lastError":"Not allowed: nope","verdict":{"retryable":{}}})");
    for (Verdict verdict : {Verdict::gone, Verdict::final, Verdict::retryable})
        EXPECT_EQ(json::decode<PendingAck>(json::encode(record("t-9", verdict))), record("t-9", verdict));

    EXPECT_EQ(json::decode<PendingAck>(withVerdict(R"({"final":{},"other":1})")).verdict, Verdict::final);
    for (const char* bad : {R"({"retryable":{},"final":{}})", "{}", R"({"final":{},"final":{}})"}) {
        try {
            json::decode<PendingAck>(withVerdict(bad));
            ADD_FAILURE() << bad << " decoded";
        } catch (const json::DecodeError& error) {
            EXPECT_EQ(error.detail(), "Invalid number of keys found, expected one.") << bad;
            EXPECT_EQ(error.path(), "verdict") << bad;
        }
    }
    for (const char* bad : {R"({"final":true})", R"("final")"})
        EXPECT_THROW(json::decode<PendingAck>(withVerdict(bad)), json::DecodeError) << bad;
    const char* noAttempts = R"({"alertId":"a","tenantId":"","title":"T","lastError":"E","verdict":{"gone":{}}})";
    EXPECT_THROW(json::decode<PendingAck>(noAttempts), json::DecodeError);
}

TEST(PendingAckRecord, ReportBodyAndFirstFailure) {
    EXPECT_EQ(record("t-9", Verdict::final).reportBody(), "Disk full on db-2\nNot allowed: nope");
    EXPECT_EQ(record("t-9", Verdict::retryable).reportBody(), "Disk full on db-2");
    EXPECT_EQ(record("t-9", Verdict::gone).reportBody(), "Disk full on db-2");
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
    for (const Case& c : std::vector<Case>{
             {"t-2", Verdict::final, true, Action::retry},
             {"t-1", Verdict::final, false, Action::report},
             {"t-1", Verdict::gone, false, Action::retry},
             {"", Verdict::retryable, false, Action::retry},  // the current team's
             {"", Verdict::final, false, Action::report},
             {"t-2", Verdict::retryable, false, Action::report}})
        EXPECT_EQ(record(c.tenant, c.verdict).drainAction("t-1", c.retryAll), c.expected)
            << c.tenant << " " << name(c.verdict) << " " << c.retryAll;
}

TEST(PendingAckRecord, VerdictOfEveryClientError) {
    using E = BrisaluneError;
    const std::vector<std::pair<Verdict, std::vector<E>>> groups{
        {Verdict::gone, {E::notFound("x")}},
        {Verdict::final,
         {E::unauthorized("x"),
          E::forbidden("x"),
          E::validation({{"f", "r"}}),
          E::refused({"r"}),
          E::quota("l", "m"),
          E::invalidResetToken(),
          E::emailNotVerified(),
          E::invalidVerificationToken()}},
        {Verdict::retryable,
         {E::rateLimited("x"),
          E::conflict("x"),
          E::referenced({"r"}),
          E::clientOutdated(ClientOutdated{"macos", "2.0"}),
          E::serverOutdated(*platform::Url::parse("https://x.test"), "1.0"),
          E::server(500, "m"),
          E::transport("m"),
          E::invalidResponse("m")}},
    };
    for (const auto& [verdict, errors] : groups)
        for (const E& error : errors) EXPECT_EQ(ackVerdict(error), verdict) << error.what();
}

}  // namespace
}  // namespace brisalune
