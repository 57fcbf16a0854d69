// Launch, sign-in, the account refresh and sign-out.

#include <brisalune/app/model/mac_model.hpp>

#include <brisalune/app/model/sign_out_record.hpp>
#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/accounts/key_revocation.hpp>
#include <brisalune/client/boxes/box_address.hpp>
#include <brisalune/client/core/backoff.hpp>
#include <brisalune/platform/http.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_state.hpp>

#include <QCoroSignal>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace brisalune {
namespace {

// The sign-out's calls to the service are bounded as a whole: by when, from its start, each step
// is given up. A step that ends early leaves its time to the next, and a service that holds one
// step still hears the later ones. Keys still being issued are waited for beside the revocation,
// until keyIssuesAwaitedBy, so that each is revoked before the log-out ends the session token.
// Whatever the take-backs meet, they end by takenBackBy: the log-out's share is its own.
constexpr std::chrono::seconds unregisteredBy{6};
constexpr std::chrono::seconds revokedBy{14};
constexpr std::chrono::seconds keyIssuesAwaitedBy{17};
constexpr std::chrono::seconds takenBackBy{18};
constexpr std::chrono::seconds loggedOutBy{20};

// How often the menu is told whether a sign-out's clear waits for another program.
constexpr std::chrono::milliseconds settingsWaitCheck{500};
// How long the sign-out's record waits for another program that holds the settings file: it
// stands before the sign-out's calls, in their bound.
constexpr std::chrono::seconds signOutRecordPatience{1};

// Off the UI thread: the sign-out's record goes, once it has ended here. One that stays names a
// session no longer held, which the next start drops.
void dropSignOutRecord(platform::Defaults defaults) noexcept {
    try {
        const platform::Defaults::PeerLockPatience patience(signOutRecordPatience);
        SignOutRecord::erase(defaults);
    } catch (const std::exception& error) {
        std::fprintf(
            stderr, "brisalune: the record of a finished sign-out stays in the settings file: %s\n", error.what());
    }
}

// Off the UI thread, with the stored session's read: whether an earlier run left a sign-out of
// `held` unfinished. A record of another session, or of none, goes, and so does one that cannot
// be read, said in words: the session held goes on as stored.
bool signOutLeftUnfinished(const platform::Defaults& defaults, const std::optional<StoredSession>& held) {
    const SignOutRecord::Found found = SignOutRecord::find(defaults, held);
    if (found == SignOutRecord::Found::none || found == SignOutRecord::Found::thisSession)
        return found == SignOutRecord::Found::thisSession;
    if (found == SignOutRecord::Found::unreadable)
        std::fputs(
            "brisalune: a sign-out an earlier run left unfinished could not be read from the settings file, so it "
            "was dropped\n",
            stderr);
    dropSignOutRecord(defaults);
    return false;
}

// The one line a refused sign-out shows: why, that nothing is sent, and what tries again. The
// keyring's why has a colon of its own, so it follows ", as " rather than a second one.
std::string refusalText(std::string why, std::string_view joint = ": ") {
    if (!why.empty()) why.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(why.front())));
    return "Brisalune could not finish signing out" + std::string(joint) + why +
           " Nothing of this session is sent meanwhile; it tries again when its window opens or you press "
           "\u201cFinish signing out\u201d.";
}

// Revokes the session's keys; whether any was not shown revoked or dead.
QCoro::Task<bool> revokeQuietly(StoredSession keys, std::shared_ptr<BrisaluneClient> client, ClientFactory factory) {
    if (keys.tenantKeys.empty()) co_return false;
    const auto revoke = [keys, client, factory] { return !KeyRevocation::revokeAll(keys, *client, factory).empty(); };
    try {
        co_return co_await awaitBlocking(revoke);
    } catch (const std::exception&) {
        co_return true;
    }
}

