#include <brisalune/client/monitoring/check_endpoints.hpp>
#include <brisalune/client/monitoring/check_status.hpp>
#include <brisalune/client/monitoring/checks.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using Texts = std::vector<std::string>;
using standin::Reply;

const std::string storedCheck = R"({"name":"api","addon":"http","interval_seconds":30,"created_at":7})";

class CheckEndpoints : public testkit::EndpointTest {
protected:
    // The error the checks mapping makes of one answer to a check write.
    BrisaluneError writeError(int status, std::string body) {
        server.on("POST", "/v1/projects/web/checks", Reply::json(std::move(body), status));
        return errorOf([&] { createCheck(client(), "web", {}); });
    }
};

TEST_F(CheckEndpoints, ReadsOnTheDataPlaneWithEscapedSegments) {
    server.on("GET", "/v1/regions", Reply::json(R"({"regions":["eu","us"]})"));
    EXPECT_EQ(checkRegions(client()), (Texts{"eu", "us"}));
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on("GET", "/v1/projects/%2E%2E/checks/a%2Fb", Reply::json(storedCheck));
    EXPECT_EQ(getCheck(client(), "..", "a/b").createdAt, 7);
    server.on("GET", "/v1/projects/web/checks/api/status", Reply::json(R"({"check":"api"})"));
    EXPECT_EQ(checkStatus(client(), "web", "api").check, "api");

    // One bad check fails the list; nothing partial comes back.
    server.on(
        "GET",
        "/v1/projects/web/checks",
        Reply::json(R"({"checks":[)" + storedCheck + R"(,{"name":"b","interval_seconds":30}]})"));
    EXPECT_TRUE(errorOf([&] { listChecks(client(), "web"); }).is(Case::invalidResponse));
    EXPECT_TRUE(errorOf([&] { listChecks(client(std::nullopt, std::nullopt), "web"); }).is(Case::unauthorized));
}

TEST_F(CheckEndpoints, WritesSendTheSpecAndGatherWarnings) {
    server.on("POST", "/v1/projects/web/checks", Reply::json(storedCheck));
    const auto spec = json::decode<MonitorCheckSpec>(R"({"name":"m","addon":"http","interval_seconds":30})");
    EXPECT_TRUE(createCheck(client(), "web", spec).warnings.empty());
    EXPECT_EQ(last().body, R"({"name":"m","addon":"http","with":{},"interval_seconds":30})");

    server.on(
        "PUT",
        "/v1/projects/web/checks/n",
        Reply::json(R"({"name":"n","addon":"http","interval_seconds":30,"detached_rule":"r1",)"
                    R"("warnings":["slow interval"],"secret_warnings":[{"field":"env.TOKEN","kind":"api_key"},)"
                    R"({"field":"with.password"},"junk"]})"));
    auto written = updateCheck(client(), "web", "n", spec);
    EXPECT_EQ(written.detachedRule, "r1");
    EXPECT_EQ(
        written.warnings,
        (Texts{
            "slow interval",
            "env.TOKEN looks like a api key stored in the clear. Anyone who can read "
            "checks can see it; keep it in a sealed secret instead."}));

    // Secret warnings are advisory; the service's own warnings and the stored check are not.
    server.on(
        "POST",
        "/v1/projects/web/checks",
        Reply::json(R"({"name":"a","addon":"h","interval_seconds":1,"secret_warnings":"oops"})"));
    EXPECT_TRUE(createCheck(client(), "web", spec).warnings.empty());
    server.on(
        "POST",
        "/v1/projects/web/checks",
        Reply::json(R"({"name":"a","addon":"h","interval_seconds":1,"warnings":"oops"})"));
    EXPECT_TRUE(errorOf([&] { createCheck(client(), "web", spec); }).is(Case::invalidResponse));

    server.on("DELETE", "/v1/projects/web/checks/api", Reply::json(R"({"deleted":true,"detached_rule":"r"})"));
    EXPECT_EQ(deleteCheck(client(), "web", "api"), (MonitorCheckDeleteResult{true, "r"}));
}

