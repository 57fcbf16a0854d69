// Joining a self-hosted box and signing in to one.

#include <brisalune/app/model/mac_model.hpp>

#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/accounts/key_revocation.hpp>
#include <brisalune/client/boxes/box_address.hpp>
#include <brisalune/client/boxes/probe.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace brisalune {

namespace {

// The session with one key of it only, held for `host` (none: the hosted service's).
StoredSession onlyKey(StoredSession session, std::string tenantId, TenantKey key, std::optional<platform::Url> host) {
    session.tenantKeys = {{tenantId, std::move(key)}};
    session.tenantHosts.clear();
    if (host) session.tenantHosts.insert_or_assign(std::move(tenantId), std::move(*host));
    return session;
}

// Retires the one key of `only` on the server that issued it, as sign-out retires every key. A
// key that survives is the server's to expire; nothing here can fail the flow.
QCoro::Task<> retireKey(
    StoredSession only, std::shared_ptr<BrisaluneClient> accountClient, ClientFactory clientFactory) {
    const auto revoke = [only, accountClient, clientFactory] {
        KeyRevocation::revokeAll(only, *accountClient, clientFactory);
    };
    try {
        co_await awaitBlocking(revoke);
    } catch (const std::exception&) {
    }
}

// Revokes the key that a new one replaced.
QCoro::Task<> retireReplacedKey(
    StoredSession before,
    std::string tenantId,
    std::shared_ptr<BrisaluneClient> accountClient,
    ClientFactory clientFactory) {
    const std::optional<platform::Url> host =
        before.hasOwnHost(tenantId) ? std::optional(before.hostForTenant(tenantId)) : std::nullopt;
    const TenantKey key = before.tenantKeys.at(tenantId);
    co_await retireKey(onlyKey(before, tenantId, key, host), std::move(accountClient), std::move(clientFactory));
}

// Takes a key back in a box session, asking twice: a box that takes keys back only in one is
// asked again before that session ends, as a first failure may pass. Whether the box took it back.
bool revokeInBoxSession(const BrisaluneClient& boxSession, const std::string& boxTenantId, const std::string& keyId) {
    for (int tries = 0; tries < 2; ++tries) {
        try {
            revokeKey(boxSession, boxTenantId, keyId);
            return true;
        } catch (const std::exception&) {
        }
    }
    return false;
}

// Takes back a key that a seat's redemption gave, in a box session of that seat: a box that
// revokes keys only for its signed-in accounts accepts that. Whether the box revoked it.
bool revokeWithSeat(const ClientFactory& make, const platform::Url& box, const SeatCredentials& seat, const TenantKey& key) {
    const std::shared_ptr<BrisaluneClient> client = make(box, std::nullopt, std::nullopt);
    bool revoked = false;
    try {
        client->setSessionToken(login(*client, seat.email, seat.password).token);
        revoked = revokeInBoxSession(*client, key.tenantId.value_or(""), key.keyId);
    } catch (const std::exception&) {
    }
    if (client->sessionToken()) signOutOfBox(*client);
    return revoked;
}

// Rethrows what cut a flow once its take-backs are done. Words about its session are those of now
// (`sessionNow`): a sign-out may have ended the session while the take-backs ran.
[[noreturn]] void rethrowCut(const std::exception_ptr& cut, const BoxConnectionError& sessionNow) {
    try {
        std::rethrow_exception(cut);
    } catch (const BoxConnectionError& error) {
        if (error.is(BoxConnectionError::Case::sessionEnded)) throw sessionNow;
        throw;
    }
}

// The key the team had before `replacement`, when there was another one.
bool replacesKey(const StoredSession& before, const std::string& tenantId, const TenantKey& replacement) {
    const auto old = before.tenantKeys.find(tenantId);
    return old != before.tenantKeys.end() && !(old->second == replacement);
}

}  // namespace

BoxLink MacModel::boxLink() const {
    const std::weak_ptr<SignedInAccount> signedIn = signedInAccount_;
    return {// The session's own: nothing of a flow goes once "Sign out" is pressed.
            .accountClient = accountClient_,
            .clientFactory = sessionClients(),
            .account = [signedIn]() -> std::optional<BoxLinkAccount> {
                const std::shared_ptr<SignedInAccount> account = signedIn.lock();
                return account ? account->get() : std::nullopt;
            },
            // A box session a cut sign-in got is ended whatever the session's life.
            .endingFactory = clientFactory_};
}

BoxConnectionError MacModel::sessionGone(std::string_view sessionToken) const {
    // Still held, it is signing out: a refused sign-out leaves it so, and no sign-in can follow.
    if (session_ && session_->sessionToken == sessionToken) return BoxConnectionError::sessionEnding();
    return BoxConnectionError::sessionEnded();
}

