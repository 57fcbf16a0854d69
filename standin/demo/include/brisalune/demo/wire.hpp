#pragma once

// The request bodies and answer envelopes the demo service reads and writes whose client-side
// twins are private to the client library's endpoint sources. The records the client publishes
// (accounts, alerts, keys, pairings, maintenance windows, checks, sources, status pages) are used
// as they are.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/boxes/pairing.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/client/monitoring/checks.hpp>
#include <brisalune/client/monitoring/sources.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisalune::demo {

struct ErrorBody {
    std::string error;
};

// One refused field of a validation answer.
struct FieldProblem {
    std::string field;
    std::string message;
};

// A 422 answer: what was refused, field by field.
struct ValidationBody {
    std::string error;
    std::vector<FieldProblem> fields;
};

struct CredentialsBody {
    std::string email;
    std::string password;
};

struct TenantsResponse {
    std::vector<Membership> tenants;
};

struct PairingsResponse {
    std::vector<Pairing> pairings;
};

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

struct SetRelayBody {
    std::string relayURL;
    std::string relaySecret;
    std::optional<std::string> hostedTenantId;
    std::optional<std::string> boxPublicURL;
};

struct SetRelayResponse {
    std::string relayURL;
};

struct CreatePairingCodeBody {
    std::string role;
    std::optional<std::string> email;
    std::optional<std::int64_t> ttlSeconds;
    std::optional<std::string> currentPassword;
};

struct RegisterDeviceBody {
    std::string token;
    std::string platform;
    bool criticalAlerts = false;
};

struct Device {
    std::string token;
    std::string platform;
    std::chrono::sys_seconds createdAt{};
    std::chrono::sys_seconds lastSeenAt{};
};

struct DevicesResponse {
    std::vector<Device> devices;
};

struct RegisteredResponse {
    bool registered = false;
};

struct MaintenanceWindowsResponse {
    std::vector<MaintenanceWindow> windows;
};

struct OccurrencesResponse {
    std::vector<MaintenanceOccurrence> occurrences;
};

struct ChecksResponse {
    std::vector<MonitorCheckInfo> checks;
};

struct SourcesResponse {
    std::vector<SourceInfo> sources;
};

struct StatusPagesResponse {
    std::vector<StatusPage> statusPages;
};

// What a join code carries, before "blj_" and base64url.
struct JoinCodePayload {
    std::string boxURL;
    std::string hostedTenantId;
    std::string code;
    bool seat = false;
    std::int64_t version = 1;
};

}  // namespace brisalune::demo

namespace brisalune {

// clang-format off
template <>
inline constexpr auto json::keys<demo::ErrorBody> = json::object(json::field("error", &demo::ErrorBody::error));

template <>
inline constexpr auto json::keys<demo::FieldProblem> = json::object(
    json::field("field", &demo::FieldProblem::field),
    json::field("message", &demo::FieldProblem::message));

template <>
inline constexpr auto json::keys<demo::ValidationBody> = json::object(
    json::field("error", &demo::ValidationBody::error),
    json::field("fields", &demo::ValidationBody::fields));

template <>
inline constexpr auto json::keys<demo::CredentialsBody> = json::object(
    json::field("email", &demo::CredentialsBody::email),
    json::field("password", &demo::CredentialsBody::password));

template <>
inline constexpr auto json::keys<demo::TenantsResponse> =
    json::object(json::field("tenants", &demo::TenantsResponse::tenants));

template <>
inline constexpr auto json::keys<demo::PairingsResponse> =
    json::object(json::field("pairings", &demo::PairingsResponse::pairings));

template <>
inline constexpr auto json::keys<demo::PairRedeemBody> = json::object(
    json::field("code", &demo::PairRedeemBody::code),
    json::field("display_name", &demo::PairRedeemBody::displayName),
    json::field("email", &demo::PairRedeemBody::email),
    json::field("password", &demo::PairRedeemBody::password));

template <>
inline constexpr auto json::keys<demo::TenantPairBody> = json::object(
    json::field("box_account_id", &demo::TenantPairBody::boxAccountId),
    json::field("receipt", &demo::TenantPairBody::receipt));

template <>
inline constexpr auto json::keys<demo::SetRelayBody> = json::object(
    json::field("relay_url", &demo::SetRelayBody::relayURL),
    json::field("relay_secret", &demo::SetRelayBody::relaySecret),
    json::field("hosted_tenant_id", &demo::SetRelayBody::hostedTenantId),
    json::field("box_public_url", &demo::SetRelayBody::boxPublicURL));

template <>
inline constexpr auto json::keys<demo::SetRelayResponse> =
    json::object(json::field("relay_url", &demo::SetRelayResponse::relayURL));

template <>
inline constexpr auto json::keys<demo::CreatePairingCodeBody> = json::object(
    json::field("role", &demo::CreatePairingCodeBody::role),
    json::field("email", &demo::CreatePairingCodeBody::email),
    json::field("ttl_seconds", &demo::CreatePairingCodeBody::ttlSeconds),
    json::field("current_password", &demo::CreatePairingCodeBody::currentPassword));

template <>
inline constexpr auto json::keys<demo::RegisterDeviceBody> = json::object(
    json::field("token", &demo::RegisterDeviceBody::token),
    json::field("platform", &demo::RegisterDeviceBody::platform),
    json::field("critical_alerts", &demo::RegisterDeviceBody::criticalAlerts));

template <>
inline constexpr auto json::keys<demo::Device> = json::object(
    json::field("token", &demo::Device::token),
    json::field("platform", &demo::Device::platform),
    json::field("created_at", &demo::Device::createdAt),
    json::field("last_seen_at", &demo::Device::lastSeenAt));

template <>
inline constexpr auto json::keys<demo::DevicesResponse> =
    json::object(json::field("devices", &demo::DevicesResponse::devices));

template <>
inline constexpr auto json::keys<demo::RegisteredResponse> =
    json::object(json::field("registered", &demo::RegisteredResponse::registered));

template <>
inline constexpr auto json::keys<demo::MaintenanceWindowsResponse> =
    json::object(json::field("windows", &demo::MaintenanceWindowsResponse::windows));

template <>
inline constexpr auto json::keys<demo::OccurrencesResponse> =
    json::object(json::field("occurrences", &demo::OccurrencesResponse::occurrences));

template <>
inline constexpr auto json::keys<demo::ChecksResponse> =
    json::object(json::field("checks", &demo::ChecksResponse::checks));

template <>
inline constexpr auto json::keys<demo::SourcesResponse> =
    json::object(json::field("sources", &demo::SourcesResponse::sources));

template <>
inline constexpr auto json::keys<demo::StatusPagesResponse> =
    json::object(json::field("status_pages", &demo::StatusPagesResponse::statusPages));

template <>
inline constexpr auto json::keys<demo::JoinCodePayload> = json::object(
    json::field("u", &demo::JoinCodePayload::boxURL),
    json::field("t", &demo::JoinCodePayload::hostedTenantId),
    json::field("c", &demo::JoinCodePayload::code),
    json::field("s", &demo::JoinCodePayload::seat),
    json::field("v", &demo::JoinCodePayload::version));
// clang-format on

}  // namespace brisalune
