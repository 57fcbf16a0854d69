#include <brisalune/client/routing/rule_endpoints.hpp>
#include <brisalune/client/routing/rules.hpp>
#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/written.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <unordered_set>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

using Schedule = RuleTrigger::Schedule;

// The written form as a tree, so key order does not matter.
using testkit::written;

TEST(RuleRecords, MissingKeysTakeDefaultsAndDefaultsAreWrittenBack) {
    EXPECT_EQ(json::decode<Rule>(R"({"name":null,"match":null,"conditions":null,"trigger":null})"), Rule{});
    EXPECT_EQ(json::decode<Rule>(json::encode(Rule{})), Rule{});
    EXPECT_FALSE(written(Rule{}).get<json::Object>()->contains("trigger"));

    // A present key of the wrong type still fails the whole rule.
    EXPECT_THROW(json::decode<Rule>(R"({"investigate":"yes"})"), json::DecodeError);
    EXPECT_THROW(json::decode<Rule>(R"({"match":{"tags":"a"}})"), json::DecodeError);
    EXPECT_EQ(json::decode<Rule>(R"({"fire_after":{}})").fireAfter, FireAfter{});
}

TEST(RuleRecords, EscalationLevelsLeaveOutEmptyTargetsAndRepeat) {
    auto bare = json::decode<EscalationLevel>(R"({"after_minutes":15})");
    EXPECT_FALSE(bare.hasTargets());
    EXPECT_EQ(json::encode(bare), R"({"after_minutes":15})");

    auto level = json::decode<EscalationLevel>(R"({"schedules":["s1"],"accounts":null,"repeat_minutes":30})");
    EXPECT_TRUE(level.hasTargets());
    EXPECT_EQ(written(level), json::parse(R"({"after_minutes":0,"schedules":["s1"],"repeat_minutes":30})"));
}

TEST(RuleRecords, ConditionsNeedKeyOpAndValueAndKnowFourComparisons) {
    EXPECT_THROW(json::decode<RuleCondition>(R"({"key":"status","op":"GTE","value":500})"), json::DecodeError);
    EXPECT_THROW(json::decode<RuleCondition>(R"({"key":"status","op":"gte"})"), json::DecodeError);
    try {
        json::decode<Rule>(R"({"conditions":[{"key":"k","op":"eq","value":1},{"key":"k","op":"gt","value":1}]})");
        ADD_FAILURE();
    } catch (const json::DecodeError& error) {
        EXPECT_EQ(error.path(), "conditions[1].op");
    }

    EXPECT_EQ(
        json::decode<RuleCondition>(R"({"key":"status","op":"gte","value":500})").comparison,
        RuleCondition::Comparison::atLeast);

    // Any JSON value is kept whole and written back unchanged; a null one counts as missing.
    EXPECT_THROW(json::decode<RuleCondition>(R"({"key":"k","op":"eq","value":null})"), json::DecodeError);
    for (std::string value : {R"({"a":[1,{"b":null}],"c":"d"})", "[true,2.5,\"x\"]"}) {
        auto text = R"({"key":"k","op":"neq","value":)" + value + "}";
        auto decoded = json::decode<RuleCondition>(text);
        EXPECT_EQ(decoded.value, json::decode<JSONValue>(value));
        EXPECT_EQ(written(decoded), json::parse(text));
    }

    // Nesting is capped by the codec: too deep a value fails the decode instead of the stack.
    std::string deep = std::string(600, '[') + std::string(600, ']');
    EXPECT_THROW(json::decode<RuleCondition>(R"({"key":"k","op":"eq","value":)" + deep + "}"), json::DecodeError);
}

TEST(RuleRecords, RuleInfoIsOneFlatObject) {
    auto info = json::decode<RuleInfo>(R"({"name":"cpu","investigate":true,"updated_at":9,"extra":1})");
    EXPECT_TRUE(info.rule.investigate);
    EXPECT_EQ(info.updatedAt, 9);

    auto tree = written(info);
    const auto& object = *tree.get<json::Object>();
    EXPECT_EQ(object.at("name"), json::Value("cpu"));
    EXPECT_FALSE(object.contains("muted_until"));
    EXPECT_FALSE(object.contains("rule"));

    auto muted = info;
    muted.mutedUntil = 100;
    EXPECT_EQ(json::decode<RuleInfo>(json::encode(muted)), muted);
    EXPECT_EQ(std::unordered_set<RuleInfo>({info, muted, info}).size(), 2u);

    EXPECT_THROW(json::decode<RuleMute>(R"({"rule":"cpu","until":"100","created_at":5})"), json::DecodeError);
    EXPECT_EQ(json::encode(MuteBody{RuleMute::ninetyDays}), R"({"until":7776000})");
}

