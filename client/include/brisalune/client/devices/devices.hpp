#pragma once

// The devices the service pushes alert notifications to, kept per account.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <chrono>
#include <string>
#include <vector>

namespace brisalune {

// One device registered for push on the account; its token identifies it.
struct Device {
    std::string token;     // as the service stores it
    std::string platform;  // as given at registration
    std::chrono::sys_seconds createdAt{};
    std::chrono::sys_seconds lastSeenAt{};

    friend bool operator==(const Device&, const Device&) = default;
};

struct DevicesResponse {
    std::vector<Device> devices;
};

struct RegisteredResponse {
    bool registered = false;
};

template <>
inline constexpr auto json::keys<Device> = json::object(
    json::field("token", &Device::token),
    json::field("platform", &Device::platform),
    json::field("created_at", &Device::createdAt),
    json::field("last_seen_at", &Device::lastSeenAt));

template <>
inline constexpr auto json::keys<DevicesResponse> = json::object(json::field("devices", &DevicesResponse::devices));

template <>
inline constexpr auto json::keys<RegisteredResponse> =
    json::object(json::field("registered", &RegisteredResponse::registered));

// The body of a device registration.
struct RegisterDeviceBody {
    std::string token;
    std::string platform;
    bool criticalAlerts = false;
};

template <>
inline constexpr auto json::keys<RegisterDeviceBody> = json::object(
    json::field("token", &RegisterDeviceBody::token),
    json::field("platform", &RegisterDeviceBody::platform),
    json::field("critical_alerts", &RegisterDeviceBody::criticalAlerts));

}  // namespace brisalune

template <>
struct std::hash<brisalune::Device> : brisalune::RecordHash<brisalune::Device> {};
