#pragma once

// What the tray application knows of the signed-in user, and every action of the user that talks
// to the service: the sign-in phase, the stored session, the account's teams, the account client,
// the active team's open alerts, the portal origins and the last failure texts.
//
// Lives on the Qt main thread for the whole run. Each observed field has a signal that fires only
// when a written value differs from the stored one (the account client: on every write). The
// operations are coroutines on the main thread; every request runs on the thread pool
// (awaitBlocking), and after each await the operation reads the session again and drops its
// result when the session (for the alert refresh: the active team) changed meanwhile. They never
// throw to the views (the box flows excepted: await them inside a try; QCoro::waitFor never
// returns from a task that throws): a failure's text lands in `lastError` or `alertsError`. Keep
// the model alive until the operations it runs have finished.

#include <brisalune/app/model/session_acks.hpp>
#include <brisalune/app/model/session_life.hpp>
#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/alerts/alerts.hpp>
#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/boxes/box_link.hpp>
#include <brisalune/client/boxes/join_code.hpp>
#include <brisalune/client/boxes/portal_links.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/client_factory.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/url.hpp>
#include <brisalune/push/push_session.hpp>

#include <QCoroTask>
#include <QFuture>
#include <QObject>
#include <QPromise>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brisalune {

class PushState;

class MacModel final : public QObject, public PushSession {
    Q_OBJECT

public:
    enum class Phase { loading, signedOut, selectingTenant, signedIn };
    Q_ENUM(Phase)

    // The result of acknowledging from a notification's action.
    struct NotificationAck {
        struct Attempted {  // an attempt ran; its outcome
            AckAttemptOutcome outcome;
            friend bool operator==(const Attempted&, const Attempted&) = default;
        };
        struct QueuedForBoxSignIn {  // the team's box is not signed in: a pending record waits for it
            friend bool operator==(const QueuedForBoxSignIn&, const QueuedForBoxSignIn&) = default;
        };
        // Nothing sent, and why.
        struct Refused {
            enum class Why {
                notSignedIn,
                signingOut,  // a sign-out ran as it was pressed: nothing was written
                signedOut,   // a sign-out overtook it: not sent, and any record it wrote goes with that sign-out
                noTeam,
                teamsUnknown,  // the account's teams were never read
                notAMember,
            };
            Why why = Why::notSignedIn;
            friend bool operator==(const Refused&, const Refused&) = default;
        };

        std::variant<Attempted, QueuedForBoxSignIn, Refused> value;

        template <class Case>
        const Case* get() const noexcept {
            return std::get_if<Case>(&value);
        }

        friend bool operator==(const NotificationAck&, const NotificationAck&) = default;
    };

    // The hosted service's addresses, asked for when first needed.
    struct Addresses {
        std::function<platform::Url()> hostedAPIBase;    // the sign-in's server
        std::function<platform::Url()> hostedWebOrigin;  // the hosted portal when the server names none
        bool allowLoopbackHttp = false;                  // portal origins over plain http on loopback

        // The fixed addresses this build was made with.
        static Addresses fixed();
    };

    static constexpr std::string_view portalOriginsKey = "brisalune.portal-origins";
    static constexpr std::string_view boxSignInNeededText = "Sign in to this box to acknowledge.";
    // Why a sign-out's local step was refused, as its refusal words begin (see signOutRefusal).
    static constexpr std::string_view acksNotClearedWhy =
        "your unsent acknowledgements could not be cleared from its settings file.";
    static constexpr std::string_view acksHeldWhy = "another program holds its settings file.";
    static constexpr std::string_view signingOutText = "Signing out\u2026";
    // A start finishing the sign-out that an earlier run did not live to finish.
    static constexpr std::string_view finishingSignOutText = "Finishing the earlier sign-out\u2026";
    // How the box probe's texts name this machine.
    static constexpr std::string_view deviceNoun = "computer";

    // Phase `loading`, nothing signed in, the portal origins read from `defaults`.
    MacModel(
        PushState& pushState,
        platform::Defaults defaults,
        std::shared_ptr<SessionStoring> sessionStore,
        ClientFactory clientFactory = makeClient,
        Addresses addresses = Addresses::fixed(),
        QObject* parent = nullptr);
    ~MacModel() override;