void MacModel::refuseOnceSigningOut() const {
    if (!life_->isLive()) throw std::runtime_error(std::string(SessionLife::notSentText));
}

QCoro::Task<std::optional<StoredSession>> MacModel::recordTeamKey(
    std::string tenantId, TenantKey key, platform::Url issuer, bool movesTeam, std::string sessionToken) {
    // Signed out or in again meanwhile: the box's answer belongs to a session that is gone, and
    // the caller must not go on as if its key were kept.
    if (!sessionStillHas(sessionToken)) throw sessionGone(sessionToken);
    const StoredSession before = *session_;
    StoredSession updated = before;
    if (movesTeam) updated.tenantHosts.insert_or_assign(tenantId, issuer);
    // A key is only ever sent where it was issued: a team that went elsewhere meanwhile gets none.
    if (!sameBox(updated.hostForTenant(tenantId), issuer)) throw BoxConnectionError::boxMoved();
    updated.tenantKeys.insert_or_assign(tenantId, key);
    if (!co_await storeSession(updated)) {
        // The session goes on without the key: the caller must not finish as if it were kept.
        if (sessionStillHas(sessionToken))
            throw std::runtime_error(lastError_.value_or("The team's key could not be kept. Try again."));
        throw sessionGone(sessionToken);
    }
    // A move saved just before this write took the team elsewhere, and left the key out.
    const auto kept = session_->tenantKeys.find(tenantId);
    if (kept == session_->tenantKeys.end() || !(kept->second == key) ||
        !sameBox(session_->hostForTenant(tenantId), issuer))
        throw BoxConnectionError::boxMoved();
    if (!replacesKey(before, tenantId, key)) co_return std::nullopt;
    co_return before;
}

void MacModel::retireDroppedKeys(const StoredSession& before, const StoredSession& after) {
    if (before.sessionToken != after.sessionToken || !accountClient_) return;
    for (const auto& [tenantId, key] : before.tenantKeys) {
        // Kept, or one that a box choice under way takes back itself, with its box session.
        if (after.tenantKeys.contains(tenantId) || keysUnderCheck_.contains(key.keyId)) continue;
        const std::optional<platform::Url> host =
            before.hasOwnHost(tenantId) ? std::optional(before.hostForTenant(tenantId)) : std::nullopt;
        // Made here, so that the retirement, which nobody awaits, needs nothing of the model.
        const std::shared_ptr<BrisaluneClient> keyClient =
            clientFactory_(host.value_or(before.baseURL), std::nullopt, key.apiKey);
        const ClientFactory made = [keyClient](
                                       const platform::Url&, std::optional<std::string>, std::optional<std::string>) {
            return keyClient;
        };
        QCoro::Task<> detached =
            retireKey(onlyKey(before, tenantId, key, host), clientForTakingBack(accountClient_), made);
    }
}

QCoro::Task<> MacModel::settleKeychain() {
    QPromise<void> turn;
    co_await keychainTurn(turn);
}

QCoro::Task<> MacModel::confirmKeptAt(
    std::string tenantId, platform::Url issuer, std::string sessionToken, BoxConnectionError moved) {
    if (!sessionStillHas(sessionToken)) throw sessionGone(sessionToken);
    // Dropped since it was kept, by a move of the team: the drop took the key back.
    if (!session_->tenantKeys.contains(tenantId) || !sameBox(session_->hostForTenant(tenantId), issuer)) throw moved;
    co_return;
}

