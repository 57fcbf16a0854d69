#include <brisalune/client/routing/rule_endpoints.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>

#include <stdexcept>
#include <string>

namespace brisalune {

namespace {

std::string rulesPath(std::string_view project) { return projectPath(project) + "/rules"; }
std::string rulePath(std::string_view project, std::string_view name) { return rulesPath(project) + segment(name); }

// A null condition value is written as "value":null, which the rule records read as missing: the
// stored rule, and every list of its project, would no longer read back.
const Rule& sendable(const Rule& rule) {
    for (std::size_t i = 0; i < rule.conditions.size(); ++i) {
        if (rule.conditions[i].value.kind() != JSONValue::Kind::null) continue;
        throw std::invalid_argument(
            "conditions[" + std::to_string(i) + "].value (key \"" + rule.conditions[i].key +
            "\"): a null value cannot be sent, it would not read back");
    }
    return rule;
}

}  // namespace

std::vector<RuleInfo> listRules(const BrisaluneClient& client, std::string_view project, std::stop_token cancel) {
    Call call = dataCall("GET", rulesPath(project));
    call.cancel = std::move(cancel);
    return fetch<RulesResponse>(client, call).rules;
}

RuleInfo rule(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    return fetch<RuleInfo>(client, dataCall("GET", rulePath(project, name)));
}

RuleInfo createRule(const BrisaluneClient& client, std::string_view project, const Rule& rule) {
    return fetch<RuleInfo>(client, dataCall("POST", rulesPath(project)), sendable(rule));
}

RuleInfo updateRule(const BrisaluneClient& client, std::string_view project, std::string_view name, const Rule& rule) {
    return fetch<RuleInfo>(client, dataCall("PUT", rulePath(project, name)), sendable(rule));
}

void deleteRule(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    fetch<DeletedResponse>(client, dataCall("DELETE", rulePath(project, name)));
}

RuleMute muteRule(const BrisaluneClient& client, std::string_view project, std::string_view name, std::int64_t until) {
    return fetch<RuleMute>(client, dataCall("PUT", rulePath(project, name) + "/mute"), MuteBody{until});
}

void unmuteRule(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    try {
        fetch<UnmutedResponse>(client, dataCall("DELETE", rulePath(project, name) + "/mute"));
    } catch (const BrisaluneError& error) {
        if (!error.is(BrisaluneError::Case::notFound)) throw;  // nothing to lift is as good as lifted
    }
}

std::vector<RuleMute> listMutes(const BrisaluneClient& client, std::string_view project) {
    return fetch<MutesResponse>(client, dataCall("GET", projectPath(project) + "/mutes")).mutes;
}

}  // namespace brisalune
