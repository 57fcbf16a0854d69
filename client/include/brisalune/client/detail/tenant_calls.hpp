#pragma once

// Paths under one team, for the families that live under "/v1/tenants/{tid}".

#include <brisalune/client/core/client.hpp>

#include <string>
#include <string_view>

namespace brisalune {

// "/v1/tenants/" and the escaped team id.
inline std::string tenantPath(std::string_view tenant) { return "/v1/tenants/" + escapedPathSegment(tenant); }

}  // namespace brisalune
