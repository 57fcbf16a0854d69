#pragma once

// The service's service-level reports over a period, for the whole team: uptime and outages of
// each check and each status-page component, and how fast alerts were acknowledged and resolved.
// Read-only records; instants are whole seconds, passed through as they are.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// The period a report covers: two instants, or a preset the service interprets.
struct SLAPeriod {
    struct Custom {
        std::int64_t start = 0;
        std::int64_t end = 0;
        friend bool operator==(const Custom&, const Custom&) = default;
    };
    struct Days7 {
        friend bool operator==(const Days7&, const Days7&) = default;
    };
    struct Days30 {
        friend bool operator==(const Days30&, const Days30&) = default;
    };
    struct Days90 {
        friend bool operator==(const Days90&, const Days90&) = default;
    };

    std::variant<Custom, Days7, Days30, Days90> value;

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }

    // The widest custom span the range rule accepts: 366 days.
    static constexpr std::int64_t maxSpanSeconds = 366 * 86'400;

    // "from" and "to" for a custom period, else "period" with "7d", "30d" or "90d".
    std::vector<platform::QueryItem> slaQueryItems() const;
    // The text to show when a custom period is not acceptable: it must start before it ends and
    // span at most maxSpanSeconds. Endpoints send any period; asking first is the caller's choice.
    std::optional<std::string> validateRange() const;

    friend bool operator==(const SLAPeriod&, const SLAPeriod&) = default;
};

// One check's figures; identified by project and check.
struct SLACheckRow {
    std::string project;
    std::string check;
    std::optional<double> uptimePercent;
    std::int64_t outages = 0;
    std::int64_t downtimeSeconds = 0;
    std::int64_t longestDowntimeSeconds = 0;
    std::int64_t judgedRuns = 0;

    // "<project>/<check>".
    std::string id() const { return project + "/" + check; }

    friend bool operator==(const SLACheckRow&, const SLACheckRow&) = default;
};

struct SLAChecksReport {
    std::int64_t start = 0;  // "from"
    std::int64_t end = 0;    // "to"
    std::vector<SLACheckRow> checks;

    friend bool operator==(const SLAChecksReport&, const SLAChecksReport&) = default;
};

// One status-page component's figures; identified by page id and component id.
struct SLAComponentRow {
    std::string pageId;
    std::string page;
    std::string componentId;
    std::string component;
    std::optional<double> uptimePercent;
    std::int64_t outages = 0;
    std::int64_t downtimeSeconds = 0;
    std::int64_t longestDowntimeSeconds = 0;
    std::int64_t maintenanceSeconds = 0;

    // "<pageId>/<componentId>".
    std::string id() const { return pageId + "/" + componentId; }

    friend bool operator==(const SLAComponentRow&, const SLAComponentRow&) = default;
};

struct SLAComponentsReport {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::vector<SLAComponentRow> components;

    friend bool operator==(const SLAComponentsReport&, const SLAComponentsReport&) = default;
};

struct SLAResponseStats {
    std::int64_t alerts = 0;
    std::int64_t acknowledged = 0;
    std::int64_t resolved = 0;
    std::optional<std::int64_t> mttaSeconds;  // mean time to acknowledge
    std::optional<std::int64_t> mttrSeconds;  // mean time to resolve

    friend bool operator==(const SLAResponseStats&, const SLAResponseStats&) = default;
};

// One project's response figures; the stats sit beside "project" in the same object.
struct SLAProjectResponseStats {
    std::string project;
    SLAResponseStats stats;

    const std::string& id() const noexcept { return project; }

    friend bool operator==(const SLAProjectResponseStats&, const SLAProjectResponseStats&) = default;
};

struct SLAResponseTimesReport {
    std::int64_t start = 0;
    std::int64_t end = 0;
    SLAResponseStats team;
    std::vector<SLAProjectResponseStats> projects;

    friend bool operator==(const SLAResponseTimesReport&, const SLAResponseTimesReport&) = default;
};

