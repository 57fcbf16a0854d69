#pragma once

// Team-wide views over the given projects, one "project" query item each in the caller's order
// (none: no query at all). Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/routing/integrations.hpp>
#include <brisalune/client/team/views.hpp>

#include <string>
#include <vector>

namespace brisalune {

std::vector<TeamSource> teamSources(const BrisaluneClient& client, const std::vector<std::string>& projects);
std::vector<TeamSchedule> teamSchedules(const BrisaluneClient& client, const std::vector<std::string>& projects);
std::vector<Integration> teamIntegrations(const BrisaluneClient& client, const std::vector<std::string>& projects);

}  // namespace brisalune
