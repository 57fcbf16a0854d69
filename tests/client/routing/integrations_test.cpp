#include <brisalune/client/routing/action_endpoints.hpp>
#include <brisalune/client/routing/actions.hpp>
#include <brisalune/client/routing/integration_endpoints.hpp>
#include <brisalune/client/routing/integrations.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/written.hpp>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

using testkit::written;

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

TEST(IntegrationRecords, EventNamesAreExactUnknownOnesPassAndDraftsSendOnlyWhatIsSet) {
    EXPECT_EQ(DeliveryEvent::named("alert.opened"), DeliveryEvent::opened);
    EXPECT_EQ(DeliveryEvent::named("alert.Opened"), std::nullopt);
    auto delivery = json::decode<DeliveryInfo>(
        R"({"id":"d","event":"alert.snoozed","status":"queued","attempts":0,"created_at":1})");
    EXPECT_EQ(delivery.event, "alert.snoozed");
    EXPECT_EQ(json::decode<DeliveryInfo>(json::encode(delivery)), delivery);

    // Drafts send absent keys as nothing, events always.
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
    EXPECT_FALSE(written(draft).get<json::Object>()->contains("headers"));
    draft.headers = std::map<std::string, SecretText>{{"Authorization", "Bearer xyz"}};
    draft.body = "";
    EXPECT_EQ(written(draft).get<json::Object>()->at("headers"), json::parse(R"({"Authorization":"Bearer xyz"})"));
    EXPECT_EQ(written(draft).get<json::Object>()->at("body"), json::Value(""));
}

// Every text a caller could show or log of the error.
std::string allTexts(const BrisaluneError& error) {
    std::string out = std::string(error.what()) + "|" + error.message();
    for (const auto& field : error.fieldErrors()) out += "|" + field.field + "|" + field.reason;
    for (const auto& text : error.texts()) out += "|" + text;
    return out;
}

class IntegrationEndpoints : public testkit::EndpointTest {};

TEST_F(IntegrationEndpoints, PathsBodiesAndQueries) {
    server.on("GET", "/v1/projects/%2E%2E/integrations", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { listIntegrations(client(), ".."); }).is(Case::invalidResponse));

    server.on("GET", "/v1/projects/a.b/integrations/i%2F1%20x", Reply::json(std::string(integrationJson)));
    EXPECT_EQ(getIntegration(client(), "a.b", "i/1 x").id, "i1");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on(
        "POST", "/v1/projects/p/integrations", Reply::json(R"({"id":"i2","type":"webhook","secret":"whsec"})", 201));
    auto created = createIntegration(client(), "p", {.type = "webhook", .url = "https://example.test/hook"});
    EXPECT_EQ(created.secret, "whsec");
    EXPECT_EQ(last().body, R"({"type":"webhook","url":"https://example.test/hook","events":[]})");

    server.on("PUT", "/v1/projects/p/integrations/i2", Reply::json(R"({"updated":false})"));
    updateIntegration(client(), "p", "i2", {.type = "webhook"});

    server.on("POST", "/v1/projects/p/integrations/i2/disable", Reply::json(R"({"enabled":false})"));
    disableIntegration(client(), "p", "i2");
    EXPECT_EQ(last().body, "");
    server.on("POST", "/v1/projects/p/integrations/i2/enable", Reply::json(R"({"enabled":null})"));
    EXPECT_TRUE(errorOf([&] { enableIntegration(client(), "p", "i2"); }).is(Case::invalidResponse));

    server.on("GET", "/v1/projects/p/integrations/i2/deliveries", Reply::json(R"({"deliveries":[]})"));
    EXPECT_TRUE(integrationDeliveries(client(), "p", "i2", -5).empty());
    EXPECT_EQ(last().query, "limit=-5");

    server.on("DELETE", "/v1/projects/p/integrations/i2", Reply{204, {}, ""});
    EXPECT_TRUE(errorOf([&] { deleteIntegration(client(), "p", "i2"); }).is(Case::invalidResponse));
    server.on("DELETE", "/v1/projects/p/integrations/i2", Reply::json(R"({"error":"no such integration"})", 404));
    EXPECT_EQ(errorOf([&] { deleteIntegration(client(), "p", "i2"); }).message(), "no such integration");
}

