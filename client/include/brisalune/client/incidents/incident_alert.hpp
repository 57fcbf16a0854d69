#pragma once

// An alert as attached to an incident or a status report. Read only.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace brisalune {

// Identified by `alertId`.
struct IncidentAlert {
    std::string alertId;
    std::string project;
    std::string rule;
    std::string message;
    std::int64_t openedAt = 0;
    std::optional<std::int64_t> resolvedAt;
    std::string state;
    std::optional<std::string> attachedBy;
    std::int64_t attachedAt = 0;
    bool grouped = false;

    const std::string& id() const noexcept { return alertId; }

    friend bool operator==(const IncidentAlert&, const IncidentAlert&) = default;
};

// clang-format off
template <>
inline constexpr auto json::keys<IncidentAlert> = json::object(
    json::field("alert_id", &IncidentAlert::alertId),
    json::field("project", &IncidentAlert::project),
    json::field("rule", &IncidentAlert::rule),
    json::field("message", &IncidentAlert::message),
    json::field("opened_at", &IncidentAlert::openedAt),
    json::field("resolved_at", &IncidentAlert::resolvedAt),
    json::field("state", &IncidentAlert::state),
    json::field("attached_by", &IncidentAlert::attachedBy),
    json::field("attached_at", &IncidentAlert::attachedAt),
    json::field("grouped", &IncidentAlert::grouped, json::orEmpty));

// clang-format on

}  // namespace brisalune

template <>
struct std::hash<brisalune::IncidentAlert> : brisalune::RecordHash<brisalune::IncidentAlert> {};
