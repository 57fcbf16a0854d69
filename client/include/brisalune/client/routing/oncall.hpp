#pragma once

// On-call arrangements of a project: schedules of layers (participants taking turns in shifts,
// optionally restricted to a window of minutes on chosen days), overrides that put one account on
// call for a span, and the service's answer to who is on call now. The client computes no
// rotation: it holds and sends these records and asks the service.
//
// Instants are whole seconds since 1970. The client sets no bounds of its own on any value.

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// A point in time with its fraction, as callers hold it; any std::chrono::system_clock time
// converts to it.
using PointInTime = std::chrono::sys_time<std::chrono::duration<double>>;

// Whole seconds since 1970, the fraction cut toward zero (-1.5 s gives -1). Times beyond the
// 64-bit range are clamped to it; NaN has no seconds.
std::optional<std::int64_t> wholeSecondsSince1970(PointInTime time);

// A window of minutes on chosen days outside which a layer does not apply.
struct OnCallRestriction {
    std::int64_t startMinute = 0;
    std::int64_t endMinute = 0;
    std::vector<std::int64_t> days{};

    friend bool operator==(const OnCallRestriction&, const OnCallRestriction&) = default;
};

// One rotation of a schedule.
struct OnCallLayer {
    std::string name{};
    std::vector<std::string> participants{};  // account ids, in turn order
    std::int64_t rotationStart = 0;           // the instant the rotation is anchored at
    std::int64_t shiftMinutes = 0;
    std::optional<OnCallRestriction> restriction{};  // none: no limit

    PointInTime rotationStartDate() const { return PointInTime(std::chrono::seconds(rotationStart)); }

    friend bool operator==(const OnCallLayer&, const OnCallLayer&) = default;
};

// The editable content of a schedule; also the body that creates or replaces one.
struct OnCallSchedule {
    std::string name{};
    std::string timezone{};  // carried unchanged, never checked
    std::vector<OnCallLayer> layers{};

    friend bool operator==(const OnCallSchedule&, const OnCallSchedule&) = default;
};

// A schedule as the service stores it: "id" and the timestamps beside the schedule's own keys
// in one flat object. Keys it does not know are ignored, so larger objects read as one too.
struct OnCallScheduleInfo {
    std::string id{};
    OnCallSchedule schedule{};
    std::int64_t createdAt = 0;
    std::int64_t updatedAt = 0;

    friend bool operator==(const OnCallScheduleInfo&, const OnCallScheduleInfo&) = default;
};

// One stored override: `accountId` is on call from `startsAt` up to, not including, `endsAt`.
struct OnCallOverride {
    std::string id{};
    std::string accountId{};
    std::int64_t startsAt = 0;
    std::int64_t endsAt = 0;
    std::optional<std::string> createdBy{};
    std::int64_t createdAt = 0;

    PointInTime startDate() const { return PointInTime(std::chrono::seconds(startsAt)); }
    PointInTime endDate() const { return PointInTime(std::chrono::seconds(endsAt)); }

    // Whether the override covers the time's whole second: start included, end not. Never for
    // NaN; times beyond the 64-bit range count as its nearest end.
    bool isActive(PointInTime at) const;

    friend bool operator==(const OnCallOverride&, const OnCallOverride&) = default;
};

// The body that asks for a new override. The end is not checked against the start.
struct OnCallOverrideDraft {
    std::string accountId{};
    std::int64_t startsAt = 0;
    std::int64_t endsAt = 0;

    // From two points in time, each cut to whole seconds (and clamped) as wholeSecondsSince1970
    // does. Throws std::invalid_argument for NaN, which names no instant.
    static OnCallOverrideDraft between(std::string accountId, PointInTime starts, PointInTime ends);

    friend bool operator==(const OnCallOverrideDraft&, const OnCallOverrideDraft&) = default;
};

// Who is on call for a schedule now, and by what route, as the service words it.
struct OnCallStatus {
    bool onCall = false;
    std::optional<std::string> accountId{};
    std::optional<std::string> via{};
    std::optional<std::string> email{};

    friend bool operator==(const OnCallStatus&, const OnCallStatus&) = default;
};

struct OnCallSchedulesResponse {
    std::vector<OnCallScheduleInfo> schedules{};
};

struct OnCallOverridesResponse {
    std::vector<OnCallOverride> overrides{};
};