TEST_F(IntegrationEndpoints, ATestDeliveryThatFailedDownstreamIsAResult) {
    const std::string path = "/v1/projects/p/integrations/i/test";
    server.on("POST", path, Reply::json(R"({"ok":true})"));
    EXPECT_TRUE(testIntegration(client(), "p", "i").succeeded);

    server.on("POST", path, Reply::json(R"({"ok":false,"error":"connection refused"})", 502));
    EXPECT_EQ(
        testIntegration(client(), "p", "i"),
        (IntegrationTestResult{.succeeded = false, .error = "connection refused"}));

    server.on("POST", path, Reply{502, {{"Content-Type", "text/html"}}, "<html>Bad Gateway</html>"});
    EXPECT_TRUE(errorOf([&] { testIntegration(client(), "p", "i"); }).is(Case::invalidResponse));
    server.on("POST", path, Reply::json(R"({"ok":false,"error":"boom"})", 500));
    EXPECT_TRUE(errorOf([&] { testIntegration(client(), "p", "i"); }).is(Case::server));
}

TEST_F(IntegrationEndpoints, SecretsOfADraftNeverReachTheErrorTexts) {
    IntegrationDraft draft{
        .type = "chat",
        .secret = "sig-SECRET-1",
        .token = "tok/\"SECRET-2\"",
        .webhookUrl = "https://chat.example/hooks/SECRET-3"};
    server.on(
        "POST",
        "/v1/projects/p/integrations",
        Reply::json(
            R"({"error":"bad token tok/\"SECRET-2\"","fields":[
                  {"field":"secret","message":"sig-SECRET-1 is too short"},
                  {"field":"webhook_url","message":"https:\/\/chat.example\/hooks\/SECRET-3 unreachable"}]})",
            422));
    auto error = errorOf([&] { createIntegration(client(), "p", draft); });
    EXPECT_TRUE(error.is(Case::validation));
    EXPECT_NE(last().body.find("sig-SECRET-1"), std::string::npos);  // sent, of course
    EXPECT_EQ(allTexts(error).find("SECRET"), std::string::npos) << allTexts(error);
    EXPECT_EQ(error.fieldErrors().at(0).reason, "<redacted> is too short");
    EXPECT_EQ(error.fieldErrors().at(1).field, "webhook_url");

    server.on("PUT", "/v1/projects/p/integrations/i", Reply::json(R"({"error":"tok/\"SECRET-2\" revoked"})", 403));
    error = errorOf([&] { updateIntegration(client(), "p", "i", draft); });
    EXPECT_TRUE(error.is(Case::forbidden));
    EXPECT_EQ(error.message(), "<redacted> revoked");

    // A short secret is cut only where it stands on its own: never out of a key or a longer word.
    const IntegrationDraft shortSecret{.type = "webhook", .secret = "e"};
    server.on("POST", "/v1/projects/p/integrations", Reply::json(R"({"error":"webhook rejected: e"})", 403));
    error = errorOf([&] { createIntegration(client(), "p", shortSecret); });
    EXPECT_EQ(error.message(), "webhook rejected: <redacted>");
}

// Whatever character stands beside a secret in the server's text, of any script.
TEST_F(IntegrationEndpoints, SecretsGoWhateverStandsBesideThem) {
    const IntegrationDraft draft{
        .type = "chat",
        .secret = "sig-SECRET-1",
        .token = "SECRET-tok",
        .webhookUrl = "https://chat.example/hooks/SECRET-3"};
    const std::pair<std::string_view, std::string_view> besides[] = {
        {"\u201c", "\u201d"},  // curly quotes
        {"\u00ab", "\u00bb"},  // guillemets
        {"\u00a0", "\u00a0"},  // no-break spaces
        {"\u2014", "\u2014"},  // em dashes
        {"\u30c8\u30fc\u30af\u30f3", "\u306f\u7121\u52b9\u3067\u3059"},  // no spaces at all
        {"x", "y"},              // inside a longer word
    };
    for (const auto& [before, after] : besides) {
        for (const auto* secret : draft.secrets()) {
            const std::string quoted = json::write(json::Value(std::string(secret->reveal())), json::Style::compact);
            const std::string inner = quoted.substr(1, quoted.size() - 2);
            server.on(
                "POST",
                "/v1/projects/p/integrations",
                Reply::json("{\"error\":\"" + std::string(before) + inner + std::string(after) + " refused\"}", 422));
            const auto error = errorOf([&] { createIntegration(client(), "p", draft); });
            EXPECT_EQ(allTexts(error).find("SECRET"), std::string::npos) << before << " " << allTexts(error);
        }
    }

    // A short secret goes where no letter or digit touches it, and stays inside a word.
    const IntegrationDraft shortSecret{.type = "webhook", .secret = "e"};
    server.on("POST", "/v1/projects/p/integrations", Reply::json(R"({"error":"\u00abe\u00bb rejected; \u00e9e\u00e9"})", 403));
    EXPECT_EQ(errorOf([&] { createIntegration(client(), "p", shortSecret); }).message(), "\u00ab<redacted>\u00bb rejected; \u00e9e\u00e9");
}

