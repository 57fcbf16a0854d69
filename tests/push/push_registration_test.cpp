#include <push/push_state_fixture.hpp>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <utility>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using standin::Reply;
using Notice = DeviceEnrolmentNotice;
using Trigger = PushState::RegistrationTrigger;

constexpr const char* devicesPath = "/v1/account/devices";

class PushRegistration : public testkit::PushStateTest {
protected:
    PushRegistration() {
        signIn();
        server.on("POST", devicesPath, Reply::json(R"({"registered":true})"));
    }

    // Lets the event loop run until the stand-in has received `count` requests.
    void awaitRequests(std::size_t count) {
        ASSERT_TRUE(testkit::processEventsUntil([&] { return server.requests().size() >= count; }));
    }
};

TEST_F(PushRegistration, EachTriggerSkipsOrForcesByTheLedger) {
    constexpr DeviceEnrolment enrolments[] = {
        DeviceEnrolment::never, DeviceEnrolment::enrolled, DeviceEnrolment::unregistered};
    // Whether each trigger sends, for each enrolment above.
    const std::pair<Trigger, std::array<bool, 3>> cases[] = {
        {Trigger::automatic, {true, false, false}},
        {Trigger::userRequested, {true, true, true}},
        {Trigger::settingsRefresh, {false, false, false}},
        {Trigger::reconcile, {true, true, false}},
    };
    for (const auto& [trigger, sends] : cases) {
        for (std::size_t i = 0; i < 3; ++i) {
            registry->clearLedger();
            if (enrolments[i] == DeviceEnrolment::enrolled) registry->recordRegistration("ab01", "acc1", false);
            if (enrolments[i] == DeviceEnrolment::unregistered) registry->markUnregistered("acc1");
            server.clearRequests();
            EXPECT_TRUE(await(state->attemptRegistration(trigger)));
            const auto sent = requests("POST");
            ASSERT_EQ(sent.size(), sends[i] ? 1u : 0u) << static_cast<int>(trigger) << " " << i;
            if (!sends[i]) continue;
            EXPECT_EQ(sent[0].body, R"({"token":"ab01","platform":"macos","critical_alerts":false})");
            EXPECT_EQ(sent[0].header("Authorization"), "Bearer session-token");
            EXPECT_EQ(state->confirmedRegistrations().at("acc1"), "ab01");
        }
    }
}

TEST_F(PushRegistration, AttemptsRunOneAfterAnother) {
    server.on("POST", devicesPath, held(Reply::json(R"({"registered":true})")));
    state->registerDevice();
    state->registerDevice();
    awaitRequests(1);
    server.release();
    await(state->awaitRegistrationSettled());
    // The second attempt started only after the first was recorded, so it had nothing to send;
    // the confirmed token needs no roster read either.
    EXPECT_EQ(requests("POST").size(), 1u);
    EXPECT_TRUE(requests("GET").empty());
}

TEST_F(PushRegistration, AFailedAttemptDoesNotStopTheOnesAfterIt) {
    center->settingsFail = {true};
    state->registerDevice();
    EXPECT_TRUE(await(state->attemptRegistration(Trigger::automatic)));
    EXPECT_EQ(center->settingsReads, 2);
    EXPECT_EQ(requests("POST").size(), 1u);
    EXPECT_EQ(state->confirmedRegistrations().at("acc1"), "ab01");
}

// One attempt awaited by all who wait on the chain (its caller, the next attempt, the roster
// check's follow-up, the sign-out's unregistration), failing while held, with a registration
// started again from inside it: every one of them hears its end.
TEST_F(PushRegistration, EveryWaiterOfAFailedHeldAttemptHearsItsEnd) {
    const auto ends = [](auto& task) {
        return testkit::processEventsUntil([&] { return task.isReady(); }, std::chrono::seconds(20));
    };
    server.on("POST", devicesPath, held(Reply::json(R"({"error":"down"})", 503)));
    server.on("GET", devicesPath, Reply::json(R"({"devices":[]})"));
    int restarts = 0;
    QObject::connect(state.get(), &PushState::deviceRegistrationErrorChanged, [&] {
        if (restarts++ == 0) state->registerDevice();
    });
    auto first = state->attemptRegistration(Trigger::userRequested);
    awaitRequests(1);
    state->registerDevice();
    auto chained = state->attemptRegistration(Trigger::reconcile);
    auto settled = state->awaitRegistrationSettled();
    auto unregistered = state->unregisterDevice(model->client, "acc1");
    server.on("POST", devicesPath, Reply::json(R"({"error":"down"})", 503));
    server.release();
    EXPECT_TRUE(ends(first));
    EXPECT_TRUE(ends(chained));
    EXPECT_TRUE(ends(settled));
    EXPECT_TRUE(ends(unregistered));
    auto last = state->awaitRegistrationSettled();
    EXPECT_TRUE(ends(last));
    EXPECT_EQ(restarts, 1);
}

