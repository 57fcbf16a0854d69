#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/monitoring/heartbeat_endpoints.hpp>

#include <utility>

namespace brisalune {

namespace {

struct MintedHeartbeatToken {
    std::string name;
    std::string heartbeatToken;
};

}  // namespace

template <>
inline constexpr auto json::keys<MintedHeartbeatToken> = json::object(
    json::field("name", &MintedHeartbeatToken::name),
    json::field("heartbeat_token", &MintedHeartbeatToken::heartbeatToken));

namespace {

platform::Url heartbeatURL(const BrisaluneClient& client, const std::string& path) {
    auto url = client.url(path);
    if (!url) throw BrisaluneError::transport("The heartbeat URL could not be built.");
    return std::move(*url);
}

}  // namespace

HeartbeatEndpoint mintHeartbeatEndpoint(
    const BrisaluneClient& client, std::string_view project, std::string_view source) {
    auto minted = fetch<MintedHeartbeatToken>(
        client,
        {.method = "POST",
         .path = "/v1/projects/" + escapedPathSegment(project) + "/sources/" + escapedPathSegment(source) +
                 "/heartbeat-token",
         .plane = AuthPlane::data});
    const std::string base = "/v1/heartbeat/" + escapedPathSegment(minted.heartbeatToken);
    platform::Url ok = heartbeatURL(client, base);
    platform::Url fail = heartbeatURL(client, base + "/fail");
    platform::Url start = heartbeatURL(client, base + "/start");
    return {
        .source = std::move(minted.name),
        .token = std::move(minted.heartbeatToken),
        .okURL = std::move(ok),
        .failURL = std::move(fail),
        .startURL = std::move(start)};
}

}  // namespace brisalune
