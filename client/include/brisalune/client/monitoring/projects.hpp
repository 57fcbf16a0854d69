#pragma once

// A team's projects. Plane data.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/core/client.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace brisalune {

// One page of at most `limit` projects, after the cursor of the page before when given.
ProjectPage listProjects(
    const BrisaluneClient& client, std::int64_t limit, const std::optional<std::string>& after = std::nullopt);

}  // namespace brisalune
