#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/devices/endpoints.hpp>

#include <string>

namespace brisalune {
namespace {

struct RegisterDeviceBody {
    std::string token;
    std::string platform;
    bool criticalAlerts = false;
};

constexpr std::string_view devicesPath = "/v1/account/devices";

}  // namespace

template <>
inline constexpr auto json::keys<RegisterDeviceBody> = json::object(
    json::field("token", &RegisterDeviceBody::token),
    json::field("platform", &RegisterDeviceBody::platform),
    json::field("critical_alerts", &RegisterDeviceBody::criticalAlerts));

bool registerDevice(
    const BrisaluneClient& client, std::string_view token, std::string_view platform, bool criticalAlerts) {
    const RegisterDeviceBody body{std::string(token), std::string(platform), criticalAlerts};
    return fetch<RegisteredResponse>(client, {.method = "POST", .path = std::string(devicesPath)}, body).registered;
}

std::vector<Device> devices(const BrisaluneClient& client) {
    return fetch<DevicesResponse>(client, {.method = "GET", .path = std::string(devicesPath)}).devices;
}

void deleteDevice(const BrisaluneClient& client, std::string_view token) {
    perform(client, {.method = "DELETE", .path = std::string(devicesPath) + "/" + escapedPathSegment(token)});
}

}  // namespace brisalune
