#pragma once

// A team's API keys: the data-plane keys of its members. Plane session.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/team/team.hpp>

#include <string_view>
#include <vector>

namespace brisalune {

std::vector<APIKeyInfo> listKeys(const BrisaluneClient& client, std::string_view tenant);
IssuedKey issueKey(const BrisaluneClient& client, std::string_view tenant);
void revokeKey(const BrisaluneClient& client, std::string_view tenant, std::string_view id);

}  // namespace brisalune
