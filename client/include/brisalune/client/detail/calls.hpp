#pragma once

// How endpoint sources spell their calls and paths.

#include <brisalune/client/core/client.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune {

// A call on the team's data key.
inline Call dataCall(std::string method, std::string path, std::vector<platform::QueryItem> query = {}) {
    return {.method = std::move(method), .path = std::move(path), .query = std::move(query), .plane = AuthPlane::data};
}

// "/" and one escaped identifier.
inline std::string segment(std::string_view text) { return "/" + escapedPathSegment(text); }

// "/v1/tenants/{tenant}" and `rest`, which is already escaped.
inline std::string tenantPath(std::string_view tenant, std::string_view rest = {}) {
    return "/v1/tenants" + segment(tenant) + std::string(rest);
}

// "/v1/projects/{project}" and `rest`, which is already escaped.
inline std::string projectPath(std::string_view project, std::string_view rest = {}) {
    return "/v1/projects" + segment(project) + std::string(rest);
}

}  // namespace brisalune
