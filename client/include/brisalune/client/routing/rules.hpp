#pragma once

// Alert rules: which events a rule considers, the field tests they must pass, how many it takes
// to fire, whom it escalates to, and its timing settings; a stored rule with its timestamps and
// mute; and rule mutes. The client carries rules and never evaluates one.
//
// Reading is lenient: apart from a condition's three keys every key may be missing (or null)
// and takes its default; a key holding a value of the wrong type fails the whole record.

#include <brisalune/client/core/json_value.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/routing/closed_text.hpp>
#include <brisalune/client/routing/rule_trigger.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune {

// Which events a rule considers. The default match (all empty) considers every event.
struct RuleMatch {
    std::int64_t minLevel = 0;
    std::vector<std::string> sources{};
    std::vector<std::string> tags{};
    std::string templateContains{};

    friend bool operator==(const RuleMatch&, const RuleMatch&) = default;
};

// One test on an event field; `value` is any JSON value. A null one is held but never sent (the
// create and update endpoints refuse it), since reading takes it as missing.
struct RuleCondition {
    enum class Comparison { equals, notEquals, atLeast, atMost };

    std::string key{};
    Comparison comparison = Comparison::equals;  // "op" on the wire
    JSONValue value{};

    friend bool operator==(const RuleCondition&, const RuleCondition&) = default;
};

// How many matching events, within how many minutes, it takes before the rule fires.
struct FireAfter {
    std::int64_t count = 0;
    std::int64_t windowMinutes = 0;
    bool distinctSources = false;

    friend bool operator==(const FireAfter&, const FireAfter&) = default;
};

// One level of a rule's escalation chain.
struct EscalationLevel {
    std::int64_t afterMinutes = 0;
    std::vector<std::string> schedules{};  // on-call schedule ids
    std::vector<std::string> accounts{};
    std::int64_t repeatMinutes = 0;

    bool hasTargets() const noexcept { return !schedules.empty() || !accounts.empty(); }

    friend bool operator==(const EscalationLevel&, const EscalationLevel&) = default;
};

// A rule; its name identifies it within its project.
struct Rule {
    std::string name{};
    std::optional<RuleTrigger> trigger{};
    RuleMatch match{};
    std::vector<RuleCondition> conditions{};
    std::optional<FireAfter> fireAfter{};
    std::vector<std::string> identifierKeys{};
    std::vector<EscalationLevel> escalations{};  // first level first
    std::vector<std::string> actions{};
    std::int64_t dedupWindowMinutes = 0;
    std::int64_t renotifyMinutes = 0;
    std::int64_t maxRenotify = 0;
    bool investigate = false;
    std::int64_t autoResolveQuietMinutes = 0;

    bool isSourceSilent() const noexcept { return trigger && trigger->type == RuleTrigger::Kind::sourceSilent; }
    // The trigger's sources for a source-silent rule; empty otherwise.
    std::vector<std::string> silentSources() const;

    // The keys of the event-only settings away from their defaults, in wire order: "match",
    // "conditions", "fire_after", "identifier_keys", "dedup_window_minutes",
    // "auto_resolve_quiet_minutes". Exactly the settings a switch to source-silent clears.
    std::vector<std::string_view> editedFields() const;

    // A copy turned source-silent: the new trigger, and every event-only setting back at its
    // default; name, escalations, actions and re-notification stay.
    Rule switchedToSourceSilent(std::vector<std::string> sources, RuleTrigger::Schedule schedule) const;
    Rule switchedToSourceSilent(std::vector<std::string> sources, std::int64_t quietMinutes) const;

    friend bool operator==(const Rule&, const Rule&) = default;
};

// A rule as the service stores it: the rule's keys and its own three in one flat object.
struct RuleInfo {
    Rule rule{};
    std::int64_t createdAt = 0;
    std::int64_t updatedAt = 0;
    std::optional<std::int64_t> mutedUntil{};  // end of the current mute

    const std::string& id() const noexcept { return rule.name; }

    friend bool operator==(const RuleInfo&, const RuleInfo&) = default;
};

// The answer of the rule list.
struct RulesResponse {
    std::vector<RuleInfo> rules{};
};

// ---- mutes ----------------------------------------------------------------------------------

// One muted rule; `until` is an instant (seconds since 1970), not a length.
struct RuleMute {
    static constexpr std::int64_t ninetyDays = 90 * 24 * 60 * 60;  // offered to callers; never applied

    std::string rule{};
    std::int64_t until = 0;
    std::optional<std::string> createdBy{};
    std::int64_t createdAt = 0;

    friend bool operator==(const RuleMute&, const RuleMute&) = default;
};

struct MuteBody {
    std::int64_t until = 0;
};

struct UnmutedResponse {
    bool unmuted = false;
};

struct MutesResponse {
    std::vector<RuleMute> mutes{};
};

// ---- wire -----------------------------------------------------------------------------------

