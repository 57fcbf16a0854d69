#include <brisalune/app/model/mac_model.hpp>

#include <brisalune/app/shell/app_config.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace brisalune {

MacModel::Addresses MacModel::Addresses::fixed() {
    return {
        .hostedAPIBase = [] { return MacAppConfig::hostedAPIBase(); },
        .hostedWebOrigin = [] { return MacAppConfig::hostedWebOrigin(); },
        .allowLoopbackHttp = MacAppConfig::allowsLoopbackHttp()};
}

MacModel::MacModel(
    PushState& pushState,
    platform::Defaults defaults,
    std::shared_ptr<SessionStoring> sessionStore,
    ClientFactory clientFactory,
    Addresses addresses,
    QObject* parent)
    : QObject(parent)
    , portalOrigins_(loadPortalOrigins(defaults))
    , sessionStore_(std::move(sessionStore))
    , clientFactory_(std::move(clientFactory))
    , pushState_(pushState)
    , defaults_(std::move(defaults))
    , addresses_(std::move(addresses))
    , signedInAccount_(std::make_shared<SignedInAccount>()) {}

MacModel::~MacModel() = default;

std::shared_ptr<BrisaluneClient> MacModel::makeClient(
    const platform::Url& baseURL, std::optional<std::string> sessionToken, std::optional<std::string> dataKey) {
    return std::make_shared<BrisaluneClient>(baseURL, std::move(sessionToken), std::move(dataKey));
}

// ---- observation ----

template <class T, class U>
void MacModel::assign(T& field, U&& value, void (MacModel::*changed)()) {
    if (field == value) return;
    field = std::forward<U>(value);
    Q_EMIT(this->*changed)();
}

void MacModel::setPhase(Phase value) { assign(phase_, value, &MacModel::phaseChanged); }

void MacModel::setSession(std::optional<StoredSession> value) {
    sessionUnreadable_ = false;  // taken or ended: the stored one is no longer read again
    signedInAccount_->set(
        value ? std::optional<BoxLinkAccount>(BoxLinkAccount{value->accountId, value->baseURL}) : std::nullopt);
    assign(session_, std::move(value), &MacModel::sessionChanged);
}

void MacModel::setMemberships(std::vector<Membership> value, bool known) {
    if (memberships_ == value && membershipsKnown_ == known) return;
    memberships_ = std::move(value);
    membershipsKnown_ = known;
    Q_EMIT membershipsChanged();
}

// A client has no equality: every write is a change.
void MacModel::setAccountClient(std::shared_ptr<BrisaluneClient> value) {
    accountClient_ = std::move(value);
    Q_EMIT accountClientChanged();
}

void MacModel::setTearingDown(bool value) {
    const bool was = isSigningOut();
    assign(isTearingDown_, value, &MacModel::isTearingDownChanged);
    if (isSigningOut() != was) Q_EMIT signingOutChanged();
}

void MacModel::setForgetting(int value) {
    const bool was = isSigningOut();
    forgetting_ = value;
    if (isSigningOut() != was) Q_EMIT signingOutChanged();
}

void MacModel::setSignOutWaitsForSettings(bool value) {
    assign(signOutWaitsForSettings_, value, &MacModel::signOutWaitChanged);
}

void MacModel::setFinishingEarlierSignOut(bool value) {
    assign(finishingEarlierSignOut_, value, &MacModel::signingOutChanged);
}

void MacModel::setLastError(std::optional<std::string> value) {
    assign(lastError_, std::move(value), &MacModel::lastErrorChanged);
}

void MacModel::setSignOutRefusal(std::optional<std::string> value) {
    assign(signOutRefusal_, std::move(value), &MacModel::signOutRefusalChanged);
}

void MacModel::setOpenAlerts(std::vector<AlertSnapshot> value) {
    assign(openAlerts_, std::move(value), &MacModel::openAlertsChanged);
}

void MacModel::setAlertsError(std::optional<std::string> value) {
    assign(alertsError_, std::move(value), &MacModel::alertsErrorChanged);
}

void MacModel::setPortalOrigins(PortalOrigins value) {
    assign(portalOrigins_, std::move(value), &MacModel::portalOriginsChanged);
}

// ---- the session in the keychain ----

