// Sign-out: the service is told first, in a fixed order; nothing it answers can stop the local end.

#include <brisalune/app/model/sign_out_record.hpp>
#include <brisalune/app/shell/app_delegate.hpp>

#include <app/model/delegate_fixture.hpp>
#include <app/model/model_fixture.hpp>
#include <brisalune/app/ui/account_section.hpp>

#include <support/held_keychain.hpp>
#include <support/held_settings_lock.hpp>
#include <support/stopped_keyring.hpp>
#include <support/timeout_recorder.hpp>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

namespace brisalune {
namespace {

using Phase = MacModel::Phase;
using Why = MacModel::NotificationAck::Refused::Why;

// The words a refused sign-out shows, and what a request of its session fails with.
std::string refusal(const std::string& why) {
    return "Brisalune could not finish signing out: " + why +
           " Nothing of this session is sent meanwhile; it tries again when its window opens or you press "
           "\u201cFinish signing out\u201d.";
}
const std::string heldSettings = refusal("another program holds its settings file.");
const std::string notSent = "Not sent: Brisalune is signing out of this session.";

class ModelSignOut : public testkit::ModelTest {};

TEST_F(ModelSignOut, KeysAreRevokedBeforeTheSessionEndsAndOnlyOnce) {
    launchWith(session());
    hosted.on("POST", "/v1/tenants/t2/keys", standin::Reply::json(R"({"error":"admin role required"})", 403));
    run(model->selectTenant("t2"));  // refused: t1 stays active, and t2 gets no key
    const std::optional<std::string> earlier = model->lastError();
    ASSERT_TRUE(earlier);
    EXPECT_EQ(model->session()->activeTenantId, "t1");
    EXPECT_EQ(alertIds(), std::vector<std::string>{"a1"});
    hosted.clearRequests();
    standin::Reply heldLogout{204, {}, ""};
    heldLogout.holdUntilReleased = true;  // else a busy machine can end the sign-out before the next line
    hosted.on("POST", "/v1/logout", heldLogout);

    QCoro::Task<> first = model->signOut();
    EXPECT_TRUE(model->isTearingDown());
    QCoro::Task<> second = model->signOut();  // ignored while the first runs
    ASSERT_TRUE(testkit::processEventsUntil([&] { return hosted.requests().size() == 2; }, std::chrono::seconds(10)));
    EXPECT_TRUE(model->isTearingDown());
    run(model->refresh());  // the session is over from "Sign out": its pull does not go
    hosted.release();
    run(std::move(first));
    run(std::move(second));

    EXPECT_EQ(received(hosted), (std::vector<std::string>{"DELETE /v1/tenants/t1/keys/k1", "POST /v1/logout"}));
    EXPECT_EQ(authorizations(hosted), (std::vector<std::string>{"Bearer session-1", "Bearer session-1"}));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->isTearingDown());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
    EXPECT_EQ(model->lastError(), earlier);  // the local end leaves it

    run(model->signOut());  // signed out already: nothing at all
    EXPECT_EQ(hosted.requests().size(), 2u);
}

// A team key whose issue answers while the sign-out runs is revoked like the others, while the
// session token still works: the sign-out waits for it before it logs out.
TEST_F(ModelSignOut, AKeyIssuedWhileSigningOutIsRevokedBeforeTheSessionEnds) {
    launchWith(session());
    standin::Reply heldKey = standin::Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    hosted.clearRequests();
    testkit::Ticker ticker;
    bool keptK2 = false;
    const QObject listening;  // the connection goes with this test's locals
    QObject::connect(model.get(), &MacModel::sessionChanged, &listening, [&] {
        keptK2 = keptK2 || (model->session() && model->session()->tenantKeys.contains("t2"));
    });

    QCoro::Task<> selection = model->selectTenant("t2");
    ASSERT_TRUE(ticker.runUntil(1, [&] { return count(hosted, "POST /v1/tenants/t2/keys") == 1; }));
    QCoro::Task<> out = model->signOut();
    ASSERT_TRUE(ticker.runFor(50));
    hosted.release();
    run(std::move(out));
    run(std::move(selection));

    const auto order = received(hosted);
    EXPECT_EQ(std::ranges::count(order, "DELETE /v1/tenants/t2/keys/k2"), 1);
    EXPECT_LT(std::ranges::find(order, "DELETE /v1/tenants/t2/keys/k2"), std::ranges::find(order, "POST /v1/logout"));
    EXPECT_FALSE(keptK2);  // never kept in a session signing out
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->session());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
}

// A team's key kept while the sign-out begins (its save waits on the keyring) is revoked with the
// rest, before the log-out, though the session read at the start did not hold it: kept at once,
// or only past the held keys' share of the sign-out's time. A revocation the service never
// answers still leaves the log-out its share.
TEST_F(ModelSignOut, AKeyKeptAsTheSignOutBeginsIsRevokedBeforeTheLogOut) {
    const std::array<std::pair<std::chrono::seconds, bool>, 3> rows{
        {{std::chrono::seconds(0), true}, {std::chrono::seconds(15), true}, {std::chrono::seconds(0), false}}};
    for (const auto& [keptAfter, answered] : rows) {
        SCOPED_TRACE(keptAfter.count());
        SCOPED_TRACE(answered);
        const auto held = std::make_shared<testkit::HeldKeychain>();
        held->save(session());
        model = std::make_shared<MacModel>(pushState, defaults, held, factory(), addresses());
        run(model->ensureLaunched());
        serveKey(hosted, "t2", "k2", "key-2");
        standin::Reply unanswered{204, {}, ""};
        unanswered.holdUntilReleased = true;
        if (!answered) hosted.on("DELETE", "/v1/tenants/t2/keys/k2", unanswered);
        hosted.clearRequests();

        held->hold();
        QCoro::Task<> selection = model->selectTenant("t2");
        ASSERT_TRUE(testkit::processEventsUntil([&] { return held->waiting() == 1; }));
        QCoro::Task<> out = model->signOut();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "DELETE /v1/tenants/t1/keys/k1") == 1; }));
        testkit::processEventsUntil([] { return false; }, keptAfter);
        held->open();
        run(std::move(out));
        run(std::move(selection));

        const std::vector<std::string> order = received(hosted);
        EXPECT_EQ(std::ranges::count(order, "DELETE /v1/tenants/t2/keys/k2"), 1);
        ASSERT_EQ(std::ranges::count(order, "POST /v1/logout"), 1);
        EXPECT_LT(
            std::ranges::find(order, "DELETE /v1/tenants/t2/keys/k2"), std::ranges::find(order, "POST /v1/logout"));
        EXPECT_EQ(model->phase(), Phase::signedOut);
        hosted.release();
    }
}

// The text a box flow failed with; empty when it did not fail.
QCoro::Task<std::string> joinFailure(QCoro::Task<> flow) {
    try {
        co_await flow;
    } catch (const std::exception& error) {
        co_return error.what();
    }
    co_return std::string();
}

