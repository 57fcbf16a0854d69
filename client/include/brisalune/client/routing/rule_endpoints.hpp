#pragma once

// A project's alert rules, addressed by name, and their mutes. Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/routing/rules.hpp>

#include <cstdint>
#include <string_view>
#include <vector>

namespace brisalune {

// The project's rules in the service's order. A stop request on `cancel` abandons the request.
std::vector<RuleInfo> listRules(const BrisaluneClient& client, std::string_view project, std::stop_token cancel = {});
RuleInfo rule(const BrisaluneClient& client, std::string_view project, std::string_view name);
// The stored rule, with the service's timestamps. Both writes throw std::invalid_argument, sending
// nothing, for a condition whose value is null: it would not read back.
RuleInfo createRule(const BrisaluneClient& client, std::string_view project, const Rule& rule);
// Replaces the rule stored under `name` (the body's own name may rename it).
RuleInfo updateRule(const BrisaluneClient& client, std::string_view project, std::string_view name, const Rule& rule);
void deleteRule(const BrisaluneClient& client, std::string_view project, std::string_view name);

// Mutes the rule until the instant `until` (seconds since 1970), sent unchanged.
RuleMute muteRule(const BrisaluneClient& client, std::string_view project, std::string_view name, std::int64_t until);
// Lifts the mute; a mute (or rule) the service does not know counts as lifted.
void unmuteRule(const BrisaluneClient& client, std::string_view project, std::string_view name);
std::vector<RuleMute> listMutes(const BrisaluneClient& client, std::string_view project);

}  // namespace brisalune
