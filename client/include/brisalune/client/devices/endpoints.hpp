#pragma once

// This computer's place on the signed-in account's push roster. Plane session. `wholeTimeout`
// bounds the whole exchange (see Call).

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/devices/devices.hpp>

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

namespace brisalune {

// Adds the token to the account; the service's "registered" answer.
bool registerDevice(
    const BrisaluneClient& client,
    std::string_view token,
    std::string_view platform,
    bool criticalAlerts,
    std::optional<std::chrono::milliseconds> wholeTimeout = std::nullopt);
// The account's roster.
std::vector<Device> devices(
    const BrisaluneClient& client, std::optional<std::chrono::milliseconds> wholeTimeout = std::nullopt);
// Takes the token off the account; notFound when the service no longer has it.
void deleteDevice(
    const BrisaluneClient& client,
    std::string_view token,
    std::optional<std::chrono::milliseconds> wholeTimeout = std::nullopt);

}  // namespace brisalune
