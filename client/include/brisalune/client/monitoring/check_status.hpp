#pragma once

// How each source of a project last ran one check, as the service reports it.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// The last result a source reported for the check.
struct MonitorCheckLastResult {
    std::string detail;
    std::map<std::string, std::string> keys;

    friend bool operator==(const MonitorCheckLastResult&, const MonitorCheckLastResult&) = default;
};

// How one source last ran the check.
struct MonitorCheckSourceState {
    std::string source;
    std::string status;  // the service's word, as sent
    std::int64_t lastRun = 0;
    bool stale = false;
    std::optional<MonitorCheckLastResult> lastResult;

    friend bool operator==(const MonitorCheckSourceState&, const MonitorCheckSourceState&) = default;
};

// The status of one check across its sources.
struct MonitorCheckStatus {
    std::string check;
    std::vector<MonitorCheckSourceState> sources;

    friend bool operator==(const MonitorCheckStatus&, const MonitorCheckStatus&) = default;
};

// ---- key tables ---------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<MonitorCheckLastResult> = json::object(
    json::field("detail", &MonitorCheckLastResult::detail, json::orEmpty),
    json::field("keys", &MonitorCheckLastResult::keys, json::orEmpty));

template <>
inline constexpr auto json::keys<MonitorCheckSourceState> = json::object(
    json::field("source", &MonitorCheckSourceState::source),
    json::field("status", &MonitorCheckSourceState::status),
    json::field("last_run", &MonitorCheckSourceState::lastRun, json::orEmpty),
    json::field("stale", &MonitorCheckSourceState::stale, json::orEmpty),
    json::field("last_result", &MonitorCheckSourceState::lastResult));

template <>
inline constexpr auto json::keys<MonitorCheckStatus> = json::object(
    json::field("check", &MonitorCheckStatus::check),
    json::field("sources", &MonitorCheckStatus::sources, json::orEmpty));

}  // namespace brisalune

template <>
struct std::hash<brisalune::MonitorCheckLastResult> : brisalune::RecordHash<brisalune::MonitorCheckLastResult> {};
template <>
struct std::hash<brisalune::MonitorCheckSourceState> : brisalune::RecordHash<brisalune::MonitorCheckSourceState> {};
template <>
struct std::hash<brisalune::MonitorCheckStatus> : brisalune::RecordHash<brisalune::MonitorCheckStatus> {};
