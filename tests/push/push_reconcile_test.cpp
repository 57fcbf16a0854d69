#include <push/push_state_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using standin::Reply;
using Notice = DeviceEnrolmentNotice;

constexpr const char* devicesPath = "/v1/account/devices";

constexpr const char* listedInOtherCase =
    R"({"devices":[{"token":"AB01","platform":"macos","created_at":"2024-05-01T10:00:00Z",)"
    R"("last_seen_at":"2024-05-02T10:00:00Z"}]})";

// The ledger already holds this device, so a new token arrival sends nothing and the roster is
// what tells.
class PushReconcile : public testkit::PushStateTest {
protected:
    PushReconcile() {
        signIn("acc1", nullptr);
        registry->recordRegistration("ab01", "acc1", false);
        server.on("POST", devicesPath, Reply::json(R"({"registered":true})"));
        server.on("GET", devicesPath, Reply::json(listedInOtherCase));
    }

    void tokenArrives() {
        host->deliverToken(QByteArray::fromHex("ab01"));  // starts the registration
        await(state->awaitRegistrationSettled());
    }
};

TEST_F(PushReconcile, TheRosterIsReadOncePerSessionAndOnlyWithoutConfirmation) {
    tokenArrives();
    EXPECT_EQ(requests("GET").size(), 1u);
    EXPECT_TRUE(requests("POST").empty());  // listed (in other letter case): nothing to send

    state->registerDevice();
    await(state->awaitRegistrationSettled());
    EXPECT_EQ(requests("GET").size(), 1u);

    state->endSession();
    state->registerDevice();
    await(state->awaitRegistrationSettled());
    EXPECT_EQ(requests("GET").size(), 2u);

    state->endSession();
    registry->clearLedger();
    state->registerDevice();  // sent and confirmed: no roster read
    await(state->awaitRegistrationSettled());
    EXPECT_EQ(requests("POST").size(), 1u);
    EXPECT_EQ(requests("GET").size(), 2u);
}

TEST_F(PushReconcile, AMissingTokenIsRegisteredAgainByForce) {
    server.on("GET", devicesPath, Reply::json(R"({"devices":[]})"));
    server.on("POST", devicesPath, Reply::json(R"({"registered":false})"));
    tokenArrives();
    EXPECT_EQ(requests("POST").size(), 1u);
    EXPECT_EQ(state->deviceEnrolmentNotice(), Notice{Notice::NotEnrolled{}});

    // A refusal's own notice is kept.
    state->endSession();
    server.on("POST", devicesPath, Reply::json(R"({"error":"device limit reached"})", 422));
    state->registerDevice();
    await(state->awaitRegistrationSettled());
    EXPECT_EQ(state->deviceEnrolmentNotice(), Notice{Notice::Refused{"device limit reached"}});

    // An unregistered account is left alone, and its notice goes.
    registry->markUnregistered("acc1");
    await(state->checkEnrolment());
    EXPECT_EQ(state->deviceEnrolmentNotice(), std::nullopt);
    EXPECT_EQ(requests("GET").size(), 2u);
}

TEST_F(PushReconcile, AFailedRosterReadIsSilentAndNotRepeated) {
    server.on("GET", devicesPath, Reply::json(R"({"error":"down"})", 503));
    tokenArrives();
    state->registerDevice();
    await(state->awaitRegistrationSettled());
    EXPECT_EQ(requests("GET").size(), 1u);
    EXPECT_TRUE(requests("POST").empty());
    EXPECT_EQ(state->deviceEnrolmentNotice(), std::nullopt);
}

TEST_F(PushReconcile, ASignOutDuringTheRosterReadChangesNothing) {
    server.on("GET", devicesPath, held(Reply::json(R"({"devices":[]})")));
    host->deliverToken(QByteArray::fromHex("ab01"));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !requests("GET").empty(); }));
    auto joined = state->checkEnrolment();  // joins the running check
    state->endSession();
    server.release();
    await(std::move(joined));
    await(state->awaitRegistrationSettled());
    EXPECT_EQ(requests("GET").size(), 1u);
    EXPECT_TRUE(requests("POST").empty());
    EXPECT_EQ(state->deviceEnrolmentNotice(), std::nullopt);
}

}  // namespace
}  // namespace brisalune