    // A new client for each call, over the shared transport, identity and compatibility record.
    static std::shared_ptr<BrisaluneClient> makeClient(
        const platform::Url& baseURL, std::optional<std::string> sessionToken, std::optional<std::string> dataKey);

    // ---- observed state ----

    Phase phase() const noexcept { return phase_; }
    std::optional<StoredSession> session() const override { return session_; }
    const std::vector<Membership>& memberships() const noexcept { return memberships_; }
    // The service has told this session's memberships (empty ones too); false until its first
    // answer, and again after a sign-out. Changes with membershipsChanged.
    bool membershipsKnown() const noexcept { return membershipsKnown_; }
    std::shared_ptr<BrisaluneClient> accountClient() const override { return accountClient_; }
    bool isTearingDown() const override { return isTearingDown_; }
    // `used` as the app makes it, whatever its session's life (none for none).
    std::shared_ptr<BrisaluneClient> clientForTakingBack(std::shared_ptr<BrisaluneClient> used) const override;
    // A sign-out runs: its calls to the service, or what it forgets on this computer. No
    // acknowledgement is taken meanwhile.
    bool isSigningOut() const noexcept { return isTearingDown_ || forgetting_ > 0; }
    // A sign-out of the session held has begun: it runs, or its local step was refused and waits to
    // be finished. Nothing of the session goes meanwhile. Changes with signingOutChanged.
    bool sessionIsEnding() const noexcept { return session_ && !life_->isLive(); }
    // A sign-out waits for another program that holds the settings file (it clears the unsent
    // acknowledgements there). Changes with signOutWaitChanged.
    bool signOutWaitsForSettings() const noexcept { return signOutWaitsForSettings_; }
    const std::optional<std::string>& lastError() const noexcept { return lastError_; }
    // Why a local sign-out did not go through (the keyring did not forget the session, or the
    // unsent acknowledgements could not be cleared), while that session is still held: one line
    // that also says nothing of the session is sent and what tries again. Gone as the next
    // sign-out begins. Changes with signOutRefusalChanged.
    const std::optional<std::string>& signOutRefusal() const noexcept { return signOutRefusal_; }
    // What every surface says of a session that is ending: its refusal, else that it is signing
    // out; none for a live session. Changes with signingOutChanged and signOutRefusalChanged.
    std::optional<std::string> sessionEndingText() const;
    // The words of a sign-out under way: signing out, or finishing the one an earlier run left
    // unfinished. Changes with signingOutChanged.
    std::string_view signingOutWords() const noexcept {
        return finishingEarlierSignOut_ ? finishingSignOutText : signingOutText;
    }
    const std::vector<AlertSnapshot>& openAlerts() const noexcept { return openAlerts_; }
    const std::optional<std::string>& alertsError() const noexcept { return alertsError_; }
    const PortalOrigins& portalOrigins() const noexcept { return portalOrigins_; }
    // The launch has finished (it runs once per model).
    bool hasLaunched() const noexcept { return launched_; }

    // ---- derived ----

    // Signed in with a team chosen.
    bool isSignedIn() const override { return phase_ == Phase::signedIn; }
    // The first membership of the active team.
    std::optional<Membership> currentMembership() const;
    // The active team lives on a box that this computer holds no key for.
    bool needsBoxSignIn() const;
    // The teams whose data lives on a box recorded in the session, in the memberships' order.
    std::vector<Membership> selfHostedMemberships() const;
    // A new client for the team's data (its key, no session token); none without a key.
    std::shared_ptr<BrisaluneClient> client(std::string_view tenantId) const;
    // The active team's alerts page in its web portal.
    std::optional<platform::Url> alertsPageURL() const;
    // Where one alert opens; the active team when no team is given.
    PortalLinks::Destination alertPortalDestination(
        const std::optional<std::string>& tenantId, std::string_view alertId) const;

    PushState& pushState() const noexcept { return pushState_; }
    const platform::Defaults& defaults() const noexcept { return defaults_; }
    const std::shared_ptr<SessionStoring>& sessionStore() const noexcept { return sessionStore_; }
    const ClientFactory& clientFactory() const noexcept { return clientFactory_; }

    // ---- launch, sign-in, account ----