// What no route answers, dropped unanswered, as by a network that went away.
standin::Reply droppedUnanswered(const standin::ReceivedRequest&) {
    standin::Reply dropped;
    dropped.raw = "";
    return dropped;
}

// What no route answers, held until the test lets go.
standin::Reply silentAnswer(const standin::ReceivedRequest&) {
    standin::Reply held{204, {}, ""};
    held.holdUntilReleased = true;
    return held;
}

// The log-out meets a passing failure: asked again while its share lasts, however often it fails,
// at a pace that a Retry-After slows only when it ends within the share; a 401 says the token has
// ended and a refused redirect is the service's own answer, each taken at once.
TEST_F(ModelSignOut, TheLogOutIsAskedAgainOnlyForAPassingFailure) {
    const auto status = [](int code, standin::HeaderFields headers = {}) {
        standin::Reply reply = standin::Reply::json(R"({"error":"not now"})", code);
        reply.headers = std::move(headers);
        return reply;
    };
    constexpr int always = 1000;
    constexpr int landing = -1;
    struct Row {
        const char* name;
        standin::Reply failure;
        int failures;  // the tries that meet it before the session ends (always: every one)
        // What the service sees; 0: tries at a steady pace until the bound; landing: however many
        // it takes until one is answered.
        int logOuts;
        // The least pause between the first two.
        std::chrono::milliseconds pause{0};
        // Every try before then, from the start, meets a 503, ahead of the failures.
        std::chrono::seconds unavailableFor{0};
        // Where the log-out is redirected within its origin, and answered as above.
        const char* movedTo = nullptr;
    };
    const std::vector<Row> rows{
        {"a 500, then the session ends", status(500), 1, 2},
        {"a 502, then the session ends", status(502), 1, 2},
        {"a 503, then the session ends", status(503), 1, 2},
        {"a 504, then the session ends", status(504), 1, 2},
        {"a 429, then the session ends", status(429), 1, 2},
        {"a 429 asking for a second", status(429, {{"Retry-After", "1"}}), 1, 2, std::chrono::seconds(1)},
        {"a 429 asking for an hour, past the bound", status(429, {{"Retry-After", "3600"}}), 1, 2},
        // Shorter than the bound, but past what is left of it.
        {"8 s of 503s, then a 429 asking for 15 s",
         status(429, {{"Retry-After", "15"}}),
         1,
         landing,
         {},
         std::chrono::seconds(8)},
        // More often than curl sends again by itself on a connection it reused.
        {"a connection dropped three times", droppedUnanswered({}), 3, 4},
        {"a redirect within the origin, then a connection dropped three times",
         droppedUnanswered({}),
         3,
         4,
         {},
         {},
         "/v2/logout"},
        {"a 503 every time", status(503), always, 0},
        {"a 429 asking for no wait, every time", status(429, {{"Retry-After", "0"}}), always, 0},
        {"a 401", status(401), always, 1},
        {"a redirect to itself", status(307, {{"Location", "/v1/logout"}}), always, 1 + 16},
    };
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    int failed = 0;
    int landed = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        model = makeModel();
        launchWith(session());
        arrivals.clear();
        failed = 0;
        landed = 0;
        const Clock::time_point start = Clock::now();
        hosted.on("POST", row.movedTo ? row.movedTo : "/v1/logout", [&, row, start](const standin::ReceivedRequest&) {
            const std::lock_guard lock(mutex);
            arrivals.push_back(Clock::now());
            if (arrivals.back() - start < row.unavailableFor) return status(503);
            if (++failed <= row.failures) return row.failure;
            ++landed;
            return standin::Reply{204, {}, ""};
        });
        if (row.movedTo) hosted.on("POST", "/v1/logout", status(307, {{"Location", row.movedTo}}));
        QCoro::Task<> out = model->signOut();
        // A guard: the bound is 20 s.
        EXPECT_TRUE(testkit::processEventsUntil([&] { return !model->isTearingDown(); }, std::chrono::seconds(30)));
        const Clock::duration took = Clock::now() - start;
        run(std::move(out));
        EXPECT_EQ(model->phase(), Phase::signedOut);
        const std::lock_guard lock(mutex);
        // The session token ended at the service exactly when the tries outlasted the failures.
        EXPECT_EQ(landed, row.logOuts == landing || row.logOuts > row.failures ? 1 : 0);
        if (row.logOuts == landing) continue;
        if (row.logOuts != 0) {
            EXPECT_EQ(std::ssize(arrivals), row.logOuts);
            if (arrivals.size() > 1) {
                EXPECT_GE(arrivals[1] - arrivals[0], row.pause);
            }
            continue;
        }
        EXPECT_LT(took, std::chrono::milliseconds(21500));  // the bound, and the local clear after it
        EXPECT_LT(arrivals.back() - start, std::chrono::seconds(20));
        EXPECT_GE(arrivals.size(), 6u);  // a pause between tries, not thousands of tries
        EXPECT_LE(arrivals.size(), 30u);
    }
}

// A service that refuses connections a while is asked again once it is back.
TEST_F(ModelSignOut, ALogOutRefusedAConnectionIsAskedAgainOnceTheServiceIsBack) {
    StoredSession stored = session();
    const int port = standin::Server().port();  // nothing listens there until the service is back
    stored.baseURL = *platform::Url::parse("http://127.0.0.1:" + std::to_string(port));
    launchWith(stored);
    QCoro::Task<> out = model->signOut();
    testkit::processEventsUntil([] { return false; }, std::chrono::milliseconds(1500));  // a try or three refused
    standin::Server back(port);
    back.on("POST", "/v1/logout", standin::Reply{204, {}, ""});
    EXPECT_TRUE(testkit::processEventsUntil([&] { return !model->isTearingDown(); }, std::chrono::seconds(30)));
    run(std::move(out));
    EXPECT_EQ(count(back, "POST /v1/logout"), 1u);
    EXPECT_EQ(model->phase(), Phase::signedOut);
}

// A store whose writes wait until the test lets them go: a write under way for as long as it likes.
class HeldWrites final : public PendingAckStoring {
public:
    explicit HeldWrites(std::shared_ptr<PendingAckStoring> store) : store_(std::move(store)) {}

    std::optional<PendingAck> get(std::string_view alertId) const override { return store_->get(alertId); }
    std::vector<PendingAck> all() const override { return store_->all(); }
    bool put(const PendingAck& record) override {
        held();
        return store_->put(record);
    }
    bool remove(std::string_view alertId) override { return store_->remove(alertId); }
    bool removeAll() override { return store_->removeAll(); }
    bool removeUnchanged(std::string_view alertId, const PendingAck& expected) override {
        return store_->removeUnchanged(alertId, expected);
    }
    Replaced replace(
        std::string_view alertId, const std::optional<PendingAck>& expected, const PendingAck& replacement) override {
        held();
        return store_->replace(alertId, expected, replacement);
    }

