#pragma once

// The signed-in member's permissions in one team, and the answer to "may I use this route (in
// this project)?" that screens ask before they offer an action. The server's rules come from
// the roles answer; a built-in table covers the routes it does not list. Nothing here throws.

#include <brisalune/client/roles/project_grant.hpp>
#include <brisalune/client/roles/roles.hpp>

#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brisalune {

// An immutable value: rebuild it from each roles answer. Checks only look things up, so any
// thread may ask at once.
struct RolePermissions {
    std::string role;   // the team-wide role, built-in or custom
    RouteRules routes;  // the server's rules; each replaces the built-in rule of its key whole
    std::optional<std::vector<ProjectGrant>> projects;    // present, even empty: limited to these projects
    std::optional<std::vector<std::string>> permissions;  // the keys `role` holds, when sent
    std::optional<std::vector<RoleDef>> roleDefs;         // the team's roles, when sent

    RolePermissions() = default;
    // From the membership's role alone (no rules, unrestricted), or from all five fields.
    explicit RolePermissions(
        std::string teamRole,
        RouteRules routeRules = {},
        std::optional<std::vector<ProjectGrant>> grants = std::nullopt,
        std::optional<std::vector<std::string>> roleKeys = std::nullopt,
        std::optional<std::vector<RoleDef>> definitions = std::nullopt);
    // Field by field; the answer's `roles` list is not kept.
    explicit RolePermissions(RolesResponse response);

    // The rules of routes the server does not list, built once per process.
    static const std::unordered_map<std::string_view, RouteRule>& defaultRouteRules();
    // The keys refused to members limited to some projects.
    static const std::unordered_set<std::string_view>& unrestrictedOnlyRoutes();

    // The server's rule for the key, else the built-in one, else: "viewer" for a key beginning
    // "GET ", "member" for any other, scope from the key. Lives as long as this value.
    const RouteRule& rule(std::string_view route) const;

    // ---- may I? ---------------------------------------------------------------------------

    // Inside one project; without a project, over all of the member's grants.
    bool may(std::string_view route, std::optional<std::string_view> project = std::nullopt) const;
    // In any of these projects; none given: over all grants.
    bool mayInProjects(std::string_view route, std::optional<std::span<const std::string>> among) const;

    // The roles that count for the route: `role` alone when unrestricted or on a team-scoped
    // route (but "POST /v1/incidents"); else the roles granted in these projects (none given:
    // in every granted project), in grant order. May be empty.
    std::vector<std::string> heldRoles(
        std::string_view route, std::optional<std::span<const std::string>> among = std::nullopt) const;
    // Whether one of the roles may use the route. An empty list may not.
    bool rolesAllow(std::string_view route, std::span<const std::string> roles) const;

    // ---- own entries only -----------------------------------------------------------------

    // Whether these roles may use a self-only route only for their own entries: none of them
    // holds "oncall:write" (or, its permissions unknown, ranks "member" or above).
    bool selfOnlyApplies(std::string_view route, std::span<const std::string> roles) const;
    // The same with the roles held in the project (none: in all grants), as may() takes them.
    bool isSelfOnly(std::string_view route, std::optional<std::string_view> project = std::nullopt) const;

    // ---- projects and roles ---------------------------------------------------------------

    bool isRestricted() const noexcept { return projects.has_value(); }
    bool hasProjectAccess(std::string_view project) const;
    // Unrestricted: `role`; restricted: the role of the first grant for the project, if any.
    std::optional<std::string> roleInProject(std::string_view project) const;
    // The first definition with this id.
    const RoleDef* roleDef(std::string_view id) const;
    // A built-in role: itself; else its definition's name; else "Custom role".
    std::string displayName(std::string_view id) const;
    // With definitions: that role's keys (empty without a definition). Without: the keys of
    // `role` when sent and asked for; none otherwise (the role is then judged by rank).
    std::optional<std::set<std::string>> permissionSet(std::string_view id) const;

    // ---- permissions outside routes ("" for none) -----------------------------------------

    // With the team-wide role: its keys when known, else its rank against `minRole`.
    bool teamRoleMayPerform(std::string_view permission, std::string_view minRole) const;
    // With the roles held in any of these projects (team-wide `role` when unrestricted).
    bool mayPerform(std::string_view permission, std::string_view minRole, std::span<const std::string> among) const;

    // ---- handing out roles ----------------------------------------------------------------

    // The role ids the member may hand to others.
    std::vector<std::string> assignableRoles() const;
    bool mayAssign(std::string_view wanted) const;

    friend bool operator==(const RolePermissions&, const RolePermissions&) = default;
};

}  // namespace brisalune