    // Runs the launch once per model; every caller returns when it has finished.
    QCoro::Task<> ensureLaunched();
    // Signs in at the hosted service. Of overlapping sign-ins the last one asked for decides: an
    // earlier one answering later changes nothing and ends the token it was given.
    QCoro::Task<> signIn(std::string email, std::string password);
    // GET /v1/me: the memberships and the teams' data hosts. A refusal of the session still held
    // signs out locally, unless the keyring refused that already: only the person's action tries again.
    QCoro::Task<> refreshAccount();

    // ---- sign-out ----

    // Unregisters this device, revokes the team keys it holds side by side, waits for keys still
    // being issued (each revoked as it comes), tries the keys listed to take back again, logs out
    // (again while that fails for a passing reason), then forgets locally. Nothing stops it;
    // the calls to the service give up together after about 20 s; a second request while one runs
    // is ignored. From its start the session sends nothing else, and never again (see SessionLife);
    // when the service has ended the session itself, only the local step runs. It is kept in
    // `defaults` (SignOutRecord) from before its first call until it has ended here: a launch that
    // takes up a session whose sign-out an earlier run did not finish (SIGKILL, a crash, the
    // display lost, a keyring ended alongside) runs it again before anything else of the session
    // goes, in place of the account refresh.
    QCoro::Task<> signOut();
    // Forgets the session here only: the unsent acknowledgements, then the keychain item. When
    // either cannot go, the session stays held, with the refusal in `signOutRefusal` and
    // `lastError` until the next sign-out begins.
    QCoro::Task<> signOutLocally();
    // The program quits while a sign-out runs, which cannot finish now: what it forgets on this
    // computer goes at once, as a job of the local pool that the quit waits for.
    void endSignOutAtQuit();
    // Tries a refused sign-out again, for an action of the person (the menu opening); each try may
    // ask to unlock. The whole sign-out, as "Sign out" runs it. Nothing when none is held or one
    // is running.
    QCoro::Task<> retryRefusedSignOut();
    // How long a sign-out waits for another program that holds the settings file, in all: the
    // settings lock's own patience unless shortened (tests).
    void setSignOutSettingsPatience(std::chrono::milliseconds patience) { settingsPatience_ = patience; }

    // ---- teams ----

    // Makes the team active, issuing its key first for a hosted team without one.
    QCoro::Task<> selectTenant(std::string tenantId);

    // ---- alerts ----

    // One full pull of the active team into `openAlerts`.
    QCoro::Task<> refreshAlerts();
    // The refresh of the loop and of the window's opening: the stored session when the keychain
    // could not be read at launch (locked, or not answering), the account's teams when they could
    // not be read before (offline at start-up, the service down), then the alerts, then the
    // pending acknowledgements are drained.
    QCoro::Task<> refresh();
    // One acknowledgement through the pending-acknowledgement pipeline; the alert's team is the
    // one its stored record names, else the active one. Refreshes the alerts when it went through.
    // While a sign-out runs, nothing is tried or written, and once one has begun an attempt whose
    // record was written sends nothing (overtaken: the sign-out takes the record). Nor while a
    // notification's press of the alert is sending it (overtaken: that press settles the record).
    QCoro::Task<AckAttemptOutcome> acknowledge(
        std::string alertId, std::string title, std::shared_ptr<PendingAckStoring> store) override;
    // The acknowledge action of an alert notification (team from the payload, else the active one).
    QCoro::Task<NotificationAck> acknowledgeFromNotification(std::string alertId, std::optional<std::string> tenantId);

    // ---- portal origins ----

    // Asks every server of the session for its portal origin and saves the map.
    QCoro::Task<> refreshPortalOrigins();
    static PortalOrigins loadPortalOrigins(const platform::Defaults& defaults);
    static void savePortalOrigins(const PortalOrigins& origins, platform::Defaults& defaults);

    // ---- boxes ----
    //
    // They send with the session's own clients: asked once "Sign out" is pressed, each throws the
    // signing-out words (SessionLife::notSentText) before anything goes, and one under way sends
    // nothing more. A key a box issues for one is a key issue the sign-out waits for: kept only
    // while the session is live, else taken back on that box, and the flow fails.