QCoro::Task<> MacModel::joinBox(JoinCode code, std::string displayName, std::string email, std::string password) {
    if (!accountClient_ || !session_) co_return;
    refuseOnceSigningOut();
    const StoredSession asked = *session_;
    const std::string sessionToken = asked.sessionToken;
    // What takes back a key the box issues, whatever becomes of the session meanwhile.
    const std::shared_ptr<BrisaluneClient> takingBack = clientForTakingBack(accountClient_);

    const std::shared_ptr<BrisaluneClient> probeClient = sessionClient(code.boxURL, std::nullopt, std::nullopt);
    const auto probe = [probeClient] { return probeBox(*probeClient); };
    const BoxProbe verdict = co_await awaitBlocking(probe);
    // Signed out, or signing out, while the box was probed: no account is left to pair the team with.
    if (!sessionStillHas(sessionToken)) throw sessionGone(sessionToken);
    if (const auto message = boxProbeMessage(verdict, code.boxURL, deviceNoun, addresses_.hostedAPIBase()))
        throw BoxConnectionError::boxUnusable(*message);

    const BoxLink link = boxLink();
    const std::optional<SeatCredentials> seat =
        code.seat ? std::optional(SeatCredentials{email, password}) : std::nullopt;
    // A name left empty is no name: the box then names the member itself.
    const std::optional<std::string> name = displayName.empty() ? std::nullopt : std::optional(displayName);
    // From the code's redemption until the box's key is kept or taken back: a sign-out waits for it.
    std::optional<KeyIssue> issue(std::in_place, *this);
    const auto redeem = [link, code, name, seat] { return redeemBoxCode(link, code.code, name, code.boxURL, seat); };
    const BoxPairing redeemed = co_await awaitBlocking(redeem);

    const std::string hostedTenantId = code.hostedTenantId;
    std::optional<StoredSession> replaced;
    std::exception_ptr unkept;
    try {
        // A sign-out begun while the box answered: the pairing is not sent (nor, its answer on
        // the way, the relay: the link's clients are the session's).
        if (!sessionStillHas(sessionToken)) throw sessionGone(sessionToken);
        const auto finish = [link, hostedTenantId, redeemed, box = code.boxURL] {
            return finishBoxPairing(link, hostedTenantId, redeemed, box);
        };
        const BoxConnection connection = co_await awaitBlocking(finish);
        replaced = co_await recordTeamKey(hostedTenantId, connection.key, connection.host, true, sessionToken);
    } catch (const BoxConnectionError& error) {
        unkept = error.is(BoxConnectionError::Case::boxMoved) ? std::make_exception_ptr(BoxConnectionError::joinMoved())
                                                              : std::current_exception();
    } catch (const std::exception&) {
        unkept = std::current_exception();
    }
    if (unkept) {
        // Kept nowhere: the box's new key is taken back on that box, in the seat's own box session
        // when there is one, else by the key itself.
        const TenantKey key = redeemedKey(redeemed);
        const auto bySeat = [make = clientFactory_, box = code.boxURL, seat, key] {
            return seat && revokeWithSeat(make, box, *seat, key);
        };
        if (!co_await awaitBlocking(bySeat)) co_await revokeUnheldKey(asked, hostedTenantId, key, code.boxURL);
        rethrowCut(unkept, sessionGone(sessionToken));
    }
    issue.reset();
    if (replaced) co_await retireReplacedKey(*replaced, hostedTenantId, takingBack, clientFactory_);
    co_await refreshAccount();
    co_await selectTenant(hostedTenantId);
    co_await refreshPortalOrigins();
    co_await pushState_.drainPendingAcks(false);
    co_await confirmKeptAt(hostedTenantId, code.boxURL, sessionToken, BoxConnectionError::joinMoved());
}

QCoro::Task<BoxSignIn> MacModel::signInToBox(std::string hostedTenantId, std::string email, std::string password) {
    refuseOnceSigningOut();
    if (!accountClient_ || !session_ || !session_->hasOwnHost(hostedTenantId))
        throw BoxConnectionError::boxHasNoTenants();
    const std::string sessionToken = session_->sessionToken;
    const platform::Url boxAddress = session_->hostForTenant(hostedTenantId);
    const BoxLink link = boxLink();
    const auto boxSignIn = [link, hostedTenantId, boxAddress, email, password] {
        return brisalune::signInToBox(link, hostedTenantId, boxAddress, email, password);
    };
    BoxSignIn signedIn = co_await awaitBlocking(boxSignIn);
    if (!sessionStillHas(sessionToken)) {
        co_await endBoxSession(signedIn.client);
        throw BoxConnectionError::signInEnded();
    }
    boxSignIns_.push_back({signedIn.client, sessionToken});
    co_return signedIn;
}

