#include <brisalune/client/boxes/endpoints.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>

namespace brisalune {

BoxPairing redeemPairingCode(
    const BrisaluneClient& client,
    std::string_view code,
    const std::optional<std::string>& displayName,
    const std::optional<std::string>& email,
    const std::optional<std::string>& password) {
    return fetch<BoxPairing>(
        client,
        {.method = "POST", .path = "/v1/pair", .plane = AuthPlane::none},
        PairRedeemBody{std::string(code), displayName, email, password});
}

TenantPairing pairTenant(
    const BrisaluneClient& client, std::string_view tenantId, std::string_view boxAccountId, std::string_view receipt) {
    return fetch<TenantPairing>(
        client,
        {.method = "POST", .path = tenantPath(tenantId, "/pair")},
        TenantPairBody{std::string(boxAccountId), std::string(receipt)});
}

std::vector<Pairing> listPairings(const BrisaluneClient& client, std::string_view tenantId) {
    return fetch<PairingsResponse>(client, {.method = "GET", .path = tenantPath(tenantId, "/pairings")}).pairings;
}

void setRelay(
    const BrisaluneClient& client,
    const platform::Url& relayURL,
    std::string_view relaySecret,
    const std::optional<std::string>& hostedTenantId,
    const std::optional<platform::Url>& boxPublicURL) {
    SetRelayBody body{relayURL.text(), std::string(relaySecret), hostedTenantId, std::nullopt};
    if (boxPublicURL) body.boxPublicURL = boxPublicURL->text();
    fetch<SetRelayResponse>(client, {.method = "PUT", .path = "/v1/relay", .plane = AuthPlane::data}, body);
}

MintedPairingCode mintPairingCode(
    const BrisaluneClient& client,
    std::string_view role,
    const std::optional<std::string>& email,
    std::optional<std::int64_t> ttlSeconds,
    const std::optional<std::string>& currentPassword) {
    return fetch<MintedPairingCode>(
        client,
        {.method = "POST", .path = "/v1/pair/codes", .plane = AuthPlane::data},
        CreatePairingCodeBody{std::string(role), email, ttlSeconds, currentPassword});
}

void deletePairing(const BrisaluneClient& client, std::string_view tenantId, std::string_view pairing) {
    perform(client, {.method = "DELETE", .path = tenantPath(tenantId, "/pairings/" + escapedPathSegment(pairing))});
}

RotatedRelayKey rotateRelayKey(const BrisaluneClient& client, std::string_view tenantId) {
    return fetch<RotatedRelayKey>(client, {.method = "POST", .path = tenantPath(tenantId, "/relay-key")});
}

RelayStatus relayStatus(const BrisaluneClient& client) {
    return fetch<RelayStatus>(client, {.method = "GET", .path = "/v1/relay", .plane = AuthPlane::data});
}

}  // namespace brisalune