TEST_F(PushRegistration, ASettingsRefreshResendsWhenCriticalAlertsChange) {
    EXPECT_TRUE(await(state->attemptRegistration(Trigger::automatic)));
    center->currentSettings = {AuthorizationStatus::authorized, NotificationSetting::enabled};
    await(state->refreshNotificationSettings());
    EXPECT_EQ(host->registrationRequests, 1);
    ASSERT_EQ(requests("POST").size(), 2u);
    EXPECT_EQ(requests("POST")[1].body, R"({"token":"ab01","platform":"macos","critical_alerts":true})");

    // A provisional grant asks for no token, yet the registration after it still runs.
    center->currentSettings = {AuthorizationStatus::provisional, NotificationSetting::disabled};
    await(state->requestPermission());
    EXPECT_EQ(host->registrationRequests, 1);
    ASSERT_EQ(requests("POST").size(), 3u);
    EXPECT_EQ(requests("POST")[2].body, R"({"token":"ab01","platform":"macos","critical_alerts":false})");
}

TEST_F(PushRegistration, ALateAnswerAfterASignOutRecordsNothing) {
    server.on("POST", devicesPath, held(Reply::json(R"({"registered":true})")));
    auto attempt = state->attemptRegistration(Trigger::userRequested);
    awaitRequests(1);
    state->endSession();  // the same account is still the model's: the generation tells
    server.release();
    EXPECT_TRUE(await(std::move(attempt)));
    EXPECT_EQ(registry->enrolment("acc1"), DeviceEnrolment::never);
    EXPECT_TRUE(state->confirmedRegistrations().empty());

    model->tearingDown = true;
    server.clearRequests();
    EXPECT_FALSE(await(state->attemptRegistration(Trigger::userRequested)));
    model->tearingDown = false;
    model.reset();
    EXPECT_FALSE(await(state->attemptRegistration(Trigger::userRequested)));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PushRegistration, FailuresShowOnlyForTheCurrentSignInAndToken) {
    server.on("POST", devicesPath, Reply::json(R"({"error":"device limit reached"})", 422));
    EXPECT_FALSE(await(state->attemptRegistration(Trigger::userRequested)));
    EXPECT_EQ(state->deviceEnrolmentNotice(), Notice{Notice::Refused{"device limit reached"}});
    EXPECT_EQ(
        state->deviceRegistrationError(),
        BrisaluneError::validation({{"", "device limit reached"}}).errorDescription());

    server.on("POST", devicesPath, Reply::json(R"({"registered":false})"));
    state->setDeviceRegistrationError(std::nullopt);
    EXPECT_FALSE(await(state->attemptRegistration(Trigger::userRequested)));  // silently
    EXPECT_EQ(state->deviceRegistrationError(), std::nullopt);
    EXPECT_EQ(registry->enrolment("acc1"), DeviceEnrolment::never);

    state->endSession();
    server.on("POST", devicesPath, held(Reply::json(R"({"error":"down"})", 503)));
    auto attempt = state->attemptRegistration(Trigger::userRequested);
    awaitRequests(3);
    state->didReceiveDeviceToken(QByteArray::fromHex("cd02"));
    server.release();
    EXPECT_FALSE(await(std::move(attempt)));
    EXPECT_EQ(state->deviceRegistrationError(), std::nullopt);
    EXPECT_EQ(state->deviceEnrolmentNotice(), std::nullopt);
}

