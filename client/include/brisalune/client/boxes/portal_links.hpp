#pragma once

// Addresses in the web portal of the plane that holds a team (the hosted service or the team's
// box): the team's alerts page and one alert, or why there is none. Pure functions over what
// the caller passes in; no I/O.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/accounts/session.hpp>
#include <brisalune/platform/url.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace brisalune {

// A plane's address -> the origin of its web portal, looked up by URL equality.
using PortalOrigins = std::unordered_map<platform::Url, platform::Url>;

namespace PortalLinks {

struct Destination {
    struct Portal {  // open this address
        platform::Url url;
        friend bool operator==(const Portal&, const Portal&) = default;
    };
    struct PortalOff {  // the team's plane has no usable web portal
        platform::Url host;
        friend bool operator==(const PortalOff&, const PortalOff&) = default;
    };
    struct BoxSignInNeeded {  // the team lives on a box and no key here carries its box id
        std::string tenantId;
        friend bool operator==(const BoxSignInNeeded&, const BoxSignInNeeded&) = default;
    };
    struct UnknownTenant {  // no team to link to
        friend bool operator==(const UnknownTenant&, const UnknownTenant&) = default;
    };

    std::variant<Portal, PortalOff, BoxSignInNeeded, UnknownTenant> value;

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }

    friend bool operator==(const Destination&, const Destination&) = default;
};

// Where one alert of a team opens: the given team, else the session's active one, which must
// be among the memberships. `allowInsecureLocal` lets http origins on loopback through (the app
// always passes false).
Destination portalDestination(
    const std::optional<std::string>& tenantId,
    std::string_view alertId,
    const std::vector<Membership>& memberships,
    const StoredSession& session,
    const PortalOrigins& origins,
    bool allowInsecureLocal);

// The team's alerts page; none whenever portalDestination would not give a portal.
std::optional<platform::Url> alertsPageURL(
    std::string_view tenantId, const StoredSession& session, const PortalOrigins& origins, bool allowInsecureLocal);

// The candidate as a bare origin (lower-case scheme, host as written, port when given), or none
// unless it is https (or http on loopback when allowed) with a host and nothing but an empty
// path or "/".
std::optional<platform::Url> portalOrigin(const platform::Url& candidate, bool allowInsecureLocal);

}  // namespace PortalLinks

}  // namespace brisalune
