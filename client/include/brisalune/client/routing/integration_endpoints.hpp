#pragma once

// A project's integrations and their delivery history. Plane data. The secrets a draft carries
// are kept out of the texts of every error these throw.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/routing/integrations.hpp>

#include <cstdint>
#include <string_view>
#include <vector>

namespace brisalune {

std::vector<Integration> listIntegrations(const BrisaluneClient& client, std::string_view project);
Integration getIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId);
CreatedIntegration createIntegration(
    const BrisaluneClient& client, std::string_view project, const IntegrationDraft& draft);
void updateIntegration(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view integrationId,
    const IntegrationDraft& draft);
void deleteIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId);
void enableIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId);
void disableIntegration(const BrisaluneClient& client, std::string_view project, std::string_view integrationId);
// Has the service send a test delivery. A 502 answer carrying a result is that result: the
// delivery failed, not the call.
IntegrationTestResult testIntegration(
    const BrisaluneClient& client, std::string_view project, std::string_view integrationId);
// The latest deliveries; `limit` is sent as given, with no default or bound.
std::vector<DeliveryInfo> integrationDeliveries(
    const BrisaluneClient& client, std::string_view project, std::string_view integrationId, std::int64_t limit);

}  // namespace brisalune
