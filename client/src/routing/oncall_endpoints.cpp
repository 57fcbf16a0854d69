#include <brisalune/client/routing/oncall_endpoints.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>

namespace brisalune {

namespace {

std::string schedulesPath(std::string_view project) { return projectPath(project) + "/oncall/schedules"; }
std::string schedulePath(std::string_view project, std::string_view scheduleId) {
    return schedulesPath(project) + segment(scheduleId);
}
std::string overridesPath(std::string_view project, std::string_view scheduleId) {
    return schedulePath(project, scheduleId) + "/overrides";
}

}  // namespace

std::vector<OnCallScheduleInfo> onCallSchedules(const BrisaluneClient& client, std::string_view project) {
    return fetch<OnCallSchedulesResponse>(client, dataCall("GET", schedulesPath(project))).schedules;
}

OnCallScheduleInfo createOnCallSchedule(const BrisaluneClient& client, std::string_view project,
                                        const OnCallSchedule& schedule) {
    return fetch<OnCallScheduleInfo>(client, dataCall("POST", schedulesPath(project)), schedule);
}

OnCallScheduleInfo onCallSchedule(const BrisaluneClient& client, std::string_view project,
                                  std::string_view scheduleId) {
    return fetch<OnCallScheduleInfo>(client, dataCall("GET", schedulePath(project, scheduleId)));
}

OnCallScheduleInfo updateOnCallSchedule(const BrisaluneClient& client, std::string_view project,
                                        std::string_view scheduleId, const OnCallSchedule& schedule) {
    return fetch<OnCallScheduleInfo>(client, dataCall("PUT", schedulePath(project, scheduleId)), schedule);
}

void deleteOnCallSchedule(const BrisaluneClient& client, std::string_view project, std::string_view scheduleId) {
    fetch<DeletedResponse>(client, dataCall("DELETE", schedulePath(project, scheduleId)));
}

OnCallStatus onCallStatus(const BrisaluneClient& client, std::string_view project, std::string_view scheduleId) {
    return fetch<OnCallStatus>(client, dataCall("GET", schedulePath(project, scheduleId) + "/current"));
}

std::vector<OnCallOverride> onCallOverrides(const BrisaluneClient& client, std::string_view project,
                                            std::string_view scheduleId) {
    return fetch<OnCallOverridesResponse>(client, dataCall("GET", overridesPath(project, scheduleId))).overrides;
}

std::string createOnCallOverride(const BrisaluneClient& client, std::string_view project, std::string_view scheduleId,
                                 const OnCallOverrideDraft& draft) {
    return fetch<CreatedOnCallOverride>(client, dataCall("POST", overridesPath(project, scheduleId)), draft).id;
}

void deleteOnCallOverride(const BrisaluneClient& client, std::string_view project, std::string_view scheduleId,
                          std::string_view overrideId) {
    fetch<DeletedResponse>(client, dataCall("DELETE", overridesPath(project, scheduleId) + segment(overrideId)));
}

}  // namespace brisalune
