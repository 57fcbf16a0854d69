#pragma once

// A check's definition as a client writes it, a stored check as the service returns it, and what
// writing and deleting one yield. The library does not interpret a check's add-on, parameters,
// sources or environment.

#include <brisalune/client/core/json_value.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/monitoring/browser_runs.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// The alert condition inside a definition.
struct AlertIf {
    std::int64_t downFrom = 0;

    friend bool operator==(const AlertIf&, const AlertIf&) = default;
};

// What a client writes; a caller edits a copy and writes it back.
struct MonitorCheckSpec {
    std::string name;
    std::string addon;                      // the kind of probe
    JSONValue::Object with;                 // that kind's parameters (sorted by name)
    std::int64_t intervalSeconds = 0;
    std::optional<std::int64_t> timeoutSeconds;
    std::vector<std::string> sources;  // the sources that run the check
    std::optional<bool> enabled;
    std::optional<AlertIf> alertIf;
    std::optional<std::map<std::string, std::string>> env;  // named values handed to the probe

    // A definition that does not say counts as enabled.
    bool isEnabled() const noexcept { return enabled.value_or(true); }
    // "<name> is down".
    std::string downTitle() const { return name + " is down"; }

    friend bool operator==(const MonitorCheckSpec&, const MonitorCheckSpec&) = default;
};

// A stored check: its definition, flattened into the same object, and the service's own fields.
// Identified by the definition's name, which addresses it within its project.
struct MonitorCheckInfo {
    MonitorCheckSpec spec;
    std::optional<std::string> alertRule;
    std::int64_t createdAt = 0;
    std::int64_t updatedAt = 0;
    std::string placementNote;
    std::optional<CheckPause> paused;  // present while the check is paused
    std::vector<std::string> envKeys;  // the names of `env` as the service keeps them

    const std::string& id() const noexcept { return spec.name; }

    friend bool operator==(const MonitorCheckInfo&, const MonitorCheckInfo&) = default;
};

// What a create or update yields; never on the wire as a whole.
struct MonitorCheckWriteResult {
    MonitorCheckInfo check;  // as stored after the write
    std::optional<std::string> detachedRule;
    std::vector<std::string> warnings;  // the service's, then one sentence per suspected secret

    friend bool operator==(const MonitorCheckWriteResult&, const MonitorCheckWriteResult&) = default;
};

struct MonitorCheckDeleteResult {
    bool deleted = false;
    std::optional<std::string> detachedRule;

    friend bool operator==(const MonitorCheckDeleteResult&, const MonitorCheckDeleteResult&) = default;
};

// ---- key tables ---------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<AlertIf> = json::object(json::field("down_from", &AlertIf::downFrom));

template <>
inline constexpr auto json::keys<MonitorCheckSpec> = json::object(
    json::field("name", &MonitorCheckSpec::name),
    json::field("addon", &MonitorCheckSpec::addon),
    json::field("with", &MonitorCheckSpec::with, json::orEmpty),
    json::field("interval_seconds", &MonitorCheckSpec::intervalSeconds),
    json::field("timeout_seconds", &MonitorCheckSpec::timeoutSeconds),
    json::field("sources", &MonitorCheckSpec::sources, json::omitEmpty),
    json::field("enabled", &MonitorCheckSpec::enabled),
    json::field("alert_if", &MonitorCheckSpec::alertIf),
    json::field("env", &MonitorCheckSpec::env));

template <>
inline constexpr auto json::keys<MonitorCheckInfo> = json::object(
    json::flattened(&MonitorCheckInfo::spec),
    json::field("alert_rule", &MonitorCheckInfo::alertRule),
    json::field("created_at", &MonitorCheckInfo::createdAt, json::orEmpty),
    json::field("updated_at", &MonitorCheckInfo::updatedAt, json::orEmpty),
    json::field("placement_note", &MonitorCheckInfo::placementNote, json::omitEmpty),
    json::field("paused", &MonitorCheckInfo::paused),
    json::field("env_keys", &MonitorCheckInfo::envKeys, json::omitEmpty));

template <>
inline constexpr auto json::keys<MonitorCheckDeleteResult> = json::object(
    json::field("deleted", &MonitorCheckDeleteResult::deleted),
    json::field("detached_rule", &MonitorCheckDeleteResult::detachedRule));

// The answer listing a project's checks.
struct ChecksResponse {
    std::vector<MonitorCheckInfo> checks;
};

template <>
inline constexpr auto json::keys<ChecksResponse> = json::object(json::field("checks", &ChecksResponse::checks));

}  // namespace brisalune

template <>
struct std::hash<brisalune::AlertIf> : brisalune::RecordHash<brisalune::AlertIf> {};
template <>
struct std::hash<brisalune::MonitorCheckSpec> : brisalune::RecordHash<brisalune::MonitorCheckSpec> {};
template <>
struct std::hash<brisalune::MonitorCheckInfo> : brisalune::RecordHash<brisalune::MonitorCheckInfo> {};
template <>
struct std::hash<brisalune::MonitorCheckDeleteResult> : brisalune::RecordHash<brisalune::MonitorCheckDeleteResult> {};
template <>
struct std::hash<brisalune::MonitorCheckWriteResult> {
    std::size_t operator()(const brisalune::MonitorCheckWriteResult& result) const {
        return brisalune::hashValues(result.check, result.detachedRule, result.warnings);
    }
};