    // Probes the code's box, has the hosted service pair it with the hosted team, records the box
    // and its key (revoking a key it replaces), then makes the team active. Throws
    // BoxConnectionError or the failing step's error; a key it did not keep is taken back on the
    // box, and a move that drops the key before the join ends fails it (boxMoved).
    QCoro::Task<> joinBox(JoinCode code, std::string displayName, std::string email, std::string password);
    // Signs in to the box recorded for the hosted team and holds the sign-in for this session
    // only. Throws; signInEnded when the session changed meanwhile.
    QCoro::Task<BoxSignIn> signInToBox(std::string hostedTenantId, std::string email, std::string password);
    // Issues a key for the chosen box team, signs the box session out, records the key for the
    // hosted team (revoking a key it replaces) and makes it active. Throws; signInEnded for a
    // client that no box sign-in of this session gave; boxMoved, having taken back any key it
    // issued and ended the box session, when the team's address is no longer that box's, and
    // when a move dropped the key before the choice ended.
    QCoro::Task<> useBoxTeam(
        std::string hostedTenantId, std::shared_ptr<BrisaluneClient> boxClient, std::string boxTenantId);
    // Drops a box sign-in that will not be used and signs its box session out.
    QCoro::Task<> abandonBoxSignIn(std::shared_ptr<BrisaluneClient> boxClient);

Q_SIGNALS:
    void phaseChanged();
    void sessionChanged();
    void membershipsChanged();
    void accountClientChanged();
    void isTearingDownChanged();
    // isSigningOut() changed.
    void signingOutChanged();
    void signOutWaitChanged();
    void lastErrorChanged();
    void signOutRefusalChanged();
    void openAlertsChanged();
    // A pull of the team's open alerts succeeded and `openAlerts` is its list (changed or not).
    void alertsPulled(const std::string& tenantId);
    void alertsErrorChanged();
    void portalOriginsChanged();
    void launchedChanged();
    // Every team key issued on the spot has been kept in the session or taken back.
    void keyIssuesSettled();

private:
    // The account of the session, readable from any thread.
    class SignedInAccount {
    public:
        void set(std::optional<BoxLinkAccount> account) {
            const std::lock_guard guard(lock_);
            account_ = std::move(account);
        }
        std::optional<BoxLinkAccount> get() const {
            const std::lock_guard guard(lock_);
            return account_;
        }

    private:
        mutable std::mutex lock_;
        std::optional<BoxLinkAccount> account_;
    };

