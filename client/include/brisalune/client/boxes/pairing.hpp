#pragma once

// Pairing and relay records: how a hosted team is linked to its self-hosted box, the relay
// settings the box is given, and the relay's state as the box reports it.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// One link between a hosted account and a box account, as the hosted service lists it.
struct Pairing {
    std::string accountId;
    std::string boxAccountId;
    std::chrono::sys_seconds createdAt{};
    std::optional<std::chrono::sys_seconds> revokedAt;

    bool isActive() const noexcept { return !revokedAt; }

    friend bool operator==(const Pairing&, const Pairing&) = default;
};

// What a box answers when a pairing code is redeemed on it: a key for the box's tenant, and
// the receipt the hosted service wants to pair the team with the new box account.
struct BoxPairing {
    std::string apiKey;
    std::string apiKeyId;
    std::string tenantId;  // the box's own id of the tenant
    std::string boxAccountId;
    std::string receipt;
};

// The hosted service's answer to pairing a team with a box account; the relay credentials
// come only when the hosted service relays for that team.
struct TenantPairing {
    bool paired = false;
    std::string boxAccountId;
    std::optional<std::string> relayKeyId;
    std::optional<std::string> relaySecret;
};

struct RotatedRelayKey {
    std::string relayKeyId;
    std::string relaySecret;

    friend bool operator==(const RotatedRelayKey&, const RotatedRelayKey&) = default;
};

// The relay state of one project on a box.
struct RelayProjectStatus {
    std::string project;
    std::string relayURL;
    bool enabled = false;
    std::optional<std::string> lastError;
    std::int64_t consecutiveFailures = 0;

    friend bool operator==(const RelayProjectStatus&, const RelayProjectStatus&) = default;
};

// A box's relay settings and each project's relay. `projects` absent is not an empty list.
struct RelayStatus {
    bool configured = false;
    std::optional<std::string> relayURL;
    std::optional<std::string> name;
    std::optional<bool> enabled;
    std::optional<std::vector<RelayProjectStatus>> projects;

    // Configured and explicitly switched off.
    bool isDisabled() const noexcept { return configured && enabled == false; }
    // The projects whose relay is off or points elsewhere than `relayURL`, in order; every
    // project when the status names no relay address.
    std::vector<RelayProjectStatus> driftedProjects() const;
};

// A newly made pairing code; `joinCode` is the whole text a user pastes to join.
struct MintedPairingCode {
    std::string code;
    std::optional<std::string> joinCode;
    std::string role;
    std::optional<std::string> boundEmail;
    std::int64_t expiresAt = 0;  // carried as sent, never read
};

// ---- key tables ---------------------------------------------------------------------------

// clang-format off
template <>
inline constexpr auto json::keys<Pairing> = json::object(
    json::field("account_id", &Pairing::accountId),
    json::field("box_account_id", &Pairing::boxAccountId),
    json::field("created_at", &Pairing::createdAt),
    json::field("revoked_at", &Pairing::revokedAt));

template <>
inline constexpr auto json::keys<BoxPairing> = json::object(
    json::field("api_key", &BoxPairing::apiKey),
    json::field("api_key_id", &BoxPairing::apiKeyId),
    json::field("tenant_id", &BoxPairing::tenantId),
    json::field("box_account_id", &BoxPairing::boxAccountId),
    json::field("receipt", &BoxPairing::receipt));

template <>
inline constexpr auto json::keys<TenantPairing> = json::object(
    json::field("paired", &TenantPairing::paired),
    json::field("box_account_id", &TenantPairing::boxAccountId),
    json::field("relay_key_id", &TenantPairing::relayKeyId),
    json::field("relay_secret", &TenantPairing::relaySecret));

template <>
inline constexpr auto json::keys<RotatedRelayKey> = json::object(
    json::field("relay_key_id", &RotatedRelayKey::relayKeyId),
    json::field("relay_secret", &RotatedRelayKey::relaySecret));

template <>
inline constexpr auto json::keys<RelayProjectStatus> = json::object(
    json::field("project", &RelayProjectStatus::project),
    json::field("relay_url", &RelayProjectStatus::relayURL),
    json::field("enabled", &RelayProjectStatus::enabled),
    json::field("last_error", &RelayProjectStatus::lastError),
    json::field("consecutive_failures", &RelayProjectStatus::consecutiveFailures));

template <>
inline constexpr auto json::keys<RelayStatus> = json::object(
    json::field("configured", &RelayStatus::configured),
    json::field("relay_url", &RelayStatus::relayURL),
    json::field("name", &RelayStatus::name),
    json::field("enabled", &RelayStatus::enabled),
    json::field("projects", &RelayStatus::projects));

template <>
inline constexpr auto json::keys<MintedPairingCode> = json::object(
    json::field("code", &MintedPairingCode::code),
    json::field("join_code", &MintedPairingCode::joinCode),
    json::field("role", &MintedPairingCode::role),
    json::field("bound_email", &MintedPairingCode::boundEmail),
    json::field("expires_at", &MintedPairingCode::expiresAt));
// clang-format on

// ---- request bodies and answer envelopes of the pairing endpoints ----

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

struct SetRelayResponse {
    std::string relayURL;
};
struct PairingsResponse {
    std::vector<Pairing> pairings;
};

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

}  // namespace brisalune

template <>
struct std::hash<brisalune::Pairing> : brisalune::RecordHash<brisalune::Pairing> {};

template <>
struct std::hash<brisalune::RotatedRelayKey> : brisalune::RecordHash<brisalune::RotatedRelayKey> {};

template <>
struct std::hash<brisalune::RelayProjectStatus> : brisalune::RecordHash<brisalune::RelayProjectStatus> {};
