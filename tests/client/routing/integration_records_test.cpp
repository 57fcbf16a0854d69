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
    EXPECT_EQ(disabled(2, " ").disabledCause(), IntegrationDisabledCause::circuitOpen);
    EXPECT_EQ(disabled(2, "").disabledCause(), IntegrationDisabledCause::silenced);
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

    EXPECT_TRUE(Integration::isRelayName("\u00a0brisalune RELAY\u2028"));
    EXPECT_FALSE(Integration::isRelayName("Brisalune  Relay"));
}

TEST(IntegrationRecords, EventNamesAreExactAndUnknownNamesPassThrough) {
    EXPECT_EQ(DeliveryEvent::named("alert.opened"), DeliveryEvent::opened);
    EXPECT_EQ(DeliveryEvent::named("alert.Opened"), std::nullopt);
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

    EXPECT_THROW(json::decode<CreatedIntegration>(R"({"id":"i"})"), json::DecodeError);
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
    EXPECT_EQ(written(action).get<json::Object>()->at("has_body"), json::Value(false));
    EXPECT_THROW(
        json::decode<RunbookAction>(R"({"id":"a","project":"p","name":"n","method":"POST","url":"u",
        "timeout_seconds":null,"event_filter":"*","enabled":true,"created_at":1})"),
        json::DecodeError);

    auto pending = json::decode<ActionExecution>(
        R"({"id":"e","action_id":"a","alert_id":"al","event":"alert.opened","status":"queued","attempts":0,"created_at":2})");
    EXPECT_EQ(pending.statusCode, std::nullopt);
    EXPECT_EQ(json::decode<ActionExecution>(json::encode(pending)), pending);
}

TEST(ActionRecords, DraftsLeaveOutAbsentHeadersAndBody) {
    ActionDraft draft{.name = "n", .method = "POST", .url = "u", .timeoutSeconds = 5};
    EXPECT_EQ(
        written(draft),
        json::parse(R"({"name":"n","method":"POST","url":"u","timeout_seconds":5,"enabled":false,"events":[]})"));
    draft.headers = std::map<std::string, SecretText>{{"Authorization", "Bearer xyz"}};
    draft.body = "";
    EXPECT_EQ(written(draft).get<json::Object>()->at("headers"), json::parse(R"({"Authorization":"Bearer xyz"})"));
    EXPECT_EQ(written(draft).get<json::Object>()->at("body"), json::Value(""));
}

}  // namespace
}  // namespace brisalune