TEST(RuleTriggers, KindsAndScheduleView) {
    EXPECT_EQ(json::decode<RuleTrigger>("{}").type, RuleTrigger::Kind::event);
    EXPECT_THROW(json::decode<RuleTrigger>(R"({"type":"sourceSilent"})"), json::DecodeError);
    EXPECT_EQ(json::encode(RuleTrigger::defaultEvent()), R"({"type":"event"})");

    auto quiet = json::decode<RuleTrigger>(R"({"type":"source_silent","sources":["s"],"silent_for_minutes":30})");
    EXPECT_EQ(quiet.schedule(), Schedule{Schedule::Quiet{30}});
    auto withCron = quiet;
    withCron.cron = "*/5 * * * *";
    EXPECT_EQ(withCron.schedule(), (Schedule{Schedule::Cron{"*/5 * * * *", "", 0}}));
    auto event = withCron;
    event.type = RuleTrigger::Kind::event;
    EXPECT_EQ(event.schedule(), std::nullopt);
}

TEST(RuleTriggers, ConstructorsWriteOnlyWhatTheirScheduleNeeds) {
    EXPECT_EQ(
        written(RuleTrigger::onCron({}, "0 9 * * 1", "", 0)),
        json::parse(R"({"type":"source_silent","cron":"0 9 * * 1","timezone":"","grace_minutes":0})"));
    EXPECT_EQ(written(RuleTrigger::quiet({"api"}, 0)), json::parse(R"({"type":"source_silent","sources":["api"]})"));
    EXPECT_EQ(
        RuleTrigger::sourceSilent({"a"}, Schedule{Schedule::Cron{"e", "UTC", 3}}),
        RuleTrigger::onCron({"a"}, "e", "UTC", 3));
}

TEST(RuleTriggers, CronShapeCountsFiveFields) {
    EXPECT_TRUE(RuleTrigger::looksLikeCron("  0 9\t*  * 1 \n"));
    EXPECT_TRUE(RuleTrigger::looksLikeCron("0\u00a09\u3000* * 1"));  // Unicode spaces separate too
    EXPECT_FALSE(RuleTrigger::looksLikeCron("0 9 * *"));
    EXPECT_FALSE(RuleTrigger::looksLikeCron("0 9 * * 1 2025"));
}

TEST(RuleTriggers, EditedFieldsAreWhatTheSwitchToSourceSilentClears) {
    Rule rule{
        .name = "db",
        .trigger = RuleTrigger{.sources = {"ignored"}},
        .match = RuleMatch{.minLevel = 3},
        .conditions = {{"a", RuleCondition::Comparison::equals, 1}, {"b", RuleCondition::Comparison::atMost, 2}},
        .fireAfter = FireAfter{},
        .identifierKeys = {"host"},
        .escalations = {EscalationLevel{.afterMinutes = 5, .accounts = {"acc"}}},
        .actions = {"page"},
        .dedupWindowMinutes = 10,
        .renotifyMinutes = 7,
        .autoResolveQuietMinutes = 60};
    EXPECT_TRUE(rule.silentSources().empty());
    EXPECT_EQ(
        rule.editedFields(),
        (std::vector<std::string_view>{
            "match",
            "conditions",
            "fire_after",
            "identifier_keys",
            "dedup_window_minutes",
            "auto_resolve_quiet_minutes"}));

    auto switched = rule.switchedToSourceSilent({"api"}, 15);
    EXPECT_TRUE(switched.editedFields().empty());
    EXPECT_EQ(switched.silentSources(), std::vector<std::string>{"api"});
    EXPECT_EQ(switched.trigger, RuleTrigger::quiet({"api"}, 15));
    EXPECT_EQ(switched.escalations, rule.escalations);
    EXPECT_EQ(switched.renotifyMinutes, 7);
    EXPECT_EQ(rule.editedFields().size(), 6u);  // the original is untouched
}

const std::string storedRule = R"({"name":"cpu","created_at":10,"updated_at":20})";

class RuleEndpoints : public testkit::EndpointTest {};

