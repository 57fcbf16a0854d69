#include <brisalune/client/routing/rule_endpoints.hpp>
#include <brisalune/platform/json.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

const std::string storedRule = R"({"name":"cpu","created_at":10,"updated_at":20})";

class RuleEndpoints : public testkit::EndpointTest {};

TEST_F(RuleEndpoints, ReadsAndWritesRulesOneEscapedSegmentEach) {
    server.on("GET", "/v1/projects/a%2Fb/rules", Reply::json(R"({"rules":[]})"));
    EXPECT_TRUE(listRules(client(), "a/b").empty());
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on("GET", "/v1/projects/p/rules/%2E%2E", Reply::json(storedRule));
    server.on("GET", "/v1/projects/p/rules/a.b%20c%2Fd", Reply::json(storedRule));
    for (std::string_view name : {"..", "a.b c/d"}) EXPECT_EQ(rule(client(), "p", name).createdAt, 10);

    server.on("POST", "/v1/projects/p/rules", Reply::json(storedRule, 201));
    auto created = createRule(client(), "p", Rule{.name = "cpu"});
    EXPECT_EQ(created.updatedAt, 20);
    auto sent = json::parse(last().body);
    EXPECT_EQ(sent.get<json::Object>()->at("name"), json::Value("cpu"));
    EXPECT_FALSE(sent.get<json::Object>()->contains("trigger"));

    server.on("PUT", "/v1/projects/p/rules/old%20name", Reply::json(storedRule));
    EXPECT_EQ(updateRule(client(), "p", "old name", Rule{.name = "cpu"}).id(), "cpu");
}

TEST_F(RuleEndpoints, AnswersThatDoNotDecodeAndRefusals) {
    server.on("GET", "/v1/projects/p/rules", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { listRules(client(), "p"); }).is(Case::invalidResponse));
    server.on("GET", "/v1/projects/p/rules/r", Reply::json(R"({"conditions":[{"key":"k","value":1}]})"));
    auto error = errorOf([&] { rule(client(), "p", "r"); });
    EXPECT_TRUE(error.is(Case::invalidResponse));
    EXPECT_NE(error.message().find("conditions[0].op"), std::string::npos);

    server.on("DELETE", "/v1/projects/p/rules/r", Reply{204, {}, ""});
    EXPECT_TRUE(errorOf([&] { deleteRule(client(), "p", "r"); }).is(Case::invalidResponse));

    server.on("DELETE", "/v1/projects/p/rules/r", Reply::json(R"({"error":"in use","rules":["a","b"]})", 409));
    error = errorOf([&] { deleteRule(client(), "p", "r"); });
    EXPECT_TRUE(error.is(Case::referenced));
    EXPECT_EQ(error.texts(), (std::vector<std::string>{"a", "b"}));
    server.on("DELETE", "/v1/projects/p/rules/r", Reply::json(R"({"error":"busy"})", 409));
    EXPECT_TRUE(errorOf([&] { deleteRule(client(), "p", "r"); }).is(Case::conflict));

    server.clearRequests();
    EXPECT_EQ(errorOf([&] { listRules(client("session", std::nullopt), "p"); }).message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(RuleEndpoints, MutesSendOnlyTheInstantAndUnmutingTakesNotFoundAsDone) {
    server.on(
        "PUT",
        "/v1/projects/p/rules/a%2Fb%20c/mute",
        Reply::json(R"({"rule":"a/b c","until":-5,"created_at":1,"created_by":null})"));
    EXPECT_EQ(muteRule(client(), "p", "a/b c", -5).until, -5);
    EXPECT_EQ(last().body, R"({"until":-5})");

    server.on("DELETE", "/v1/projects/p/rules/%2E%2E/mute", Reply::json(R"({"error":"no mute"})", 404));
    unmuteRule(client(), "p", "..");
    server.on("DELETE", "/v1/projects/p/rules/%2E%2E/mute", Reply::json(R"({"error":"admin role required"})", 403));
    EXPECT_TRUE(errorOf([&] { unmuteRule(client(), "p", ".."); }).is(Case::forbidden));
    server.on("DELETE", "/v1/projects/p/rules/%2E%2E/mute", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { unmuteRule(client(), "p", ".."); }).is(Case::invalidResponse));

    server.on("GET", "/v1/projects/p/mutes", Reply::json(R"({"mutes":[{"rule":"r","until":"soon","created_at":1}]})"));
    EXPECT_TRUE(errorOf([&] { listMutes(client(), "p"); }).is(Case::invalidResponse));
}

}  // namespace
}  // namespace brisalune