// The keys of `now` that `before` did not hold.
StoredSession keysAddedSince(const StoredSession& before, StoredSession now) {
    std::erase_if(now.tenantKeys, [&](const auto& entry) {
        const auto held = before.tenantKeys.find(entry.first);
        return held != before.tenantKeys.end() && held->second == entry.second;
    });
    return now;
}

// What a log-out's try met beyond its error: a redirect the transport refused is the service's
// own answer, and a 429 may say when to ask again. For one loop's tries, one at a time.
class LogOutTry final : public http::Transport {
public:
    explicit LogOutTry(std::shared_ptr<http::Transport> inner) : inner_(std::move(inner)) {}

    http::Response perform(const http::Request& request) override {
        redirectRefused_ = false;
        retryAfter_.reset();
        try {
            http::Response response = inner_->perform(request);
            if (response.status == 429) retryAfter_ = delaySeconds(response.headers.get("Retry-After"));
            return response;
        } catch (const http::RedirectRefusedError&) {
            redirectRefused_ = true;
            throw;
        }
    }

    // A 5xx, a 429, a dropped connection or no answer; a 401 says the token has ended already,
    // and any other refusal, a refused redirect included, would only be repeated.
    bool failedInPassing(const BrisaluneError& error) const {
        if (error.is(BrisaluneError::Case::server)) return error.status() >= 500;
        return error.is(BrisaluneError::Case::rateLimited) ||
               (error.is(BrisaluneError::Case::transport) && !redirectRefused_);
    }
    // The last try's Retry-After, in seconds (a date reads as none).
    std::optional<std::chrono::seconds> retryAfter() const { return retryAfter_; }

private:
    static std::optional<std::chrono::seconds> delaySeconds(const std::optional<std::string>& text) {
        unsigned int seconds = 0;
        if (!text || text->empty()) return std::nullopt;
        const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), seconds);
        if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
        return std::chrono::seconds(seconds);
    }

    std::shared_ptr<http::Transport> inner_;
    bool redirectRefused_ = false;
    std::optional<std::chrono::seconds> retryAfter_;
};

// Ends the session token at the service, asked again until `by` while it fails in passing: the
// one call of the sign-out that must land. A 429's Retry-After that ends before `by` is kept, but
// never hurries the usual pause.
void logOutBy(const BrisaluneClient& made, std::chrono::steady_clock::time_point by) {
    const auto tries = std::make_shared<LogOutTry>(made.transport());
    const std::shared_ptr<BrisaluneClient> client = made.over(tries);
    Backoff pause({.base = std::chrono::milliseconds(250), .cap = std::chrono::seconds(2)});
    for (;;) {
        try {
            logout(*client);
            return;
        } catch (const BrisaluneError& error) {
            if (!tries->failedInPassing(error)) throw;
        }
        const auto now = std::chrono::steady_clock::now();
        std::chrono::nanoseconds wait = pause.next();
        const std::optional<std::chrono::seconds> asked = tries->retryAfter();
        if (asked && now + *asked < by) wait = std::max<std::chrono::nanoseconds>(wait, *asked);
        if (now + wait >= by) return;
        std::this_thread::sleep_until(now + wait);
    }
}

// The same client for the sign-out's calls: its requests bounded by `deadline` over its own
// transport, whatever the session's life.
std::shared_ptr<BrisaluneClient> bounded(const std::shared_ptr<const http::Deadline>& deadline, const BrisaluneClient& made) {
    return made.over(http::deadlineTransport(made.transport(), deadline));
}

}  // namespace

// ---- launch ----

QCoro::Task<> MacModel::ensureLaunched() {
    if (!launch_) launch_.emplace(performLaunch());
    co_await *launch_;
}

QCoro::Task<> MacModel::performLaunch() {
    // An unreadable item counts as none and stays where it is; a session taken meanwhile stands.
    const SessionLoad::Case read = co_await takeUpStoredSession();
    if (!session_) {
        setPhase(Phase::signedOut);
        sessionUnreadable_ = read == SessionLoad::Case::unreadable;
    }
    launched_ = true;
    Q_EMIT launchedChanged();
}