TEST_F(PushRegistration, SignOutTakesEveryKnownTokenOffTheAccount) {
    for (const char* token : {"aa01", "CC01", "bb01"}) registry->rememberToken(token, "acc1");
    state->didReceiveDeviceToken(QByteArray::fromHex("cc01"));
    server.on("DELETE", "/v1/account/devices/cc01", Reply{204, {}, ""});
    server.on("DELETE", "/v1/account/devices/bb01", Reply{204, {}, ""});  // aa01: the stand-in's 404
    EXPECT_TRUE(await(state->unregisterDevice(model->client, "acc1")));
    std::vector<std::string> deleted;
    for (const auto& request : requests("DELETE")) deleted.push_back(request.path);
    EXPECT_EQ(
        deleted,
        (std::vector<std::string>{"/v1/account/devices/cc01", "/v1/account/devices/aa01", "/v1/account/devices/bb01"}));
    EXPECT_TRUE(registry->tokens("acc1").empty());

    for (const char* token : {"aa01", "cc01"}) {
        registry->rememberToken(token, "acc1");
        server.on("DELETE", std::string("/v1/account/devices/") + token, Reply::json(R"({"error":"down"})", 503));
    }
    server.clearRequests();
    EXPECT_FALSE(await(state->unregisterDevice(model->client, "acc1")));
    EXPECT_EQ(requests("DELETE").size(), 2u);
    EXPECT_EQ(registry->tokens("acc1"), (std::vector<std::string>{"aa01", "cc01"}));
}

// The service holds the registration silently, or answers it a byte at a time: the sign-out's
// removal does not wait for it, and the registration, once it lands, takes its token off again.
TEST_F(PushRegistration, ASignOutDoesNotWaitForARegistrationOnItsWay) {
    const std::string registered = R"({"registered":true})";
    const Reply trickling{.status = 200, .headers = {}, .body = registered + std::string(500, ' '), .trickle = 20ms};
    server.on("DELETE", "/v1/account/devices/ab01", Reply{204, {}, ""});
    for (const Reply& answer : {held(Reply::json(registered)), trickling}) {
        server.clearRequests();
        server.on("POST", devicesPath, answer);
        auto attempt = state->attemptRegistration(Trigger::userRequested);
        awaitRequests(1);
        model->tearingDown = true;
        auto unregistered = state->unregisterDevice(model->client, "acc1");
        ASSERT_TRUE(testkit::processEventsUntil([&] { return unregistered.isReady() || attempt.isReady(); }));
        EXPECT_TRUE(unregistered.isReady());
        EXPECT_FALSE(attempt.isReady()) << "the sign-out waited for the registration";
        EXPECT_EQ(requests("DELETE").size(), 1u);

        server.release();
        EXPECT_TRUE(await(std::move(attempt)));
        EXPECT_EQ(requests("DELETE").size(), 2u) << "the late registration stayed on the service";
        EXPECT_EQ(registry->enrolment("acc1"), DeviceEnrolment::never);
        model->tearingDown = false;
    }
}

TEST_F(PushRegistration, AnAnswerThatTricklesWithoutEndIsGivenUpAtTheDeadline) {
    state->setDeviceRequestDeadline(1s);
    server.on(
        "POST", devicesPath, Reply{.status = 200, .headers = {}, .body = std::string(1000000, ' '), .trickle = 20ms});
    EXPECT_FALSE(await(state->attemptRegistration(Trigger::userRequested)));
    EXPECT_EQ(
        state->deviceRegistrationError(),
        BrisaluneError::transport(std::string(http::timedOutText)).errorDescription());
}

TEST_F(PushRegistration, UnregisteringOneTokenMarksTheAccount) {
    EXPECT_TRUE(await(state->attemptRegistration(Trigger::automatic)));
    server.on("DELETE", "/v1/account/devices/ab01", Reply::json(R"({"error":"down"})", 503));
    await(state->unregisterToken("ab01", "acc1", model->client));
    EXPECT_EQ(registry->enrolment("acc1"), DeviceEnrolment::enrolled);  // a failure changes nothing

    server.on("DELETE", "/v1/account/devices/ab01", Reply{204, {}, ""});
    await(state->unregisterToken("ab01", "acc1", model->client));
    EXPECT_EQ(registry->enrolment("acc1"), DeviceEnrolment::unregistered);
    EXPECT_TRUE(state->confirmedRegistrations().empty());
    EXPECT_TRUE(state->unregisteringAccounts().empty());

    server.clearRequests();
    state->registerDevice();  // automatic: skipped, and the roster is not read either
    await(state->awaitRegistrationSettled());
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace brisalune
