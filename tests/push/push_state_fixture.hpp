#pragma once

// A push state over memory stores, a recording notification centre and a test host, with a
// signed-in model whose clients talk to the stand-in server.

#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/push/await_blocking.hpp>
#include <brisalune/push/push_host.hpp>
#include <brisalune/push/push_session.hpp>
#include <brisalune/push/push_state.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/qt_application.hpp>
#include <support/recording_notification_center.hpp>
#include <support/temp_dir.hpp>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brisalune::testkit {

class TestHost final : public PushHost {
public:
    int registrationRequests = 0;

    std::string platform() const override { return "macos"; }
    void registerForRemoteNotifications() override { ++registrationRequests; }
    void deliverToken(const QByteArray& token) { Q_EMIT deviceTokenReceived(token); }
};

// The application model as far as the push state sees it.
class TestSession final : public PushSession {
public:
    std::optional<StoredSession> stored;
    std::shared_ptr<BrisaluneClient> client;      // the account client
    std::shared_ptr<BrisaluneClient> dataClient;  // what its acknowledgements go through
    bool tearingDown = false;
    bool signedIn = true;
    std::vector<std::string> acknowledged;
    std::function<void(const std::string& alertId)> beforeAcknowledge;

    std::optional<StoredSession> session() const override { return stored; }
    std::shared_ptr<BrisaluneClient> accountClient() const override { return client; }
    bool isTearingDown() const override { return tearingDown; }
    bool isSignedIn() const override { return signedIn; }

    QCoro::Task<AckAttemptOutcome> acknowledge(
        std::string alertId, std::string title, std::shared_ptr<PendingAckStoring> store) override {
        acknowledged.push_back(alertId);
        if (beforeAcknowledge) beforeAcknowledge(alertId);
        const std::string tenant = stored && stored->activeTenantId ? *stored->activeTenantId : "";
        const auto attempt = [alertId, tenant, title, store, client = dataClient] {
            return PendingAckCoordinator::attempt(alertId, tenant, title, client.get(), *store);
        };
        co_return co_await awaitBlocking(attempt);
    }
};

class PushStateTest : public EndpointTest {
protected:
    TempDir dir;
    std::shared_ptr<TestHost> host = std::make_shared<TestHost>();
    std::shared_ptr<MemoryDeviceRegistry> registry = std::make_shared<MemoryDeviceRegistry>();
    std::shared_ptr<MemoryPendingAckStore> acks = std::make_shared<MemoryPendingAckStore>();
    std::shared_ptr<RecordingNotificationCenter> center = std::make_shared<RecordingNotificationCenter>();
    std::shared_ptr<MemorySessionStore> keychain = std::make_shared<MemorySessionStore>();
    std::shared_ptr<TestSession> model = std::make_shared<TestSession>();
    std::unique_ptr<PushState> state = makeState();

    platform::Defaults defaults() const { return platform::Defaults(dir / "defaults.json"); }

    std::unique_ptr<PushState> makeState(bool isEnabled = true, std::shared_ptr<PushHost> onHost = nullptr) {
        coreApplication();
        return std::make_unique<PushState>(
            onHost ? onHost : host,
            isEnabled,
            registry,
            acks,
            PushState::Environment{.defaults = defaults(), .keychain = keychain, .notificationCenter = center});
    }

    std::shared_ptr<BrisaluneClient> sharedClient(
        std::optional<std::string> sessionToken, std::optional<std::string> dataKey) {
        return std::make_shared<BrisaluneClient>(
            *platform::Url::parse(server.baseUrl()),
            std::move(sessionToken),
            std::move(dataKey),
            nullptr,
            ClientIdentity::current(),
            compatibility);
    }

    StoredSession storedSession(std::string accountId = "acc1", std::optional<std::string> activeTenant = "t1") {
        return {
            .baseURL = *platform::Url::parse(server.baseUrl()),
            .sessionToken = "session-token",
            .accountId = std::move(accountId),
            .email = "ops@example.com",
            .activeTenantId = std::move(activeTenant),
            .tenantKeys = {{"t1", TenantKey{"k1", "data-key", std::nullopt}}},
            .tenantHosts = {}};
    }

    // The model signed in to the account, attached to the state, and the device token held.
    void signIn(std::string accountId = "acc1", const char* tokenHex = "ab01") {
        model->stored = storedSession(std::move(accountId));
        model->client = sharedClient("session-token", std::nullopt);
        model->dataClient = sharedClient(std::nullopt, "data-key");
        state->setModel(model);
        if (tokenHex) state->didReceiveDeviceToken(QByteArray::fromHex(tokenHex));
    }

    // The requests of one method the stand-in received so far.
    std::vector<standin::ReceivedRequest> requests(std::string_view method) const {
        std::vector<standin::ReceivedRequest> out;
        for (auto& request : server.requests())
            if (request.method == method) out.push_back(std::move(request));
        return out;
    }

    static standin::Reply held(standin::Reply reply) {
        reply.holdUntilReleased = true;
        return reply;
    }

    template <class T>
    static T await(QCoro::Task<T>&& task) {
        return QCoro::waitFor(std::move(task));
    }
    static void await(QCoro::Task<>&& task) { QCoro::waitFor(std::move(task)); }
};

// A stored acknowledgement that failed once.
inline PendingAck pending(
    std::string alertId, std::string tenantId = "t1", AckFailureVerdict verdict = AckFailureVerdict::retryable) {
    return {
        .alertId = std::move(alertId),
        .tenantId = std::move(tenantId),
        .title = "Disk full",
        .attempts = 1,
        .lastError = "E",
        .verdict = verdict};
}

}  // namespace brisalune::testkit