// The answer to an override's creation: its "id".
using CreatedOnCallOverride = CreatedIdResponse;

// ---- wire -----------------------------------------------------------------------------------

// Each key is left out at its default, so a restriction of defaults is written as {}.
template <>
inline constexpr auto json::keys<OnCallRestriction> = json::object(
    json::field("start_minute", &OnCallRestriction::startMinute, json::omitEmpty),
    json::field("end_minute", &OnCallRestriction::endMinute, json::omitEmpty),
    json::field("days", &OnCallRestriction::days, json::omitEmpty));

template <>
inline constexpr auto json::keys<OnCallLayer> = json::object(
    json::field("name", &OnCallLayer::name, json::omitEmpty),
    json::field("participants", &OnCallLayer::participants, json::orEmpty),
    json::field("rotation_start", &OnCallLayer::rotationStart, json::orEmpty),
    json::field("shift_minutes", &OnCallLayer::shiftMinutes, json::orEmpty),
    json::field("restriction", &OnCallLayer::restriction));

template <>
inline constexpr auto json::keys<OnCallSchedule> = json::object(
    json::field("name", &OnCallSchedule::name, json::omitEmpty),
    json::field("timezone", &OnCallSchedule::timezone, json::omitEmpty),
    json::field("layers", &OnCallSchedule::layers, json::omitEmpty));

template <>
inline constexpr auto json::keys<OnCallScheduleInfo> = json::object(
    json::field("id", &OnCallScheduleInfo::id),
    json::byRules(&OnCallScheduleInfo::schedule),
    json::field("created_at", &OnCallScheduleInfo::createdAt, json::orEmpty),
    json::field("updated_at", &OnCallScheduleInfo::updatedAt, json::orEmpty));

// The schedule is read from and written into the info's own object.
template <>
struct json::Rules<OnCallScheduleInfo> {
    static void afterRead(const json::Node& object, OnCallScheduleInfo& out);
    static void afterWrite(json::Writer& w, const OnCallScheduleInfo& info) { json::writeMembers(w, info.schedule); }
};

template <>
inline constexpr auto json::keys<OnCallOverride> = json::object(
    json::field("id", &OnCallOverride::id),
    json::field("account_id", &OnCallOverride::accountId),
    json::field("starts_at", &OnCallOverride::startsAt),
    json::field("ends_at", &OnCallOverride::endsAt),
    json::field("created_by", &OnCallOverride::createdBy),
    json::field("created_at", &OnCallOverride::createdAt));

template <>
inline constexpr auto json::keys<OnCallOverrideDraft> = json::object(
    json::field("account_id", &OnCallOverrideDraft::accountId),
    json::field("starts_at", &OnCallOverrideDraft::startsAt),
    json::field("ends_at", &OnCallOverrideDraft::endsAt));

template <>
inline constexpr auto json::keys<OnCallStatus> = json::object(
    json::field("on_call", &OnCallStatus::onCall),
    json::field("account_id", &OnCallStatus::accountId),
    json::field("via", &OnCallStatus::via),
    json::field("email", &OnCallStatus::email));

template <>
inline constexpr auto json::keys<OnCallSchedulesResponse> =
    json::object(json::field("schedules", &OnCallSchedulesResponse::schedules));
template <>
inline constexpr auto json::keys<OnCallOverridesResponse> =
    json::object(json::field("overrides", &OnCallOverridesResponse::overrides));

}  // namespace brisalune

template <>
struct std::hash<brisalune::OnCallRestriction> : brisalune::RecordHash<brisalune::OnCallRestriction> {};
template <>
struct std::hash<brisalune::OnCallLayer> : brisalune::RecordHash<brisalune::OnCallLayer> {};
template <>
struct std::hash<brisalune::OnCallSchedule> : brisalune::RecordHash<brisalune::OnCallSchedule> {};
template <>
struct std::hash<brisalune::OnCallScheduleInfo> : brisalune::RecordHash<brisalune::OnCallScheduleInfo> {};
template <>
struct std::hash<brisalune::OnCallOverride> : brisalune::RecordHash<brisalune::OnCallOverride> {};
template <>
struct std::hash<brisalune::OnCallOverrideDraft> : brisalune::RecordHash<brisalune::OnCallOverrideDraft> {};
template <>
struct std::hash<brisalune::OnCallStatus> : brisalune::RecordHash<brisalune::OnCallStatus> {};
