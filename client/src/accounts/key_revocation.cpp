#include <brisalune/client/accounts/key_revocation.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/monitoring/projects.hpp>
#include <brisalune/client/team/endpoints.hpp>

#include <exception>
#include <memory>

namespace brisalune::KeyRevocation {

namespace {

enum class RevokeOutcome { revoked, unknown, refused };

// Asks a box to take back one of its keys. No box session is held here: the key itself asks,
// under the box's own id of the team. A box that wants a box session for it refuses.
void revokeOnBox(const BrisaluneClient& keyClient, const std::string& tenantId, const TenantKey& key) {
    const std::string team = key.tenantId.value_or(tenantId);
    perform(keyClient, dataCall("DELETE", tenantPath(team, "/keys" + segment(key.keyId))));
}

// Revokes the key on the server that issued it: the hosted service through the account
// client, a box through a client that carries only the key.
RevokeOutcome revoke(
    const BrisaluneClient& accountClient,
    const ClientFactory& clientFactory,
    const std::string& tenantId,
    const TenantKey& key,
    const std::optional<platform::Url>& box) {
    try {
        if (box) {
            revokeOnBox(*clientFactory(*box, std::nullopt, key.apiKey), tenantId, key);
        } else {
            revokeKey(accountClient, tenantId, key.keyId);
        }
        return RevokeOutcome::revoked;
    } catch (const BrisaluneError& error) {
        switch (error.kind()) {
            case BrisaluneError::Case::notFound: return RevokeOutcome::revoked;
            case BrisaluneError::Case::transport:
            case BrisaluneError::Case::invalidResponse: return RevokeOutcome::unknown;
            default: return RevokeOutcome::refused;
        }
    } catch (const std::exception&) {
        return RevokeOutcome::unknown;
    }
}

// Whether the server that holds the key refuses it: the key is dead.
bool refusesKey(const ClientFactory& clientFactory, const platform::Url& host, const TenantKey& key) {
    try {
        listProjects(*clientFactory(host, std::nullopt, key.apiKey), 1);
        return false;
    } catch (const BrisaluneError& error) {
        return error.is(BrisaluneError::Case::unauthorized);
    } catch (const std::exception&) {
        return false;
    }
}

// Whether the key ends revoked or dead.
bool retire(
    const StoredSession& session,
    const BrisaluneClient& accountClient,
    const ClientFactory& clientFactory,
    const std::string& tenantId,
    const TenantKey& key,
    const std::optional<platform::Url>& box) {
    switch (revoke(accountClient, clientFactory, tenantId, key, box)) {
        case RevokeOutcome::revoked: return true;
        case RevokeOutcome::unknown: return false;
        case RevokeOutcome::refused: return refusesKey(clientFactory, box.value_or(session.baseURL), key);
    }
    return false;
}

}  // namespace

std::vector<Survivor> revokeAll(
    const StoredSession& session, const BrisaluneClient& accountClient, const ClientFactory& clientFactory) {
    std::vector<Survivor> survivors;
    for (const auto& [tenantId, key] : session.tenantKeys) {
        std::optional<platform::Url> box;
        if (auto host = session.tenantHosts.find(tenantId); host != session.tenantHosts.end()) box = host->second;
        if (!retire(session, accountClient, clientFactory, tenantId, key, box)) {
            survivors.push_back({tenantId, key.keyId, std::move(box)});
        }
    }
    return survivors;
}

}  // namespace brisalune::KeyRevocation
