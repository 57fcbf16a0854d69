#include <brisalune/app/model/mac_model.hpp>

#include <brisalune/app/shell/app_config.hpp>

#include <algorithm>
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
    signedInAccount_->set(
        value ? std::optional<BoxLinkAccount>(BoxLinkAccount{value->accountId, value->baseURL}) : std::nullopt);
    assign(session_, std::move(value), &MacModel::sessionChanged);
}

void MacModel::setMemberships(std::vector<Membership> value) {
    assign(memberships_, std::move(value), &MacModel::membershipsChanged);
}

// A client has no equality: every write is a change.
void MacModel::setAccountClient(std::shared_ptr<BrisaluneClient> value) {
    accountClient_ = std::move(value);
    Q_EMIT accountClientChanged();
}

void MacModel::setTearingDown(bool value) { assign(isTearingDown_, value, &MacModel::isTearingDownChanged); }

void MacModel::setLastError(std::optional<std::string> value) {
    assign(lastError_, std::move(value), &MacModel::lastErrorChanged);
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

// ---- the session ----

bool MacModel::storeSession(const StoredSession& session) {
    try {
        sessionStore_->save(session);
    } catch (const std::exception& error) {
        setLastError(error.what());
        return false;
    }
    setSession(session);
    return true;
}

bool MacModel::sessionStillHas(std::string_view sessionToken) const {
    return session_ && session_->sessionToken == sessionToken;
}

// ---- derived ----

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

std::shared_ptr<BrisaluneClient> MacModel::client(std::string_view tenantId) const {
    if (!session_) return nullptr;
    const auto key = session_->tenantKeys.find(tenantId);
    if (key == session_->tenantKeys.end()) return nullptr;
    return clientFactory_(session_->hostForTenant(tenantId), std::nullopt, key->second.apiKey);
}

}  // namespace brisalune
