#include <brisalune/client/routing/action_endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

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
