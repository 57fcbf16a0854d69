#pragma once

// The roles answer (GET /v1/roles) and its records: the team's role definitions, the rules of
// routes, and the bodies that change a member's role and project grants.

#include <brisalune/client/roles/project_grant.hpp>
#include <brisalune/client/roles/route_keys.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// The permission keys the client acts on; any other text is a legal key too.
namespace Permission {
inline constexpr std::string_view membersWrite = "members:write";  // to hand out roles, unless an owner
inline constexpr std::string_view alertsWrite = "alerts:write";
inline constexpr std::string_view oncallWrite = "oncall:write";  // lifts the own-entries limit
inline constexpr std::string_view incidentPublishingWrite = "incident_publishing:write";
inline constexpr std::string_view teamSettingsWrite = "team_settings:write";
inline constexpr std::string_view incidentSettingsWrite = "incident_settings:write";
}  // namespace Permission

// One role of the team, built in or custom. `id` is the text memberships and grants carry;
// `name` is what screens show for a custom role (the id when the server sends none).
struct RoleDef {
    std::string id;
    std::string name;
    bool builtin = false;
    std::vector<std::string> permissions;

    friend bool operator==(const RoleDef&, const RoleDef&) = default;
};

// The rule of one route. A member whose permission set is known is judged by `permission`, when
// the rule has one, instead of by rank. `scope` none: derived from the key.
struct RouteRule {
    std::string minRole;
    bool selfOnly = false;  // below "member" (or without "oncall:write"): own entries only
    std::optional<RouteScope> scope;
    bool unrestrictedOnly = false;  // refused to members limited to some projects
    std::optional<std::string> permission;

    friend bool operator==(const RouteRule&, const RouteRule&) = default;
};

// Route rules by key; a key is looked up without copying it.
using RouteRules = std::map<std::string, RouteRule, std::less<>>;

// What the signed-in member may do in the team whose key the client holds. `projects` present,
// even empty: the member is limited to those projects with those roles; absent: every project
// with `role`. `permissions`: the keys `role` holds. `roleDefs`: every role of the team.
struct RolesResponse {
    std::string role;
    std::vector<std::string> roles;  // the five built-in ids when the server sends none
    RouteRules routes;
    std::optional<std::vector<ProjectGrant>> projects;
    std::optional<std::vector<std::string>> permissions;
    std::optional<std::vector<RoleDef>> roleDefs;

    friend bool operator==(const RolesResponse&, const RolesResponse&) = default;
};

struct MemberRoleBody {
    std::string role;
    std::optional<std::string> currentPassword;
};

// Absent grants travel as null: the member is no longer limited to projects.
struct MemberProjectsBody {
    std::optional<std::vector<ProjectGrant>> projects;
};

// ---- key tables ---------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<RoleDef> = json::object(
    json::field("id", &RoleDef::id),
    json::byRules(&RoleDef::name),
    json::field("builtin", &RoleDef::builtin, json::orEmpty),
    json::field("permissions", &RoleDef::permissions, json::orEmpty));

// A missing or null "name" reads as the id.
template <>
struct json::Rules<RoleDef> {
    static void afterRead(const json::Node& object, RoleDef& out);
    static void afterWrite(json::Writer& w, const RoleDef& def);
};

template <>
inline constexpr auto json::keys<RouteRule> = json::object(
    json::field("min_role", &RouteRule::minRole),
    json::field("self_only", &RouteRule::selfOnly, json::orEmpty),
    json::field("scope", &RouteRule::scope, json::lenient),  // a scope the client does not know is none
    json::field("unrestricted_only", &RouteRule::unrestrictedOnly, json::orEmpty),
    json::field("permission", &RouteRule::permission));

template <>
inline constexpr auto json::keys<RolesResponse> = json::object(
    json::field("role", &RolesResponse::role),
    json::byRules(&RolesResponse::roles),
    json::field("routes", &RolesResponse::routes, json::orEmpty),
    json::field("projects", &RolesResponse::projects),
    json::field("permissions", &RolesResponse::permissions),
    json::field("role_defs", &RolesResponse::roleDefs));

// A missing or null "roles" reads as the five built-in ids.
template <>
struct json::Rules<RolesResponse> {
    static void afterRead(const json::Node& object, RolesResponse& out);
    static void afterWrite(json::Writer& w, const RolesResponse& response);
};

template <>
inline constexpr auto json::keys<MemberRoleBody> = json::object(
    json::field("role", &MemberRoleBody::role), json::field("current_password", &MemberRoleBody::currentPassword));

template <>
inline constexpr auto json::keys<MemberProjectsBody> =
    json::object(json::field("projects", &MemberProjectsBody::projects, json::nullWhenAbsent));

}  // namespace brisalune

template <>
struct std::hash<brisalune::RoleDef> {
    std::size_t operator()(const brisalune::RoleDef& def) const;
};