    bool waiting() const {
        const std::lock_guard guard(lock_);
        return waiting_;
    }
    void open() {
        {
            const std::lock_guard guard(lock_);
            open_ = true;
        }
        opened_.notify_all();
    }

private:
    void held() {
        std::unique_lock guard(lock_);
        waiting_ = true;
        opened_.wait(guard, [this] { return open_; });
        waiting_ = false;
    }

    std::shared_ptr<PendingAckStoring> store_;
    mutable std::mutex lock_;
    std::condition_variable opened_;
    bool waiting_ = false;
    bool open_ = false;
};

// The window's Acknowledge (and a refresh's retry, which goes the same way) whose record is still
// being written as the sign-out begins: the sign-out's clear waits for the write and takes the
// record, and nothing is sent after the write.
TEST_F(ModelSignOut, AnAcknowledgementWhoseRecordIsBeingWrittenIsTakenByTheSignOutAndNotSent) {
    launchWith(session());
    const auto writes = std::make_shared<HeldWrites>(acks);
    QCoro::Task<AckAttemptOutcome> pressed = model->acknowledge("a1", "Disk full", writes);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return writes->waiting(); }));
    QCoro::Task<> out = model->signOut();
    // Signed out meanwhile only when the clear went past the write.
    testkit::processEventsUntil([&] { return model->phase() == Phase::signedOut; }, std::chrono::seconds(3));
    writes->open();
    run(std::move(out));

    EXPECT_EQ(run(std::move(pressed)), AckAttemptOutcome{AckAttemptOutcome::Overtaken{std::nullopt}});
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(acks->all().empty());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);
}

// Acknowledge on a hosted team the session holds no key for, then a sign-out while that key is
// issued, against a service that ends the session token as the log-out arrives: the key held is
// revoked at once whatever the issue does, a key that comes within the sign-out's bound is revoked
// while the token still works, and none is kept; the acknowledgement does not go.
enum class KeyComes { whileTheSignOutWaitsForIt, pastTheKeysShare, afterTheSignOut };

class ModelSignOutKeyIssue : public testkit::ModelTest, public ::testing::WithParamInterface<KeyComes> {
protected:
    // Each revocation as the service judged it: its path and status.
    std::vector<std::string> revocations() {
        const std::lock_guard guard(judged_);
        return revocations_;
    }

    void serveASessionThatEndsAtTheLogOut() {
        const auto revoke = [this](const standin::ReceivedRequest& request) {
            const int status = loggedOut_ ? 401 : 204;
            const std::lock_guard guard(judged_);
            revocations_.push_back(request.path + " " + std::to_string(status));
            return status == 204 ? standin::Reply{204, {}, ""} : standin::Reply::json(R"({"error":"ended"})", 401);
        };
        for (const char* key : {"/v1/tenants/t1/keys/k1", "/v1/tenants/t2/keys/k2"}) hosted.on("DELETE", key, revoke);
        hosted.on("POST", "/v1/logout", [this](const standin::ReceivedRequest&) {
            loggedOut_ = true;
            return standin::Reply{204, {}, ""};
        });
        hosted.on("GET", "/v1/projects", standin::Reply::json(R"({"error":"invalid api key"})", 401));
    }

private:
    std::atomic<bool> loggedOut_ = false;
    std::mutex judged_;
    std::vector<std::string> revocations_;
};

TEST_P(ModelSignOutKeyIssue, TheHeldKeysGoAtOnceAndAKeyIssuedMeanwhileIsRevokedAndNeverKept) {
    launchWith(session());
    serveASessionThatEndsAtTheLogOut();
    standin::Reply heldKey = standin::Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    bool keptK2 = false;
    const QObject listening;  // the connection goes with this test's locals
    QObject::connect(model.get(), &MacModel::sessionChanged, &listening, [&] {
        keptK2 = keptK2 || (model->session() && model->session()->tenantKeys.contains("t2"));
    });
    hosted.clearRequests();

    QCoro::Task<MacModel::NotificationAck> press = model->acknowledgeFromNotification("b1", "t2");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/tenants/t2/keys") == 1; }));
    QCoro::Task<> out = model->signOut();
    const std::map<KeyComes, std::function<bool()>> comes{
        {KeyComes::whileTheSignOutWaitsForIt, [&] { return !revocations().empty(); }},
        {KeyComes::pastTheKeysShare, [] { return false; }},  // 16 s in: past the keys' 14 s
        {KeyComes::afterTheSignOut, [&] { return !model->isTearingDown(); }}};
    testkit::processEventsUntil(
        comes.at(GetParam()), std::chrono::seconds(GetParam() == KeyComes::pastTheKeysShare ? 16 : 30));
    if (GetParam() == KeyComes::whileTheSignOutWaitsForIt) {
        // The key comes only once a sign-out that did not wait for it would have logged out.
        testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") > 0; }, std::chrono::seconds(2));
    }
    ASSERT_EQ(count(hosted, "POST /v1/logout"), GetParam() == KeyComes::afterTheSignOut ? 1u : 0u);
    hosted.release();
    if (GetParam() == KeyComes::whileTheSignOutWaitsForIt) {
        // A guard, far short of the sign-out's wait for keys: it goes on once the key is revoked.
        EXPECT_TRUE(testkit::processEventsUntil([&] { return !model->isTearingDown(); }, std::chrono::seconds(8)));
    }
    run(std::move(out));
    EXPECT_EQ(run(std::move(press)), MacModel::NotificationAck{MacModel::NotificationAck::Refused{Why::signedOut}});
    ASSERT_TRUE(testkit::processEventsUntil([&] { return revocations().size() == 2; }));

    const std::string late = GetParam() == KeyComes::afterTheSignOut ? " 401" : " 204";  // as the README says
    EXPECT_EQ(revocations(), (std::vector<std::string>{"/v1/tenants/t1/keys/k1 204", "/v1/tenants/t2/keys/k2" + late}));
    EXPECT_EQ(count(hosted, "POST /v1/alerts/b1/ack"), 0u);
    EXPECT_FALSE(keptK2);
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
}

std::string timingName(const ::testing::TestParamInfo<KeyComes>& timing) {
    const std::array<std::string, 3> names{"WhileTheSignOutWaitsForIt", "PastTheKeysShare", "AfterTheSignOut"};
    return names.at(static_cast<std::size_t>(timing.param));
}

INSTANTIATE_TEST_SUITE_P(
    Timings,
    ModelSignOutKeyIssue,
    ::testing::Values(KeyComes::whileTheSignOutWaitsForIt, KeyComes::pastTheKeysShare, KeyComes::afterTheSignOut),
    timingName);

