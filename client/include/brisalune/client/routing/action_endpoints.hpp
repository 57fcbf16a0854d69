#pragma once

// A project's runbook actions: manage them, try one out, run one for an alert, read their
// executions. Plane data. The secrets a draft carries are kept out of the texts of every error
// these throw.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/routing/actions.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

std::vector<RunbookAction> listActions(const BrisaluneClient& client, std::string_view project);
RunbookAction getAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId);
// The new action's id.
std::string createAction(const BrisaluneClient& client, std::string_view project, const ActionDraft& draft);
void updateAction(
    const BrisaluneClient& client, std::string_view project, std::string_view actionId, const ActionDraft& draft);
void deleteAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId);
// A failed test is a result, not an error; any status outside 2xx is an error.
ActionTestResult testAction(const BrisaluneClient& client, std::string_view project, std::string_view actionId);
// Runs the action for one alert; the alert id travels in the body only.
ActionTestResult runAction(
    const BrisaluneClient& client, std::string_view project, std::string_view actionId, std::string_view alertId);
// The latest executions; `limit` is sent as given, with no default or bound.
std::vector<ActionExecution> actionExecutions(
    const BrisaluneClient& client, std::string_view project, std::string_view actionId, std::int64_t limit);

}  // namespace brisalune