// ---- key tables ---------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<SLACheckRow> = json::object(
    json::field("project", &SLACheckRow::project),
    json::field("check", &SLACheckRow::check),
    json::field("uptime_percent", &SLACheckRow::uptimePercent),
    json::field("outages", &SLACheckRow::outages),
    json::field("downtime_seconds", &SLACheckRow::downtimeSeconds),
    json::field("longest_downtime_seconds", &SLACheckRow::longestDowntimeSeconds),
    json::field("judged_runs", &SLACheckRow::judgedRuns));

template <>
inline constexpr auto json::keys<SLAChecksReport> = json::object(
    json::field("from", &SLAChecksReport::start),
    json::field("to", &SLAChecksReport::end),
    json::field("checks", &SLAChecksReport::checks, json::orEmpty));

template <>
inline constexpr auto json::keys<SLAComponentRow> = json::object(
    json::field("page_id", &SLAComponentRow::pageId),
    json::field("page", &SLAComponentRow::page),
    json::field("component_id", &SLAComponentRow::componentId),
    json::field("component", &SLAComponentRow::component),
    json::field("uptime_percent", &SLAComponentRow::uptimePercent),
    json::field("outages", &SLAComponentRow::outages),
    json::field("downtime_seconds", &SLAComponentRow::downtimeSeconds),
    json::field("longest_downtime_seconds", &SLAComponentRow::longestDowntimeSeconds),
    json::field("maintenance_seconds", &SLAComponentRow::maintenanceSeconds));

template <>
inline constexpr auto json::keys<SLAComponentsReport> = json::object(
    json::field("from", &SLAComponentsReport::start),
    json::field("to", &SLAComponentsReport::end),
    json::field("components", &SLAComponentsReport::components, json::orEmpty));

template <>
inline constexpr auto json::keys<SLAResponseStats> = json::object(
    json::field("alerts", &SLAResponseStats::alerts),
    json::field("acknowledged", &SLAResponseStats::acknowledged),
    json::field("resolved", &SLAResponseStats::resolved),
    json::field("mtta_seconds", &SLAResponseStats::mttaSeconds),
    json::field("mttr_seconds", &SLAResponseStats::mttrSeconds));

template <>
inline constexpr auto json::keys<SLAProjectResponseStats> = json::object(
    json::field("project", &SLAProjectResponseStats::project), json::byRules(&SLAProjectResponseStats::stats));

template <>
struct json::Rules<SLAProjectResponseStats> {
    static void afterRead(const json::Node& object, SLAProjectResponseStats& out);
    static void afterWrite(json::Writer& w, const SLAProjectResponseStats& row) { json::writeMembers(w, row.stats); }
};

template <>
inline constexpr auto json::keys<SLAResponseTimesReport> = json::object(
    json::field("from", &SLAResponseTimesReport::start),
    json::field("to", &SLAResponseTimesReport::end),
    json::field("team", &SLAResponseTimesReport::team),
    json::field("projects", &SLAResponseTimesReport::projects, json::orEmpty));

}  // namespace brisalune

template <>
struct std::hash<brisalune::SLAPeriod> {
    std::size_t operator()(const brisalune::SLAPeriod& period) const noexcept;
};
template <>
struct std::hash<brisalune::SLACheckRow> : brisalune::RecordHash<brisalune::SLACheckRow> {};
template <>
struct std::hash<brisalune::SLAChecksReport> : brisalune::RecordHash<brisalune::SLAChecksReport> {};
template <>
struct std::hash<brisalune::SLAComponentRow> : brisalune::RecordHash<brisalune::SLAComponentRow> {};
template <>
struct std::hash<brisalune::SLAComponentsReport> : brisalune::RecordHash<brisalune::SLAComponentsReport> {};
template <>
struct std::hash<brisalune::SLAResponseStats> : brisalune::RecordHash<brisalune::SLAResponseStats> {};
template <>
struct std::hash<brisalune::SLAProjectResponseStats> : brisalune::RecordHash<brisalune::SLAProjectResponseStats> {};
template <>
struct std::hash<brisalune::SLAResponseTimesReport> : brisalune::RecordHash<brisalune::SLAResponseTimesReport> {};
