#pragma once

// The member-access family: what the signed-in member may do (plane data, for the team whose key
// the client holds), and a member's role and project grants (plane session).

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/roles/project_grant.hpp>
#include <brisalune/client/roles/roles.hpp>
#include <brisalune/client/team/team.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// None when the server answers 404 (it keeps no roles); every other failure is thrown.
std::optional<RolesResponse> roles(const BrisaluneClient& client);

// The member as it stands afterwards.
Member setMemberRole(
    const BrisaluneClient& client,
    std::string_view tenant,
    std::string_view account,
    std::string role,
    std::optional<std::string> currentPassword = std::nullopt);
// No grants: the member is no longer limited to projects (sent as null).
Member setMemberProjects(
    const BrisaluneClient& client,
    std::string_view tenant,
    std::string_view account,
    std::optional<std::vector<ProjectGrant>> projects);

}  // namespace brisalune