QCoro::Task<> MacModel::useBoxTeam(
    std::string hostedTenantId, std::shared_ptr<BrisaluneClient> boxClient, std::string boxTenantId) {
    if (!session_) co_return;
    refuseOnceSigningOut();
    if (!boxClient) throw std::invalid_argument("useBoxTeam needs the box sign-in's client");
    const StoredSession asked = *session_;
    const std::string sessionToken = asked.sessionToken;
    // Only a sign-in made under this session: one left over from another account issues nothing.
    if (!holdsBoxSignIn(*boxClient)) throw BoxConnectionError::signInEnded();
    // The team left the box this sign-in is for: that box has no key to give for it.
    const platform::Url issuer = boxClient->baseURL();
    if (!sameBox(session_->hostForTenant(hostedTenantId), issuer)) {
        co_await endBoxSession(boxClient);
        throw BoxConnectionError::boxMoved();
    }

    // From the key's issue until it is kept or taken back: a sign-out waits for it.
    std::optional<KeyIssue> issue(std::in_place, *this);
    const auto issueOnBox = [boxClient, boxTenantId] { return issueKey(*boxClient, boxTenantId); };
    const IssuedKey issued = co_await awaitBlocking(issueOnBox);
    const TenantKey key{.keyId = issued.id, .apiKey = issued.apiKey, .tenantId = boxTenantId};
    // Until this choice knows whether the key stays, it is this choice's to take back.
    keysUnderCheck_.insert(issued.id);
    std::optional<StoredSession> replaced;
    std::exception_ptr unsaved;
    bool moved = false;
    try {
        replaced = co_await recordTeamKey(hostedTenantId, key, issuer, false, sessionToken);
        // A move whose save was on its way while the key's landed may have taken the key away.
        co_await settleKeychain();
        co_await confirmKeptAt(hostedTenantId, issuer, sessionToken, BoxConnectionError::boxMoved());
    } catch (const BoxConnectionError& error) {
        moved = error.is(BoxConnectionError::Case::boxMoved);
        unsaved = std::current_exception();
    } catch (const std::exception&) {
        unsaved = std::current_exception();
    }
    keysUnderCheck_.erase(issued.id);
    if (unsaved) {
        // Kept nowhere: the new key, and any it replaced meanwhile, are taken back on the box
        // that issued them, whatever the session's life. The sign-in stays, so the person can try
        // again, unless the team has left that box or the session is over.
        const std::shared_ptr<BrisaluneClient> takingBack = clientForTakingBack(boxClient);
        const auto revokeNew = [takingBack, boxTenantId, id = issued.id] {
            return revokeInBoxSession(*takingBack, boxTenantId, id);
        };
        if (!co_await awaitBlocking(revokeNew)) co_await revokeUnheldKey(asked, hostedTenantId, key, issuer);
        if (replaced) co_await retireReplacedBoxKey(*replaced, hostedTenantId, boxClient, boxTenantId);
        if (moved || !sessionStillHas(sessionToken)) co_await endBoxSession(boxClient);
        rethrowCut(unsaved, sessionGone(sessionToken));
    }
    issue.reset();
    if (replaced) co_await retireReplacedBoxKey(*replaced, hostedTenantId, boxClient, boxTenantId);
    // The key is all this computer keeps of the box sign-in.
    co_await endBoxSession(boxClient);
    co_await selectTenant(hostedTenantId);
    co_await refreshPortalOrigins();
    co_await pushState_.drainPendingAcks(false);
    co_await confirmKeptAt(hostedTenantId, issuer, sessionToken, BoxConnectionError::boxMoved());
}

QCoro::Task<> MacModel::retireReplacedBoxKey(
    StoredSession replaced,
    std::string hostedTenantId,
    std::shared_ptr<BrisaluneClient> boxClient,
    std::string boxTenantId) {
    // The box session can revoke the key it replaces on its own box, while it lasts.
    const TenantKey old = replaced.tenantKeys.at(hostedTenantId);
    const std::string oldTeam = old.tenantId.value_or(boxTenantId);
    const std::shared_ptr<BrisaluneClient> takingBack = clientForTakingBack(boxClient);
    const auto revoke = [takingBack, oldTeam, old] { return revokeInBoxSession(*takingBack, oldTeam, old.keyId); };
    if (!co_await awaitBlocking(revoke) && accountClient_)
        co_await retireReplacedKey(
            std::move(replaced), hostedTenantId, clientForTakingBack(accountClient_), clientFactory_);
}

QCoro::Task<> MacModel::abandonBoxSignIn(std::shared_ptr<BrisaluneClient> boxClient) {
    if (boxClient) co_await endBoxSession(std::move(boxClient));
}

bool MacModel::holdsBoxSignIn(const BrisaluneClient& boxClient) {
    std::erase_if(boxSignIns_, [this](const PendingBoxSignIn& pending) {
        return pending.client.expired() || !sessionStillHas(pending.sessionToken);
    });
    return std::ranges::any_of(
        boxSignIns_, [&](const PendingBoxSignIn& pending) { return pending.client.lock().get() == &boxClient; });
}

QCoro::Task<> MacModel::endBoxSession(std::shared_ptr<BrisaluneClient> boxClient) {
    std::erase_if(boxSignIns_, [&](const PendingBoxSignIn& pending) {
        const auto held = pending.client.lock();
        return !held || held == boxClient;
    });
    // Ended whatever the session's life: a box session is the box's to take back.
    const std::shared_ptr<BrisaluneClient> ending = clientForTakingBack(boxClient);
    const auto signOut = [ending] { signOutOfBox(*ending); };
    co_await awaitBlocking(signOut);
}

}  // namespace brisalune
