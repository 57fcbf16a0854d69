#pragma once

// The names a maintenance window's scope can cover: the project's checks, ingest sources and
// alert rules, fetched at once.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/record_hash.hpp>

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// Each list ascending by code point ("B" before "a"), duplicates kept.
struct MaintenanceScopeNames {
    std::vector<std::string> checks{};
    std::vector<std::string> sources{};
    std::vector<std::string> rules{};

    friend bool operator==(const MaintenanceScopeNames&, const MaintenanceScopeNames&) = default;
};

// Asks for the three lists concurrently and returns when all three have answered. Never throws:
// a list that cannot be read, whatever the reason, is empty, so an empty list is no proof that
// the project has none. A stop request on `cancel` abandons the requests still running: their
// lists come back empty at once.
MaintenanceScopeNames maintenanceScopeNames(
    const BrisaluneClient& client, std::string_view project, std::stop_token cancel = {});

}  // namespace brisalune

template <>
struct std::hash<brisalune::MaintenanceScopeNames> {
    std::size_t operator()(const auto& n) const { return brisalune::hashValues(n.checks, n.sources, n.rules); }
};
