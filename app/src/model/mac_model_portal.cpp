// Portal origins of the session's servers, and links into their web portals.

#include <brisalune/app/model/mac_model.hpp>

#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <algorithm>
#include <exception>
#include <utility>

namespace brisalune {

PortalOrigins MacModel::loadPortalOrigins(const platform::Defaults& defaults) {
    const std::optional<platform::DefaultsValue> stored = defaults.value(portalOriginsKey);
    const auto* entries = stored ? stored->get<platform::DefaultsValue::Map>() : nullptr;
    if (!entries) return {};
    // One value that is not a text spoils the whole stored map.
    if (!std::ranges::all_of(*entries, [](const auto& entry) { return entry.second.template is<std::string>(); }))
        return {};
    PortalOrigins origins;
    for (const auto& [keyText, value] : *entries) {
        std::optional<platform::Url> host = platform::Url::parse(keyText);
        std::optional<platform::Url> origin = platform::Url::parse(*value.get<std::string>());
        if (host && origin) origins.insert_or_assign(std::move(*host), std::move(*origin));
    }
    return origins;
}

void MacModel::savePortalOrigins(const PortalOrigins& origins, platform::Defaults& defaults) {
    platform::DefaultsValue::Map entries;
    for (const auto& [host, origin] : origins) entries.insert_or_assign(host.text(), origin.text());
    try {
        defaults.set(portalOriginsKey, std::move(entries));
    } catch (const std::exception&) {
        // The defaults report no errors; the next refresh writes the map again.
    }
}

QCoro::Task<> MacModel::refreshPortalOrigins() {
    if (!session_) co_return;
    const StoredSession session = *session_;
    std::vector<platform::Url> hosts{session.baseURL};
    for (const auto& [tenantId, host] : session.tenantHosts)
        if (std::ranges::find(hosts, host) == hosts.end()) hosts.push_back(host);

    for (const platform::Url& host : hosts) {
        const std::optional<platform::Url> fallback =
            host == session.baseURL ? std::optional(addresses_.hostedWebOrigin()) : std::nullopt;
        const std::shared_ptr<BrisaluneClient> healthClient = clientFactory_(host, std::nullopt, std::nullopt);
        const auto askHealth = [healthClient] { return healthz(*healthClient); };
        std::optional<platform::Url> candidate;
        try {
            const Healthz health = co_await awaitBlocking(askHealth);
            candidate = health.portalOrigin ? health.portalOrigin : fallback;
        } catch (const std::exception&) {
            // A box out of reach keeps the origin it last announced.
            if (!fallback) continue;
            candidate = fallback;
        }
        const std::optional<platform::Url> origin =
            candidate ? PortalLinks::portalOrigin(*candidate, addresses_.allowLoopbackHttp) : std::nullopt;
        PortalOrigins updated = portalOrigins_;
        if (origin) {
            updated.insert_or_assign(host, *origin);
        } else {
            updated.erase(host);
        }
        setPortalOrigins(std::move(updated));
    }
    // On the pool: another program holding the settings file keeps a write waiting for seconds.
    const auto save = [origins = portalOrigins_, file = defaults_.file()] {
        platform::Defaults defaults(file);
        savePortalOrigins(origins, defaults);
    };
    co_await awaitBlocking(save, &localPool());
}

std::optional<platform::Url> MacModel::alertsPageURL() const {
    if (!session_ || !session_->activeTenantId) return std::nullopt;
    return PortalLinks::alertsPageURL(
        *session_->activeTenantId, *session_, portalOrigins_, addresses_.allowLoopbackHttp);
}

PortalLinks::Destination MacModel::alertPortalDestination(
    const std::optional<std::string>& tenantId, std::string_view alertId) const {
    if (!session_) return {PortalLinks::Destination::UnknownTenant{}};
    return PortalLinks::portalDestination(
        tenantId, alertId, memberships_, *session_, portalOrigins_, addresses_.allowLoopbackHttp);
}

}  // namespace brisalune