class ActionEndpoints : public testkit::EndpointTest {};

TEST_F(ActionEndpoints, PathsBodiesAndAnswers) {
    server.on("GET", "/v1/projects/p/actions", Reply::json(R"({"actions":[]})"));
    EXPECT_TRUE(listActions(client(), "p").empty());
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    server.on("GET", "/v1/projects/p/actions/%2E%2E", Reply::json(R"({"id":"..","project":"p","name":"n",
        "method":"GET","url":"u","timeout_seconds":5,"event_filter":"*","enabled":true,"created_at":1})"));
    EXPECT_EQ(getAction(client(), "p", "..").timeoutSeconds, 5);

    server.on("POST", "/v1/projects/p/actions", Reply::json(R"({"id":"a1"})", 201));
    EXPECT_EQ(createAction(client(), "p", {.name = "n", .method = "POST", .url = "u"}), "a1");
    EXPECT_EQ(last().body, R"({"name":"n","method":"POST","url":"u","timeout_seconds":0,"enabled":false,"events":[]})");
    server.on("POST", "/v1/projects/p/actions", Reply::json(R"({"created":true})", 201));
    EXPECT_TRUE(errorOf([&] { createAction(client(), "p", {}); }).is(Case::invalidResponse));

    server.on("PUT", "/v1/projects/p/actions/a%2F1", Reply::json(R"({"updated":false})"));
    updateAction(client(), "p", "a/1", {});

    server.on("DELETE", "/v1/projects/p/actions/a1", Reply{204, {}, ""});
    EXPECT_TRUE(errorOf([&] { deleteAction(client(), "p", "a1"); }).is(Case::invalidResponse));

    server.on("GET", "/v1/projects/p/actions/a1/executions", Reply::json(R"({"executions":[]})"));
    EXPECT_TRUE(actionExecutions(client(), "p", "a1", 0).empty());
    EXPECT_EQ(last().query, "limit=0");
}

TEST_F(ActionEndpoints, TestsAndRunsReturnFailuresAsResultsButNotGatewayErrors) {
    server.on("POST", "/v1/projects/p/actions/a1/test", Reply::json(R"({"ok":false,"status_code":500})"));
    EXPECT_EQ(testAction(client(), "p", "a1"), (ActionTestResult{.succeeded = false, .statusCode = 500}));
    EXPECT_EQ(last().body, "");
    server.on("POST", "/v1/projects/p/actions/a1/test", Reply::json(R"({"ok":false,"status_code":500})", 502));
    EXPECT_TRUE(errorOf([&] { testAction(client(), "p", "a1"); }).is(Case::server));

    server.on("POST", "/v1/projects/p/actions/a1/run", Reply::json(R"({"ok":true,"status_code":200})"));
    EXPECT_TRUE(runAction(client(), "p", "a1", "al/1").succeeded);
    EXPECT_EQ(last().body, R"({"alert_id":"al/1"})");
}

TEST_F(ActionEndpoints, HeaderValuesAndBodiesNeverReachTheErrorTexts) {
    ActionDraft draft{
        .name = "restart",
        .method = "POST",
        .url = "https://ops.example/restart",
        .headers = std::map<std::string, SecretText>{{"Authorization", "Bearer ops-SECRET"}},
        .body = R"({"key":"body-SECRET"})"};
    server.on(
        "POST",
        "/v1/projects/p/actions",
        Reply::json(
            R"({"error":"header Authorization: Bearer ops-SECRET rejected; body {\"key\":\"body-SECRET\"}"})", 400));
    auto error = errorOf([&] { createAction(client(), "p", draft); });
    EXPECT_TRUE(error.is(Case::validation));
    EXPECT_EQ(std::string(error.what()).find("SECRET"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("header Authorization: <redacted> rejected"), std::string::npos);

    server.on("PUT", "/v1/projects/p/actions/a1", Reply{500, {}, "Bearer ops-SECRET"});  // not JSON: no text at all
    error = errorOf([&] { updateAction(client(), "p", "a1", draft); });
    EXPECT_TRUE(error.is(Case::server));
    EXPECT_EQ(error.message(), "");
}

}  // namespace
}  // namespace brisalune
