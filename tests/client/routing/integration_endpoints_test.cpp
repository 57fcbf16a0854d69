#include <brisalune/client/routing/integration_endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

const std::string integrationJson =
    R"({"id":"i/1","project":"p","type":"webhook","enabled":true,"consecutive_failures":0,"created_at":1})";

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

    server.on("GET", "/v1/projects/a.b/integrations/i%2F1%20x", Reply::json(integrationJson));
    EXPECT_EQ(getIntegration(client(), "a.b", "i/1 x").id, "i/1");
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
}

}  // namespace
}  // namespace brisalune
