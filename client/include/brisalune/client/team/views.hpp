#pragma once

// Team-wide views: the sources and on-call schedules of several projects at once, each tagged
// with its project. A tagged record is one flat object on the wire: "project" stands beside
// the embedded record's own keys.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/monitoring/sources.hpp>
#include <brisalune/client/routing/oncall.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

// One ingest source of one project; identified by "project/name".
struct TeamSource {
    std::string project{};
    SourceInfo source{};

    std::string id() const { return project + "/" + source.name; }

    friend bool operator==(const TeamSource&, const TeamSource&) = default;
};

// Who is on call in a schedule at the moment of the answer. `via` is the service's own word.
struct OnCallNow {
    bool onCall = false;
    std::optional<std::string> accountId{};
    std::string via{};

    friend bool operator==(const OnCallNow&, const OnCallNow&) = default;
};

// One on-call schedule of one project; identified by "project/schedule id".
struct TeamSchedule {
    std::string project{};
    OnCallScheduleInfo info{};
    std::optional<OnCallNow> onCallNow{};

    std::string id() const { return project + "/" + info.id; }
    // Whether the service reported exactly this account (case counts) as on call now.
    bool isOnCall(std::string_view accountId) const;

    friend bool operator==(const TeamSchedule&, const TeamSchedule&) = default;
};

template <>
inline constexpr auto json::keys<TeamSource> =
    json::object(json::field("project", &TeamSource::project), json::byRules(&TeamSource::source));

template <>
struct json::Rules<TeamSource> {
    static void afterRead(const json::Node& object, TeamSource& out);
    static void afterWrite(json::Writer& w, const TeamSource& source) { json::writeMembers(w, source.source); }
};

template <>
inline constexpr auto json::keys<OnCallNow> = json::object(
    json::field("on_call", &OnCallNow::onCall, json::orEmpty),
    json::field("account_id", &OnCallNow::accountId),
    json::field("via", &OnCallNow::via, json::orEmpty));

template <>
inline constexpr auto json::keys<TeamSchedule> = json::object(
    json::field("project", &TeamSchedule::project),
    json::byRules(&TeamSchedule::info),
    json::field("on_call_now", &TeamSchedule::onCallNow));

template <>
struct json::Rules<TeamSchedule> {
    static void afterRead(const json::Node& object, TeamSchedule& out);
    static void afterWrite(json::Writer& w, const TeamSchedule& schedule) { json::writeMembers(w, schedule.info); }
};

}  // namespace brisalune

template <>
struct std::hash<brisalune::TeamSource> : brisalune::RecordHash<brisalune::TeamSource> {};
template <>
struct std::hash<brisalune::OnCallNow> : brisalune::RecordHash<brisalune::OnCallNow> {};
template <>
struct std::hash<brisalune::TeamSchedule> : brisalune::RecordHash<brisalune::TeamSchedule> {};
