#pragma once

// The history of one status component: its current state, the phases its state held, one entry
// per day of the period asked for, and the uptime over the period. Read only.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// A stretch of time in which one state held. Identified by `id`.
struct StatusPhase {
    std::string id;
    std::string state;
    std::int64_t startedAt = 0;
    std::optional<std::int64_t> endedAt;  // absent while it lasts
    std::string origin;
    std::optional<std::string> originRef;
    bool hidden = false;

    friend bool operator==(const StatusPhase&, const StatusPhase&) = default;
};

// One day of the period.
struct StatusDay {
    enum class Kind { noData, maintenance, measured };

    std::string date;              // as the service writes it, never parsed
    std::optional<double> uptime;  // absent when nothing was measured
    std::int64_t downtimeSeconds = 0;
    std::string worst;
    std::int64_t maintenanceSeconds = 0;

    // Measured whenever an uptime is present, zero included; else maintenance by its seconds or
    // its worst state; else no data.
    Kind kind() const noexcept;

    friend bool operator==(const StatusDay&, const StatusDay&) = default;
};

struct StatusTimeline {
    std::string state{"operational"};
    std::vector<StatusPhase> phases;
    std::vector<StatusDay> days;
    std::optional<double> uptime;

    friend bool operator==(const StatusTimeline&, const StatusTimeline&) = default;
};

// clang-format off
template <>
inline constexpr auto json::keys<StatusPhase> = json::object(
    json::field("id", &StatusPhase::id),
    json::field("state", &StatusPhase::state),
    json::field("started_at", &StatusPhase::startedAt),
    json::field("ended_at", &StatusPhase::endedAt),
    json::field("origin", &StatusPhase::origin),
    json::field("origin_ref", &StatusPhase::originRef),
    json::field("hidden", &StatusPhase::hidden));

template <>
inline constexpr auto json::keys<StatusDay> = json::object(
    json::field("date", &StatusDay::date),
    json::field("uptime", &StatusDay::uptime),
    json::field("downtime_seconds", &StatusDay::downtimeSeconds),
    json::field("worst", &StatusDay::worst),
    json::field("maintenance_seconds", &StatusDay::maintenanceSeconds, json::orEmpty));

template <>
inline constexpr auto json::keys<StatusTimeline> = json::object(
    json::field("state", &StatusTimeline::state, json::orDefault(std::string_view("operational"))),
    json::field("phases", &StatusTimeline::phases, json::orEmpty),
    json::field("days", &StatusTimeline::days, json::orEmpty),
    json::field("uptime", &StatusTimeline::uptime));

// clang-format on

}  // namespace brisalune

template <>
struct std::hash<brisalune::StatusPhase> : brisalune::RecordHash<brisalune::StatusPhase> {};
template <>
struct std::hash<brisalune::StatusDay> : brisalune::RecordHash<brisalune::StatusDay> {};
template <>
struct std::hash<brisalune::StatusTimeline> : brisalune::RecordHash<brisalune::StatusTimeline> {};
