#pragma once

// An incident's issue links and tracker issues, and the team's issue trackers. Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/links.hpp>

#include <cstdint>
#include <string_view>
#include <vector>

namespace brisalune {

// `url` is sent as given; the service judges it.
IncidentLink addIncidentLink(const BrisaluneClient& client, std::int64_t number, std::string_view url);
void removeIncidentLink(const BrisaluneClient& client, std::int64_t number, std::string_view linkId);
std::vector<IssueTracker> issueTrackers(const BrisaluneClient& client);
// Asks the service to open an issue for the incident in that tracker.
void createIncidentIssue(const BrisaluneClient& client, std::int64_t number, std::string_view trackerId);
// How many jobs the service retried.
std::int64_t retryIncidentIssues(const BrisaluneClient& client, std::int64_t number);

}  // namespace brisalune
