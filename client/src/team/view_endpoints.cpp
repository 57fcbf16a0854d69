#include <brisalune/client/team/view_endpoints.hpp>

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>

namespace brisalune {

namespace {

struct TeamSourcesResponse {
    std::vector<TeamSource> sources;
};

struct TeamSchedulesResponse {
    std::vector<TeamSchedule> schedules;
};

// One "project" item per id, repeats included; the road escapes them into the query.
Call teamCall(std::string path, const std::vector<std::string>& projects) {
    std::vector<platform::QueryItem> query;
    query.reserve(projects.size());
    for (const auto& project : projects) query.push_back({"project", project});
    return dataCall("GET", std::move(path), std::move(query));
}

}  // namespace

template <>
inline constexpr auto json::keys<TeamSourcesResponse> = json::object(json::field("sources",
                                                                                 &TeamSourcesResponse::sources));
template <>
inline constexpr auto json::keys<TeamSchedulesResponse> = json::object(json::field("schedules",
                                                                                   &TeamSchedulesResponse::schedules));

std::vector<TeamSource> teamSources(const BrisaluneClient& client, const std::vector<std::string>& projects) {
    return fetch<TeamSourcesResponse>(client, teamCall("/v1/sources", projects)).sources;
}

std::vector<TeamSchedule> teamSchedules(const BrisaluneClient& client, const std::vector<std::string>& projects) {
    return fetch<TeamSchedulesResponse>(client, teamCall("/v1/oncall/schedules", projects)).schedules;
}

// The answer has the shape of one project's list.
std::vector<Integration> teamIntegrations(const BrisaluneClient& client, const std::vector<std::string>& projects) {
    return fetch<IntegrationsResponse>(client, teamCall("/v1/integrations", projects)).integrations;
}

}  // namespace brisalune