// The sign-out bounds its calls over each client's own transport, not a transport of its own.
TEST_F(ModelSignOut, TheBoundedCallsGoOverTheClientsOwnTransport) {
    const auto recorder = std::make_shared<testkit::TimeoutRecorder>();
    const ClientFactory overRecorder =
        [this, recorder](const platform::Url& base, std::optional<std::string> token, std::optional<std::string> key) {
            return std::make_shared<BrisaluneClient>(
                base, std::move(token), std::move(key), recorder, ClientIdentity::current(), compatibility);
        };
    model = std::make_shared<MacModel>(pushState, defaults, keychain, overRecorder, addresses());
    launchWith(session());
    recorder->last = std::chrono::milliseconds(0);

    run(model->signOut());
    ASSERT_EQ(received(hosted).back(), "POST /v1/logout");
    EXPECT_GT(recorder->last.load().count(), 0);
    EXPECT_LE(recorder->last.load().count(), 20000);  // ms: the sign-out's bound, not the call's minute
}

TEST_F(ModelSignOut, AnUnreachableServerStillEndsInASignedOutModel) {
    StoredSession stored = session();
    stored.baseURL = *platform::Url::parse("http://127.0.0.1:" + std::to_string(standin::Server().port()));
    launchWith(stored);
    ASSERT_TRUE(model->alertsError());  // the account could not be read

    QSignalSpy tearing(model.get(), &MacModel::isTearingDownChanged);
    run(model->signOut());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->session());
    EXPECT_FALSE(model->alertsError());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
    EXPECT_EQ(tearing.count(), 2);  // on, then off
}

// The keyring cannot forget the session (it does not answer) and the service cannot be told: the
// person stays signed in, and reads why, rather than see a sign-out that the next start undoes.
TEST_F(ModelSignOut, AKeyringThatCannotForgetTheSessionLeavesThePersonSignedInAndTold) {
    const auto store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.forget-" + dir.path().filename().string());
    StoredSession stored = session();
    stored.baseURL = *platform::Url::parse("http://127.0.0.1:" + std::to_string(standin::Server().port()));
    store->save(stored);
    model = std::make_shared<MacModel>(pushState, defaults, store, factory(), addresses());
    run(model->ensureLaunched());
    ASSERT_EQ(model->session(), stored);

    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    run(model->signOut());
    stopped.reset();
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(model->session(), stored);
    EXPECT_FALSE(model->isTearingDown());
    ASSERT_TRUE(model->lastError());
    EXPECT_EQ(
        model->lastError()->rfind(
            "Brisalune could not finish signing out, as the keyring could not forget your session: the keyring ", 0),
        0u)
        << *model->lastError();
    EXPECT_EQ(model->sessionEndingText(), model->lastError());
    EXPECT_EQ(store->load().session(), stored);  // what the next start finds, as the person was told
    EXPECT_EQ(SignOutRecord::find(defaults, stored), SignOutRecord::Found::thisSession);  // and finishes

    run(model->signOut());  // the keyring answers again: the sign-out goes through
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(store->load().is(SessionLoad::Case::absent));
    EXPECT_EQ(SignOutRecord::find(defaults, stored), SignOutRecord::Found::none);
    EXPECT_FALSE(model->lastError());  // no longer true: the sign-in view does not say so
}

// A press whose key is being issued as a sign-out begins that cannot reach the service, and whose
// record that sign-out clears before the keyring refuses to forget the session: the session still
// works at the service, yet the press is not sent, its record being taken.
TEST_F(ModelSignOut, APressWhoseRecordTheSignOutTookIsNotSentWhenTheKeyringKeepsTheSession) {
    const auto store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.taken-" + dir.path().filename().string());
    store->save(session());
    model = std::make_shared<MacModel>(pushState, defaults, store, factory(), addresses());
    run(model->ensureLaunched());
    standin::Reply heldKey = standin::Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    QCoro::Task<MacModel::NotificationAck> press = model->acknowledgeFromNotification("b1", "t2");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/tenants/t2/keys") == 1; }));
    hosted.otherwise(droppedUnanswered);

    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    run(model->signOut());
    stopped.reset();
    ASSERT_EQ(model->phase(), Phase::signedIn);
    EXPECT_TRUE(acks->all().empty());
    hosted.otherwise({});
    hosted.release();
    EXPECT_EQ(run(std::move(press)), MacModel::NotificationAck{MacModel::NotificationAck::Refused{Why::signedOut}});
    EXPECT_EQ(count(hosted, "POST /v1/alerts/b1/ack"), 0u);
    store->clear();
}

// The desktop's keyring, counting the model's attempts to forget the session: each may ask to unlock.
class CountingKeychain final : public SessionStoring {
public:
    explicit CountingKeychain(std::string service) : store_(std::move(service)) {}
    SessionLoad load() override { return store_.load(); }
    void save(const StoredSession& session) override { store_.save(session); }
    void clear() override {
        ++clears;
        store_.clear();
    }

    std::atomic<int> clears = 0;

private:
    KeychainSessionStore store_;
};

// The service ended the session, and the keyring refuses to forget it: the refreshes that follow
// leave the keyring alone; the person's next action tries again, and once the keyring answers the
// sign-out completes and its text goes.
TEST_F(ModelSignOut, AKeyringThatRefusedTheSignOutIsAskedAgainOnlyWhenThePersonActs) {
    const auto store =
        std::make_shared<CountingKeychain>("app.brisalune.tests.retry-" + dir.path().filename().string());
    store->save(session());
    model = std::make_shared<MacModel>(pushState, defaults, store, factory(), addresses());
    run(model->ensureLaunched());
    ASSERT_EQ(model->phase(), Phase::signedIn);
    hosted.on("GET", "/v1/me", standin::Reply::json(R"({"error":"session expired"})", 401));
    hosted.on("GET", "/v1/pull", standin::Reply::json(R"({"error":"invalid api key"})", 401));

    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    run(model->refresh());  // the refusal found: the one try of the refresh loop
    ASSERT_EQ(store->clears, 1);
    ASSERT_EQ(model->phase(), Phase::signedIn);
    ASSERT_TRUE(model->signOutRefusal());
    EXPECT_EQ(model->lastError(), model->signOutRefusal());
    hosted.clearRequests();
    for (int i = 0; i < 3; ++i) run(model->refresh());
    EXPECT_EQ(store->clears, 1);
    EXPECT_TRUE(hosted.requests().empty()) << ::testing::PrintToString(received(hosted));  // the session is over

    run(model->retryRefusedSignOut());  // the person opens the menu: one more try, refused again
    EXPECT_EQ(store->clears, 2);
    EXPECT_EQ(model->phase(), Phase::signedIn);

    stopped.reset();
    run(model->refresh());
    EXPECT_EQ(store->clears, 2);
    EXPECT_EQ(model->phase(), Phase::signedIn);
    run(model->retryRefusedSignOut());
    EXPECT_EQ(store->clears, 3);
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->signOutRefusal());
    EXPECT_FALSE(model->lastError());
    EXPECT_TRUE(store->load().is(SessionLoad::Case::absent));
    // The service had ended the session: only what is kept here went.
    EXPECT_TRUE(hosted.requests().empty()) << ::testing::PrintToString(received(hosted));
    run(model->retryRefusedSignOut());  // nothing left to retry
    EXPECT_EQ(store->clears, 3);
}

