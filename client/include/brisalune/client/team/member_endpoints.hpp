#pragma once

// A team's members and invites, and redeeming an invite. Plane session. A validation failure
// naming "current_password" means the password given was wrong (isWrongCurrentPassword).

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/roles/project_grant.hpp>
#include <brisalune/client/team/removal_report.hpp>
#include <brisalune/client/team/team.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

std::vector<Member> listMembers(const BrisaluneClient& client, std::string_view tenant);
// The password travels only when given; without it the request has no body. None when the
// service answers without a report (204, or any 2xx with an empty body).
std::optional<MemberRemovalReport> removeMember(
    const BrisaluneClient& client,
    std::string_view tenant,
    std::string_view account,
    const std::optional<std::string>& currentPassword = std::nullopt);

std::vector<PendingInvite> listInvites(const BrisaluneClient& client, std::string_view tenant);
// The invite token the service made; grants and password are left out of the body when absent.
std::string createInvite(
    const BrisaluneClient& client,
    std::string_view tenant,
    std::string_view email,
    std::string_view role,
    const std::optional<std::vector<ProjectGrant>>& projects = std::nullopt,
    const std::optional<std::string>& currentPassword = std::nullopt);
void revokeInvite(const BrisaluneClient& client, std::string_view tenant, std::string_view id);
// Joins the signed-in account to the invite's team.
RedeemedInvite redeemInvite(const BrisaluneClient& client, std::string_view token);

}  // namespace brisalune
