#pragma once

// Calls on one project's resources, for the families that live under "/v1/projects/{id}".

#include <brisalune/client/core/client.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune {

// "/v1/projects/" and the escaped project id.
inline std::string projectPath(std::string_view project) { return "/v1/projects/" + escapedPathSegment(project); }

// "/" and the escaped segment, to append to a path.
inline std::string segment(std::string_view text) { return "/" + escapedPathSegment(text); }

// A call with the team's data key, no extra headers and the default time-out.
inline Call dataCall(std::string method, std::string path, std::vector<platform::QueryItem> query = {}) {
    return {.method = std::move(method), .path = std::move(path), .query = std::move(query), .plane = AuthPlane::data};
}

}  // namespace brisalune