QCoro::Task<SessionLoad::Case> MacModel::takeUpStoredSession() {
    // The keychain may ask to unlock, or answer slowly: the phase stays as it is meanwhile.
    const std::uint64_t signIns = signIns_;
    QPromise<void> turn;
    co_await keychainTurn(turn);
    const std::shared_ptr<SessionStoring> store = sessionStore_;
    const auto load = [store, defaults = defaults_] {
        SessionLoad loaded = store->load();
        const bool unfinished =
            !loaded.is(SessionLoad::Case::unreadable) && signOutLeftUnfinished(defaults, loaded.session());
        return std::pair(std::move(loaded), unfinished);
    };
    const auto [loaded, unfinished] = co_await awaitBlocking(load, &localPool());
    const std::optional<StoredSession>& stored = loaded.session();
    if (!stored || session_ || signIns_ != signIns) co_return loaded.kind();  // what the person did stands
    // "Sign out" was pressed in a run that ended before the sign-out did: nothing of the session
    // goes but that sign-out's calls, from the first moment.
    if (unfinished) life_->set(SessionLife::State::ending);
    setSession(*stored);
    setAccountClient(sessionClient(stored->baseURL, stored->sessionToken, std::nullopt));
    setPhase(stored->activeTenantId ? Phase::signedIn : Phase::selectingTenant);
    turn.finish();
    if (unfinished) {
        setFinishingEarlierSignOut(true);
        co_await signOut();
        setFinishingEarlierSignOut(false);
        co_return loaded.kind();
    }
    co_await refreshAccount();
    co_await refreshPortalOrigins();
    co_await refreshAlerts();
    co_return loaded.kind();
}

QCoro::Task<> MacModel::rereadUnreadableSession() {
    if (!launched_ || session_ || !sessionUnreadable_) co_return;
    if (!reread_ || reread_->isReady()) {
        // A keychain that does not answer takes minutes to fail: one read at a time, shared.
        reread_.emplace([](MacModel* model) -> QCoro::Task<> {
            const SessionLoad::Case read = co_await model->takeUpStoredSession();
            if (read == SessionLoad::Case::absent) model->sessionUnreadable_ = false;  // gone meanwhile
        }(this));
    }
    co_await *reread_;
}

// ---- sign-in ----

QCoro::Task<> MacModel::signIn(std::string email, std::string password) {
    ++signIns_;
    sessionUnreadable_ = false;  // the person signs in: the stored session is left alone
    setLastError(std::nullopt);
    const platform::Url hosted = addresses_.hostedAPIBase();
    const std::shared_ptr<BrisaluneClient> loginClient = clientFactory_(hosted, std::nullopt, std::nullopt);
    const auto logIn = [loginClient, email, password] { return login(*loginClient, email, password); };
    AuthResponse answer;
    try {
        answer = co_await awaitBlocking(logIn);
    } catch (const std::exception& error) {
        setLastError(error.what());
        co_return;
    }

    const StoredSession session{
        .baseURL = hosted,
        .sessionToken = answer.token,
        .accountId = answer.account.id,
        .email = answer.account.email,
        .activeTenantId = std::nullopt,
        .tenantKeys = {},
        .tenantHosts = {}};
    if (!co_await storeSession(session)) {
        // Nobody holds the token the server just issued: end it there rather than leave it live.
        const std::shared_ptr<BrisaluneClient> unheld = clientFactory_(hosted, answer.token, std::nullopt);
        const auto endUnheld = [unheld] { logout(*unheld); };
        try {
            co_await awaitBlocking(endUnheld);
        } catch (const std::exception&) {
            // Best effort: the server expires what it is not told of.
        }
        co_return;
    }
    setAccountClient(sessionClient(hosted, answer.token, std::nullopt));
    setPhase(Phase::selectingTenant);

    co_await refreshAccount();
    if (memberships_.size() == 1) {
        const std::string onlyTeam = memberships_.front().tenantId;
        co_await selectTenant(onlyTeam);
    }
    pushState_.registerDevice();
    co_await refreshPortalOrigins();
}

