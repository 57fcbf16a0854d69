#pragma once

// Route keys: the names the permission rules give the service's operations ("POST /v1/projects",
// the method, one blank, the path template with its parameters in braces), and the scope of the
// thing a route acts on.

#include <brisalune/platform/json_codec.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

// The keys the client asks about. A key is compared whole and exactly; its parameters are never
// filled in (the project goes to the check beside the key).
namespace RoutePattern {
inline constexpr std::string_view acknowledgeAlert = "POST /v1/alerts/{id}/ack";
inline constexpr std::string_view resolveAlert = "POST /v1/alerts/{id}/resolve";
inline constexpr std::string_view createRule = "POST /v1/projects/{id}/rules";
inline constexpr std::string_view updateRule = "PUT /v1/projects/{id}/rules/{name}";
inline constexpr std::string_view deleteRule = "DELETE /v1/projects/{id}/rules/{name}";
inline constexpr std::string_view muteRule = "PUT /v1/projects/{id}/rules/{name}/mute";
inline constexpr std::string_view unmuteRule = "DELETE /v1/projects/{id}/rules/{name}/mute";
inline constexpr std::string_view createProject = "POST /v1/projects";
inline constexpr std::string_view renameProject = "POST /v1/projects/{id}/rename";
inline constexpr std::string_view deleteProject = "DELETE /v1/projects/{id}";
inline constexpr std::string_view createSource = "POST /v1/projects/{id}/sources";
inline constexpr std::string_view updateSource = "PUT /v1/projects/{id}/sources/{name}";
inline constexpr std::string_view deleteSource = "DELETE /v1/projects/{id}/sources/{name}";
inline constexpr std::string_view rotateSourceToken = "POST /v1/projects/{id}/sources/{name}/rotate-token";
inline constexpr std::string_view issueHeartbeatToken = "POST /v1/projects/{id}/sources/{name}/heartbeat-token";
inline constexpr std::string_view createCheck = "POST /v1/projects/{id}/checks";
inline constexpr std::string_view updateCheck = "PUT /v1/projects/{id}/checks/{name}";
inline constexpr std::string_view deleteCheck = "DELETE /v1/projects/{id}/checks/{name}";
inline constexpr std::string_view runCheck = "POST /v1/projects/{id}/checks/{name}/run";
inline constexpr std::string_view createMaintenanceWindow = "POST /v1/projects/{id}/maintenance-windows";
inline constexpr std::string_view updateMaintenanceWindow = "PUT /v1/projects/{id}/maintenance-windows/{wid}";
inline constexpr std::string_view deleteMaintenanceWindow = "DELETE /v1/projects/{id}/maintenance-windows/{wid}";
inline constexpr std::string_view previewMaintenanceWindows = "POST /v1/projects/{id}/maintenance-windows/preview";
inline constexpr std::string_view createSchedule = "POST /v1/projects/{id}/oncall/schedules";
inline constexpr std::string_view updateSchedule = "PUT /v1/projects/{id}/oncall/schedules/{sid}";
inline constexpr std::string_view deleteSchedule = "DELETE /v1/projects/{id}/oncall/schedules/{sid}";
inline constexpr std::string_view createOverride = "POST /v1/projects/{id}/oncall/schedules/{sid}/overrides";
inline constexpr std::string_view deleteOverride = "DELETE /v1/projects/{id}/oncall/schedules/{sid}/overrides/{oid}";
inline constexpr std::string_view createIntegration = "POST /v1/projects/{id}/integrations";
inline constexpr std::string_view updateIntegration = "PUT /v1/projects/{id}/integrations/{iid}";
inline constexpr std::string_view deleteIntegration = "DELETE /v1/projects/{id}/integrations/{iid}";
inline constexpr std::string_view enableIntegration = "POST /v1/projects/{id}/integrations/{iid}/enable";
inline constexpr std::string_view disableIntegration = "POST /v1/projects/{id}/integrations/{iid}/disable";
inline constexpr std::string_view testIntegration = "POST /v1/projects/{id}/integrations/{iid}/test";
inline constexpr std::string_view createAction = "POST /v1/projects/{id}/actions";
inline constexpr std::string_view updateAction = "PUT /v1/projects/{id}/actions/{aid}";
inline constexpr std::string_view deleteAction = "DELETE /v1/projects/{id}/actions/{aid}";
inline constexpr std::string_view testAction = "POST /v1/projects/{id}/actions/{aid}/test";
inline constexpr std::string_view runAction = "POST /v1/projects/{id}/actions/{aid}/run";
inline constexpr std::string_view createReport = "POST /v1/projects/{id}/reports";
inline constexpr std::string_view updateReport = "PUT /v1/projects/{id}/reports/{rid}";
inline constexpr std::string_view deleteReport = "DELETE /v1/projects/{id}/reports/{rid}";
inline constexpr std::string_view rotateReportUUID = "POST /v1/projects/{id}/reports/{rid}/rotate-uuid";
inline constexpr std::string_view createReportEntry = "POST /v1/projects/{id}/reports/{rid}/entries";
inline constexpr std::string_view updateReportEntry = "PUT /v1/projects/{id}/reports/{rid}/entries/{eid}";
inline constexpr std::string_view deleteReportEntry = "DELETE /v1/projects/{id}/reports/{rid}/entries/{eid}";
inline constexpr std::string_view createIncident = "POST /v1/incidents";
inline constexpr std::string_view updateIncident = "PATCH /v1/incidents/{number}";
inline constexpr std::string_view attachIncidentAlert = "POST /v1/incidents/{number}/alerts";
inline constexpr std::string_view detachIncidentAlert = "DELETE /v1/incidents/{number}/alerts/{alert_id}";
inline constexpr std::string_view createIncidentEntry = "POST /v1/incidents/{number}/entries";
inline constexpr std::string_view updateIncidentEntry = "PUT /v1/incidents/{number}/entries/{eid}";
inline constexpr std::string_view deleteIncidentEntry = "DELETE /v1/incidents/{number}/entries/{eid}";
inline constexpr std::string_view acceptIncident = "POST /v1/incidents/{number}/accept";
inline constexpr std::string_view resolveIncident = "POST /v1/incidents/{number}/resolve";
inline constexpr std::string_view reopenIncident = "POST /v1/incidents/{number}/reopen";
inline constexpr std::string_view createIncidentIssue = "POST /v1/incidents/{number}/issues";
inline constexpr std::string_view retryIncidentIssues = "POST /v1/incidents/{number}/issues/retry";
inline constexpr std::string_view createIncidentLink = "POST /v1/incidents/{number}/links";
inline constexpr std::string_view deleteIncidentLink = "DELETE /v1/incidents/{number}/links/{lid}";
inline constexpr std::string_view publishIncident = "PUT /v1/incidents/{number}/publish";
inline constexpr std::string_view rotateIncidentLink = "POST /v1/incidents/{number}/rotate-link";
inline constexpr std::string_view updateIncidentSettings = "PUT /v1/incident-settings";
inline constexpr std::string_view deleteLog = "DELETE /v1/logs/{id}";
inline constexpr std::string_view createSecretBlock = "POST /v1/projects/{id}/secret-blocks";
inline constexpr std::string_view deleteSecretBlock = "DELETE /v1/projects/{id}/secret-blocks/{bid}";
inline constexpr std::string_view dismissSecretFinding = "POST /v1/projects/{id}/secret-findings/{fid}/dismiss";
inline constexpr std::string_view createView = "POST /v1/views";
inline constexpr std::string_view updateView = "PUT /v1/views/{id}";
inline constexpr std::string_view deleteView = "DELETE /v1/views/{id}";
inline constexpr std::string_view setMemberRole = "PUT /v1/tenants/{tid}/members/{aid}";
inline constexpr std::string_view removeMember = "DELETE /v1/tenants/{tid}/members/{aid}";
inline constexpr std::string_view setMemberProjects = "PUT /v1/tenants/{tid}/members/{aid}/projects";
inline constexpr std::string_view createInvite = "POST /v1/tenants/{tid}/invites";
inline constexpr std::string_view revokeInvite = "DELETE /v1/tenants/{tid}/invites/{id}";
inline constexpr std::string_view createPairingCode = "POST /v1/pair/codes";

// Every key above, in this order.
inline constexpr std::array<std::string_view, 76> all = {
    acknowledgeAlert,
    resolveAlert,
    createRule,
    updateRule,
    deleteRule,
    muteRule,
    unmuteRule,
    createProject,
    renameProject,
    deleteProject,
    createSource,
    updateSource,
    deleteSource,
    rotateSourceToken,
    issueHeartbeatToken,
    createCheck,
    updateCheck,
    deleteCheck,
    runCheck,
    createMaintenanceWindow,
    updateMaintenanceWindow,
    deleteMaintenanceWindow,
    previewMaintenanceWindows,
    createSchedule,
    updateSchedule,
    deleteSchedule,
    createOverride,
    deleteOverride,
    createIntegration,
    updateIntegration,
    deleteIntegration,
    enableIntegration,
    disableIntegration,
    testIntegration,
    createAction,
    updateAction,
    deleteAction,
    testAction,
    runAction,
    createReport,
    updateReport,
    deleteReport,
    rotateReportUUID,
    createReportEntry,
    updateReportEntry,
    deleteReportEntry,
    createIncident,
    updateIncident,
    attachIncidentAlert,
    detachIncidentAlert,
    createIncidentEntry,
    updateIncidentEntry,
    deleteIncidentEntry,
    acceptIncident,
    resolveIncident,
    reopenIncident,
    createIncidentIssue,
    retryIncidentIssues,
    createIncidentLink,
    deleteIncidentLink,
    publishIncident,
    rotateIncidentLink,
    updateIncidentSettings,
    deleteLog,
    createSecretBlock,
    deleteSecretBlock,
    dismissSecretFinding,
    createView,
    updateView,
    deleteView,
    setMemberRole,
    removeMember,
    setMemberProjects,
    createInvite,
    revokeInvite,
    createPairingCode,
};
}  // namespace RoutePattern

// What a route acts on: the team as a whole, something inside one project (the "{id}" after
// "/v1/projects"), or an alert, log entry or incident, each of which belongs to a project.
enum class RouteScope { team, project, object };

// "team", "project" or "object", matched exactly; any other text (other case included) is none.
std::optional<RouteScope> routeScope(std::string_view rawValue);
std::string_view rawValue(RouteScope scope);

// The scope a key's path template implies: the text after the key's last blank (the whole key
// when it has none) tested by prefix, so "POST /v1/projects" and "POST /v1/incidents" are team.
RouteScope routeScopeOf(std::string_view routeKey);

// On its own a scope is its raw text; any other text fails the decode.
template <>
struct json::Codec<RouteScope> {
    static void write(Writer& w, RouteScope scope) { w.string(rawValue(scope)); }
    template <class Node>
    static void read(const Node& n, RouteScope& out) {
        const std::string_view text = n.string();
        auto scope = routeScope(text);
        if (!scope) Node::corrupted("unknown route scope \"" + std::string(text) + "\"");
        out = *scope;
    }
};

}  // namespace brisalune
