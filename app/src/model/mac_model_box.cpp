// Joining a self-hosted box and signing in to one.

#include <brisalune/app/model/mac_model.hpp>

#include <brisalune/client/boxes/probe.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>

#include <stdexcept>
#include <utility>

namespace brisalune {

BoxLink MacModel::boxLink() const {
    const std::weak_ptr<SignedInAccount> signedIn = signedInAccount_;
    return {
        .accountClient = accountClient_,
        .clientFactory = clientFactory_,
        .account = [signedIn]() -> std::optional<BoxLinkAccount> {
            const std::shared_ptr<SignedInAccount> account = signedIn.lock();
            return account ? account->get() : std::nullopt;
        }};
}

QCoro::Task<> MacModel::joinBox(JoinCode code, std::string displayName, std::string email, std::string password) {
    if (!accountClient_ || !session_) co_return;
    const std::string sessionToken = session_->sessionToken;

    const std::shared_ptr<BrisaluneClient> probeClient = clientFactory_(code.boxURL, std::nullopt, std::nullopt);
    const auto probe = [probeClient] { return probeBox(*probeClient); };
    const BoxProbe verdict = co_await awaitBlocking(probe);
    if (const auto message = boxProbeMessage(verdict, code.boxURL, deviceNoun, addresses_.hostedAPIBase()))
        throw BoxConnectionError::boxUnusable(*message);

    const BoxLink link = boxLink();
    const std::optional<SeatCredentials> seat =
        code.seat ? std::optional(SeatCredentials{email, password}) : std::nullopt;
    // A name left empty is no name: the box then names the member itself.
    const std::optional<std::string> name = displayName.empty() ? std::nullopt : std::optional(displayName);
    const auto pair = [link, code, name, seat] {
        return pairBox(link, code.hostedTenantId, code.code, name, code.boxURL, seat);
    };
    const BoxConnection connection = co_await awaitBlocking(pair);

    const std::string hostedTenantId = code.hostedTenantId;
    // Signed out or in again meanwhile: the box's answer belongs to a session that is gone.
    if (sessionStillHas(sessionToken)) {
        StoredSession updated = *session_;
        updated.tenantHosts.insert_or_assign(hostedTenantId, connection.host);
        updated.tenantKeys.insert_or_assign(hostedTenantId, connection.key);
        co_await storeSession(updated);
    }
    co_await refreshAccount();
    co_await selectTenant(hostedTenantId);
    co_await refreshPortalOrigins();
    co_await pushState_.drainPendingAcks(false);
}

QCoro::Task<BoxSignIn> MacModel::signInToBox(std::string hostedTenantId, std::string email, std::string password) {
    if (!accountClient_ || !session_ || !session_->hasOwnHost(hostedTenantId))
        throw BoxConnectionError::boxHasNoTenants();
    const platform::Url boxAddress = session_->hostForTenant(hostedTenantId);
    const BoxLink link = boxLink();
    const auto boxSignIn = [link, hostedTenantId, boxAddress, email, password] {
        return brisalune::signInToBox(link, hostedTenantId, boxAddress, email, password);
    };
    co_return co_await awaitBlocking(boxSignIn);
}

QCoro::Task<> MacModel::useBoxTeam(
    std::string hostedTenantId, std::shared_ptr<BrisaluneClient> boxClient, std::string boxTenantId) {
    if (!session_) co_return;
    if (!boxClient) throw std::invalid_argument("useBoxTeam needs the box sign-in's client");
    const std::string sessionToken = session_->sessionToken;

    const auto issue = [boxClient, boxTenantId] { return issueKey(*boxClient, boxTenantId); };
    const IssuedKey issued = co_await awaitBlocking(issue);
    if (sessionStillHas(sessionToken)) {
        StoredSession updated = *session_;
        updated.tenantKeys.insert_or_assign(
            hostedTenantId, TenantKey{.keyId = issued.id, .apiKey = issued.apiKey, .tenantId = boxTenantId});
        co_await storeSession(updated);
    }
    co_await selectTenant(hostedTenantId);
    co_await refreshPortalOrigins();
    co_await pushState_.drainPendingAcks(false);
}

}  // namespace brisalune
