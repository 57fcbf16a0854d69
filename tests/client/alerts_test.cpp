#include <brisalune/client/alerts.hpp>
#include <brisalune/client/log_tail.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

// The 13 keys every alert must carry.
json::Object requiredAlert() {
    return json::Object{{"id", "a-1"},        {"project", "web"},       {"rule", "errors"},    {"state", "firing"},
                        {"level", 400},       {"count", 3},             {"escalation_level", 0},
                        {"investigate", false}, {"template", "disk <*> full"}, {"last_message", "disk 2 full"},
                        {"first_seen", 100},  {"last_seen", 200},       {"updated_seq", 7}};
}

AlertSnapshot decodeAlert(const json::Object& object) { return json::decode<AlertSnapshot>(json::write(object)); }

json::Object with(json::Object object, const std::string& key, json::Value value) {
    object.insert_or_assign(key, std::move(value));
    return object;
}

std::string failureOf(const std::string& text) {
    try {
        json::decode<AlertSnapshot>(text);
    } catch (const json::DecodeError& error) {
        return error.what();
    }
    return "";
}

TEST(AlertSnapshotDecoding, RequiredKeysAloneGiveTheDefaults) {
    const AlertSnapshot alert = decodeAlert(requiredAlert());
    EXPECT_EQ(alert.id, "a-1");
    EXPECT_EQ(alert.messageTemplate, "disk <*> full");
    EXPECT_EQ(alert.updatedSeq, 7);
    EXPECT_TRUE(alert.identifiers.empty());
    EXPECT_TRUE(alert.pageAccounts.empty());
    EXPECT_TRUE(alert.reportedBy.empty());
    EXPECT_TRUE(alert.recentCounts.empty());
    EXPECT_EQ(alert.kind, "event");
    EXPECT_EQ(alert.source, "");
    EXPECT_EQ(alert.lastNotifiedAt, std::nullopt);
    EXPECT_EQ(alert.nextEscalationAt, std::nullopt);
    EXPECT_EQ(alert.incident, std::nullopt);
}

TEST(AlertSnapshotDecoding, EachRequiredKeyMissingOrNullFailsNamingIt) {
    for (const auto& [key, value] : requiredAlert()) {
        json::Object missing = requiredAlert();
        missing.erase(key);
        EXPECT_NE(failureOf(json::write(missing)).find(key), std::string::npos) << key;
        EXPECT_NE(failureOf(json::write(with(requiredAlert(), key, nullptr))), "") << key;
    }
}

TEST(AlertSnapshotDecoding, WrongTypesFailAlsoForOptionalKeys) {
    EXPECT_NE(failureOf(json::write(with(requiredAlert(), "investigate", "true"))), "");
    EXPECT_NE(failureOf(json::write(with(requiredAlert(), "level", 2.5))), "");
    EXPECT_NE(failureOf(json::write(with(requiredAlert(), "identifiers", json::Object{{"k", 1}}))), "");
    EXPECT_NE(failureOf(json::write(with(requiredAlert(), "incident", json::Object{}))), "");
    EXPECT_NE(failureOf(json::write(with(requiredAlert(), "kind", 3))), "");
    EXPECT_EQ(decodeAlert(with(requiredAlert(), "incident", nullptr)).incident, std::nullopt);
}

TEST(AlertSnapshotDecoding, KindNullReadsAsEventButEmptyStaysEmpty) {
    EXPECT_EQ(decodeAlert(with(requiredAlert(), "kind", nullptr)).kind, "event");
    EXPECT_EQ(decodeAlert(with(requiredAlert(), "kind", "")).kind, "");
    EXPECT_EQ(decodeAlert(with(requiredAlert(), "kind", "novel")).kind, "novel");
}

TEST(AlertSnapshotDecoding, InstantsBelowOneReadAsAbsentAndAreNotWrittenBack) {
    for (const char* key : {"last_notified_at", "next_escalation_at"}) {
        auto instant = [&](std::int64_t value) {
            const AlertSnapshot alert = decodeAlert(with(requiredAlert(), key, value));
            return std::string(key) == "last_notified_at" ? alert.lastNotifiedAt : alert.nextEscalationAt;
        };
        EXPECT_EQ(instant(0), std::nullopt) << key;
        EXPECT_EQ(instant(-3), std::nullopt) << key;
        EXPECT_EQ(instant(1), 1) << key;
        const std::string rewritten = json::encode(decodeAlert(with(requiredAlert(), key, 0)));
        EXPECT_EQ(rewritten.find(key), std::string::npos) << key;
    }
}

