#include <brisalune/client/roles/role_permissions.hpp>

#include <brisalune/client/roles/route_keys.hpp>
#include <brisalune/client/roles/team_role.hpp>

#include <algorithm>
#include <array>
#include <utility>

namespace brisalune {

namespace {

struct DefaultRow {
    std::string_view route;
    std::string_view minRole;
    bool selfOnly = false;
};

namespace P = RoutePattern;

constexpr std::array<DefaultRow, 39> defaultRows = {{
    {P::acknowledgeAlert, TeamRole::responder},
    {P::resolveAlert, TeamRole::responder},
    {P::muteRule, TeamRole::responder},
    {P::unmuteRule, TeamRole::responder},
    {P::createIncident, TeamRole::responder},
    {P::updateIncident, TeamRole::responder},
    {P::attachIncidentAlert, TeamRole::responder},
    {P::detachIncidentAlert, TeamRole::responder},
    {P::createIncidentEntry, TeamRole::responder},
    {P::updateIncidentEntry, TeamRole::responder},
    {P::deleteIncidentEntry, TeamRole::responder},
    {P::acceptIncident, TeamRole::responder},
    {P::resolveIncident, TeamRole::responder},
    {P::reopenIncident, TeamRole::responder},
    {P::createIncidentIssue, TeamRole::responder},
    {P::retryIncidentIssues, TeamRole::responder},
    {P::createIncidentLink, TeamRole::responder},
    {P::deleteIncidentLink, TeamRole::responder},
    {P::createOverride, TeamRole::responder, true},
    {P::deleteOverride, TeamRole::responder, true},
    {P::previewMaintenanceWindows, TeamRole::viewer},
    {P::createProject, TeamRole::member},
    {P::setMemberRole, TeamRole::admin},
    {P::removeMember, TeamRole::admin},
    {P::setMemberProjects, TeamRole::admin},
    {P::createInvite, TeamRole::admin},
    {P::revokeInvite, TeamRole::admin},
    {P::createPairingCode, TeamRole::admin},
    {P::renameProject, TeamRole::admin},
    {P::deleteProject, TeamRole::admin},
    {P::deleteSource, TeamRole::admin},
    {P::rotateSourceToken, TeamRole::admin},
    {P::issueHeartbeatToken, TeamRole::admin},
    {P::deleteReport, TeamRole::admin},
    {P::updateIncidentSettings, TeamRole::admin},
    {P::deleteLog, TeamRole::admin},
    {P::createSecretBlock, TeamRole::admin},
    {P::deleteSecretBlock, TeamRole::admin},
    {P::dismissSecretFinding, TeamRole::admin},
}};

constexpr std::array<std::string_view, 7> unrestrictedOnlyKeys = {
    P::createProject,
    P::setMemberRole,
    P::removeMember,
    P::setMemberProjects,
    P::createInvite,
    P::revokeInvite,
    P::createPairingCode,
};

// The rule of a key listed nowhere: one per minimum role and scope, made once.
const RouteRule& unlistedRule(std::string_view route) {
    static const auto rules = [] {
        std::array<std::array<RouteRule, 3>, 2> made;
        for (RouteScope scope : {RouteScope::team, RouteScope::project, RouteScope::object}) {
            const auto column = static_cast<std::size_t>(scope);
            made[0][column] = RouteRule{std::string(TeamRole::viewer), false, scope, false, std::nullopt};
            made[1][column] = RouteRule{std::string(TeamRole::member), false, scope, false, std::nullopt};
        }
        return made;
    }();
    const std::size_t row = route.starts_with("GET ") ? 0 : 1;
    return rules[row][static_cast<std::size_t>(routeScopeOf(route))];
}

bool holds(const std::vector<std::string>& keys, std::string_view key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool isSubset(const std::vector<std::string>& keys, const std::vector<std::string>& of) {
    return std::all_of(keys.begin(), keys.end(), [&](const std::string& key) { return holds(of, key); });
}

// Every granted project counts.
constexpr auto everyProject = [](const std::string&) { return true; };

auto onlyProject(std::string_view project) {
    return [project](const std::string& granted) { return granted == project; };
}

auto projectsAmong(std::span<const std::string> list) {
    return [list](const std::string& granted) { return std::find(list.begin(), list.end(), granted) != list.end(); };
}

// ---- checking without copying ---------------------------------------------------------------

// The keys the role holds when they are known: with definitions, its definition's (empty without
// one); without, the member's own keys for the member's own role. nullptr: judge by rank.
const std::vector<std::string>* knownPermissions(const RolePermissions& p, std::string_view role) {
    static const std::vector<std::string> none;
    if (p.roleDefs) {
        const RoleDef* def = p.roleDef(role);
        return def ? &def->permissions : &none;
    }
    if (p.permissions && role == p.role) return &*p.permissions;
    return nullptr;
}

bool roleAllows(const RolePermissions& p, const RouteRule& rule, std::string_view role) {
    const auto* keys = rule.permission ? knownPermissions(p, role) : nullptr;
    if (keys) return rule.permission->empty() || holds(*keys, *rule.permission);
    return TeamRole::roleRank(role) >= TeamRole::roleRank(rule.minRole);
}

// Whether the role may act on anyone's entries of a self-only route.
bool liftsSelfOnly(const RolePermissions& p, std::string_view role) {
    if (const auto* keys = knownPermissions(p, role)) return holds(*keys, Permission::oncallWrite);
    return TeamRole::roleRank(role) >= TeamRole::roleRank(TeamRole::member);
}

// A restricted member acts with the team-wide role on team-scoped routes, except when opening an
// incident, which counts per project.
bool actsWithTeamRole(const RolePermissions& p, std::string_view route, const RouteRule& rule) {
    if (!p.projects) return true;
    const RouteScope scope = rule.scope ? *rule.scope : routeScopeOf(route);
    return scope == RouteScope::team && route != RoutePattern::createIncident;
}

// Offers each role held for the route, among grants whose project `inScope` accepts, to `test`
// until one passes; says whether one did.
template <class InScope, class Test>
bool anyHeldRole(const RolePermissions& p, std::string_view route, const RouteRule& rule, InScope inScope, Test test) {
    if (actsWithTeamRole(p, route, rule)) return test(p.role);
    return std::any_of(p.projects->begin(), p.projects->end(), [&](const ProjectGrant& grant) {
        return inScope(grant.project) && test(grant.role);
    });
}

template <class InScope>
bool mayWith(const RolePermissions& p, std::string_view route, InScope inScope) {
    const RouteRule& rule = p.rule(route);
    if (rule.unrestrictedOnly && p.projects) return false;
    return anyHeldRole(p, route, rule, inScope, [&](std::string_view role) { return roleAllows(p, rule, role); });
}

template <class InScope>
bool selfOnlyWith(const RolePermissions& p, std::string_view route, InScope inScope) {
    const RouteRule& rule = p.rule(route);
    if (!rule.selfOnly) return false;
    bool anyRole = false;
    const bool lifted = anyHeldRole(p, route, rule, inScope, [&](std::string_view role) {
        anyRole = true;
        return liftsSelfOnly(p, role);
    });
    return anyRole && !lifted;
}

}  // namespace

// ---- the value ------------------------------------------------------------------------------

RolePermissions::RolePermissions(
    std::string teamRole,
    RouteRules routeRules,
    std::optional<std::vector<ProjectGrant>> grants,
    std::optional<std::vector<std::string>> roleKeys,
    std::optional<std::vector<RoleDef>> definitions)
    : role(std::move(teamRole))
    , routes(std::move(routeRules))
    , projects(std::move(grants))
    , permissions(std::move(roleKeys))
    , roleDefs(std::move(definitions)) {}

RolePermissions::RolePermissions(RolesResponse response)
    : RolePermissions(
          std::move(response.role),
          std::move(response.routes),
          std::move(response.projects),
          std::move(response.permissions),
          std::move(response.roleDefs)) {}

const std::unordered_map<std::string_view, RouteRule>& RolePermissions::defaultRouteRules() {
    static const auto table = [] {
        std::unordered_map<std::string_view, RouteRule> rules;
        rules.reserve(defaultRows.size());
        for (const DefaultRow& row : defaultRows) {
            rules.emplace(
                row.route,
                RouteRule{
                    .minRole = std::string(row.minRole),
                    .selfOnly = row.selfOnly,
                    .scope = routeScopeOf(row.route),
                    .unrestrictedOnly = unrestrictedOnlyRoutes().contains(row.route),
                    .permission = std::nullopt});
        }
        return rules;
    }();
    return table;
}

const std::unordered_set<std::string_view>& RolePermissions::unrestrictedOnlyRoutes() {
    static const std::unordered_set<std::string_view> keys(unrestrictedOnlyKeys.begin(), unrestrictedOnlyKeys.end());
    return keys;
}

const RouteRule& RolePermissions::rule(std::string_view route) const {
    if (auto sent = routes.find(route); sent != routes.end()) return sent->second;
    const auto& builtIn = defaultRouteRules();
    if (auto listed = builtIn.find(route); listed != builtIn.end()) return listed->second;
    return unlistedRule(route);
}

// ---- may I? ---------------------------------------------------------------------------------

bool RolePermissions::may(std::string_view route, std::optional<std::string_view> project) const {
    if (project) return mayWith(*this, route, onlyProject(*project));
    return mayWith(*this, route, everyProject);
}

bool RolePermissions::mayInProjects(std::string_view route, std::optional<std::span<const std::string>> among) const {
    if (among) return mayWith(*this, route, projectsAmong(*among));
    return mayWith(*this, route, everyProject);
}

std::vector<std::string> RolePermissions::heldRoles(
    std::string_view route, std::optional<std::span<const std::string>> among) const {
    std::vector<std::string> roles;
    auto collect = [&](std::string_view held) {
        roles.emplace_back(held);
        return false;
    };
    if (among) {
        anyHeldRole(*this, route, rule(route), projectsAmong(*among), collect);
    } else {
        anyHeldRole(*this, route, rule(route), everyProject, collect);
    }
    return roles;
}

bool RolePermissions::rolesAllow(std::string_view route, std::span<const std::string> roles) const {
    const RouteRule& found = rule(route);
    if (found.unrestrictedOnly && projects) return false;
    return std::any_of(
        roles.begin(), roles.end(), [&](const std::string& held) { return roleAllows(*this, found, held); });
}

// ---- own entries only -----------------------------------------------------------------------

bool RolePermissions::selfOnlyApplies(std::string_view route, std::span<const std::string> roles) const {
    if (roles.empty() || !rule(route).selfOnly) return false;
    return std::none_of(
        roles.begin(), roles.end(), [&](const std::string& held) { return liftsSelfOnly(*this, held); });
}

bool RolePermissions::isSelfOnly(std::string_view route, std::optional<std::string_view> project) const {
    if (project) return selfOnlyWith(*this, route, onlyProject(*project));
    return selfOnlyWith(*this, route, everyProject);
}

// ---- projects and roles ---------------------------------------------------------------------

bool RolePermissions::hasProjectAccess(std::string_view project) const {
    return !projects || std::any_of(projects->begin(), projects->end(), [&](const ProjectGrant& grant) {
        return grant.project == project;
    });
}

std::optional<std::string> RolePermissions::roleInProject(std::string_view project) const {
    if (!projects) return role;
    for (const ProjectGrant& grant : *projects) {
        if (grant.project == project) return grant.role;
    }
    return std::nullopt;
}

const RoleDef* RolePermissions::roleDef(std::string_view id) const {
    if (!roleDefs) return nullptr;
    for (const RoleDef& def : *roleDefs) {
        if (def.id == id) return &def;
    }
    return nullptr;
}

std::string RolePermissions::displayName(std::string_view id) const {
    if (TeamRole::isBuiltIn(id)) return std::string(id);
    if (const RoleDef* def = roleDef(id)) return def->name;
    return "Custom role";
}

std::optional<std::set<std::string>> RolePermissions::permissionSet(std::string_view id) const {
    const auto* keys = knownPermissions(*this, id);
    if (!keys) return std::nullopt;
    return std::set<std::string>(keys->begin(), keys->end());
}

// ---- permissions outside routes -------------------------------------------------------------

namespace {

bool roleMayPerform(
    const RolePermissions& p, std::string_view role, std::string_view permission, std::string_view minRole) {
    if (const auto* keys = knownPermissions(p, role)) return permission.empty() || holds(*keys, permission);
    return TeamRole::roleRank(role) >= TeamRole::roleRank(minRole);
}

}  // namespace

bool RolePermissions::teamRoleMayPerform(std::string_view permission, std::string_view minRole) const {
    return roleMayPerform(*this, role, permission, minRole);
}

bool RolePermissions::mayPerform(
    std::string_view permission, std::string_view minRole, std::span<const std::string> among) const {
    if (!projects) return roleMayPerform(*this, role, permission, minRole);
    const auto inScope = projectsAmong(among);
    return std::any_of(projects->begin(), projects->end(), [&](const ProjectGrant& grant) {
        return inScope(grant.project) && roleMayPerform(*this, grant.role, permission, minRole);
    });
}

// ---- handing out roles ----------------------------------------------------------------------

namespace {

// With definitions: only an owner, or a role holding "members:write", hands out roles.
bool handsOutRoles(const RolePermissions& p, const std::vector<std::string>& mine) {
    return p.role == TeamRole::owner || holds(mine, Permission::membersWrite);
}

}  // namespace

std::vector<std::string> RolePermissions::assignableRoles() const {
    if (!roleDefs) return TeamRole::assignableRoles(role);
    const std::vector<std::string>& mine = *knownPermissions(*this, role);
    std::vector<std::string> ids;
    if (!handsOutRoles(*this, mine)) return ids;
    for (const RoleDef& def : *roleDefs) {
        if (def.id == TeamRole::owner && role != TeamRole::owner) continue;
        if (isSubset(def.permissions, mine)) ids.push_back(def.id);
    }
    return ids;
}

bool RolePermissions::mayAssign(std::string_view wanted) const {
    if (!roleDefs) return TeamRole::mayAssign(wanted, role);
    const std::vector<std::string>& mine = *knownPermissions(*this, role);
    if (!handsOutRoles(*this, mine)) return false;
    const RoleDef* def = roleDef(wanted);
    if (!def) return false;
    if (wanted == TeamRole::owner) return role == TeamRole::owner;
    return isSubset(def->permissions, mine);
}

}  // namespace brisalune
