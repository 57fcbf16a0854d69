#include <brisalune/client/roles/role_permissions.hpp>
#include <brisalune/client/roles/route_keys.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {
namespace {

namespace R = RoutePattern;
using Grants = std::vector<ProjectGrant>;
using Keys = std::vector<std::string>;

RolePermissions unrestricted(std::string role) { return RolePermissions(std::move(role)); }
RolePermissions restricted(std::string role, Grants grants) {
    return RolePermissions(std::move(role), {}, std::move(grants));
}
RolePermissions fromAnswer(const std::string& json) { return RolePermissions(json::decode<RolesResponse>(json)); }

// A server rule that asks for "alerts:write" on acknowledging.
const std::string ackNeedsAlertsWrite =
    R"("routes":{"POST /v1/alerts/{id}/ack":{"min_role":"admin","permission":"alerts:write"}})";
const std::string teamDefs =
    R"("role_defs":[{"id":"owner","builtin":true,"permissions":["members:write","alerts:write","oncall:write"]},)"
    R"({"id":"admin","builtin":true,"permissions":["members:write","oncall:write"]},)"
    R"({"id":"responder","builtin":true,"permissions":["alerts:write"]},)"
    R"({"id":"lead","name":"On-call lead","permissions":["alerts:write","oncall:write"]},)"
    R"({"id":"helper","permissions":["oncall:write","logs:write"]}])";

struct Decision {
    const char* who;
    RolePermissions permissions;
    std::string_view route;
    std::optional<std::string_view> project;
    bool allowed;
};

TEST(RolePermissions, DecisionsOverRoutesRolesScopesAndGrants) {
    const auto adminViewerInP = restricted("admin", {{"p", "viewer"}});
    const auto incidentGrants = restricted("admin", {{"p", "viewer"}, {"q", "responder"}});
    const auto serverAdminAck =
        fromAnswer(R"({"role":"responder","routes":{"POST /v1/alerts/{id}/ack":{"min_role":"admin"}}})");
    const auto withDefs = [](std::string role, std::optional<Grants> grants = std::nullopt) {
        auto p = fromAnswer(R"({"role":")" + role + R"(",)" + ackNeedsAlertsWrite + "," + teamDefs + "}");
        p.projects = std::move(grants);
        return p;
    };
    const auto rankOnly = [](std::string role) {
        return fromAnswer(R"({"role":")" + role + R"(",)" + ackNeedsAlertsWrite + "}");
    };

    const Decision decisions[] = {
        // The built-in table, unrestricted: rank against the minimum role.
        {"responder acks", unrestricted("responder"), R::acknowledgeAlert, std::nullopt, true},
        {"viewer acks", unrestricted("viewer"), R::acknowledgeAlert, std::nullopt, false},
        {"custom role acks", unrestricted("auditor"), R::acknowledgeAlert, std::nullopt, false},
        {"Responder (other case) acks", unrestricted("Responder"), R::acknowledgeAlert, std::nullopt, false},
        {"viewer previews windows", unrestricted("viewer"), R::previewMaintenanceWindows, "p", true},
        {"admin renames", unrestricted("admin"), R::renameProject, "p", true},
        {"member renames", unrestricted("member"), R::renameProject, "p", false},
        {"responder takes an override", unrestricted("responder"), R::createOverride, "p", true},
        {"admin changes incident settings", unrestricted("admin"), R::updateIncidentSettings, std::nullopt, true},
        {"member changes incident settings", unrestricted("member"), R::updateIncidentSettings, std::nullopt, false},
        // Unlisted keys: "GET " needs a viewer, anything else a member.
        {"member creates a window", unrestricted("member"), R::createMaintenanceWindow, "p", true},
        {"responder creates a window", unrestricted("responder"), R::createMaintenanceWindow, "p", false},
        {"viewer reads", unrestricted("viewer"), "GET /v1/projects/{id}/checks", "p", true},
        {"viewer, GET without a blank", unrestricted("viewer"), "GET/v1/projects/{id}/checks", "p", false},
        {"member, GET without a blank", unrestricted("member"), "GET/v1/projects/{id}/checks", "p", true},
        {"viewer, lowercase get", unrestricted("viewer"), "get /v1/projects", std::nullopt, false},
        // Unrestricted-only routes: refused to any restricted caller, owners and empty grants included.
        {"unrestricted member creates a project", unrestricted("member"), R::createProject, std::nullopt, true},
        {"unrestricted responder creates a project", unrestricted("responder"), R::createProject, std::nullopt, false},
        {"unrestricted admin invites", unrestricted("admin"), R::createInvite, std::nullopt, true},
        {"restricted owner invites", restricted("owner", {{"p", "owner"}}), R::createInvite, "p", false},
        {"owner with no grants creates a project", restricted("owner", {}), R::createProject, std::nullopt, false},
        // Restricted: team role on team routes, grants on project and object routes.
        {"restricted admin, team route", adminViewerInP, R::updateIncidentSettings, std::nullopt, true},
        {"restricted admin, renames p as viewer", adminViewerInP, R::renameProject, "p", false},
        {"restricted admin, previews in p", adminViewerInP, R::previewMaintenanceWindows, "p", true},
        {"restricted admin, previews in q", adminViewerInP, R::previewMaintenanceWindows, "q", false},
        {"restricted admin, reads an object in q", adminViewerInP, "GET /v1/alerts/{id}", "q", false},
        {"restricted admin, reads a team route", adminViewerInP, "GET /v1/views", "q", true},
        {"owner with no grants deletes a log", restricted("owner", {}), R::deleteLog, std::nullopt, false},
        // Opening an incident is team-scoped, yet judged by the grant of the project.
        {"incident in p (viewer grant)", incidentGrants, R::createIncident, "p", false},
        {"incident in q (responder grant)", incidentGrants, R::createIncident, "q", true},
        {"incident over all grants", incidentGrants, R::createIncident, std::nullopt, true},
        {"incident, viewer team role, responder grant",
         restricted("viewer", {{"p", "responder"}}),
         R::createIncident,
         "p",
         true},
        {"unrestricted viewer opens an incident", unrestricted("viewer"), R::createIncident, std::nullopt, false},
        // Over all grants: any grant will do.
        {"renames with an admin grant somewhere",
         restricted("viewer", {{"p", "viewer"}, {"q", "admin"}}),
         R::renameProject,
         std::nullopt,
         true},
        // A server rule replaces the built-in one whole.
        {"server asks admin to ack", serverAdminAck, R::acknowledgeAlert, std::nullopt, false},
        {"server rule leaves others built in", serverAdminAck, R::resolveAlert, std::nullopt, true},
        // A rule with a permission: known sets decide, unknown ones fall back on rank.
        {"custom lead holds alerts:write", withDefs("lead"), R::acknowledgeAlert, std::nullopt, true},
        {"admin lacks alerts:write", withDefs("admin"), R::acknowledgeAlert, std::nullopt, false},
        {"role without a definition", withDefs("member"), R::acknowledgeAlert, std::nullopt, false},
        {"role without a definition, rule without permission", withDefs("member"), R::renameProject, "p", false},
        {"role without a definition, by rank", withDefs("member"), R::createMaintenanceWindow, "p", true},
        {"granted lead acks in p", withDefs("viewer", Grants{{"p", "lead"}}), R::acknowledgeAlert, "p", true},
        {"granted admin acks in p", withDefs("owner", Grants{{"p", "admin"}}), R::acknowledgeAlert, "p", false},
        {"no definitions: admin by rank", rankOnly("admin"), R::acknowledgeAlert, std::nullopt, true},
        {"no definitions: lead by rank", rankOnly("lead"), R::acknowledgeAlert, std::nullopt, false},
        {"own keys hold it",
         fromAnswer(R"({"role":"lead","permissions":["alerts:write"],)" + ackNeedsAlertsWrite + "}"),
         R::acknowledgeAlert,
         std::nullopt,
         true},
        {"own keys lack it",
         fromAnswer(R"({"role":"owner","permissions":[],)" + ackNeedsAlertsWrite + "}"),
         R::acknowledgeAlert,
         std::nullopt,
         false},
        {"granted role other than one's own is judged by rank",
         fromAnswer(
             R"({"role":"viewer","permissions":["alerts:write"],"projects":[{"project":"p","role":"admin"}],)" +
             ackNeedsAlertsWrite + "}"),
         R::acknowledgeAlert,
         "p",
         true},
        {"an empty permission in the rule",
         fromAnswer(R"({"role":"auditor","permissions":[],)"
                    R"("routes":{"DELETE /v1/logs/{id}":{"min_role":"owner","permission":""}}})"),
         R::deleteLog,
         std::nullopt,
         true},
    };
    for (const Decision& d : decisions) {
        EXPECT_EQ(d.permissions.may(d.route, d.project), d.allowed) << d.who;
    }
}

TEST(RolePermissions, RuleLookupAndHeldRoles) {
    const auto p = restricted("admin", {{"p", "viewer"}, {"q", "member"}, {"p", "responder"}});
    EXPECT_EQ(p.rule(R::createPairingCode), (RouteRule{"admin", false, RouteScope::team, true, std::nullopt}));
    EXPECT_EQ(p.rule(R::deleteOverride), (RouteRule{"responder", true, RouteScope::project, false, std::nullopt}));
    EXPECT_EQ(p.rule("GET /v1/logs/{id}"), (RouteRule{"viewer", false, RouteScope::object, false, std::nullopt}));
    EXPECT_EQ(p.rule("anything"), (RouteRule{"member", false, RouteScope::team, false, std::nullopt}));

    EXPECT_EQ(p.heldRoles(R::renameProject), (Keys{"viewer", "member", "responder"}));
    EXPECT_EQ(p.heldRoles(R::renameProject, Keys{"p"}), (Keys{"viewer", "responder"}));
    EXPECT_EQ(p.heldRoles(R::renameProject, Keys{}), Keys{});
    EXPECT_EQ(p.heldRoles(R::updateIncidentSettings, Keys{"p"}), Keys{"admin"});
    EXPECT_EQ(p.heldRoles(R::createIncident, Keys{"q"}), Keys{"member"});
    EXPECT_EQ(unrestricted("viewer").heldRoles(R::renameProject, Keys{"z"}), Keys{"viewer"});

    // A server rule's own scope decides whose roles count; without one the key's scope does.
    auto teamWide = p;
    teamWide.routes.emplace(R::renameProject, RouteRule{"admin", false, RouteScope::team, false, std::nullopt});
    EXPECT_EQ(teamWide.heldRoles(R::renameProject, Keys{"p"}), Keys{"admin"});
    EXPECT_TRUE(teamWide.may(R::renameProject, "p"));
    teamWide.routes.find(R::renameProject)->second.scope.reset();
    EXPECT_FALSE(teamWide.may(R::renameProject, "p"));

    EXPECT_FALSE(p.rolesAllow(R::renameProject, Keys{}));
    EXPECT_TRUE(p.rolesAllow(R::renameProject, Keys{"viewer", "owner"}));
    EXPECT_FALSE(p.rolesAllow(R::createProject, Keys{"owner"}));  // restricted caller
    EXPECT_TRUE(unrestricted("viewer").rolesAllow(R::createProject, Keys{"owner"}));

    EXPECT_TRUE(p.mayInProjects(R::updateSource, Keys{"p", "q"}));
    EXPECT_FALSE(p.mayInProjects(R::updateSource, Keys{"p"}));
    EXPECT_FALSE(p.mayInProjects(R::updateSource, Keys{}));
    EXPECT_TRUE(p.mayInProjects(R::updateSource, std::nullopt));
}

TEST(RolePermissions, SelfOnlyOverrides) {
    for (std::string_view route : {R::createOverride, R::deleteOverride}) {
        EXPECT_TRUE(unrestricted("responder").isSelfOnly(route, "p")) << route;
        EXPECT_FALSE(unrestricted("member").isSelfOnly(route, "p")) << route;
    }
    EXPECT_FALSE(unrestricted("responder").isSelfOnly(R::createSchedule, "p"));  // not a self-only route

    const auto grants = restricted("owner", {{"p", "responder"}, {"q", "admin"}});
    EXPECT_TRUE(grants.isSelfOnly(R::createOverride, "p"));
    EXPECT_FALSE(grants.isSelfOnly(R::createOverride, "q"));
    EXPECT_FALSE(grants.isSelfOnly(R::createOverride));          // the admin grant lifts it
    EXPECT_FALSE(grants.isSelfOnly(R::createOverride, "none"));  // no roles at all

    const auto defs = [](std::string role) { return fromAnswer(R"({"role":")" + role + R"(",)" + teamDefs + "}"); };
    EXPECT_FALSE(defs("helper").isSelfOnly(R::createOverride, "p"));  // holds oncall:write
    EXPECT_TRUE(defs("responder").isSelfOnly(R::createOverride, "p"));
    EXPECT_TRUE(defs("member").isSelfOnly(R::createOverride, "p"));  // no definition: an empty set
    EXPECT_FALSE(defs("member").selfOnlyApplies(R::createOverride, Keys{}));
    EXPECT_FALSE(defs("member").selfOnlyApplies(R::createOverride, Keys{"responder", "admin"}));
}

TEST(RolePermissions, ProjectsRolesAndPermissionSets) {
    const auto p = fromAnswer(
        R"({"role":"lead","projects":[{"project":"p","role":"lead"},{"project":"p","role":"admin"}],)" + teamDefs +
        "}");
    EXPECT_TRUE(p.isRestricted());
    EXPECT_TRUE(p.hasProjectAccess("p"));
    EXPECT_FALSE(p.hasProjectAccess("q"));
    EXPECT_EQ(p.roleInProject("p"), "lead");
    EXPECT_FALSE(p.roleInProject("q"));
    EXPECT_EQ(unrestricted("viewer").roleInProject("q"), "viewer");
    EXPECT_EQ(p.displayName("lead"), "On-call lead");
    EXPECT_EQ(p.displayName("helper"), "helper");
    EXPECT_EQ(p.displayName("admin"), "admin");
    EXPECT_EQ(p.displayName("ghost"), "Custom role");
    EXPECT_EQ(p.roleDef("ghost"), nullptr);

    EXPECT_EQ(p.permissionSet("lead"), (std::set<std::string>{"alerts:write", "oncall:write"}));
    EXPECT_EQ(p.permissionSet("ghost"), std::set<std::string>{});
    const auto own = fromAnswer(R"({"role":"member","permissions":["a:write"]})");
    EXPECT_EQ(own.permissionSet("member"), std::set<std::string>{"a:write"});
    EXPECT_FALSE(own.permissionSet("admin"));
    EXPECT_FALSE(unrestricted("member").permissionSet("member"));

    EXPECT_TRUE(p.teamRoleMayPerform("alerts:write", "owner"));
    EXPECT_FALSE(p.teamRoleMayPerform("members:write", "viewer"));
    EXPECT_TRUE(p.teamRoleMayPerform("", "owner"));
    EXPECT_TRUE(unrestricted("admin").teamRoleMayPerform("members:write", "admin"));
    EXPECT_FALSE(unrestricted("member").teamRoleMayPerform("members:write", "admin"));

    EXPECT_TRUE(p.mayPerform("members:write", "owner", Keys{"p"}));  // the admin grant in p
    EXPECT_FALSE(p.mayPerform("members:write", "viewer", Keys{"q"}));
    EXPECT_FALSE(p.mayPerform("", "viewer", Keys{}));
    const auto granted = restricted("owner", {{"p", "responder"}});
    EXPECT_TRUE(granted.mayPerform("x:write", "responder", Keys{"p"}));
    EXPECT_FALSE(granted.mayPerform("x:write", "member", Keys{"p"}));
    EXPECT_TRUE(unrestricted("member").mayPerform("x:write", "member", Keys{}));
}

TEST(RolePermissions, HandingOutRoles) {
    EXPECT_EQ(unrestricted("admin").assignableRoles(), (Keys{"admin", "member", "responder", "viewer"}));
    EXPECT_TRUE(unrestricted("admin").mayAssign("auditor"));
    EXPECT_FALSE(unrestricted("admin").mayAssign("owner"));

    const auto defs = [](std::string role) { return fromAnswer(R"({"role":")" + role + R"(",)" + teamDefs + "}"); };
    // An admin gets every definition but "owner" whose keys it holds all of.
    EXPECT_EQ(defs("admin").assignableRoles(), (Keys{"admin"}));
    EXPECT_EQ(defs("owner").assignableRoles(), (Keys{"owner", "admin", "responder", "lead"}));
    EXPECT_TRUE(defs("lead").assignableRoles().empty());  // lacks members:write
    EXPECT_TRUE(defs("owner").mayAssign("owner"));
    EXPECT_FALSE(defs("admin").mayAssign("owner"));
    EXPECT_TRUE(defs("admin").mayAssign("admin"));
    EXPECT_FALSE(defs("admin").mayAssign("responder"));  // holds a key the admin lacks
    EXPECT_FALSE(defs("owner").mayAssign("helper"));     // logs:write is the owner's neither
    EXPECT_FALSE(defs("owner").mayAssign("ghost"));      // no such definition
    EXPECT_FALSE(defs("lead").mayAssign("lead"));
}

TEST(RolePermissions, BuiltFromTheAnswerFieldByField) {
    const auto answer = json::decode<RolesResponse>(R"({"role":"admin","roles":["admin"],"projects":[],)"
                                                    R"("routes":{"POST /v1/x":{"min_role":"viewer"}}})");
    const RolePermissions p(answer);
    EXPECT_EQ(p, RolePermissions("admin", answer.routes, Grants{}));
    EXPECT_NE(p, RolePermissions("admin", answer.routes));  // empty grants differ from none
}

}  // namespace
}  // namespace brisalune