    QCoro::Task<> performLaunch();
    // Keeps the sign-out of `session` in the settings file before its first call; a failure is
    // said on stderr, and the sign-out goes on.
    QCoro::Task<> recordSignOut(StoredSession session);
    void setFinishingEarlierSignOut(bool value);
    // Reads the stored session in the keychain's turn and takes it up when this run holds none,
    // then refreshes the account, the portal origins and the alerts. What the read gave.
    QCoro::Task<SessionLoad::Case> takeUpStoredSession();
    // Reads the stored session again while the launch could not read it and no session has been
    // taken or ended since; callers meanwhile share the read under way.
    QCoro::Task<> rereadUnreadableSession();
    // The keychain's turn: taken once every keychain call asked for before has finished and the
    // model has taken in its result; passed on when `mine` finishes or goes. Never await another
    // turn while holding one.
    QCoro::Task<> keychainTurn(QPromise<void>& mine);
    // Saves through the store in the keychain's turn, then takes the copy; a failed save sets
    // `lastError`. Made from the session as it is now: when another save of the same session
    // landed meanwhile, this one's changes go on top of it; when the session ended or was replaced
    // meanwhile, nothing is written. True when kept.
    QCoro::Task<bool> storeSession(StoredSession session);
    // The session still exists, carries this token, and no sign-out of it has begun.
    bool sessionStillHas(std::string_view sessionToken) const;
    // What the box flows send with: the session's own clients.
    BoxLink boxLink() const;
    // What a box flow of the session with this token fails with once that session is no longer live.
    BoxConnectionError sessionGone(std::string_view sessionToken) const;
    // A box flow asked once "Sign out" is pressed: throws the signing-out words before anything goes.
    void refuseOnceSigningOut() const;
    // Writes the team's key, issued at `issuer`, when the session still carries the token; with
    // `movesTeam` it records `issuer` as the team's address too, else the team must still be at
    // `issuer` when the key is written and once it is kept. The session before, when the write
    // replaced another key of the team: that key is to be revoked. Throws, with the keychain's
    // words, when the session goes on but the write failed, `BoxConnectionError::sessionEnded`
    // when the session no longer carries the token, and `boxMoved` when the team is elsewhere.
    QCoro::Task<std::optional<StoredSession>> recordTeamKey(
        std::string tenantId, TenantKey key, platform::Url issuer, bool movesTeam, std::string sessionToken);
    // Retires, without waiting, every key of `before` that a save of the same session left out
    // (a team moved, or a merge with a move): each on the server that issued it.
    void retireDroppedKeys(const StoredSession& before, const StoredSession& after);
    // Once every keychain call asked for before has finished.
    QCoro::Task<> settleKeychain();
    // One of the session's own clients (its token, a team key): it sends only while the session
    // now served is live.
    ClientFactory sessionClients() const;
    std::shared_ptr<BrisaluneClient> sessionClient(
        const platform::Url& baseURL,
        std::optional<std::string> sessionToken,
        std::optional<std::string> dataKey) const;
    // A flow that kept a key for the team ends as done only while the key is still held there:
    // throws sessionEnded, or `moved` when a move of the team dropped it.
    QCoro::Task<> confirmKeptAt(
        std::string tenantId, platform::Url issuer, std::string sessionToken, BoxConnectionError moved);
    // Revokes the key that a box choice replaced, with the box session, else as sign-out would.
    QCoro::Task<> retireReplacedBoxKey(
        StoredSession replaced,
        std::string hostedTenantId,
        std::shared_ptr<BrisaluneClient> boxClient,
        std::string boxTenantId);
    // Whether a box sign-in of the current session gave this client; forgets stale ones.
    bool holdsBoxSignIn(const BrisaluneClient& boxClient);
    // Forgets the box sign-in and signs it out on the box.
    QCoro::Task<> endBoxSession(std::shared_ptr<BrisaluneClient> boxClient);
    // A hosted team that has no key yet (and no host of its own, where keys come from the box).
    bool needsKeyIssue(std::string_view tenantId) const;
    // Revokes a key issued for `session` that nobody will hold (the session ended or is ending),
    // with that session's token, whatever its life: a sign-out's own call. `host`: the box that
    // issued it. A key not shown revoked, while that session is still held, goes on its list of
    // keys to take back.
    QCoro::Task<> revokeUnheldKey(
        StoredSession session, std::string tenantId, TenantKey key, std::optional<platform::Url> host = std::nullopt);
    // Tries the list of keys to take back again with the sign-out's client and factory; what
    // still survives stays on it.
    QCoro::Task<> takeBackListedKeys(std::shared_ptr<BrisaluneClient> client, ClientFactory factory);
    // Issues a key for the team through the account client; throws the request's error.
    QCoro::Task<std::optional<TenantKey>> issueTenantKey(std::string tenantId);
    // One key issue counted in keyIssues_ until it ends or goes.
    class KeyIssue {
    public:
        explicit KeyIssue(MacModel& model) : model_(model) { ++model.keyIssues_; }
        ~KeyIssue() { model_.keyIssueEnded(); }
        KeyIssue(const KeyIssue&) = delete;
        KeyIssue& operator=(const KeyIssue&) = delete;

    private:
        MacModel& model_;
    };
    void keyIssueEnded();
    // Returns once no key issue is under way, or at `by`.
    QCoro::Task<> keyIssuesSettledBy(std::chrono::steady_clock::time_point by);
    // The team's client, issuing and keeping its key first when a hosted team has none.
    QCoro::Task<std::shared_ptr<BrisaluneClient>> clientIssuingKey(std::string tenantId);
    // The session an acknowledgement is taken in: its writes' gate and its life.
    struct AckSession {
        std::shared_ptr<SessionAckGate> gate;
        std::shared_ptr<const SessionLife> life;
    };
    AckSession ackSession() const;
    // That session still sends: no sign-out of it has begun, nor cleared its records. Any thread.
    static bool goesOn(const AckSession& taken);
    // Sends the attempt whose record is written, unless its session no longer sends (nothing then:
    // its sign-out takes the record), as looked at just before it goes. Every attempt of the model
    // goes through here.
    QCoro::Task<std::optional<AckAttemptOutcome>> sendAttempt(
        PendingAckCoordinator::Preflight preflight,
        std::shared_ptr<BrisaluneClient> teamClient,
        std::shared_ptr<PendingAckStoring> store,
        AckSession taken);
    // The stored record's title, else the open alert's rule, else the id.
    std::string notificationAckTitle(const std::string& alertId) const;

