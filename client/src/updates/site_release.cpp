#include <brisalune/client/updates/site_release.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <algorithm>
#include <cctype>

namespace brisalune {

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// A present, non-empty host in lower case.
std::optional<std::string> hostOf(const platform::Url& url) {
    auto host = url.host();
    if (!host || host->empty()) return std::nullopt;
    return lowercased(std::move(*host));
}

// A manifest fetched over plain http from this machine: only a build against a service on
// loopback has one (the demo's), since the built-in manifest address is otherwise https.
bool isLoopbackHttp(const platform::Url& url) {
    const auto host = hostOf(url);
    return url.scheme() == "http" && host && (*host == "127.0.0.1" || *host == "localhost" || *host == "[::1]");
}

}  // namespace

std::optional<SiteRelease> SiteRelease::decode(std::string_view body) {
    try {
        return json::decode<SiteRelease>(body);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

std::optional<platform::Url> SiteRelease::downloadURL(const platform::Url& manifestURL) const {
    auto parsed = platform::Url::parse(url);
    if (!parsed) return std::nullopt;
    // Such a manifest may offer a download on its own origin, which is no weaker than itself.
    if (isLoopbackHttp(manifestURL) && isLoopbackHttp(*parsed) && hostOf(*parsed) == hostOf(manifestURL) &&
        parsed->port() == manifestURL.port()) {
        return parsed;
    }
    if (parsed->scheme() != "https") return std::nullopt;
    auto host = hostOf(*parsed);
    if (!host || host != hostOf(manifestURL)) return std::nullopt;
    return parsed;
}

std::optional<SiteRelease> SiteRelease::offeredRelease(
    const std::optional<SiteRelease>& release,
    std::int64_t currentVersionCode,
    std::int64_t dismissedVersionCode,
    const platform::Url& manifestURL) {
    if (!release) return std::nullopt;
    if (release->versionCode <= currentVersionCode || release->versionCode <= dismissedVersionCode) return std::nullopt;
    if (!release->downloadURL(manifestURL)) return std::nullopt;
    return release;
}

}  // namespace brisalune
