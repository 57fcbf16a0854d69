#include <brisalune/client/routing/action_endpoints.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/detail/secret_answers.hpp>

namespace brisalune {

namespace {

std::string actionsPath(std::string_view project) { return projectPath(project) + "/actions"; }
std::string actionPath(std::string_view project, std::string_view actionId) {
    return actionsPath(project) + segment(actionId);
}

}  // namespace

std::vector<RunbookAction> listActions(const BrisaluneClient& client, std::string_view project) {
    return fetch<ActionsResponse>(client, dataCall("GET", actionsPath(project))).actions;
}

RunbookAction getAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId) {
    return fetch<RunbookAction>(client, dataCall("GET", actionPath(project, actionId)));
}

std::string createAction(const BrisaluneClient& client, std::string_view project, const ActionDraft& draft) {
    return fetchKeepingSecrets<CreatedIdResponse>(client, dataCall("POST", actionsPath(project)), draft).id;
}

void updateAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId,
                  const ActionDraft& draft) {
    fetchKeepingSecrets<UpdatedResponse>(client, dataCall("PUT", actionPath(project, actionId)), draft);
}

void deleteAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId) {
    fetch<DeletedResponse>(client, dataCall("DELETE", actionPath(project, actionId)));
}

ActionTestResult testAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId) {
    return fetch<ActionTestResult>(client, dataCall("POST", actionPath(project, actionId) + "/test"));
}

ActionTestResult runAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId,
                           std::string_view alertId) {
    return fetch<ActionTestResult>(client, dataCall("POST", actionPath(project, actionId) + "/run"),
                                   RunActionBody{std::string(alertId)});
}

std::vector<ActionExecution> actionExecutions(const BrisaluneClient& client, std::string_view project,
                                              std::string_view actionId, std::int64_t limit) {
    auto call = dataCall("GET", actionPath(project, actionId) + "/executions", {{"limit", std::to_string(limit)}});
    return fetch<ExecutionsResponse>(client, call).executions;
}

}  // namespace brisalune
