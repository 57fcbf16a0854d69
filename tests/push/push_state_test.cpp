#include <push/push_state_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using standin::Reply;
using testkit::pending;

class PushStateBasics : public testkit::PushStateTest {};

TEST_F(PushStateBasics, StartsFromTheStoredTokenAndAsksNothing) {
    defaults().set(PushState::deviceTokenKey, "ABcd 01");
    const auto again = makeState();
    EXPECT_EQ(again->deviceTokenHex(), "ABcd 01");  // as stored: no case folding, no checking
    EXPECT_EQ(center->settingsReads, 0);
    EXPECT_TRUE(center->authorizationRequests.empty());
    EXPECT_EQ(host->registrationRequests, 0);
    EXPECT_NE(again->signInGeneration(), state->signInGeneration());
}

TEST_F(PushStateBasics, TellsObserversOnlyOfRealChanges) {
    int errorChanges = 0, modelChanges = 0, standingsChanges = 0;
    QObject::connect(state.get(), &PushState::deviceRegistrationErrorChanged, [&] { ++errorChanges; });
    QObject::connect(state.get(), &PushState::modelChanged, [&] { ++modelChanges; });
    QObject::connect(state.get(), &PushState::ackStandingsChanged, [&] { ++standingsChanges; });

    state->setDeviceRegistrationError("refused");
    state->setDeviceRegistrationError("refused");
    state->setDeviceRegistrationError(std::nullopt);
    EXPECT_EQ(errorChanges, 2);

    state->setModel(model);
    state->setModel(model);  // always told
    EXPECT_EQ(modelChanges, 2);
    model.reset();
    EXPECT_EQ(state->model(), nullptr);  // a released model reads as none

    state->modifyAckStandings([](PendingAckStandings& standings) { standings.undismiss("a1"); });
    EXPECT_EQ(standingsChanges, 0);
    state->modifyAckStandings([](PendingAckStandings& standings) { standings.dismiss({"a1"}); });
    EXPECT_EQ(standingsChanges, 1);
}

TEST_F(PushStateBasics, EndingASessionResetsItButKeepsTokenAndPermission) {
    center->currentSettings = {AuthorizationStatus::authorized, NotificationSetting::enabled};
    signIn();
    await(state->refreshSettings());
    acks->put(pending("a1", "t1", AckFailureVerdict::final));
    await(state->drainPendingAcks(false));
    ASSERT_EQ(state->ackFailures().records.size(), 1u);
    state->recordTap(PushTap{PushTap::Alert{"a9", "t1"}});

    const QUuid before = state->signInGeneration();
    state->endSession();
    EXPECT_NE(state->signInGeneration(), before);
    EXPECT_EQ(state->ackStandings().generation, 1);
    EXPECT_TRUE(acks->all().empty());
    EXPECT_TRUE(state->ackFailures().records.empty());
    EXPECT_EQ(state->pendingAlertId(), std::nullopt);
    EXPECT_EQ(center->removedCategories, std::vector<std::string>{"BRISALUNE_ALERT"});
    EXPECT_EQ(state->deviceTokenHex(), "ab01");
    EXPECT_EQ(state->criticalAlerts(), NotificationSetting::enabled);
}

TEST_F(PushStateBasics, ADisabledStateDoesNothing) {
    signIn();
    acks->put(pending("a1"));
    server.on("POST", "/v1/account/devices", Reply::json(R"({"registered":true})"));
    auto disabled = makeState(false);
    disabled->setModel(model);
    disabled->didReceiveDeviceToken(QByteArray::fromHex("ab01"));
    disabled->registerDevice();
    EXPECT_FALSE(await(disabled->attemptRegistration(PushState::RegistrationTrigger::userRequested)));
    EXPECT_TRUE(await(disabled->unregisterDevice(model->client, "acc1")));
    await(disabled->checkEnrolment());
    await(disabled->drainPendingAcks(true));

    const QUuid untouched = disabled->signInGeneration();
    disabled->endSession();
    EXPECT_EQ(disabled->signInGeneration(), untouched);
    EXPECT_TRUE(model->acknowledged.empty());
    EXPECT_EQ(acks->all().size(), 1u);
    EXPECT_TRUE(center->removedCategories.empty());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PushStateBasics, TheAcknowledgeButtonIsLeftOutOnlyForViewersEverywhere) {
    using Roles = std::vector<std::string>;
    EXPECT_TRUE(PushState::mayAcknowledge({}));
    EXPECT_TRUE(PushState::mayAcknowledge(Roles{"viewer", "member"}));
    EXPECT_TRUE(PushState::mayAcknowledge(Roles{"Viewer"}));
    EXPECT_FALSE(PushState::mayAcknowledge(Roles{"viewer", "viewer"}));

    state->installCategories({});
    state->installCategories(Roles{"viewer"});  // replaces the first set
    ASSERT_EQ(center->categorySets.size(), 2u);
    EXPECT_EQ(
        center->categorySets[0],
        (std::vector<NotificationCategory>{{"BRISALUNE_ALERT", {{"BRISALUNE_ACK", "Acknowledge"}}}}));
    EXPECT_EQ(center->categorySets[1], (std::vector<NotificationCategory>{{"BRISALUNE_ALERT", {}}}));
}

