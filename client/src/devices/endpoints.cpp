#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/devices/endpoints.hpp>

#include <string>

namespace brisalune {
namespace {

constexpr std::string_view devicesPath = "/v1/account/devices";

}  // namespace

bool registerDevice(
    const BrisaluneClient& client,
    std::string_view token,
    std::string_view platform,
    bool criticalAlerts,
    std::optional<std::chrono::milliseconds> wholeTimeout) {
    const RegisterDeviceBody body{std::string(token), std::string(platform), criticalAlerts};
    const Call call{.method = "POST", .path = std::string(devicesPath), .wholeTimeout = wholeTimeout};
    return fetch<RegisteredResponse>(client, call, body).registered;
}

std::vector<Device> devices(const BrisaluneClient& client, std::optional<std::chrono::milliseconds> wholeTimeout) {
    const Call call{.method = "GET", .path = std::string(devicesPath), .wholeTimeout = wholeTimeout};
    return fetch<DevicesResponse>(client, call).devices;
}

void deleteDevice(
    const BrisaluneClient& client, std::string_view token, std::optional<std::chrono::milliseconds> wholeTimeout) {
    const Call call{
        .method = "DELETE",
        .path = std::string(devicesPath) + "/" + escapedPathSegment(token),
        .wholeTimeout = wholeTimeout};
    perform(client, call);
}

}  // namespace brisalune
