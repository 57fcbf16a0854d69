#pragma once

// This computer's place on the signed-in account's push roster. Plane session.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/devices/devices.hpp>

#include <string_view>
#include <vector>

namespace brisalune {

// Adds the token to the account; the service's "registered" answer.
bool registerDevice(
    const BrisaluneClient& client, std::string_view token, std::string_view platform, bool criticalAlerts);
// The account's roster.
std::vector<Device> devices(const BrisaluneClient& client);
// Takes the token off the account; notFound when the service no longer has it.
void deleteDevice(const BrisaluneClient& client, std::string_view token);

}  // namespace brisalune