TEST_F(RuleEndpoints, ReadsAndWritesRulesOneEscapedSegmentEach) {
    server.on("GET", "/v1/projects/a%2Fb/rules", Reply::json(R"({"rules":[]})"));
    EXPECT_TRUE(listRules(client(), "a/b").empty());
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on("GET", "/v1/projects/p/rules/%2E%2E", Reply::json(storedRule));
    server.on("GET", "/v1/projects/p/rules/a.b%20c%2Fd", Reply::json(storedRule));
    for (std::string_view name : {"..", "a.b c/d"}) EXPECT_EQ(rule(client(), "p", name).createdAt, 10);

    server.on("POST", "/v1/projects/p/rules", Reply::json(storedRule, 201));
    auto created = createRule(client(), "p", Rule{.name = "cpu"});
    EXPECT_EQ(created.updatedAt, 20);
    auto sent = json::parse(last().body);
    EXPECT_EQ(sent.get<json::Object>()->at("name"), json::Value("cpu"));
    EXPECT_FALSE(sent.get<json::Object>()->contains("trigger"));

    server.on("PUT", "/v1/projects/p/rules/old%20name", Reply::json(storedRule));
    EXPECT_EQ(updateRule(client(), "p", "old name", Rule{.name = "cpu"}).id(), "cpu");
}

TEST_F(RuleEndpoints, ARuleWithANullConditionValueIsNeverSent) {
    server.on("POST", "/v1/projects/p/rules", Reply::json(storedRule, 201));
    server.on("PUT", "/v1/projects/p/rules/cpu", Reply::json(storedRule));
    const Rule nullValued{
        .name = "cpu",
        .conditions = {
            {"host", RuleCondition::Comparison::equals, "a"}, {"status", RuleCondition::Comparison::equals, nullptr}}};
    for (const auto& write : std::vector<std::function<void()>>{
             [&] { createRule(client(), "p", nullValued); }, [&] { updateRule(client(), "p", "cpu", nullValued); }}) {
        try {
            write();
            ADD_FAILURE() << "a null condition value was accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find("conditions[1].value (key \"status\")"), std::string::npos);
        }
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(RuleEndpoints, AnswersThatDoNotDecodeAndRefusals) {
    server.on("GET", "/v1/projects/p/rules", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { listRules(client(), "p"); }).is(Case::invalidResponse));
    server.on("GET", "/v1/projects/p/rules/r", Reply::json(R"({"conditions":[{"key":"k","value":1}]})"));
    auto error = errorOf([&] { rule(client(), "p", "r"); });
    EXPECT_TRUE(error.is(Case::invalidResponse));
    EXPECT_NE(error.message().find("conditions[0].op"), std::string::npos);

    server.on("DELETE", "/v1/projects/p/rules/r", Reply{204, {}, ""});
    EXPECT_TRUE(errorOf([&] { deleteRule(client(), "p", "r"); }).is(Case::invalidResponse));

    server.on("DELETE", "/v1/projects/p/rules/r", Reply::json(R"({"error":"in use","rules":["a","b"]})", 409));
    error = errorOf([&] { deleteRule(client(), "p", "r"); });
    EXPECT_TRUE(error.is(Case::referenced));
    EXPECT_EQ(error.texts(), (std::vector<std::string>{"a", "b"}));
    server.on("DELETE", "/v1/projects/p/rules/r", Reply::json(R"({"error":"busy"})", 409));
    EXPECT_TRUE(errorOf([&] { deleteRule(client(), "p", "r"); }).is(Case::conflict));

    server.clearRequests();
    EXPECT_EQ(errorOf([&] { listRules(client("session", std::nullopt), "p"); }).message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(RuleEndpoints, MutesSendOnlyTheInstantAndUnmutingTakesNotFoundAsDone) {
    server.on(
        "PUT",
        "/v1/projects/p/rules/a%2Fb%20c/mute",
        Reply::json(R"({"rule":"a/b c","until":-5,"created_at":1,"created_by":null})"));
    EXPECT_EQ(muteRule(client(), "p", "a/b c", -5).until, -5);
    EXPECT_EQ(last().body, R"({"until":-5})");

    server.on("DELETE", "/v1/projects/p/rules/%2E%2E/mute", Reply::json(R"({"error":"no mute"})", 404));
    unmuteRule(client(), "p", "..");
    server.on("DELETE", "/v1/projects/p/rules/%2E%2E/mute", Reply::json(R"({"error":"admin role required"})", 403));
    EXPECT_TRUE(errorOf([&] { unmuteRule(client(), "p", ".."); }).is(Case::forbidden));
    server.on("DELETE", "/v1/projects/p/rules/%2E%2E/mute", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { unmuteRule(client(), "p", ".."); }).is(Case::invalidResponse));

    server.on("GET", "/v1/projects/p/mutes", Reply::json(R"({"mutes":[{"rule":"r","until":"soon","created_at":1}]})"));
    EXPECT_TRUE(errorOf([&] { listMutes(client(), "p"); }).is(Case::invalidResponse));
}

}  // namespace
}  // namespace brisalune
