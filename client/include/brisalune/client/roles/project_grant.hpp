#pragma once

// The role vocabulary that memberships, members and invites carry.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
#include <string>

namespace brisalune {

// A member's role inside one project.
struct ProjectGrant {
    std::string project;  // project id
    std::string role;     // role id

    friend bool operator==(const ProjectGrant&, const ProjectGrant&) = default;
};

template <>
inline constexpr auto json::keys<ProjectGrant> =
    json::object(json::field("project", &ProjectGrant::project), json::field("role", &ProjectGrant::role));

}  // namespace brisalune

template <>
struct std::hash<brisalune::ProjectGrant> : brisalune::RecordHash<brisalune::ProjectGrant> {};
