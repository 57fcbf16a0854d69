#include <brisalune/client/routing/actions.hpp>
#include <brisalune/client/routing/integrations.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace brisalune {
namespace {

template <class T>
json::Value written(const T& value) {
    return json::parse(json::encode(value));
}

constexpr std::string_view integrationJson =
    R"({"id":"i1","project":"p","type":"webhook","enabled":false,"consecutive_failures":0,"created_at":5,"devices":3})";

Integration disabled(std::int64_t failures, std::optional<std::string> lastError) {
    auto integration = json::decode<Integration>(integrationJson);
    integration.consecutiveFailures = failures;
    integration.lastError = std::move(lastError);
    return integration;
}

TEST(IntegrationRecords, OptionalKeysStayAbsentAndAreLeftOut) {
    auto integration = json::decode<Integration>(integrationJson);
    EXPECT_EQ(integration.devices, std::nullopt);  // the count is read from "device_count" only
    EXPECT_EQ(integration.pointerReview, std::nullopt);
    EXPECT_EQ(
        written(integration),
        json::parse(
            R"({"id":"i1","project":"p","type":"webhook","enabled":false,"consecutive_failures":0,"created_at":5})"));
    integration.devices = 2;
    integration.pointerReview = false;
    EXPECT_EQ(json::decode<Integration>(json::encode(integration)), integration);
    EXPECT_THROW(
        json::decode<Integration>(R"({"id":"i1","project":"p","type":"webhook","enabled":false})"), json::DecodeError);
}

TEST(IntegrationRecords, DisabledCause) {
    EXPECT_EQ(disabled(0, "timeout").disabledCause(), IntegrationDisabledCause::silenced);
    EXPECT_EQ(disabled(2, "timeout").disabledCause(), IntegrationDisabledCause::circuitOpen);
    EXPECT_EQ(disabled(2, " ").disabledCause(), IntegrationDisabledCause::circuitOpen);
    EXPECT_EQ(disabled(2, "").disabledCause(), IntegrationDisabledCause::silenced);
    EXPECT_EQ(disabled(2, std::nullopt).disabledCause(), IntegrationDisabledCause::silenced);
    auto enabled = disabled(2, "timeout");
    enabled.enabled = true;
    EXPECT_EQ(enabled.disabledCause(), std::nullopt);
}

TEST(IntegrationRecords, RelayIsAnExactWebhookNameWhileTypedNamesAreForgiving) {
    auto relay = disabled(0, std::nullopt);
    relay.name = std::string(Integration::relayName);
    EXPECT_TRUE(relay.isRelay());
    relay.type = "Webhook";
    EXPECT_FALSE(relay.isRelay());
    relay.type = "webhook";
    relay.name = std::string(Integration::relayName) + " ";
    EXPECT_FALSE(relay.isRelay());

    EXPECT_TRUE(Integration::isRelayName(" \t brisalune RELAY\n"));
    EXPECT_TRUE(Integration::isRelayName("\u00a0Brisalune Relay\u2028"));
    EXPECT_FALSE(Integration::isRelayName("Brisalune  Relay"));
    EXPECT_FALSE(Integration::isRelayName(""));
}

TEST(IntegrationRecords, EventNamesAreExactAndUnknownNamesPassThrough) {
    EXPECT_EQ(DeliveryEvent::named("alert.opened"), DeliveryEvent::opened);
    EXPECT_EQ(DeliveryEvent::named("alert.Opened"), std::nullopt);
    EXPECT_EQ(DeliveryEvent::all.size(), 7u);
    auto delivery = json::decode<DeliveryInfo>(
        R"({"id":"d","event":"alert.snoozed","status":"queued","attempts":0,"created_at":1})");
    EXPECT_EQ(delivery.event, "alert.snoozed");
    EXPECT_EQ(json::decode<DeliveryInfo>(json::encode(delivery)), delivery);
}

TEST(IntegrationRecords, DraftsSendAbsentAsNothingAndEventsAlways) {
    EXPECT_EQ(json::encode(IntegrationDraft{.type = "webhook"}), R"({"type":"webhook","events":[]})");
    EXPECT_EQ(
        written(IntegrationDraft{.type = "chat", .name = "", .token = "t0k", .events = {"alert.acked"}}),
        json::parse(R"({"type":"chat","name":"","token":"t0k","events":["alert.acked"]})"));

    EXPECT_EQ(json::decode<CreatedIntegration>(R"({"id":"i","type":"webhook"})").secret, std::nullopt);
    EXPECT_EQ(json::decode<CreatedIntegration>(R"({"id":"i","type":"webhook","secret":"s3"})").secret, "s3");
    EXPECT_THROW(json::decode<CreatedIntegration>(R"({"id":"i"})"), json::DecodeError);
    EXPECT_EQ(json::decode<IntegrationTestResult>(R"({"ok":false,"error":"refused"})").error, "refused");
}

TEST(IntegrationRecords, SecretsPrintAsAPlaceholder) {
    std::ostringstream out;
    out << SecretText("hunter2");
    EXPECT_EQ(out.str(), "<redacted>");
    EXPECT_EQ(SecretText("hunter2").reveal(), "hunter2");
}

TEST(ActionRecords, DefaultsOfActionsAndAbsenceInExecutions) {
    auto action = json::decode<RunbookAction>(R"({"id":"a","project":"p","name":"n","method":"POST","url":"u",
        "header_keys":null,"timeout_seconds":5,"event_filter":"*","enabled":true,"created_at":1})");
    EXPECT_TRUE(action.headerKeys.empty());
    EXPECT_FALSE(action.hasBody);
    auto tree = written(action);
    const auto& object = *tree.get<json::Object>();
    EXPECT_EQ(object.at("header_keys"), json::Value(json::Array{}));
    EXPECT_EQ(object.at("has_body"), json::Value(false));
    EXPECT_EQ(object.at("pointer_review"), json::Value(false));
    EXPECT_THROW(
        json::decode<RunbookAction>(R"({"id":"a","project":"p","name":"n","method":"POST","url":"u",
        "timeout_seconds":null,"event_filter":"*","enabled":true,"created_at":1})"),
        json::DecodeError);

    auto pending = json::decode<ActionExecution>(
        R"({"id":"e","action_id":"a","alert_id":"al","event":"alert.opened","status":"queued","attempts":0,"created_at":2})");
    EXPECT_EQ(pending.executedAt, std::nullopt);
    EXPECT_EQ(pending.statusCode, std::nullopt);
    EXPECT_EQ(json::decode<ActionExecution>(json::encode(pending)), pending);
    EXPECT_THROW(
        json::decode<ActionExecution>(R"({"id":"e","action_id":"a","event":"x","status":"s","attempts":0,
        "created_at":2})"),
        json::DecodeError);

    EXPECT_EQ(
        json::decode<ActionTestResult>(R"({"ok":false,"status_code":500})"),
        (ActionTestResult{.succeeded = false, .statusCode = 500}));
    EXPECT_THROW(json::decode<ActionTestResult>(R"({"ok":true})"), json::DecodeError);
}

TEST(ActionRecords, DraftsLeaveOutAbsentHeadersAndBody) {
    ActionDraft draft{.name = "n", .method = "POST", .url = "u", .timeoutSeconds = 5};
    EXPECT_EQ(
        written(draft),
        json::parse(R"({"name":"n","method":"POST","url":"u","timeout_seconds":5,"enabled":false,"events":[]})"));
    draft.headers.emplace();
    draft.body = "";
    auto tree = written(draft);
    const auto& object = *tree.get<json::Object>();
    EXPECT_EQ(object.at("headers"), json::Value(json::Object{}));
    EXPECT_EQ(object.at("body"), json::Value(""));
    draft.headers->emplace("Authorization", "Bearer xyz");
    EXPECT_EQ(written(draft).get<json::Object>()->at("headers"), json::parse(R"({"Authorization":"Bearer xyz"})"));
}

}  // namespace
}  // namespace brisalune
