#pragma once

// The published description of the newest release of the app, and the rule that decides
// whether it is offered.

#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

struct SiteRelease {
    std::int64_t versionCode = 0;  // compared with the running build's version code
    std::string versionName;       // shown to the user
    std::string url;               // download address, as the publisher wrote it
    std::optional<std::string> sha256;
    std::optional<std::string> notes;

    // The manifest body as a release; none when it does not decode.
    static std::optional<SiteRelease> decode(std::string_view body);

    // The download address when it is https on the manifest's own host (letter case aside); for
    // a manifest fetched over plain http from loopback (a demo build's), also plain http on the
    // manifest's own origin.
    std::optional<platform::Url> downloadURL(const platform::Url& manifestURL) const;

    // The release when it beats both the running build and the dismissed version and its
    // download address is usable.
    static std::optional<SiteRelease> offeredRelease(
        const std::optional<SiteRelease>& release,
        std::int64_t currentVersionCode,
        std::int64_t dismissedVersionCode,
        const platform::Url& manifestURL);

    friend bool operator==(const SiteRelease&, const SiteRelease&) = default;
};

template <>
inline constexpr auto json::keys<SiteRelease> = json::object(
    json::field("version_code", &SiteRelease::versionCode),
    json::field("version_name", &SiteRelease::versionName),
    json::field("url", &SiteRelease::url),
    json::field("sha256", &SiteRelease::sha256),
    json::field("notes", &SiteRelease::notes));

}  // namespace brisalune