// ---- the account ----

QCoro::Task<> MacModel::refreshAccount() {
    if (!accountClient_ || !session_) co_return;
    const std::string sessionToken = session_->sessionToken;
    const std::shared_ptr<BrisaluneClient> client = accountClient_;
    const auto fetchAccount = [client] { return me(*client); };
    MeResponse answer;
    bool unauthorized = false;
    try {
        answer = co_await awaitBlocking(fetchAccount);
    } catch (const BrisaluneError& error) {
        if (!error.is(BrisaluneError::Case::unauthorized)) {
            setAlertsError(error.errorDescription());
            co_return;
        }
        unauthorized = true;
    } catch (const std::exception& error) {
        setAlertsError(error.what());
        co_return;
    }
    if (unauthorized) {
        // Only the session the request was sent for: a refusal of a token that was signed out
        // meanwhile must not end the session that replaced it. Once the keyring refused to forget
        // it, each refresh would ask to unlock again: the person's next action tries instead,
        // with nothing left to tell the service.
        if (!sessionStillHas(sessionToken)) co_return;
        life_->set(SessionLife::State::endedAtService);
        if (!signOutRefusal_) co_await signOutLocally();
        co_return;
    }
    if (!sessionStillHas(sessionToken)) co_return;

    setMemberships(std::move(answer.memberships));
    std::vector<std::string> roles;
    for (const Membership& membership : memberships_) roles.push_back(membership.role);
    pushState_.installCategories(roles);

    std::vector<std::pair<std::string, platform::Url>> dataHosts;
    for (const Membership& membership : memberships_)
        if (membership.dataPlaneURL) dataHosts.emplace_back(membership.tenantId, *membership.dataPlaneURL);
    if (!sessionStillHas(sessionToken)) co_return;
    StoredSession updated = *session_;
    for (auto& [tenantId, host] : dataHosts) {
        // A key belongs to the server that issued it: a team now served elsewhere needs a new
        // one, and its old key never travels to the new address. A first address that is where
        // the key already works (the session's own server) moves nothing.
        if (!sameBox(updated.hostForTenant(tenantId), host)) updated.tenantKeys.erase(tenantId);
        updated.tenantHosts.insert_or_assign(std::move(tenantId), std::move(host));
    }
    co_await storeSession(updated);
}

// ---- sign-out ----

QCoro::Task<> MacModel::signOut() {
    if (!session_ || !accountClient_ || isTearingDown_) co_return;
    // A run again: the last refusal's words go, wherever they are shown, until this run ends.
    if (signOutRefusal_ && lastError_ == signOutRefusal_) setLastError(std::nullopt);
    setSignOutRefusal(std::nullopt);
    // The service ended the session itself, and only what is kept here was left.
    if (life_->state() == SessionLife::State::endedAtService) {
        co_await signOutLocally();
        co_return;
    }
    const StoredSession session = *session_;
    // From here nothing of the session goes out but these calls, now or on a later try.
    life_->set(SessionLife::State::ending);
    const auto deadline = std::make_shared<http::Deadline>();
    const ClientFactory factory =
        [made = clientFactory_, deadline](
            const platform::Url& baseURL, std::optional<std::string> sessionToken, std::optional<std::string> dataKey) {
            return bounded(deadline, *made(baseURL, std::move(sessionToken), std::move(dataKey)));
        };
    const std::shared_ptr<BrisaluneClient> client = factory(session.baseURL, session.sessionToken, std::nullopt);
    const auto start = std::chrono::steady_clock::now();
    setTearingDown(true);
    co_await recordSignOut(session);

    // While the session token still works: this device's registrations, then the team keys,
    // then the token itself. None of them can stop the sign-out; their failures are not shown.
    deadline->endAt(start + unregisteredBy);
    co_await pushState_.unregisterDevice(client, session.accountId);
    const auto heldNow = [&] {
        return session_ && session_->sessionToken == session.sessionToken ? *session_ : session;
    };
    // The keys held now go at once. A key still being issued (for an acknowledgement, a team
    // chosen) is taken back by its issue as it comes, the sign-out having begun; the log-out
    // waits for that, and a key whose save was under way is revoked after the wait.
    deadline->endAt(start + revokedBy);
    const StoredSession held = heldNow();
    co_await revokeQuietly(held, client, factory);
    co_await keyIssuesSettledBy(start + keyIssuesAwaitedBy);
    deadline->endAt(start + takenBackBy);
    co_await revokeQuietly(keysAddedSince(held, heldNow()), client, factory);
    co_await takeBackListedKeys(client, factory);  // what is not taken back in time stays listed
    deadline->endAt(start + loggedOutBy);
    const auto endServerSession = [client, by = start + loggedOutBy] { logOutBy(*client, by); };
    try {
        co_await awaitBlocking(endServerSession);
    } catch (const std::exception&) {
        // Offline or refused: the local sign-out goes on regardless.
    }

    co_await signOutLocally();
    setTearingDown(false);
}

