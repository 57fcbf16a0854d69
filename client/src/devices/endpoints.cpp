#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/devices/endpoints.hpp>

#include <string>

namespace brisalune {
namespace {

constexpr std::string_view devicesPath = "/v1/account/devices";

}  // namespace

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
