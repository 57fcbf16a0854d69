#pragma once

// Requests of the incidents family (incidents, reports, status pages): all on the data plane.

#include <brisalune/client/detail/calls.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace brisalune {

// "/v1/incidents/" and the number, then `rest` (fixed text, or already escaped).
inline std::string incidentPath(std::int64_t number, std::string_view rest = {}) {
    std::string path = "/v1/incidents/" + escapedPathSegment(std::to_string(number));
    path += rest;
    return path;
}

}  // namespace brisalune