TEST_F(ModelSignOut, TheKeychainItemGoesWithTheRealKeychain) {
    // The desktop's Secret Service of this test's D-Bus session.
    const auto store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.model-" + dir.path().filename().string());
    store->save(session());
    model = std::make_shared<MacModel>(pushState, defaults, store, factory(), addresses());
    run(model->ensureLaunched());
    EXPECT_EQ(store->load().session(), model->session());

    run(model->signOut());
    EXPECT_TRUE(store->load().is(SessionLoad::Case::absent));
}

// The app's push state: acknowledgements in the settings file, a device token of the account.
class ModelSignOutOnDisk : public testkit::ModelTest {
protected:
    std::shared_ptr<PendingAckStore> fileAcks =
        std::make_shared<PendingAckStore>(PendingAckStore::inFile(defaults.file()));
    std::shared_ptr<MemoryDeviceRegistry> registry = std::make_shared<MemoryDeviceRegistry>();
    PushState diskPush{
        std::make_shared<DesktopPushHost>(),
        true,
        registry,
        fileAcks,
        PushState::Environment{.defaults = defaults, .keychain = keychain, .notificationCenter = center}};

    ModelSignOutOnDisk() {
        model = std::make_shared<MacModel>(diskPush, defaults, keychain, factory(), addresses());
        registry->rememberToken("d0d0", "acc1");
    }

    // The next account signs in, takes t1 and refreshes, which sends what the store holds.
    void signInTheNextAccount() {
        hosted.clearRequests();
        hosted.on(
            "POST",
            "/v1/login",
            standin::Reply::json(R"({"account":{"id":"acc2","email":"next@example.com"},"token":"session-2"})"));
        serveKey(hosted, "t1", "k2", "key-2");
        run(model->signIn("next@example.com", "secret"));
        run(model->selectTenant("t1"));
        run(model->refresh());
        EXPECT_EQ(model->session()->accountId, "acc2");
    }
};

// Acknowledge pressed while another program holds the settings file, then a sign-out with no
// other record to clear: the clear waits for the press's record and takes it, rather than find
// nothing and let the record land for the next account to send.
TEST_F(ModelSignOutOnDisk, APressWaitingForTheSettingsFileBeforeASignOutLeavesNothingForTheNextAccount) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());  // its key comes from a box sign-in
    launchWith(stored);
    testkit::HeldSettingsLock held(defaults.file());
    QCoro::Task<MacModel::NotificationAck> press = model->acknowledgeFromNotification("a777", "t1");
    QCoro::Task<MacModel::NotificationAck> boxPress = model->acknowledgeFromNotification("b9", "t2");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));
    QCoro::Task<> out = model->signOut();
    testkit::processEventsUntil([&] { return !model->isTearingDown(); }, std::chrono::seconds(1));
    held.release();
    run(std::move(out));
    const MacModel::NotificationAck refused{MacModel::NotificationAck::Refused{Why::signedOut}};
    EXPECT_EQ(run(std::move(press)), refused);
    EXPECT_EQ(run(std::move(boxPress)), refused);  // not queued for a box sign-in: the sign-out took it
    ASSERT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(fileAcks->all().empty());

    signInTheNextAccount();
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a777/ack"), 0u);
    // The next account's own presses go.
    hosted.on("POST", "/v1/alerts/a1/ack", standin::Reply::json(testkit::alertAnswer("a1")));
    EXPECT_TRUE(run(model->acknowledgeFromNotification("a1", "t1")).get<MacModel::NotificationAck::Attempted>());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 1u);
}

// A refresh's retry whose record waits for another program holding the settings file as the
// sign-out begins, the holder letting go once the sign-out reached its local step: the retry sends
// nothing, neither with the revoked key nor after the log-out.
TEST_F(ModelSignOutOnDisk, ARetryWaitingForTheSettingsFileBeforeASignOutSendsNothingAfterIt) {
    diskPush.setModel(model);
    launchWith(session());
    ASSERT_TRUE(fileAcks->put(
        {.alertId = "a101", .tenantId = "t1", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}}));
    const platform::Defaults::PeerLockPatience uiThread(MacAppDelegate::uiSettingsLockPatience);  // as in the app
    testkit::HeldSettingsLock held(defaults.file());
    QCoro::Task<> retries = model->refresh();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));
    hosted.clearRequests();
    QCoro::Task<> out = model->signOut();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") == 1; }));
    held.release();
    run(std::move(out));
    run(std::move(retries));

    EXPECT_EQ(received(hosted).back(), "POST /v1/logout");  // nothing after it
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a101/ack"), 0u);
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(fileAcks->all().empty());
}

// Another program holds the settings file through the sign-out: the account's unsent
// acknowledgements wait for it off the UI thread; once it is stopped, the sign-out does not go
// through and says why, rather than leave them for the next account to send. However its calls
// fared at the service (answered, refused, never heard), the session stays signing out: nothing of
// it goes, a press it overtook is told it was not sent, what was left stays on disk until the
// person's next action runs the whole sign-out again, and that clears it.
enum class SignOutCalls { reachTheService, areRefused, areUnanswered };

class ModelSignOutRefused : public ModelSignOutOnDisk, public ::testing::WithParamInterface<SignOutCalls> {};

