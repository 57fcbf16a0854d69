#pragma once

// A team's projects beyond one page, and a project's ingest sources with their tokens. Plane
// data. A method that returns nothing still fails when its answer is not the expected record.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/monitoring/sources.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// Every project, 500 a page, in the order received. Stops after 50 pages even when the service
// offers more; a failed page fails the whole list.
std::vector<ProjectInfo> allProjects(const BrisaluneClient& client);
void createProject(const BrisaluneClient& client, std::string_view name);
void deleteProject(const BrisaluneClient& client, std::string_view project);
void renameProject(const BrisaluneClient& client, std::string_view project, std::string_view newName);

// A stop request on `cancel` abandons the request.
std::vector<SourceInfo> listSources(const BrisaluneClient& client, std::string_view project, std::stop_token cancel = {});
CreatedSource createSource(
    const BrisaluneClient& client, std::string_view project, std::string_view name, bool retainLogs);
// Acknowledging monitoring is sent only when asked for: it cannot be withdrawn here.
void updateSource(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view name,
    bool retainLogs,
    bool acknowledgeMonitoring);
void deleteSource(const BrisaluneClient& client, std::string_view project, std::string_view name);
// The source's new ingest token.
std::string rotateSourceToken(const BrisaluneClient& client, std::string_view project, std::string_view name);

}  // namespace brisalune