template <>
inline constexpr auto closedTexts<RuleCondition::Comparison> = std::array{
    std::pair{RuleCondition::Comparison::equals, std::string_view("eq")},
    std::pair{RuleCondition::Comparison::notEquals, std::string_view("neq")},
    std::pair{RuleCondition::Comparison::atLeast, std::string_view("gte")},
    std::pair{RuleCondition::Comparison::atMost, std::string_view("lte")},
};

template <>
inline constexpr auto json::keys<RuleMatch> = json::object(
    json::field("min_level", &RuleMatch::minLevel, json::orEmpty),
    json::field("sources", &RuleMatch::sources, json::orEmpty),
    json::field("tags", &RuleMatch::tags, json::orEmpty),
    json::field("template_contains", &RuleMatch::templateContains, json::orEmpty));

template <>
inline constexpr auto json::keys<RuleCondition> = json::object(
    json::field("key", &RuleCondition::key),
    json::field("op", &RuleCondition::comparison),
    json::field("value", &RuleCondition::value));  // required: a null one is missing

template <>
inline constexpr auto json::keys<FireAfter> = json::object(
    json::field("count", &FireAfter::count, json::orEmpty),
    json::field("window_minutes", &FireAfter::windowMinutes, json::orEmpty),
    json::field("distinct_sources", &FireAfter::distinctSources, json::orEmpty));

template <>
inline constexpr auto json::keys<EscalationLevel> = json::object(
    json::field("after_minutes", &EscalationLevel::afterMinutes, json::orEmpty),
    json::field("schedules", &EscalationLevel::schedules, json::omitEmpty),
    json::field("accounts", &EscalationLevel::accounts, json::omitEmpty),
    json::field("repeat_minutes", &EscalationLevel::repeatMinutes, json::omitEmpty));

template <>
inline constexpr auto json::keys<Rule> = json::object(
    json::field("name", &Rule::name, json::orEmpty),
    json::field("trigger", &Rule::trigger),
    json::field("match", &Rule::match, json::orEmpty),
    json::field("conditions", &Rule::conditions, json::orEmpty),
    json::field("fire_after", &Rule::fireAfter),
    json::field("identifier_keys", &Rule::identifierKeys, json::orEmpty),
    json::field("escalations", &Rule::escalations, json::orEmpty),
    json::field("actions", &Rule::actions, json::orEmpty),
    json::field("dedup_window_minutes", &Rule::dedupWindowMinutes, json::orEmpty),
    json::field("renotify_minutes", &Rule::renotifyMinutes, json::orEmpty),
    json::field("max_renotify", &Rule::maxRenotify, json::orEmpty),
    json::field("investigate", &Rule::investigate, json::orEmpty),
    json::field("auto_resolve_quiet_minutes", &Rule::autoResolveQuietMinutes, json::orEmpty));

template <>
inline constexpr auto json::keys<RuleInfo> = json::object(
    json::byRules(&RuleInfo::rule),
    json::field("created_at", &RuleInfo::createdAt, json::orEmpty),
    json::field("updated_at", &RuleInfo::updatedAt, json::orEmpty),
    json::field("muted_until", &RuleInfo::mutedUntil));

// The rule is read from and written into the info's own object.
template <>
struct json::Rules<RuleInfo> {
    static void afterRead(const json::Node& object, RuleInfo& out);
    static void afterWrite(json::Writer& w, const RuleInfo& info) { json::writeMembers(w, info.rule); }
};

template <>
inline constexpr auto json::keys<RulesResponse> = json::object(json::field("rules", &RulesResponse::rules));

template <>
inline constexpr auto json::keys<RuleMute> = json::object(
    json::field("rule", &RuleMute::rule),
    json::field("until", &RuleMute::until),
    json::field("created_by", &RuleMute::createdBy),
    json::field("created_at", &RuleMute::createdAt));

template <>
inline constexpr auto json::keys<MuteBody> = json::object(json::field("until", &MuteBody::until));
template <>
inline constexpr auto json::keys<UnmutedResponse> = json::object(json::field("unmuted", &UnmutedResponse::unmuted));
template <>
inline constexpr auto json::keys<MutesResponse> = json::object(json::field("mutes", &MutesResponse::mutes));

}  // namespace brisalune

template <>
struct std::hash<brisalune::RuleMatch> : brisalune::RecordHash<brisalune::RuleMatch> {};
template <>
struct std::hash<brisalune::RuleCondition> : brisalune::RecordHash<brisalune::RuleCondition> {};
template <>
struct std::hash<brisalune::FireAfter> : brisalune::RecordHash<brisalune::FireAfter> {};
template <>
struct std::hash<brisalune::EscalationLevel> : brisalune::RecordHash<brisalune::EscalationLevel> {};
template <>
struct std::hash<brisalune::Rule> : brisalune::RecordHash<brisalune::Rule> {};
template <>
struct std::hash<brisalune::RuleInfo> : brisalune::RecordHash<brisalune::RuleInfo> {};
template <>
struct std::hash<brisalune::RuleMute> : brisalune::RecordHash<brisalune::RuleMute> {};