TEST(AlertSnapshotDecoding, OneBadAlertFailsTheWholePullNamingItsPath) {
    json::Object bad = requiredAlert();
    bad.erase("updated_seq");
    const json::Value pull = json::Object{
        {"cursor", 9},
        {"config_versions", json::Object{{"web", 2}}},
        {"alerts", json::Array{requiredAlert(), requiredAlert(), bad}},
    };
    try {
        json::decode<PullResponse>(json::write(pull));
        FAIL() << "decoded";
    } catch (const json::DecodeError& error) {
        EXPECT_EQ(error.path(), "alerts[2].updated_seq");
    }
    json::Object incidentWithoutTitle = with(
        requiredAlert(), "incident", json::Object{{"number", 1}, {"reference", "INC-1"}, {"state", "open"}});
    EXPECT_NE(failureOf(json::write(incidentWithoutTitle)).find("title"), std::string::npos);
}

TEST(AlertSnapshotEncoding, WritesEveryCollectionAndRoundTrips) {
    json::Object full = requiredAlert();
    full.insert_or_assign("identifiers", json::Object{{"host", "db-2"}});
    full.insert_or_assign("reported_by", json::Array{json::Object{
                                             {"source", "agent"}, {"count", 2}, {"first_seen", 1}, {"last_seen", 5}}});
    full.insert_or_assign("recent_counts", json::Array{3, 1, 2});
    full.insert_or_assign("last_notified_at", 40);
    full.insert_or_assign("incident",
                          json::Object{{"number", 4}, {"reference", "INC-4"}, {"title", "Down"}, {"state", "open"}});
    full.insert_or_assign("unknown", "ignored");
    const AlertSnapshot alert = decodeAlert(full);
    EXPECT_EQ(json::decode<AlertSnapshot>(json::encode(alert)), alert);

    const json::Value minimal = json::parse(json::encode(decodeAlert(requiredAlert())));
    const json::Object& written = *minimal.get<json::Object>();
    for (const char* key : {"identifiers", "page_accounts", "kind", "source", "reported_by", "recent_counts"}) {
        EXPECT_TRUE(written.contains(key)) << key;
    }
    for (const char* key : {"last_notified_at", "next_escalation_at", "incident"}) {
        EXPECT_FALSE(written.contains(key)) << key;
    }
    EXPECT_EQ(written.at("identifiers"), json::Value(json::Object{}));
}

TEST(AlertSnapshotViews, StateKindsFindingAndDigest) {
    AlertSnapshot alert = decodeAlert(requiredAlert());
    EXPECT_EQ(alert.alertState(), AlertState::firing);
    alert.state = "Firing";
    EXPECT_EQ(alert.alertState(), std::nullopt);
    EXPECT_EQ(alertState("acked"), AlertState::acked);
    EXPECT_EQ(alertState(" resolved"), std::nullopt);

    alert.identifiers = {{"finding_id", "f-9"}};
    alert.kind = "source_health";
    EXPECT_TRUE(alert.isSourceHealth());
    EXPECT_EQ(alert.secretFindingId(), std::nullopt);
    alert.kind = "secret_warning";
    EXPECT_TRUE(alert.isSecretWarning());
    EXPECT_EQ(alert.secretFindingId(), "f-9");
    alert.identifiers.clear();
    EXPECT_EQ(alert.secretFindingId(), std::nullopt);

    alert.messageTemplate = "abc";
    EXPECT_EQ(alert.templateDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(AlertSnapshotEquality, MapsAsMapsListsInOrderAndEveryFieldCounts) {
    const AlertSnapshot a = json::decode<AlertSnapshot>(
        R"({"id":"a","project":"p","rule":"r","state":"firing","level":1,"count":1,"escalation_level":0,
            "investigate":false,"template":"t","last_message":"m","first_seen":1,"last_seen":2,"updated_seq":3,
            "identifiers":{"x":"1","y":"2"},"recent_counts":[1,2]})");
    AlertSnapshot b = json::decode<AlertSnapshot>(
        R"({"identifiers":{"y":"2","x":"1"},"recent_counts":[1,2],"updated_seq":3,"last_seen":2,"first_seen":1,
            "last_message":"m","template":"t","investigate":false,"escalation_level":0,"count":1,"level":1,
            "state":"firing","rule":"r","project":"p","id":"a"})");
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<AlertSnapshot>{}(a), std::hash<AlertSnapshot>{}(b));

    b.recentCounts = {2, 1};
    EXPECT_NE(a, b);
    b = a;
    b.updatedSeq = 4;
    EXPECT_NE(a, b);
    b = a;
    b.incident = AlertIncidentRef{1, "INC-1", "t", "open"};
    EXPECT_NE(a, b);
}

