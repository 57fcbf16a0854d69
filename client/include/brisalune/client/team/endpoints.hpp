#pragma once

// A team's data-plane keys. Plane session.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/team/team.hpp>

#include <string_view>

namespace brisalune {

IssuedKey issueKey(const BrisaluneClient& client, std::string_view tenant);
void revokeKey(const BrisaluneClient& client, std::string_view tenant, std::string_view id);

}  // namespace brisalune
