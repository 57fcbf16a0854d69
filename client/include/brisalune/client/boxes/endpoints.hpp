#pragma once

// Pairing and relay. The server is the one the client points at: the hosted service for the
// team's pairings and relay key, a box for redemption, pairing codes and the relay settings.

#include <brisalune/client/boxes/pairing.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// On a box: redeems a pairing code, creating the box account (with the seat's e-mail and
// password when given). Plane none.
BoxPairing redeemPairingCode(
    const BrisaluneClient& client,
    std::string_view code,
    const std::optional<std::string>& displayName,
    const std::optional<std::string>& email,
    const std::optional<std::string>& password);
// On the hosted service: pairs the team with a box account, handing on the redemption's receipt.
TenantPairing pairTenant(
    const BrisaluneClient& client, std::string_view tenantId, std::string_view boxAccountId, std::string_view receipt);
std::vector<Pairing> listPairings(const BrisaluneClient& client, std::string_view tenantId);
// On a box: where its relay sends to. Plane data.
void setRelay(
    const BrisaluneClient& client,
    const platform::Url& relayURL,
    std::string_view relaySecret,
    const std::optional<std::string>& hostedTenantId,
    const std::optional<platform::Url>& boxPublicURL);
// On a box. Plane data.
MintedPairingCode mintPairingCode(
    const BrisaluneClient& client,
    std::string_view role,
    const std::optional<std::string>& email,
    std::optional<std::int64_t> ttlSeconds,
    const std::optional<std::string>& currentPassword);
void deletePairing(const BrisaluneClient& client, std::string_view tenantId, std::string_view pairing);
RotatedRelayKey rotateRelayKey(const BrisaluneClient& client, std::string_view tenantId);
// On a box. Plane data.
RelayStatus relayStatus(const BrisaluneClient& client);

}  // namespace brisalune
