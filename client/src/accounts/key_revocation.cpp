#include <brisalune/client/accounts/key_revocation.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/detail/side_by_side.hpp>
#include <brisalune/client/monitoring/projects.hpp>
#include <brisalune/client/team/endpoints.hpp>

#include <exception>
#include <future>
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
// client, a box through the key's own client.
RevokeOutcome revoke(
    const BrisaluneClient& accountClient,
    const BrisaluneClient& keyClient,
    const std::string& tenantId,
    const TenantKey& key,
    bool onBox) {
    try {
        if (onBox) {
            revokeOnBox(keyClient, tenantId, key);
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
bool refusesKey(const BrisaluneClient& keyClient) {
    try {
        listProjects(keyClient, 1);
        return false;
    } catch (const BrisaluneError& error) {
        return error.is(BrisaluneError::Case::unauthorized);
    } catch (const std::exception&) {
        return false;
    }
}

// Whether the key ends revoked or dead.
bool retire(
    const BrisaluneClient& accountClient,
    const BrisaluneClient& keyClient,
    const std::string& tenantId,
    const TenantKey& key,
    bool onBox) {
    switch (revoke(accountClient, keyClient, tenantId, key, onBox)) {
        case RevokeOutcome::revoked: return true;
        case RevokeOutcome::unknown: return false;
        case RevokeOutcome::refused: return refusesKey(keyClient);
    }
    return false;
}

}  // namespace

std::vector<Survivor> revokeAll(
    const StoredSession& session, const BrisaluneClient& accountClient, const ClientFactory& clientFactory) {
    struct Retiring {
        Survivor key;
        std::future<bool> retired;
    };
    std::vector<Retiring> keys;
    for (const auto& entry : session.tenantKeys) {
        const std::string& tenantId = entry.first;  // named, not bound: a lambda captures it
        const TenantKey& key = entry.second;
        std::optional<platform::Url> box;
        if (auto host = session.tenantHosts.find(tenantId); host != session.tenantHosts.end()) box = host->second;
        // The key's client is made here, in the caller's thread: the factory is the caller's.
        const std::shared_ptr<BrisaluneClient> keyClient =
            clientFactory(box.value_or(session.baseURL), std::nullopt, key.apiKey);
        const bool onBox = box.has_value();
        // Side by side: a server that holds one key's revoke keeps no other key from being revoked.
        auto retired = sideBySide([&accountClient, keyClient, &tenantId, &key, onBox] {
            return retire(accountClient, *keyClient, tenantId, key, onBox);
        });
        keys.push_back({{tenantId, key.keyId, std::move(box)}, std::move(retired)});
    }
    std::vector<Survivor> survivors;
    for (Retiring& retiring : keys)
        if (!retiring.retired.get()) survivors.push_back(std::move(retiring.key));
    return survivors;
}

}  // namespace brisalune::KeyRevocation