TEST_P(ModelSignOutRefused, AnotherProgramHoldingTheSettingsLeavesNoAcknowledgementBehind) {
    if (GetParam() == SignOutCalls::areRefused) {
        // Signed in now rather than taken up at start: that session's clients ask its life too.
        serveLogin();
        run(model->signIn("ops@example.com", "secret"));
        serveKey(hosted, "t1", "k1", "key-1");
        run(model->selectTenant("t1"));
    } else {
        launchWith(session());
    }
    ASSERT_TRUE(fileAcks->put(
        {.alertId = "a101", .tenantId = "t1", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}}));
    const platform::Defaults::PeerLockPatience uiThread(MacAppDelegate::uiSettingsLockPatience);  // as in the app
    // A press on a team not shown whose record is written and whose key is still being issued as
    // the sign-out begins, and one whose record waits for the settings file.
    standin::Reply heldKey = standin::Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    QCoro::Task<MacModel::NotificationAck> press = model->acknowledgeFromNotification("b1", "t2");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/tenants/t2/keys") == 1; }));
    testkit::HeldSettingsLock held(defaults.file());
    QCoro::Task<MacModel::NotificationAck> waitingPress = model->acknowledgeFromNotification("a777", "t1");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));
    const std::map<SignOutCalls, standin::Handler> service{
        {SignOutCalls::reachTheService, {}},
        {SignOutCalls::areRefused,
         [](const standin::ReceivedRequest&) { return standin::Reply::json(R"({"error":"unavailable"})", 503); }},
        {SignOutCalls::areUnanswered, droppedUnanswered}};  // heard or not, as offline
    hosted.otherwise(service.at(GetParam()));

    QCoro::Task<> out = model->signOut();
    hosted.release();
    testkit::processEventsUntil([] { return false; }, MacAppDelegate::uiSettingsLockPatience * 2);
    EXPECT_TRUE(model->isTearingDown()) << "signed out past the held settings file";

    ASSERT_EQ(::kill(held.pid(), SIGSTOP), 0);
    run(std::move(out));
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(model->signOutRefusal(), heldSettings);
    EXPECT_TRUE(keychain->load().session());
    EXPECT_EQ(fileAcks->all().size(), 2u);
    // Told as it is, with no button that could only be refused: not sent, and gone with the sign-out.
    for (QCoro::Task<MacModel::NotificationAck>* pressed : {&press, &waitingPress}) {
        const MacModel::NotificationAck told = run(std::move(*pressed));
        ASSERT_TRUE(told.get<MacModel::NotificationAck::Refused>()) << ::testing::PrintToString(told.value.index());
        EXPECT_EQ(
            MacAppDelegate::refusalText(told.get<MacModel::NotificationAck::Refused>()->why),
            "Brisalune was signing out, so it was not sent.");
    }

    held.release();
    hosted.otherwise({});
    hosted.on("POST", "/v1/alerts/a101/ack", standin::Reply::json(testkit::alertAnswer("a101")));
    hosted.clearRequests();
    box.clearRequests();
    diskPush.setModel(model);
    run(model->refresh());  // the refresh loop's turn
    EXPECT_EQ(model->alertsError(), notSent);
    run(model->refreshAccount());
    EXPECT_TRUE(run(model->acknowledgeFromNotification("a101", "t1")).get<MacModel::NotificationAck::Refused>());
    const JoinCode code{.boxURL = boxURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};
    EXPECT_EQ(QCoro::waitFor(joinFailure(model->joinBox(code, "", "", ""))), notSent);
    EXPECT_TRUE(hosted.requests().empty()) << ::testing::PrintToString(received(hosted));
    EXPECT_TRUE(box.requests().empty()) << ::testing::PrintToString(received(box));
    EXPECT_EQ(fileAcks->all().size(), 2u);

    standin::Reply heldLogout{204, {}, ""};
    heldLogout.holdUntilReleased = true;  // else the rerun can end before the next line looks
    hosted.on("POST", "/v1/logout", heldLogout);
    QCoro::Task<> rerun = model->retryRefusedSignOut();  // the person's next action: the whole sign-out again
    EXPECT_EQ(model->sessionEndingText(), "Signing out\u2026");  // the old refusal goes as it begins
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") == 1; }));
    hosted.release();
    run(std::move(rerun));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(fileAcks->all().empty());
    // The press's key, whose take-back the service did not answer, goes again before the log-out.
    const std::vector<std::string> rerunSent = received(hosted);
    const auto pressKey = std::ranges::find(rerunSent, "DELETE /v1/tenants/t2/keys/k2");
    if (GetParam() == SignOutCalls::reachTheService) {
        EXPECT_EQ(pressKey, rerunSent.end());
    } else {
        EXPECT_LT(pressKey, std::ranges::find(rerunSent, "POST /v1/logout")) << testing::PrintToString(rerunSent);
    }
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a101/ack") + count(hosted, "POST /v1/alerts/b1/ack"), 0u);
}

std::string callsName(const ::testing::TestParamInfo<SignOutCalls>& calls) {
    const std::array<std::string, 3> names{"ReachTheService", "AreRefused", "AreUnanswered"};
    return names.at(static_cast<std::size_t>(calls.param));
}

INSTANTIATE_TEST_SUITE_P(
    Calls,
    ModelSignOutRefused,
    ::testing::Values(SignOutCalls::reachTheService, SignOutCalls::areRefused, SignOutCalls::areUnanswered),
    callsName);

// A press's key issued as the sign-out begins, whose take-back gets a 503 while the key still
// works, stays listed; the service then holds its retry: in the same run, or in the rerun after a
// refused local step, there alone or with every other call. However long the take-backs are held,
// the log-out keeps its share of the bound and goes, and the list goes with its session: the next
// account's sign-out sends nothing of it. A retry answered at once, after another key's issue held
// the sign-out's wait to its end, still has its time before the log-out.
enum class ListedKeyRetry { heldAtOnce, heldOnTheRerun, heldOnTheRerunWithEveryCall, answeredAsTheWaitEnds };

class ModelSignOutListedKey : public ModelSignOutOnDisk, public ::testing::WithParamInterface<ListedKeyRetry> {};

TEST_P(ModelSignOutListedKey, NeverTakesTheLogOutsShare) {
    const bool waitEnds = GetParam() == ListedKeyRetry::answeredAsTheWaitEnds;
    serveMe({membership("t1"), membership("t2"), membership("t3")});
    launchWith(session());
    const bool refused = GetParam() == ListedKeyRetry::heldOnTheRerun ||
                         GetParam() == ListedKeyRetry::heldOnTheRerunWithEveryCall;
    const int answered = refused ? 2 : 1;  // the press's own take-back, and a refused run's retry
    std::atomic<int> takeBacks = 0;
    hosted.on(
        "DELETE", "/v1/tenants/t2/keys/k2", [&takeBacks, answered, waitEnds](const standin::ReceivedRequest& request) {
            if (++takeBacks > answered) return waitEnds ? standin::Reply{204, {}, ""} : silentAnswer(request);
            return standin::Reply::json(R"({"error":"unavailable"})", 503);
        });
    standin::Reply pastTheWait = standin::Reply::json(R"({"id":"k3","token":"key-3"})");
    pastTheWait.delay = std::chrono::seconds(19);  // the sign-out waits for a key issue until 17 s
    hosted.on("POST", "/v1/tenants/t3/keys", pastTheWait);
    std::optional<QCoro::Task<MacModel::NotificationAck>> otherPress;
    if (waitEnds) {
        otherPress.emplace(model->acknowledgeFromNotification("b3", "t3"));
        ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/tenants/t3/keys") == 1; }));
    }
    standin::Reply heldKey = standin::Reply::json(R"({"id":"k2","token":"key-2"})");
    heldKey.holdUntilReleased = true;
    hosted.on("POST", "/v1/tenants/t2/keys", heldKey);
    QCoro::Task<MacModel::NotificationAck> press = model->acknowledgeFromNotification("b1", "t2");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/tenants/t2/keys") == 1; }));
    const std::filesystem::path lock = dir / ".defaults.json.lock";
    if (refused) {  // a lock that cannot be taken: the local step fails at once
        std::filesystem::remove(lock);
        std::filesystem::create_directory(lock);
    }
    hosted.clearRequests();
    QCoro::Task<> out = model->signOut();
    hosted.release();
    run(std::move(out));
    run(std::move(press));
    if (refused) {
        ASSERT_EQ(model->phase(), Phase::signedIn);
        ASSERT_EQ(takeBacks, 2);
        std::filesystem::remove(lock);
        if (GetParam() == ListedKeyRetry::heldOnTheRerunWithEveryCall) hosted.otherwise(silentAnswer);
        hosted.clearRequests();
        run(model->retryRefusedSignOut());
    }

    const std::vector<std::string> sent = received(hosted);
    ASSERT_EQ(std::ranges::count(sent, "POST /v1/logout"), 1) << ::testing::PrintToString(sent);
    const auto logOut = std::ranges::find(sent, "POST /v1/logout");
    EXPECT_LT(std::ranges::find(sent, "DELETE /v1/tenants/t2/keys/k2"), logOut);
    if (waitEnds) {
        EXPECT_EQ(std::count(sent.begin(), logOut, "DELETE /v1/tenants/t2/keys/k2"), 2);
        run(std::move(*otherPress));
    }
    EXPECT_EQ(model->phase(), Phase::signedOut);

    hosted.otherwise({});
    hosted.release();
    signInTheNextAccount();
    run(model->signOut());
    EXPECT_EQ(count(hosted, "DELETE /v1/tenants/t2/keys/k2"), 0u);
    EXPECT_EQ(received(hosted).back(), "POST /v1/logout");
}

