#include <brisalune/client/routing/integration_endpoints.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/detail/secret_answers.hpp>

namespace brisalune {

namespace {

std::string integrationsPath(std::string_view project) { return projectPath(project) + "/integrations"; }
std::string integrationPath(std::string_view project, std::string_view integrationId) {
    return integrationsPath(project) + segment(integrationId);
}

// The gateway status under which the service reports a test delivery that failed downstream.
constexpr int failedDeliveryStatus = 502;

}  // namespace

std::vector<Integration> listIntegrations(const BrisaluneClient& client, std::string_view project) {
    return fetch<IntegrationsResponse>(client, dataCall("GET", integrationsPath(project))).integrations;
}

Integration getIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId) {
    return fetch<Integration>(client, dataCall("GET", integrationPath(project, integrationId)));
}

CreatedIntegration createIntegration(const BrisaluneClient& client, std::string_view project,
                                     const IntegrationDraft& draft) {
    return fetchKeepingSecrets<CreatedIntegration>(client, dataCall("POST", integrationsPath(project)), draft);
}

void updateIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId,
                       const IntegrationDraft& draft) {
    fetchKeepingSecrets<UpdatedResponse>(client, dataCall("PUT", integrationPath(project, integrationId)), draft);
}

void deleteIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId) {
    fetch<DeletedResponse>(client, dataCall("DELETE", integrationPath(project, integrationId)));
}

void enableIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId) {
    fetch<EnabledResponse>(client, dataCall("POST", integrationPath(project, integrationId) + "/enable"));
}

void disableIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId) {
    fetch<EnabledResponse>(client, dataCall("POST", integrationPath(project, integrationId) + "/disable"));
}

IntegrationTestResult testIntegration(const BrisaluneClient& client, std::string_view project,
                                      std::string_view integrationId) {
    Answer answer = client.send(dataCall("POST", integrationPath(project, integrationId) + "/test"));
    if (answer.status == failedDeliveryStatus) return decodeAnswer<IntegrationTestResult>(answer.body);
    return decodeAnswer<IntegrationTestResult>(requireSuccess(std::move(answer)).body);
}

std::vector<DeliveryInfo> integrationDeliveries(const BrisaluneClient& client, std::string_view project,
                                                std::string_view integrationId, std::int64_t limit) {
    auto call =
        dataCall("GET", integrationPath(project, integrationId) + "/deliveries", {{"limit", std::to_string(limit)}});
    return fetch<DeliveriesResponse>(client, call).deliveries;
}

}  // namespace brisalune