TEST(AlertSnapshotEquality, TextsCompareAndHashUnderCanonicalEquivalence) {
    const std::string composed = "caf\u00e9";      // é as one code point
    const std::string decomposed = "cafe\u0301";   // e + combining acute
    AlertSnapshot a = decodeAlert(requiredAlert());
    a.id = composed;
    a.messageTemplate = composed;
    a.identifiers = {{composed, composed}};
    a.pageAccounts = {composed};
    a.reportedBy = {AlertReporter{composed, 1, 2, 3}};
    a.incident = AlertIncidentRef{1, "INC-1", composed, "open"};
    AlertSnapshot b = a;
    b.id = decomposed;
    b.messageTemplate = decomposed;
    b.identifiers = {{decomposed, decomposed}};
    b.pageAccounts = {decomposed};
    b.reportedBy = {AlertReporter{decomposed, 1, 2, 3}};
    b.incident = AlertIncidentRef{1, "INC-1", decomposed, "open"};
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<AlertSnapshot>{}(a), std::hash<AlertSnapshot>{}(b));
    EXPECT_EQ(std::hash<AlertReporter>{}(a.reportedBy[0]), std::hash<AlertReporter>{}(b.reportedBy[0]));

    b.lastMessage = "cafe";
    EXPECT_NE(a, b);
    EXPECT_FALSE(canonicallyEqual("caf\xff", "cafe"));  // invalid UTF-8 compares as bytes, no throw
    EXPECT_TRUE(canonicallyEqual("caf\xff", "caf\xff"));
}

// ---- log lines ----

TEST(LogLineCoding, MetadataIsReadFromTheLineItselfWhenAnyOfItsKeysIsThere) {
    const LogLine hostOnly = json::decode<LogLine>(R"({"message":"m","host":"db-2"})");
    ASSERT_TRUE(hostOnly.meta);
    EXPECT_EQ(hostOnly.meta->host, "db-2");
    EXPECT_EQ(hostOnly.meta->env, "");

    const LogLine envNull = json::decode<LogLine>(R"({"message":"m","env":null})");
    ASSERT_TRUE(envNull.meta);
    EXPECT_TRUE(envNull.meta->isEmpty());

    const LogLine plain = json::decode<LogLine>(R"({"message":"m","id":4,"other":1})");
    EXPECT_EQ(plain.meta, std::nullopt);
    EXPECT_EQ(plain.id, 4);

    EXPECT_THROW(json::decode<LogLine>(R"({"host":"x"})"), json::DecodeError);
    EXPECT_THROW(json::decode<LogLine>(R"({"message":"m","tags":"x"})"), json::DecodeError);
}

TEST(LogLineCoding, SecretFlagIsWrittenOnlyWhenSetAndMetadataFlattened) {
    EXPECT_FALSE(json::decode<LogLine>(R"({"message":"m","secret_warning":null})").secretWarning);
    EXPECT_EQ(json::encode(LogLine{.id = std::nullopt,
                                   .message = "m",
                                   .level = std::nullopt,
                                   .source = std::nullopt,
                                   .templateSHA256 = std::nullopt,
                                   .createdAt = std::nullopt,
                                   .meta = std::nullopt,
                                   .secretWarning = false}),
              R"({"message":"m"})");

    const LogLine full = json::decode<LogLine>(
        R"({"id":1,"message":"m","level":300,"source":"s","template_sha256":"ab","created_at":9,
            "trace_id":"t","keys":{"k":"v"},"tags":["x"],"secret_warning":true})");
    const std::string written = json::encode(full);
    EXPECT_EQ(written,
              R"({"id":1,"message":"m","level":300,"source":"s","template_sha256":"ab","created_at":9,)"
              R"("env":"","host":"","run":"","trace_id":"t","keys":{"k":"v"},"tags":["x"],"secret_warning":true})");
    EXPECT_EQ(json::decode<LogLine>(written), full);
    EXPECT_EQ(std::hash<LogLine>{}(json::decode<LogLine>(written)), std::hash<LogLine>{}(full));
}

}  // namespace
}  // namespace brisalune
