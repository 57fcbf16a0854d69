#include <brisalune/client/alerts/alerts.hpp>
#include <brisalune/client/alerts/log_tail.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/alert_samples.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace brisalune {
namespace {

// The 13 keys every alert must carry.
json::Object requiredAlert() { return testkit::alertObject("a-1", 7); }

// The required alert with these keys set.
json::Object with(json::Object changes) {
    changes.merge(requiredAlert());
    return changes;
}

AlertSnapshot decodeAlert(const json::Object& object) { return json::decode<AlertSnapshot>(json::write(object)); }

std::string failureOf(const json::Object& object) try {
    decodeAlert(object);
    return "";
} catch (const json::DecodeError& error) {
    return error.what();
}

TEST(AlertSnapshotDecoding, EachRequiredKeyMissingOrNullFailsNamingIt) {
    for (const auto& [key, value] : requiredAlert()) {
        json::Object missing = requiredAlert();
        missing.erase(key);
        EXPECT_NE(failureOf(missing).find(key), std::string::npos) << key;
        EXPECT_NE(failureOf(with({{key, nullptr}})), "") << key;
    }
}

TEST(AlertSnapshotDecoding, WrongTypesFailAlsoForOptionalKeys) {
    for (const auto& [key, value] : std::vector<std::pair<std::string, json::Value>>{
             {"investigate", "true"},
             {"level", 2.5},
             {"identifiers", json::Object{{"k", 1}}},
             {"incident", json::Object{}},
             {"kind", 3}}) {
        EXPECT_NE(failureOf(with({{key, value}})), "") << key;
    }
}

TEST(AlertSnapshotDecoding, InstantsBelowOneReadAsAbsentAndAreNotWrittenBack) {
    auto instants = [](std::int64_t notified, std::int64_t escalation) {
        return decodeAlert(with({{"last_notified_at", notified}, {"next_escalation_at", escalation}}));
    };
    const AlertSnapshot unset = instants(0, -3);
    EXPECT_EQ(unset.lastNotifiedAt, std::nullopt);
    EXPECT_EQ(unset.nextEscalationAt, std::nullopt);
    EXPECT_EQ(json::encode(unset).find("_at\""), std::string::npos);
    EXPECT_EQ(instants(1, 0).lastNotifiedAt, 1);
    EXPECT_EQ(instants(-3, 1).nextEscalationAt, 1);
}

TEST(AlertSnapshotEncoding, DefaultsAreWrittenBackAndEveryCollectionRoundTrips) {
    const AlertSnapshot minimal = decodeAlert(requiredAlert());
    EXPECT_EQ(minimal.kind, "event");
    EXPECT_EQ(decodeAlert(with({{"kind", nullptr}})).kind, "event");
    EXPECT_EQ(decodeAlert(with({{"kind", ""}})).kind, "");
    const json::Value parsed = json::parse(json::encode(minimal));
    const json::Object& written = *parsed.get<json::Object>();
    for (const char* key : {"identifiers", "page_accounts", "kind", "source", "reported_by", "recent_counts"})
        EXPECT_TRUE(written.contains(key)) << key;
    EXPECT_FALSE(written.contains("incident"));
    const AlertSnapshot alert = decodeAlert(with(
        {{"identifiers", json::Object{{"host", "db-2"}}},
         {"recent_counts", json::Array{3, 1, 2}},
         {"reported_by",
          json::Array{json::Object{{"source", "agent"}, {"count", 2}, {"first_seen", 1}, {"last_seen", 5}}}},
         {"incident", json::Object{{"number", 4}, {"reference", "INC-4"}, {"title", "Down"}, {"state", "open"}}}}));
    EXPECT_EQ(json::decode<AlertSnapshot>(json::encode(alert)), alert);
}

TEST(AlertSnapshotViews, StateKindsFindingAndDigest) {
    EXPECT_EQ(alertState("acked"), AlertState::acked);
    EXPECT_FALSE(alertState("Firing") || alertState(" resolved"));  // matched exactly
    AlertSnapshot alert = decodeAlert(with({{"identifiers", json::Object{{"finding_id", "f-9"}}}}));
    alert.kind = "source_health";
    EXPECT_EQ(alert.secretFindingId(), std::nullopt);
    alert.kind = "secret_warning";
    EXPECT_EQ(alert.secretFindingId(), "f-9");
    alert.messageTemplate = "abc";
    EXPECT_EQ(alert.templateDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(AlertSnapshotEquality, EveryFieldCountsAndTextsCompareUnderCanonicalEquivalence) {
    auto withText = [](const std::string& text) {
        AlertSnapshot alert = decodeAlert(requiredAlert());
        alert.id = alert.messageTemplate = text;
        alert.identifiers = {{text, text}};
        alert.pageAccounts = {text};
        alert.recentCounts = {1, 2};
        alert.reportedBy = {AlertReporter{text, 1, 2, 3}};
        alert.incident = AlertIncidentRef{1, "INC-1", text, "open"};
        return alert;
    };
    const AlertSnapshot a = withText("caf\u00e9");  // é as one code point
    AlertSnapshot b = withText("cafe\u0301");       // e + combining acute
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<AlertSnapshot>{}(a), std::hash<AlertSnapshot>{}(b));
    AlertSnapshot folded = a;  // two spellings of one key are one key
    folded.identifiers = {{"caf\u00e9", "caf\u00e9"}, {"cafe\u0301", "caf\u00e9"}};
    EXPECT_EQ(folded, a);
    EXPECT_EQ(std::hash<AlertSnapshot>{}(folded), std::hash<AlertSnapshot>{}(a));

    for (auto change : std::vector<std::function<void(AlertSnapshot&)>>{
             [](AlertSnapshot& x) { x.lastMessage = "cafe"; },
             [](AlertSnapshot& x) { x.updatedSeq = 8; },
             [](AlertSnapshot& x) { x.incident.reset(); },
             [](AlertSnapshot& x) {
                 x.recentCounts = {2, 1};
             }}) {
        AlertSnapshot changed = b;
        change(changed);
        EXPECT_NE(a, changed);
    }
    EXPECT_FALSE(canonicallyEqual("caf\xff", "cafe"));  // invalid UTF-8 compares as bytes, no throw
    EXPECT_TRUE(canonicallyEqual("caf\xff", "caf\xff"));
}

TEST(LogLineCoding, MetadataIsReadFromTheLineItselfWhenAnyOfItsKeysIsThere) {
    const LogLine hostOnly = json::decode<LogLine>(R"({"message":"m","host":"db-2"})");
    ASSERT_TRUE(hostOnly.meta);
    EXPECT_EQ(hostOnly.meta->host, "db-2");
    EXPECT_TRUE(json::decode<LogLine>(R"({"message":"m","env":null})").meta.value().isEmpty());
    EXPECT_EQ(json::decode<LogLine>(R"({"message":"m","id":4,"other":1})").meta, std::nullopt);
    EXPECT_THROW(json::decode<LogLine>(R"({"host":"x"})"), json::DecodeError);
    EXPECT_THROW(json::decode<LogLine>(R"({"message":"m","tags":"x"})"), json::DecodeError);
}

TEST(LogLineCoding, SecretFlagIsWrittenOnlyWhenSetAndMetadataFlattened) {
    EXPECT_EQ(json::encode(json::decode<LogLine>(R"({"message":"m","secret_warning":null})")), R"({"message":"m"})");
    const LogLine full = json::decode<LogLine>(
        R"({"id":1,"message":"m","level":300,"source":"s","template_sha256":"ab","created_at":9,
            "trace_id":"t","keys":{"k":"v"},"tags":["x"],"secret_warning":true})");
    const std::string written = json::encode(full);
    EXPECT_EQ(
        written,
        R"({"id":1,"message":"m","level":300,"source":"s","template_sha256":"ab","created_at":9,)"
        R"("secret_warning":true,"env":"","host":"","run":"","trace_id":"t","keys":{"k":"v"},"tags":["x"]})");
    EXPECT_EQ(json::decode<LogLine>(written), full);
}

}  // namespace
}  // namespace brisalune