    template <class T, class U>
    void assign(T& field, U&& value, void (MacModel::*changed)());
    void setPhase(Phase value);
    void setSession(std::optional<StoredSession> value);
    void setMemberships(std::vector<Membership> value, bool known = true);
    void setAccountClient(std::shared_ptr<BrisaluneClient> value);
    void setTearingDown(bool value);
    void setForgetting(int value);
    void setSignOutWaitsForSettings(bool value);
    void setLastError(std::optional<std::string> value);
    void setSignOutRefusal(std::optional<std::string> value);
    void setOpenAlerts(std::vector<AlertSnapshot> value);
    void setAlertsError(std::optional<std::string> value);
    void setPortalOrigins(PortalOrigins value);

    // Observed.
    Phase phase_ = Phase::loading;
    std::optional<StoredSession> session_;
    std::vector<Membership> memberships_;
    bool membershipsKnown_ = false;
    std::shared_ptr<BrisaluneClient> accountClient_;
    bool isTearingDown_ = false;
    std::optional<std::string> lastError_;
    std::optional<std::string> signOutRefusal_;
    std::vector<AlertSnapshot> openAlerts_;
    std::optional<std::string> alertsError_;
    PortalOrigins portalOrigins_;
    std::optional<QCoro::Task<>> launch_;
    bool launched_ = false;
    // The launch found a stored session it could not read, and none has been taken or ended
    // since: it is read again (see rereadUnreadableSession).
    bool sessionUnreadable_ = false;
    // Local sign-outs waiting on the keychain: the session they end is no longer worked for.
    int forgetting_ = 0;
    bool signOutWaitsForSettings_ = false;
    bool finishingEarlierSignOut_ = false;
    // Team keys on their way, from their issue until they are kept in the session or taken back:
    // a sign-out waits for them before it revokes the session's keys.
    int keyIssues_ = 0;
    // The session's writes of pending acknowledgements; closed, and replaced, by a sign-out's clear.
    std::shared_ptr<SessionAckGate> ackGate_ = std::make_shared<SessionAckGate>();
    std::optional<QCoro::Task<>> reread_;
    // Counts the team selections started: a selection that another one followed leaves the
    // active team to the later one.
    std::uint64_t tenantChoices_ = 0;
    // Counts the sign-ins started: a stored session read meanwhile is not taken up over one.
    std::uint64_t signIns_ = 0;
    // Keys issued for the session held that nobody holds and that were not shown revoked, each as
    // a session of that one key: every run of its sign-out tries them again. Gone with the session.
    std::vector<StoredSession> keysToTakeBack_;
    // Ids of box keys whose choice is still checking that they stay: that choice takes them
    // back itself if they do not.
    std::set<std::string, std::less<>> keysUnderCheck_;
    // A refresh's drain of the pending acknowledgements is running: the next refresh leaves them
    // to it, so that a service that holds an acknowledgement does not get it again at every opening.
    bool drainingAcks_ = false;
    // Alerts whose notification press is sending its record: a drain leaves the record to it, so
    // that the press's own outcome tells the person.
    std::multiset<std::string, std::less<>> pressedAcks_;
    // Finishes when the last keychain call asked for has finished.
    QFuture<void> keychainCalls_;

    // How long a sign-out waits for another program that holds the settings file, in all.
    std::chrono::milliseconds settingsPatience_ = platform::Defaults::PeerLockPatience::standard;

    // Fixed.
    std::shared_ptr<SessionStoring> sessionStore_;
    // The life of the session served now (a fresh one once it is gone), which its clients ask
    // before each request.
    std::shared_ptr<SessionLife> life_ = std::make_shared<SessionLife>();
    // Clients as the app makes them: the sign-out's own calls, what takes back what a session
    // left, and the box flows' exchanges with a box.
    ClientFactory clientFactory_;
    PushState& pushState_;
    platform::Defaults defaults_;
    Addresses addresses_;
    // The signed-in account as the box flows read it from the pool; they hold it weakly.
    std::shared_ptr<SignedInAccount> signedInAccount_;
    // Box sign-ins waiting for their team, each with the session token it was made under.
    struct PendingBoxSignIn {
        std::weak_ptr<BrisaluneClient> client;
        std::string sessionToken;
    };
    std::vector<PendingBoxSignIn> boxSignIns_;
};

}  // namespace brisalune