TEST_F(CheckEndpoints, QuotaAndRefusalBodiesElseTheClientMapping) {
    auto quota = writeError(429, R"({"error":"checks_per_project: You have used all 20 checks: upgrade"})");
    ASSERT_TRUE(quota.is(Case::quota));
    EXPECT_EQ(quota.limit(), "checks_per_project");
    EXPECT_EQ(quota.message(), "You have used all 20 checks: upgrade");

    for (const char* body :
         {R"({"error":"too many requests: slow down"})",
          R"({"error":": empty limit"})",
          R"({"error":"limit:no blank"})",
          "not json"}) {
        EXPECT_TRUE(writeError(429, body).is(Case::rateLimited)) << body;
    }

    auto refused = writeError(422, R"({"errors":["interval too short","unknown addon"]})");
    ASSERT_TRUE(refused.is(Case::refused));
    EXPECT_EQ(refused.texts(), (Texts{"interval too short", "unknown addon"}));
    EXPECT_TRUE(writeError(422, R"({"errors":[]})").is(Case::validation));
    EXPECT_TRUE(writeError(404, R"({"errors":["x"]})").is(Case::notFound));
}

TEST(CheckRecords, SpecDefaultsAndWhatItWrites) {
    const auto bare = json::decode<MonitorCheckSpec>(
        R"({"name":"a","addon":"b","interval_seconds":60,"with":null,"enabled":null,"sources":null,"env":null})");
    EXPECT_TRUE(bare.isEnabled());
    EXPECT_EQ(bare.downTitle(), "a is down");
    EXPECT_EQ(json::encode(bare), R"({"name":"a","addon":"b","with":{},"interval_seconds":60})");
    EXPECT_THROW(
        json::decode<MonitorCheckSpec>(R"({"name":"a","addon":"b","interval_seconds":60,"with":[]})"),
        json::DecodeError);

    MonitorCheckSpec full = bare;
    full.enabled = false;
    full.env = std::map<std::string, std::string>{};
    full.with = {{"url", JSONValue("https://example.com")}, {"retries", JSONValue(2)}};
    full.alertIf = AlertIf{3};
    EXPECT_EQ(
        json::encode(full),
        R"({"name":"a","addon":"b","with":{"retries":2,"url":"https://example.com"},"interval_seconds":60,)"
        R"("enabled":false,"alert_if":{"down_from":3},"env":{}})");
    EXPECT_EQ(json::decode<MonitorCheckSpec>(json::encode(full)), full);
}

TEST(CheckRecords, StoredCheckIsFlatWithDefaultedServiceFields) {
    const auto info = json::decode<MonitorCheckInfo>(R"({"name":"api","addon":"http","interval_seconds":30})");
    EXPECT_EQ(info.createdAt, 0);
    const std::string written = json::encode(info);
    EXPECT_NE(written.find(R"("created_at":0)"), std::string::npos);
    EXPECT_EQ(written.find("env_keys"), std::string::npos);
    EXPECT_EQ(written.find("spec"), std::string::npos);
    EXPECT_EQ(json::decode<MonitorCheckInfo>(written), info);

    // The definition is never nested.
    EXPECT_THROW(
        json::decode<MonitorCheckInfo>(R"({"spec":{"name":"api","addon":"http","interval_seconds":30}})"),
        json::DecodeError);

    const auto paused = json::decode<MonitorCheckInfo>(
        R"({"name":"api","addon":"http","interval_seconds":30,"paused":{"reason":"local_only","message":"m","resumes_at":5}})");
    EXPECT_TRUE(paused.paused->isLocalOnly());
    EXPECT_FALSE((CheckPause{"Local_Only", "m", 5}).isLocalOnly());
}

TEST(CheckRecords, StatusDefaultsAndStrictKeys) {
    const auto status = json::decode<MonitorCheckStatus>(
        R"({"check":"api","sources":[{"source":"eu","status":"up","last_run":null,"stale":null},)"
        R"({"source":"us","status":"down","last_result":{}}]})");
    EXPECT_EQ(status.sources.at(0), (MonitorCheckSourceState{"eu", "up", 0, false, std::nullopt}));
    EXPECT_EQ(status.sources.at(1).lastResult, MonitorCheckLastResult{});
    EXPECT_THROW(
        json::decode<MonitorCheckStatus>(R"({"check":"api","sources":[{"source":"eu","status":"up","stale":1}]})"),
        json::DecodeError);
}

}  // namespace
}  // namespace brisalune
