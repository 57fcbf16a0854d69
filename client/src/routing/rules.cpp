#include <brisalune/client/routing/rules.hpp>

#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

std::vector<std::string> Rule::silentSources() const {
    if (!isSourceSilent()) return {};
    return trigger->sources;
}

std::vector<std::string_view> Rule::editedFields() const {
    std::vector<std::string_view> edited;
    if (match != RuleMatch{}) edited.push_back("match");
    if (!conditions.empty()) edited.push_back("conditions");
    if (fireAfter) edited.push_back("fire_after");
    if (!identifierKeys.empty()) edited.push_back("identifier_keys");
    if (dedupWindowMinutes != 0) edited.push_back("dedup_window_minutes");
    if (autoResolveQuietMinutes != 0) edited.push_back("auto_resolve_quiet_minutes");
    return edited;
}

Rule Rule::switchedToSourceSilent(std::vector<std::string> sources, RuleTrigger::Schedule schedule) const {
    Rule switched = *this;
    switched.trigger = RuleTrigger::sourceSilent(std::move(sources), std::move(schedule));
    switched.match = {};
    switched.conditions.clear();
    switched.fireAfter.reset();
    switched.identifierKeys.clear();
    switched.dedupWindowMinutes = 0;
    switched.autoResolveQuietMinutes = 0;
    return switched;
}

Rule Rule::switchedToSourceSilent(std::vector<std::string> sources, std::int64_t quietMinutes) const {
    return switchedToSourceSilent(
        std::move(sources), RuleTrigger::Schedule{RuleTrigger::Schedule::Quiet{quietMinutes}});
}

// ---- wire -----------------------------------------------------------------------------------

void json::Rules<RuleInfo>::afterRead(const json::Node& object, RuleInfo& out) {
    json::Codec<Rule>::read(object, out.rule);
}

}  // namespace brisalune