namespace {

// What `ours` changed from `base`, put on top of `theirs`.
template <class T>
T rebasedField(const T& base, const T& ours, const T& theirs) {
    return ours == base ? theirs : ours;
}

template <class V>
std::map<std::string, V, std::less<>> rebasedField(
    const std::map<std::string, V, std::less<>>& base,
    const std::map<std::string, V, std::less<>>& ours,
    const std::map<std::string, V, std::less<>>& theirs) {
    std::map<std::string, V, std::less<>> merged = theirs;
    for (const auto& [key, value] : base)
        if (!ours.contains(key)) merged.erase(key);
    for (const auto& [key, value] : ours) {
        const auto was = base.find(key);
        if (was == base.end() || was->second != value) merged.insert_or_assign(key, value);
    }
    return merged;
}

// A team's key goes with the address it was issued for: where one side moved the team, the
// team's key is that side's (or none), never one the other side had from the old address.
void keepKeysWithTheirHosts(
    StoredSession& merged, const StoredSession& base, const StoredSession& ours, const StoredSession& theirs) {
    const auto host = [](const StoredSession& session, const std::string& tenantId) {
        const auto found = session.tenantHosts.find(tenantId);
        return found == session.tenantHosts.end() ? std::nullopt : std::optional(found->second);
    };
    std::set<std::string> teams;
    for (const StoredSession* session : {&base, &ours, &theirs})
        for (const auto& [tenantId, address] : session->tenantHosts) teams.insert(tenantId);
    for (const std::string& tenantId : teams) {
        const StoredSession* mover = host(ours, tenantId) != host(base, tenantId)     ? &ours
                                     : host(theirs, tenantId) != host(base, tenantId) ? &theirs
                                                                                      : nullptr;
        if (!mover) continue;
        const auto key = mover->tenantKeys.find(tenantId);
        if (key == mover->tenantKeys.end()) {
            merged.tenantKeys.erase(tenantId);
        } else {
            merged.tenantKeys.insert_or_assign(tenantId, key->second);
        }
    }
}

StoredSession rebased(const StoredSession& base, const StoredSession& ours, const StoredSession& theirs) {
    StoredSession merged{
        .baseURL = rebasedField(base.baseURL, ours.baseURL, theirs.baseURL),
        .sessionToken = rebasedField(base.sessionToken, ours.sessionToken, theirs.sessionToken),
        .accountId = rebasedField(base.accountId, ours.accountId, theirs.accountId),
        .email = rebasedField(base.email, ours.email, theirs.email),
        .activeTenantId = rebasedField(base.activeTenantId, ours.activeTenantId, theirs.activeTenantId),
        .tenantKeys = rebasedField(base.tenantKeys, ours.tenantKeys, theirs.tenantKeys),
        .tenantHosts = rebasedField(base.tenantHosts, ours.tenantHosts, theirs.tenantHosts)};
    keepKeysWithTheirHosts(merged, base, ours, theirs);
    return merged;
}

}  // namespace

QCoro::Task<> MacModel::keychainTurn(QPromise<void>& mine) {
    mine.start();
    const QFuture<void> before = std::exchange(keychainCalls_, mine.future());
    co_await before;
}

QCoro::Task<bool> MacModel::storeSession(StoredSession session) {
    const std::optional<StoredSession> base = session_;
    QPromise<void> turn;
    co_await keychainTurn(turn);
    if (session_ != base) {
        // A session that ended or was replaced meanwhile is not written back.
        if (!base || !session_ || session_->sessionToken != base->sessionToken) co_return false;
        session = rebased(*base, session, *session_);
    }
    const std::optional<StoredSession> current = session_;
    const std::shared_ptr<SessionStoring> store = sessionStore_;
    const auto save = [store, session] { store->save(session); };
    try {
        co_await awaitBlocking(save, &localPool());
    } catch (const std::exception& error) {
        setLastError(error.what());
        co_return false;
    }
    // Signed out meanwhile: the clear waits for this turn and removes what was just written.
    if (session_ != current) co_return false;
    if (current) retireDroppedKeys(*current, session);
    setSession(std::move(session));
    co_return true;
}

bool MacModel::sessionStillHas(std::string_view sessionToken) const {
    return session_ && session_->sessionToken == sessionToken && life_->isLive();
}

// ---- derived ----

std::optional<std::string> MacModel::sessionEndingText() const {
    if (!sessionIsEnding()) return std::nullopt;
    return signOutRefusal_.value_or(std::string(signingOutWords()));
}

std::optional<Membership> MacModel::currentMembership() const {
    if (!session_ || !session_->activeTenantId) return std::nullopt;
    const auto found = std::ranges::find(memberships_, *session_->activeTenantId, &Membership::tenantId);
    if (found == memberships_.end()) return std::nullopt;
    return *found;
}

bool MacModel::needsBoxSignIn() const {
    if (!session_ || !session_->activeTenantId) return false;
    const std::string& team = *session_->activeTenantId;
    return session_->tenantHosts.contains(team) && !session_->tenantKeys.contains(team);
}

std::vector<Membership> MacModel::selfHostedMemberships() const {
    std::vector<Membership> onBoxes;
    if (!session_) return onBoxes;
    for (const Membership& membership : memberships_)
        if (session_->tenantHosts.contains(membership.tenantId)) onBoxes.push_back(membership);
    return onBoxes;
}

ClientFactory MacModel::sessionClients() const {
    return [life = std::shared_ptr<const SessionLife>(life_), made = clientFactory_](
               const platform::Url& baseURL, std::optional<std::string> sessionToken, std::optional<std::string> dataKey) {
        return whileLive(life, *made(baseURL, std::move(sessionToken), std::move(dataKey)));
    };
}

std::shared_ptr<BrisaluneClient> MacModel::sessionClient(
    const platform::Url& baseURL, std::optional<std::string> sessionToken, std::optional<std::string> dataKey) const {
    return sessionClients()(baseURL, std::move(sessionToken), std::move(dataKey));
}

std::shared_ptr<BrisaluneClient> MacModel::client(std::string_view tenantId) const {
    if (!session_) return nullptr;
    const auto key = session_->tenantKeys.find(tenantId);
    if (key == session_->tenantKeys.end()) return nullptr;
    return sessionClient(session_->hostForTenant(tenantId), std::nullopt, key->second.apiKey);
}

}  // namespace brisalune
