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

namespace {

// The body as a ClientOutdatedBody; none when it is not one (not JSON, not an object, a field
// that is not a string). Most answers are not objects or lack the keys: both are cheap here.
std::optional<ClientOutdatedBody> readBody(const json::Document& body) {
    if (body.text().empty()) return std::nullopt;  // most often a 204: no need to ask the parser
    try {
        if (body.root().kind() != json::Node::Kind::object) return std::nullopt;
        return json::decode<ClientOutdatedBody>(body);
    } catch (const json::DecodeError&) {
        return std::nullopt;  // an unreadable body only means that nothing but status 426 can say so
    }
}

}  // namespace

std::optional<ClientOutdated> ClientOutdatedBody::recognise(int status, const json::Document& body) {
    std::optional<ClientOutdatedBody> decoded = readBody(body);
    if (!decoded) {
        if (status == 426) return ClientOutdated{defaultClientName(), std::nullopt};
        return std::nullopt;
    }
    if (status != 426 && decoded->code != "client_outdated") return std::nullopt;
    ClientOutdated outdated{decoded->client.value_or(defaultClientName()), std::nullopt};
    if (decoded->minVersion && !decoded->minVersion->empty()) outdated.minVersion = decoded->minVersion;
    return outdated;
}

std::optional<ClientOutdated> ClientOutdatedBody::recognise(int status, std::string_view body) {
    return recognise(status, json::Document(std::string(body)));
}

}  // namespace brisalune