QCoro::Task<> MacModel::recordSignOut(StoredSession session) {
    const auto write = [file = defaults_, session] {
        const platform::Defaults::PeerLockPatience patience(signOutRecordPatience);
        platform::Defaults defaults = file;
        SignOutRecord::write(defaults, session);
    };
    try {
        co_await awaitBlocking(write, &localPool());
    } catch (const std::exception& error) {
        std::fprintf(
            stderr,
            "brisalune: the sign-out could not be kept in the settings file, so a run that ends before it does "
            "leaves it unfinished: %s\n",
            error.what());
    }
}

std::shared_ptr<BrisaluneClient> MacModel::clientForTakingBack(std::shared_ptr<BrisaluneClient> used) const {
    return used ? clientFactory_(used->baseURL(), used->sessionToken(), used->dataKey()) : used;
}

QCoro::Task<> MacModel::revokeUnheldKey(
    StoredSession session, std::string tenantId, TenantKey key, std::optional<platform::Url> host) {
    session.tenantHosts.clear();
    if (host) session.tenantHosts.emplace(tenantId, std::move(*host));
    session.tenantKeys = {{std::move(tenantId), std::move(key)}};
    const std::shared_ptr<BrisaluneClient> client = clientFactory_(session.baseURL, session.sessionToken, std::nullopt);
    const bool survived = co_await revokeQuietly(session, client, clientFactory_);
    if (survived && session_ && session_->sessionToken == session.sessionToken) keysToTakeBack_.push_back(session);
}

QCoro::Task<> MacModel::takeBackListedKeys(std::shared_ptr<BrisaluneClient> client, ClientFactory factory) {
    // One at a time: two of them may be keys of one team, which one session cannot hold.
    std::vector<StoredSession> listed = std::exchange(keysToTakeBack_, {});
    for (StoredSession& keys : listed)
        if (co_await revokeQuietly(keys, client, factory)) keysToTakeBack_.push_back(std::move(keys));
}

void MacModel::keyIssueEnded() {
    if (--keyIssues_ == 0) Q_EMIT keyIssuesSettled();
}

QCoro::Task<> MacModel::keyIssuesSettledBy(std::chrono::steady_clock::time_point by) {
    while (keyIssues_ > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()) co_return;
        co_await qCoro(this, &MacModel::keyIssuesSettled, left);
    }
}

QCoro::Task<> MacModel::retryRefusedSignOut() {
    if (!signOutRefusal_ || !session_ || isTearingDown_ || forgetting_ > 0) co_return;
    co_await signOut();
}