std::string retryName(const ::testing::TestParamInfo<ListedKeyRetry>& retry) {
    const std::array<std::string, 4> names{
        "HeldAtOnce", "HeldOnTheRerun", "HeldOnTheRerunWithEveryCall", "AnsweredAsTheWaitEnds"};
    return names.at(static_cast<std::size_t>(retry.param));
}

INSTANTIATE_TEST_SUITE_P(
    Retries,
    ModelSignOutListedKey,
    ::testing::Values(
        ListedKeyRetry::heldAtOnce,
        ListedKeyRetry::heldOnTheRerun,
        ListedKeyRetry::heldOnTheRerunWithEveryCall,
        ListedKeyRetry::answeredAsTheWaitEnds),
    retryName);

// The unsent acknowledgements cannot be cleared, with no other program holding the file: the
// refusal gives the general words, not another program's hold.
TEST_F(ModelSignOutOnDisk, AClearThatFailsWithoutAHolderSaysSo) {
    launchWith(session());
    ASSERT_TRUE(fileAcks->put(
        {.alertId = "a101", .tenantId = "t1", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}}));
    const std::filesystem::path lock = dir / ".defaults.json.lock";
    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);  // a lock that cannot be taken: every write fails at once

    run(model->signOut());
    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(
        model->signOutRefusal(), refusal("your unsent acknowledgements could not be cleared from its settings file."));
    EXPECT_FALSE(model->signOutWaitsForSettings());
}

// Another program holds the settings file and never lets go, a press waiting on it with records
// already stored: the sign-out waits one patience in all (not the press's, then its own), says
// meanwhile what it waits for, and ends signed in, naming the cause.
TEST_F(ModelSignOutOnDisk, AHolderThatNeverLetsGoHoldsTheSignOutOnePatienceAndIsNamed) {
    launchWith(session());
    ASSERT_TRUE(fileAcks->put(
        {.alertId = "a101", .tenantId = "t1", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}}));
    const platform::Defaults::PeerLockPatience uiThread(MacAppDelegate::uiSettingsLockPatience);  // as in the app
    AccountSection section(*model);
    const auto& button = *section.findChild<QPushButton*>(QStringLiteral("account.signOut"));
    const auto& waiting = *section.findChild<QLabel*>(QStringLiteral("account.signOutWait"));

    // The settings lock's own patience is 2 minutes: shortened here, as the press's own is not.
    const std::chrono::seconds patience{8};
    model->setSignOutSettingsPatience(patience);

    testkit::HeldSettingsLock held(defaults.file());
    QCoro::Task<MacModel::NotificationAck> press = model->acknowledgeFromNotification("a777", "t1");
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));
    QCoro::Task<> out = model->signOut();
    EXPECT_EQ(button.text(), QStringLiteral("Signing out\u2026"));
    EXPECT_FALSE(button.isEnabled());
    // Told while it waits, not only once the wait is long.
    ASSERT_TRUE(
        testkit::processEventsUntil([&] { return model->signOutWaitsForSettings() || !model->isSigningOut(); }));
    EXPECT_TRUE(waiting.isVisibleTo(&section));
    // A guard: the press's patience and then the clear's would take its two minutes and more.
    EXPECT_TRUE(
        testkit::processEventsUntil([&] { return !model->isSigningOut(); }, patience + std::chrono::seconds(30)));
    run(std::move(out));

    EXPECT_EQ(model->phase(), Phase::signedIn);
    EXPECT_EQ(model->signOutRefusal(), heldSettings);
    EXPECT_EQ(button.text(), QStringLiteral("Finish signing out"));
    EXPECT_FALSE(waiting.isVisibleTo(&section));
    EXPECT_FALSE(model->signOutWaitsForSettings());
    EXPECT_EQ(fileAcks->all().size(), 1u);

    // The holder lets go: the press's record lands, but the session is signing out, so it is not
    // sent, and its press is told so; the refresh asks nothing either.
    held.release();
    EXPECT_EQ(run(std::move(press)), MacModel::NotificationAck{MacModel::NotificationAck::Refused{Why::signedOut}});
    EXPECT_EQ(fileAcks->all().size(), 2u);
    run(model->refresh());
    EXPECT_EQ(received(hosted).back(), "POST /v1/logout");

    // The person's next action runs the sign-out again, shown as it runs.
    QCoro::Task<> retry = model->retryRefusedSignOut();
    EXPECT_FALSE(button.isEnabled());
    run(std::move(retry));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(fileAcks->all().empty());
    EXPECT_EQ(received(hosted).back(), "POST /v1/logout");
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a777/ack"), 0u);
}

// Acknowledge pressed, and a refresh's retry reaching its next record, while the keyring forgets
// the session (as long as an unlock prompt stays open), and another program holding the settings
// file as the sign-out ends: neither is taken, and the next account sends nothing in its own name.
TEST_F(ModelSignOutOnDisk, APressWhileTheKeyringForgetsTheSessionLeavesNothingForTheNextAccount) {
    const auto store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.press-" + dir.path().filename().string());
    store->save(session());
    model = std::make_shared<MacModel>(diskPush, defaults, store, factory(), addresses());
    diskPush.setModel(model);
    run(model->ensureLaunched());
    for (const char* alertId : {"a101", "a102"})
        ASSERT_TRUE(fileAcks->put(
            {.alertId = alertId,
             .tenantId = "t1",
             .title = "Disk full",
             .attempts = 1,
             .lastError = {},
             .verdict = {}}));
    standin::Reply heldAck{204, {}, ""};
    heldAck.holdUntilReleased = true;
    hosted.on("POST", "/v1/alerts/a101/ack", heldAck);
    for (const char* alertId : {"a102", "a777"})
        hosted.on(
            "POST", std::string("/v1/alerts/") + alertId + "/ack", standin::Reply::json(R"({"error":"busy"})", 503));
    QCoro::Task<> retries = model->refresh();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/alerts/a101/ack") == 1; }));
    const platform::Defaults::PeerLockPatience uiThread(MacAppDelegate::uiSettingsLockPatience);  // as in the app

    auto stopped = std::make_optional<testkit::StoppedKeyring>();
    QCoro::Task<> out = model->signOut();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return fileAcks->all().empty(); }));  // the keyring's turn
    const MacModel::NotificationAck pressed = run(model->acknowledgeFromNotification("a777", "t1"));
    EXPECT_EQ(pressed, MacModel::NotificationAck{MacModel::NotificationAck::Refused{Why::signingOut}});
    hosted.release();
    run(std::move(retries));
    testkit::HeldSettingsLock held(defaults.file());
    stopped.reset();
    run(std::move(out));
    held.release();
    ASSERT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(fileAcks->all().empty());

    signInTheNextAccount();
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a102/ack"), 0u);
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a777/ack"), 0u);
    store->clear();
}

