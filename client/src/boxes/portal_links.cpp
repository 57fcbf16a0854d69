#include <brisalune/client/boxes/box_address.hpp>
#include <brisalune/client/boxes/portal_links.hpp>
#include <brisalune/client/detail/url_paths.hpp>

#include <algorithm>

namespace brisalune::PortalLinks {

namespace {

// The plane that holds a team, and the id its portal knows the team by; none when the team
// lives on a box and no key here carries its box id.
struct PortalTenant {
    platform::Url host;
    std::string portalTenantId;
};

std::optional<PortalTenant> portalTenant(std::string_view tenantId, const StoredSession& session) {
    auto box = session.tenantHosts.find(tenantId);
    if (box == session.tenantHosts.end()) return PortalTenant{session.baseURL, std::string(tenantId)};
    auto key = session.tenantKeys.find(tenantId);
    if (key == session.tenantKeys.end() || !key->second.tenantId) return std::nullopt;
    return PortalTenant{box->second, *key->second.tenantId};
}

std::optional<platform::Url> originFor(
    const platform::Url& host, const PortalOrigins& origins, bool allowInsecureLocal) {
    auto origin = origins.find(host);
    if (origin == origins.end()) return std::nullopt;
    return portalOrigin(origin->second, allowInsecureLocal);
}

}  // namespace

std::optional<platform::Url> portalOrigin(const platform::Url& candidate, bool allowInsecureLocal) {
    auto host = candidate.host();
    if (!host || host->empty()) return std::nullopt;
    if (candidate.user() || candidate.password() || candidate.query() || candidate.fragment()) return std::nullopt;
    if (auto path = candidate.path(); !path.empty() && path != "/") return std::nullopt;
    auto scheme = candidate.scheme();  // already lower-cased
    if (!scheme) return std::nullopt;
    const bool secure = *scheme == "https";
    const bool localHttp = *scheme == "http" && allowInsecureLocal && isLoopbackHost(*host);
    if (!secure && !localHttp) return std::nullopt;
    std::string origin = *scheme + "://" + *host;
    if (auto port = candidate.port()) origin += ":" + std::to_string(*port);
    return platform::Url::parse(origin);
}

std::optional<platform::Url> alertsPageURL(
    std::string_view tenantId, const StoredSession& session, const PortalOrigins& origins, bool allowInsecureLocal) {
    auto tenant = portalTenant(tenantId, session);
    if (!tenant) return std::nullopt;
    auto origin = originFor(tenant->host, origins, allowInsecureLocal);
    if (!origin) return std::nullopt;
    return detail::appendingPathSegments(*origin, {"t", tenant->portalTenantId, "alerts"});
}

Destination portalDestination(
    const std::optional<std::string>& tenantId,
    std::string_view alertId,
    const std::vector<Membership>& memberships,
    const StoredSession& session,
    const PortalOrigins& origins,
    bool allowInsecureLocal) {
    const auto& chosen = tenantId ? tenantId : session.activeTenantId;
    if (!chosen) return {Destination::UnknownTenant{}};
    const bool member = std::any_of(memberships.begin(), memberships.end(), [&](const Membership& membership) {
        return membership.tenantId == *chosen;
    });
    if (!member) return {Destination::UnknownTenant{}};
    auto tenant = portalTenant(*chosen, session);
    if (!tenant) return {Destination::BoxSignInNeeded{*chosen}};
    auto origin = originFor(tenant->host, origins, allowInsecureLocal);
    if (!origin) return {Destination::PortalOff{tenant->host}};
    auto url = detail::appendingPathSegments(*origin, {"t", tenant->portalTenantId, "alerts", alertId});
    if (!url) return {Destination::PortalOff{tenant->host}};
    return {Destination::Portal{std::move(*url)}};
}

}  // namespace brisalune::PortalLinks
