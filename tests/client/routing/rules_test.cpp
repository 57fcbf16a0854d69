#include <brisalune/client/routing/rules.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

namespace brisalune {
namespace {

using Schedule = RuleTrigger::Schedule;

// The written form as a tree, so key order does not matter.
template <class T>
json::Value written(const T& value) {
    return json::parse(json::encode(value));
}

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

    // Any JSON value, null included, is kept whole and written back unchanged.
    for (std::string value : {R"({"a":[1,{"b":null}],"c":"d"})", "[true,2.5,\"x\"]", "null"}) {
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
    EXPECT_EQ(
        json::decode<RuleTrigger>(json::encode(RuleTrigger::onCron({"a"}, "e", "UTC", 3))),
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
        .escalations = {EscalationLevel{.afterMinutes = 5, .accounts = {"acc"}}},
        .actions = {"page"},
        .dedupWindowMinutes = 10,
        .renotifyMinutes = 7,
        .investigate = true};
    EXPECT_EQ(rule.editedFields(), (std::vector<std::string_view>{"match", "conditions", "dedup_window_minutes"}));
    EXPECT_TRUE(rule.silentSources().empty());

    rule.fireAfter = FireAfter{};
    rule.identifierKeys = {"host"};
    rule.autoResolveQuietMinutes = 60;
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

TEST(RuleMutes, RecordsAndBodies) {
    auto mute = json::decode<RuleMute>(R"({"rule":"cpu","until":100,"created_at":5})");
    EXPECT_EQ(written(mute), json::parse(R"({"rule":"cpu","until":100,"created_at":5})"));
    EXPECT_THROW(json::decode<RuleMute>(R"({"rule":"cpu","until":"100","created_at":5})"), json::DecodeError);
    EXPECT_EQ(json::encode(MuteBody{RuleMute::ninetyDays}), R"({"until":7776000})");
}

}  // namespace
}  // namespace brisalune