QCoro::Task<> MacModel::signOutLocally() {
    if (life_->isLive()) life_->set(SessionLife::State::ending);  // refused, it stays so
    setForgetting(forgetting_ + 1);
    const auto forgotten = qScopeGuard([this] { setForgetting(forgetting_ - 1); });
    // The account's unsent acknowledgements first, off the UI thread, where they wait for another
    // program that holds the settings file (one patience in all, the writes still under way
    // included), and the menu says so: left behind, the next account would send them in its own
    // name. A press taken before the sign-out may still be writing its record: the clear waits
    // for it, and nothing of this session is written after. While they stay, so does the
    // session, and the person is told why.
    const std::shared_ptr<PendingAckStoring> acks = pushState_.pendingAckStore();
    const std::shared_ptr<SessionAckGate> gate = ackGate_;
    const auto by = std::chrono::steady_clock::now() + settingsPatience_;
    const auto clearAcks = [gate, acks, by] { return gate->closeAfter([&acks] { return acks->removeAll(); }, by); };
    QTimer waitCheck;
    connect(&waitCheck, &QTimer::timeout, this, [this] {
        if (defaults_.heldByAnotherProgram()) setSignOutWaitsForSettings(true);
    });
    waitCheck.start(settingsWaitCheck);
    const bool cleared = co_await awaitBlocking(clearAcks, &localPool());
    waitCheck.stop();
    const bool heldOff = signOutWaitsForSettings_ || (!cleared && defaults_.heldByAnotherProgram());
    setSignOutWaitsForSettings(false);
    if (!cleared) {
        const std::string refused = refusalText(std::string(heldOff ? acksHeldWhy : acksNotClearedWhy));
        setLastError(refused);
        setSignOutRefusal(refused);
        co_return;
    }
    ackGate_ = std::make_shared<SessionAckGate>();  // for the presses after this sign-out
    // Then the keychain, in its turn: after any save still on its way, so that nothing written for
    // this session outlives it. A session the keychain still holds is the next start's: the person
    // stays signed in, and is told why.
    QPromise<void> turn;
    co_await keychainTurn(turn);
    const std::shared_ptr<SessionStoring> store = sessionStore_;
    const auto clear = [store, defaults = defaults_] {
        store->clear();
        dropSignOutRecord(defaults);
    };
    try {
        co_await awaitBlocking(clear, &localPool());
    } catch (const std::exception& error) {
        const std::string refused = refusalText(error.what(), ", as ");
        setLastError(refused);
        setSignOutRefusal(refused);
        co_return;
    }
    // Still in the turn: a save waiting behind it finds the session gone and writes nothing.
    life_->set(SessionLife::State::gone);
    life_ = std::make_shared<SessionLife>();
    keysToTakeBack_.clear();
    pushState_.clearDeviceLedger();
    pushState_.endSession();
    setSession(std::nullopt);
    setAccountClient(nullptr);
    setMemberships({}, false);
    pushState_.installCategories({});
    setOpenAlerts({});
    setAlertsError(std::nullopt);
    setPhase(Phase::signedOut);
}

void MacModel::endSignOutAtQuit() {
    if (!isTearingDown_ && forgetting_ == 0) return;
    const std::shared_ptr<PendingAckStoring> acks = pushState_.pendingAckStore();
    const std::shared_ptr<SessionAckGate> gate = ackGate_;
    const std::shared_ptr<SessionStoring> store = sessionStore_;
    static_cast<void>(QtConcurrent::run(&localPool(), [gate, acks, store, defaults = defaults_] {
        const auto by = std::chrono::steady_clock::now() + platform::Defaults::PeerLockPatience::standard;
        if (!gate->closeAfter([&acks] { return acks->removeAll(); }, by))
            return;  // as at sign-out: the session stays with them, and the next start finishes it
        try {
            store->clear();
        } catch (const std::exception&) {
            return;  // the keyring kept it: the next start finishes the sign-out
        }
        dropSignOutRecord(defaults);
    }));
}

}  // namespace brisalune