TEST_F(PushStateBasics, PermissionIsRetriedOnceAndATokenAskedForOnlyWhenAuthorized) {
    center->currentSettings.authorizationStatus = AuthorizationStatus::authorized;
    center->requestFails = {true, false};
    auto first = state->requestPermission();
    EXPECT_TRUE(state->isRequestingAuthorization());
    EXPECT_TRUE(state->requestPermission().isReady());  // one request at a time
    await(std::move(first));
    EXPECT_EQ(
        center->authorizationRequests,
        (std::vector<AuthorizationOptions>(2, {.badge = true, .sound = true, .alert = true})));
    EXPECT_FALSE(state->requestFailed());
    EXPECT_EQ(state->authorization(), AuthorizationStatus::authorized);
    EXPECT_EQ(host->registrationRequests, 1);

    center->currentSettings.authorizationStatus = AuthorizationStatus::provisional;
    await(state->requestPermission());
    EXPECT_EQ(host->registrationRequests, 1);

    center->requestFails = {true, true};
    const int reads = center->settingsReads;
    await(state->requestPermission());
    EXPECT_TRUE(state->requestFailed());
    EXPECT_FALSE(state->isRequestingAuthorization());
    EXPECT_EQ(center->settingsReads, reads);

    // Settings that cannot be read after the grant end the request as failed, not spinning.
    center->settingsFail = {true};
    await(state->requestPermission());
    EXPECT_TRUE(state->requestFailed());
    EXPECT_FALSE(state->isRequestingAuthorization());
}

TEST_F(PushStateBasics, TheTokenIsLowercaseHexKeptOnEveryArrival) {
    int tokenChanges = 0;
    QObject::connect(state.get(), &PushState::deviceTokenHexChanged, [&] { ++tokenChanges; });
    EXPECT_TRUE(state->didReceiveDeviceToken(QByteArray::fromHex("00AB0F")));
    EXPECT_EQ(state->deviceTokenHex(), "00ab0f");

    state->setRegistrationError("no push service");
    defaults().remove(PushState::deviceTokenKey);
    EXPECT_FALSE(state->didReceiveDeviceToken(QByteArray::fromHex("00ab0f")));
    EXPECT_EQ(tokenChanges, 1);
    EXPECT_EQ(state->registrationError(), std::nullopt);
    EXPECT_EQ(defaults().string(PushState::deviceTokenKey), "00ab0f");
}

TEST_F(PushStateBasics, TheDesktopHostReportsRemotePushUnavailable) {
    const auto onLinux = makeState(true, std::make_shared<DesktopPushHost>());
    center->currentSettings.authorizationStatus = AuthorizationStatus::authorized;
    await(onLinux->refreshNotificationSettings());
    EXPECT_EQ(onLinux->registrationError(), std::string(DesktopPushHost::unavailableText));
    EXPECT_EQ(onLinux->deviceTokenHex(), std::nullopt);
}

TEST_F(PushStateBasics, RefusalTexts) {
    using Notice = DeviceEnrolmentNotice;
    const std::string base = "This phone isn't registered for push notifications.";
    EXPECT_EQ(Notice{Notice::NotEnrolled{}}.refusalText(), base);
    EXPECT_EQ(
        Notice{Notice::Refused{"device limit reached"}}.refusalText(),
        "This phone isn't registered for push notifications: your account has reached its 20-device limit.");
    EXPECT_EQ(Notice{Notice::Refused{" \n\u2028"}}.refusalText(), base);
    EXPECT_EQ(Notice{Notice::Refused{"device limit reached "}}.refusalText(), base + " device limit reached ");
    EXPECT_EQ(Notice{Notice::Refused{"Device limit reached"}}.refusalText(), base + " Device limit reached");
}

}  // namespace
}  // namespace brisalune