// A service that takes connections and never answers: the calls give up together, each step in
// turn, the team keys side by side.
TEST_F(ModelSignOutOnDisk, AServiceThatNeverAnswersHoldsTheSignOutOnlyWithinItsBound) {
    StoredSession stored = session();
    stored.tenantKeys.emplace("t2", TenantKey{"k2", "key-2", "t2"});
    launchWith(stored);
    hosted.clearRequests();
    hosted.otherwise(silentAnswer);

    QCoro::Task<> out = model->signOut();
    // A guard: the bound is 20 s, and each call would wait a minute on its own.
    EXPECT_TRUE(testkit::processEventsUntil([&] { return !model->isTearingDown(); }, std::chrono::seconds(30)));
    hosted.otherwise({});  // the rest answers at once
    hosted.release();
    run(std::move(out));
    std::vector<std::string> keys = received(hosted);
    ASSERT_EQ(keys.size(), 4u) << ::testing::PrintToString(keys);
    EXPECT_EQ(keys.front(), "DELETE /v1/account/devices/d0d0");
    EXPECT_EQ(keys.back(), "POST /v1/logout");
    keys = {keys.begin() + 1, keys.end() - 1};
    std::ranges::sort(keys);
    EXPECT_EQ(keys, (std::vector<std::string>{"DELETE /v1/tenants/t1/keys/k1", "DELETE /v1/tenants/t2/keys/k2"}));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
}

// "Sign out" is kept on this computer from before its first call until it has ended here.
TEST_F(ModelSignOut, IsKeptFromBeforeItsFirstCallUntilItHasEnded) {
    launchWith(session());
    hosted.clearRequests();
    std::mutex mutex;
    std::vector<SignOutRecord::Found> atEachCall;
    hosted.otherwise([&](const standin::ReceivedRequest&) {
        const std::lock_guard lock(mutex);
        atEachCall.push_back(SignOutRecord::find(defaults, session()));
        return standin::Reply{204, {}, ""};
    });
    run(model->signOut());
    EXPECT_EQ(received(hosted).size(), atEachCall.size());  // every call of the sign-out saw it
    EXPECT_EQ(atEachCall, std::vector<SignOutRecord::Found>(atEachCall.size(), SignOutRecord::Found::thisSession));
    EXPECT_EQ(SignOutRecord::find(defaults, session()), SignOutRecord::Found::none);
}

// A start that holds a session whose sign-out an earlier run began finishes it before anything
// else of the session goes, saying so meanwhile. A record of another session, or one that cannot
// be read (said in words), goes, and the session goes on as stored.
TEST_F(ModelSignOut, AStartFinishesOnlyTheSignOutOfItsOwnSessionLeftUnfinished) {
    StoredSession another = session();
    another.sessionToken = "session-0";
    struct Row {
        const char* name;
        platform::DefaultsValue record;
        bool finishes;
        const char* said;  // on stderr
    };
    const std::vector<Row> rows{
        {"this session's", SignOutRecord::of(session()), true, ""},
        {"the same account's earlier session", SignOutRecord::of(another), false, ""},
        {"a number", 42, false, "could not be read"},
        {"not a digest", "session-1", false, "could not be read"},
    };
    hosted.on("POST", "/v1/logout", silentAnswer);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        keychain->save(session());
        ASSERT_TRUE(acks->put(
            {.alertId = "a101", .tenantId = "t1", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}}));
        defaults.set(SignOutRecord::key, row.record);
        hosted.clearRequests();
        model = makeModel();
        ::testing::internal::CaptureStderr();
        QCoro::Task<> launch = model->ensureLaunched();
        if (row.finishes) {
            ASSERT_TRUE(testkit::processEventsUntil([&] { return count(hosted, "POST /v1/logout") > 0; }));
            EXPECT_EQ(model->sessionEndingText(), std::string(MacModel::finishingSignOutText));
            hosted.release();
        }
        run(std::move(launch));
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
        EXPECT_EQ(SignOutRecord::find(defaults, session()), SignOutRecord::Found::none);
        const std::vector<std::string> asked = received(hosted);
        if (row.finishes) {
            EXPECT_EQ(asked.back(), "POST /v1/logout");
            for (const std::string& call : asked)
                EXPECT_TRUE(call == "POST /v1/logout" || call.starts_with("DELETE ")) << call;  // its own calls only
            EXPECT_EQ(model->phase(), Phase::signedOut);
            EXPECT_FALSE(model->sessionEndingText());
            EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
            EXPECT_TRUE(acks->all().empty());
            continue;
        }
        EXPECT_EQ(count(hosted, "GET /v1/me"), 1u);
        EXPECT_EQ(count(hosted, "POST /v1/logout"), 0u);
        EXPECT_EQ(model->phase(), Phase::signedIn);
        EXPECT_EQ(keychain->load().session(), session());
        EXPECT_TRUE(acks->get("a101"));
    }
}

class SignOutAtQuit : public testkit::DelegateTest {};

// Quit while the sign-out waits for the service: the session and its acknowledgements still end.
TEST_F(SignOutAtQuit, AQuitDuringTheSignOutLeavesTheNextStartSignedOut) {
    keychain->save(session());
    run(delegate->model().ensureLaunched());
    ASSERT_TRUE(acks->put(
        {.alertId = "a101", .tenantId = "t1", .title = "Disk full", .attempts = 1, .lastError = {}, .verdict = {}}));
    hosted.clearRequests();
    hosted.otherwise(silentAnswer);
    QCoro::Task<> out = delegate->model().signOut();
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !hosted.requests().empty(); }));

    delegate->applicationWillTerminate();
    std::thread answer([&] {  // else the quit would wait out its grace for the held call
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        hosted.release();
    });
    EXPECT_EQ(MacAppDelegate::finishQuitting(0, std::chrono::seconds(30)), 0);
    answer.join();
    // Nothing ran on the event loop since: what the quit left, and the next start reads.
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
    EXPECT_TRUE(acks->all().empty());

    hosted.otherwise({});  // the rest answers at once
    hosted.release();
    run(std::move(out));
    delegate.reset();
}

}  // namespace
}  // namespace brisalune
