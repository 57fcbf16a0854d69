#include <brisalune/client/incidents/link_endpoints.hpp>

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/incident_calls.hpp>

#include <optional>
#include <string>

namespace brisalune {

namespace {

struct LinkBody {
    std::string url;
};

struct IssueBody {
    std::string trackerId;
};

struct IssueTrackersResponse {
    std::optional<std::vector<IssueTracker>> issueTrackers;
};

struct RetriedResponse {
    std::int64_t retried = 0;
};

}  // namespace

// clang-format off
template <>
inline constexpr auto json::keys<LinkBody> = json::object(json::field("url", &LinkBody::url));
template <>
inline constexpr auto json::keys<IssueBody> = json::object(json::field("tracker_id", &IssueBody::trackerId));
template <>
inline constexpr auto json::keys<IssueTrackersResponse> = json::object(
    json::field("issue_trackers", &IssueTrackersResponse::issueTrackers));
template <>
inline constexpr auto json::keys<RetriedResponse> = json::object(json::field("retried", &RetriedResponse::retried));
// clang-format on

IncidentLink addIncidentLink(const BrisaluneClient& client, std::int64_t number, std::string_view url) {
    return fetch<IncidentLink>(client, dataCall("POST", incidentPath(number, "/links")), LinkBody{std::string(url)});
}

void removeIncidentLink(const BrisaluneClient& client, std::int64_t number, std::string_view linkId) {
    perform(client, dataCall("DELETE", incidentPath(number, "/links/" + escapedPathSegment(linkId))));
}

std::vector<IssueTracker> issueTrackers(const BrisaluneClient& client) {
    auto answer = fetch<IssueTrackersResponse>(client, dataCall("GET", "/v1/issue-trackers"));
    return std::move(answer.issueTrackers).value_or(std::vector<IssueTracker>{});
}

void createIncidentIssue(const BrisaluneClient& client, std::int64_t number, std::string_view trackerId) {
    perform(client, dataCall("POST", incidentPath(number, "/issues")), IssueBody{std::string(trackerId)});
}

std::int64_t retryIncidentIssues(const BrisaluneClient& client, std::int64_t number) {
    return fetch<RetriedResponse>(client, dataCall("POST", incidentPath(number, "/issues/retry"))).retried;
}

}  // namespace brisalune
