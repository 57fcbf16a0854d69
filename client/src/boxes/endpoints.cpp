#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/boxes/endpoints.hpp>
#include <brisalune/client/detail/answers.hpp>

namespace brisalune {

namespace {

// ---- request bodies ----

struct PairRedeemBody {
    std::string code;
    std::optional<std::string> displayName;
    std::optional<std::string> email;
    std::optional<std::string> password;
};
struct TenantPairBody {
    std::string boxAccountId;
    std::string receipt;
};
struct CreatePairingCodeBody {
    std::string role;
    std::optional<std::string> email;
    std::optional<std::int64_t> ttlSeconds;
    std::optional<std::string> currentPassword;
};
struct SetRelayBody {
    std::string relayURL;
    std::string relaySecret;
    std::optional<std::string> hostedTenantId;
    std::optional<std::string> boxPublicURL;
};

// ---- answer envelopes ----

struct SetRelayResponse {
    std::string relayURL;
};
struct PairingsResponse {
    std::vector<Pairing> pairings;
};

}  // namespace

// clang-format off
template <>
inline constexpr auto json::keys<PairRedeemBody> = json::object(
    json::field("code", &PairRedeemBody::code),
    json::field("display_name", &PairRedeemBody::displayName),
    json::field("email", &PairRedeemBody::email),
    json::field("password", &PairRedeemBody::password));

template <>
inline constexpr auto json::keys<TenantPairBody> = json::object(
    json::field("box_account_id", &TenantPairBody::boxAccountId), json::field("receipt", &TenantPairBody::receipt));

template <>
inline constexpr auto json::keys<CreatePairingCodeBody> = json::object(
    json::field("role", &CreatePairingCodeBody::role),
    json::field("email", &CreatePairingCodeBody::email),
    json::field("ttl_seconds", &CreatePairingCodeBody::ttlSeconds),
    json::field("current_password", &CreatePairingCodeBody::currentPassword));

template <>
inline constexpr auto json::keys<SetRelayBody> = json::object(
    json::field("relay_url", &SetRelayBody::relayURL),
    json::field("relay_secret", &SetRelayBody::relaySecret),
    json::field("hosted_tenant_id", &SetRelayBody::hostedTenantId),
    json::field("box_public_url", &SetRelayBody::boxPublicURL));

template <>
inline constexpr auto json::keys<SetRelayResponse> = json::object(json::field("relay_url", &SetRelayResponse::relayURL));

template <>
inline constexpr auto json::keys<PairingsResponse> = json::object(json::field("pairings", &PairingsResponse::pairings));
// clang-format on

BoxPairing redeemPairingCode(const BrisaluneClient& client, std::string_view code,
                             const std::optional<std::string>& displayName, const std::optional<std::string>& email,
                             const std::optional<std::string>& password) {
    return fetch<BoxPairing>(client, {.method = "POST", .path = "/v1/pair", .plane = AuthPlane::none},
                             PairRedeemBody{std::string(code), displayName, email, password});
}

TenantPairing pairTenant(const BrisaluneClient& client, std::string_view tenantId, std::string_view boxAccountId,
                         std::string_view receipt) {
    return fetch<TenantPairing>(client, {.method = "POST", .path = tenantPath(tenantId, "/pair")},
                                TenantPairBody{std::string(boxAccountId), std::string(receipt)});
}

std::vector<Pairing> listPairings(const BrisaluneClient& client, std::string_view tenantId) {
    return fetch<PairingsResponse>(client, {.method = "GET", .path = tenantPath(tenantId, "/pairings")}).pairings;
}

void setRelay(const BrisaluneClient& client, const platform::Url& relayURL, std::string_view relaySecret,
              const std::optional<std::string>& hostedTenantId, const std::optional<platform::Url>& boxPublicURL) {
    SetRelayBody body{relayURL.text(), std::string(relaySecret), hostedTenantId, std::nullopt};
    if (boxPublicURL) body.boxPublicURL = boxPublicURL->text();
    fetch<SetRelayResponse>(client, {.method = "PUT", .path = "/v1/relay", .plane = AuthPlane::data}, body);
}

MintedPairingCode mintPairingCode(const BrisaluneClient& client, std::string_view role,
                                  const std::optional<std::string>& email, std::optional<std::int64_t> ttlSeconds,
                                  const std::optional<std::string>& currentPassword) {
    return fetch<MintedPairingCode>(client, {.method = "POST", .path = "/v1/pair/codes", .plane = AuthPlane::data},
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
