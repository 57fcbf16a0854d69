#pragma once

// A project's on-call schedules, their overrides, and who is on call now. Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/routing/oncall.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

std::vector<OnCallScheduleInfo> onCallSchedules(const BrisaluneClient& client, std::string_view project);
// The stored schedule.
OnCallScheduleInfo createOnCallSchedule(
    const BrisaluneClient& client, std::string_view project, const OnCallSchedule& schedule);
OnCallScheduleInfo onCallSchedule(const BrisaluneClient& client, std::string_view project, std::string_view scheduleId);
// The stored schedule.
OnCallScheduleInfo updateOnCallSchedule(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view scheduleId,
    const OnCallSchedule& schedule);
void deleteOnCallSchedule(const BrisaluneClient& client, std::string_view project, std::string_view scheduleId);

OnCallStatus onCallStatus(const BrisaluneClient& client, std::string_view project, std::string_view scheduleId);

std::vector<OnCallOverride> onCallOverrides(
    const BrisaluneClient& client, std::string_view project, std::string_view scheduleId);
// The new override's id; the whole record is read back with onCallOverrides.
std::string createOnCallOverride(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view scheduleId,
    const OnCallOverrideDraft& draft);
void deleteOnCallOverride(
    const BrisaluneClient& client, std::string_view project, std::string_view scheduleId, std::string_view overrideId);

}  // namespace brisalune
