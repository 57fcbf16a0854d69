#pragma once

// An app model over memory stores and a push state of its own, signed in against two stand-in
// servers: the hosted service and a self-hosted box.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/push/push_host.hpp>
#include <brisalune/push/push_state.hpp>

#include <support/alert_answer.hpp>
#include <support/qt_widgets_application.hpp>
#include <support/recording_notification_center.hpp>
#include <support/settled_pool.hpp>
#include <support/temp_dir.hpp>
#include <support/two_servers.hpp>

#include <QCoroTask>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brisalune::testkit {

class ModelTest : public TwoServerTest {
protected:
    static constexpr const char* webOrigin = "https://portal.example";

    TempDir dir;
    platform::Defaults defaults{dir / "defaults.json"};
    std::shared_ptr<MemoryPendingAckStore> acks = std::make_shared<MemoryPendingAckStore>();
    std::shared_ptr<RecordingNotificationCenter> center = std::make_shared<RecordingNotificationCenter>();
    std::shared_ptr<MemorySessionStore> keychain = std::make_shared<MemorySessionStore>();
    PushState pushState{
        std::make_shared<DesktopPushHost>(),
        true,
        std::make_shared<MemoryDeviceRegistry>(),
        acks,
        PushState::Environment{.defaults = defaults, .keychain = keychain, .notificationCenter = center}};
    std::shared_ptr<MacModel> model = makeModel();

    // `/v1/me` lists t1 and t2 and a pull gives a1, unless a test serves otherwise.
    ModelTest() {
        serveMe({membership("t1"), membership("t2")});
        servePull(hosted, {alertAnswer("a1", "firing")});
    }

    // A call the model left running (a key retired after a refresh, a sign-out that a failed
    // assertion cut short) uses the servers, the compatibility record, the factory's list and what
    // the test's own fixture holds (a route's state, a push state of its own): it ends here, while
    // the test's fixture still stands, so that a failed assertion is all a failing test shows.
    void TearDown() override { settle(); }
    // Again for a fixture whose TearDown does not call this one; nothing is left by then otherwise.
    ~ModelTest() override { settle(); }

    void settle() {
        hosted.release();
        box.release();
        // A sign-out waits on the settings file and the keychain off the pools as well.
        const bool ended = processEventsUntil([&] { return !model->isSigningOut(); }) && settlePool();
        if (!ended) ADD_FAILURE() << "requests still running as the test ends";
    }

    MacModel::Addresses addresses() const {
        return {
            .hostedAPIBase = [url = hostedURL()] { return url; },
            .hostedWebOrigin = [] { return *platform::Url::parse(webOrigin); },
            .allowLoopbackHttp = false};
    }

    std::shared_ptr<MacModel> makeModel() {
        widgetsApplication();
        return std::make_shared<MacModel>(pushState, defaults, keychain, factory(), addresses());
    }

    // Signed in to the hosted service with a key for t1, which is active.
    StoredSession session(std::optional<std::string> activeTenantId = "t1") const {
        return {
            .baseURL = hostedURL(),
            .sessionToken = "session-1",
            .accountId = "acc1",
            .email = "ops@example.com",
            .activeTenantId = std::move(activeTenantId),
            .tenantKeys = {{"t1", TenantKey{"k1", "key-1", "t1"}}},
            .tenantHosts = {}};
    }

    void launchWith(const StoredSession& stored) {
        keychain->save(stored);
        run(model->ensureLaunched());
    }

    // ---- the stand-ins' answers ----

    static std::string membership(
        const std::string& tenantId, const std::string& role = "member", const std::string& dataPlane = "") {
        std::string json =
            R"({"tenant_id":")" + tenantId + R"(","tenant_name":"Team )" + tenantId + R"(","role":")" + role + R"(")";
        if (!dataPlane.empty()) json += R"(,"data_plane_url":")" + dataPlane + R"(")";
        return json + "}";
    }

    // A box account on one team of the box, signed in with "box-session"; `at` is the box's path.
    void serveBoxAccount(const std::string& at = "") {
        box.on(
            "POST",
            at + "/v1/login",
            standin::Reply::json(R"({"account":{"id":"b1","email":"ops@box.example"},"token":"box-session"})"));
        box.on(
            "GET",
            at + "/v1/me",
            standin::Reply::json(
                R"({"account":{"id":"b1","email":"ops@box.example"},"memberships":[{"tenant_id":"box-team","tenant_name":"Box","role":"owner"}]})"));
    }

    static std::string list(const std::vector<std::string>& items) {
        std::string joined;
        for (const std::string& item : items) joined += (joined.empty() ? "" : ",") + item;
        return "[" + joined + "]";
    }

    void serveMe(const std::vector<std::string>& memberships) {
        hosted.on(
            "GET",
            "/v1/me",
            standin::Reply::json(
                R"({"account":{"id":"acc1","email":"ops@example.com"},"memberships":)" + list(memberships) + "}"));
    }

    void serveLogin(const std::string& token = "session-1") {
        hosted.on(
            "POST",
            "/v1/login",
            standin::Reply::json(R"({"account":{"id":"acc1","email":"ops@example.com"},"token":")" + token + R"("})"));
    }

    void serveKey(
        standin::Server& server, const std::string& tenantId, const std::string& keyId, const std::string& secret) {
        server.on(
            "POST",
            "/v1/tenants/" + tenantId + "/keys",
            standin::Reply::json(R"({"id":")" + keyId + R"(","token":")" + secret + R"("})"));
    }

    static std::string pullAnswer(const std::vector<std::string>& alerts) {
        return R"({"cursor":1,"config_versions":{},"alerts":)" + list(alerts) + "}";
    }

    void servePull(standin::Server& server, const std::vector<std::string>& alerts) {
        server.on("GET", "/v1/pull", standin::Reply::json(pullAnswer(alerts)));
    }

    void serveHealth(standin::Server& server, const std::string& portalOrigin) {
        std::string body = R"({"ok":true,"version":"1.0.0","role":"hosted","tenants":1)";
        if (!portalOrigin.empty()) body += R"(,"portal_origin":")" + portalOrigin + R"(")";
        server.on("GET", "/healthz", standin::Reply::json(body + "}"));
    }

    // ---- reading what happened ----

    std::vector<std::string> alertIds() const {
        std::vector<std::string> ids;
        for (const AlertSnapshot& alert : model->openAlerts()) ids.push_back(alert.id);
        return ids;
    }

    static std::size_t count(const standin::Server& server, const std::string& line) {
        return static_cast<std::size_t>(std::ranges::count(received(server), line));
    }

    template <class T>
    static T run(QCoro::Task<T>&& task) {
        return QCoro::waitFor(std::move(task));
    }
    static void run(QCoro::Task<>&& task) { QCoro::waitFor(std::move(task)); }
};

}  // namespace brisalune::testkit
