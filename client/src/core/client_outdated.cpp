#include <brisalune/client/core/client_outdated.hpp>

#include <brisalune/client/core/client_identity.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <algorithm>
#include <cctype>

namespace brisalune {

template <>
inline constexpr auto json::keys<ClientOutdatedBody> = json::object(
    json::field("code", &ClientOutdatedBody::code),
    json::field("client", &ClientOutdatedBody::client),
    json::field("min_version", &ClientOutdatedBody::minVersion));

std::string defaultClientName() {
    std::string name = ClientIdentity::current().product;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    constexpr std::string_view prefix = "brisalune-";
    for (auto at = name.find(prefix); at != std::string::npos; at = name.find(prefix, at)) {
        name.erase(at, prefix.size());
    }
    return name;
}

std::optional<ClientOutdated> ClientOutdatedBody::recognise(int status, std::string_view body) {
    std::optional<ClientOutdatedBody> decoded;
    try {
        decoded = json::decode<ClientOutdatedBody>(body);
    } catch (const json::DecodeError&) {
        // An unreadable body only means that nothing but status 426 can say so.
    }
    if (!decoded) {
        if (status == 426) return ClientOutdated{defaultClientName(), std::nullopt};
        return std::nullopt;
    }
    if (status != 426 && decoded->code != "client_outdated") return std::nullopt;
    ClientOutdated outdated{decoded->client.value_or(defaultClientName()), std::nullopt};
    if (decoded->minVersion && !decoded->minVersion->empty()) outdated.minVersion = decoded->minVersion;
    return outdated;
}

}  // namespace brisalune
