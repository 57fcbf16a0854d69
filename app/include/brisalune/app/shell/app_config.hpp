#pragma once

// The hosted service's fixed addresses, set when the app is built (CMake cache variables
// BRISALUNE_API_BASE_URL, BRISALUNE_WEB_APP_ORIGIN, BRISALUNE_UPDATE_MANIFEST_URL and
// BRISALUNE_APP_PAGE_URL). Each is parsed on its first use, from any thread, and kept for the
// process; one that does not parse stops the program.

#include <brisalune/platform/url.hpp>

#include <string_view>

namespace brisalune::MacAppConfig {

// Base address of the hosted HTTP API: the hosted sign-in's client.
const platform::Url& hostedAPIBase();
// Origin of the hosted web application: the hosted service's fallback portal origin.
const platform::Url& hostedWebOrigin();
// The published release manifest: the update checker's manifest address.
const platform::Url& updateManifestURL();
// The app's page on the public web site: the update link when no download address is usable.
const platform::Url& appPageURL();

// Whether this build lets plain http on a loopback host through where the app otherwise wants
// https (portal origins). Only the demo build, whose service runs on loopback, says yes
// (BRISALUNE_ALLOW_LOOPBACK_HTTP).
bool allowsLoopbackHttp() noexcept;

// The "service" of the session's keychain item (BRISALUNE_SESSION_SERVICE): the app's own,
// KeychainSessionStore::appService, except in the demo build, which keeps its session apart.
std::string_view sessionService() noexcept;

// The text as an absolute address; anything else stops the program with
// "static server URL must parse: " and the text. Only for addresses built into the program.
platform::Url parse(std::string_view text);

}  // namespace brisalune::MacAppConfig
