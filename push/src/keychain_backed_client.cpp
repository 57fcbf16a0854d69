#include <brisalune/push/keychain_backed_client.hpp>

namespace brisalune::KeychainBackedClient {

TenantClient clientForTenant(const std::optional<std::string>& tenantId, SessionStoring& sessions) {
    const SessionLoad load = sessions.load();
    if (!load.is(SessionLoad::Case::present)) return {};
    const StoredSession& session = *load.session();

    std::optional<std::string> team = session.activeTenantId;
    if (tenantId && session.tenantKeys.contains(*tenantId)) team = tenantId;
    if (!team) return {};
    const auto key = session.tenantKeys.find(*team);
    if (key == session.tenantKeys.end()) return {};

    auto client = std::make_shared<BrisaluneClient>(session.hostForTenant(*team), std::nullopt, key->second.apiKey);
    return {std::move(client), std::move(team)};
}

}  // namespace brisalune::KeychainBackedClient
