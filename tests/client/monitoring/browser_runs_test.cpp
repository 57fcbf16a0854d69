#include <brisalune/client/monitoring/browser_run_endpoints.hpp>
#include <brisalune/client/roles/role_permissions.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using Refusal = BrowserArtifactRefusal::Case;
using standin::Reply;

TEST(BrowserRunRecords, DefaultsAndStrictKeys) {
    EXPECT_TRUE(
        json::decode<BrowserRun>(R"({"run_id":"r1","status":"passed","received_at":9,"source":null,"steps":null})")
            .steps.empty());
    const auto run =
        json::decode<BrowserRun>(R"({"run_id":"r2","status":"failed","received_at":9,"vitals":{"cls":0.02},)"
                                 R"("steps":[{"name":"login","status":"failed","ms":120,"error":"timeout"}],)"
                                 R"("artifacts":[{"kind":"screenshot","bytes":2048,"sha256":"ab"}]})");
    EXPECT_EQ(json::encode(run.vitals), R"({"cls":0.02})");
    EXPECT_EQ(run.steps.at(0).durationMs, 120);
    EXPECT_EQ(json::decode<BrowserRun>(json::encode(run)), run);

    for (const char* bad :
         {R"({"run_id":"r","status":"s","received_at":1,"steps":[{"name":"n","status":"s","duration_ms":1}]})",
          R"({"run_id":"r","status":"s","received_at":1,"vitals":{"cls":"high"}})"}) {
        EXPECT_THROW(json::decode<BrowserRun>(bad), json::DecodeError) << bad;
    }
}

TEST(BrowserRunRecords, RefusalCodesAndTheRolePrediction) {
    EXPECT_EQ(BrowserArtifactRefusal::fromCode("artifacts_expired"), BrowserArtifactRefusal(Refusal::expired));
    EXPECT_EQ(
        BrowserArtifactRefusal::fromCode("artifacts_need_checks_write")->message(),
        "Files from runs made while this check had secret variables need edit access to the check.");
    for (const char* near : {"ARTIFACTS_EXPIRED", "artifacts_expired "}) {
        EXPECT_FALSE(BrowserArtifactRefusal::fromCode(near)) << near;
    }

    const std::vector<std::string> secrets{"TOKEN"};
    const RolePermissions viewer("viewer");
    const RolePermissions editsWeb("viewer", {}, std::vector<ProjectGrant>{{"web", "admin"}, {"api", "viewer"}});
    EXPECT_FALSE(BrowserArtifactRefusal::predicted({}, &viewer, "web"));
    EXPECT_FALSE(BrowserArtifactRefusal::predicted(secrets, nullptr, "web"));
    EXPECT_EQ(
        BrowserArtifactRefusal::predicted(secrets, &viewer, "web"), BrowserArtifactRefusal(Refusal::needsChecksWrite));
    EXPECT_FALSE(BrowserArtifactRefusal::predicted(secrets, &editsWeb, "web"));
    EXPECT_TRUE(BrowserArtifactRefusal::predicted(secrets, &editsWeb, "api"));
}

// A 200 answer of raw bytes.
Reply bytes(std::string body) {
    Reply reply;
    reply.headers = {{"Content-Type", "application/octet-stream"}};
    reply.body = std::move(body);
    return reply;
}

class BrowserRunEndpoints : public testkit::EndpointTest {
protected:
    static constexpr const char* artifactPath = "/v1/projects/web/checks/login/runs/r1/artifacts/trace.zip";

    // What a failed download throws: the refusal, or the client's error.
    std::variant<BrowserArtifactRefusal, BrisaluneError> downloadFailure(int status, std::string body) {
        server.on("GET", artifactPath, Reply::json(std::move(body), status));
        try {
            browserArtifact(client(), "web", "login", "r1", "trace.zip");
        } catch (const BrowserArtifactRefusal& refusal) {
            return refusal;
        } catch (const BrisaluneError& error) {
            return error;
        }
        ADD_FAILURE() << "the download did not fail";
        return BrisaluneError::transport("no error");
    }
};

TEST_F(BrowserRunEndpoints, RunsListQueryEscapingAndErrors) {
    server.on("GET", "/v1/projects/web/checks/login/runs", Reply::json(R"({"runs":[]})"));
    EXPECT_TRUE(browserRuns(client(), "web", "login", 20).empty());
    EXPECT_EQ(last().rawTarget, "/v1/projects/web/checks/login/runs?limit=20");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    browserRuns(client(), "web", "login");
    EXPECT_EQ(last().rawTarget, "/v1/projects/web/checks/login/runs");

    server.on(
        "GET",
        "/v1/projects/web/checks/log%20in%2Fout/runs",
        Reply::json(R"({"runs":[{"run_id":"a","status":"s","received_at":1}]})"));
    EXPECT_EQ(browserRuns(client(), "web", "log in/out").at(0).id(), "a");

    server.on("GET", "/v1/projects/web/checks/login/runs", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { browserRuns(client(), "web", "login"); }).is(Case::invalidResponse));
    server.on("GET", "/v1/projects/web/checks/login/runs", Reply::json(R"({"error":"runs: history is off"})", 429));
    EXPECT_TRUE(errorOf([&] { browserRuns(client(), "web", "login"); }).is(Case::quota));
}

TEST_F(BrowserRunEndpoints, ArtifactBytesOrARefusalWhateverTheStatus) {
    server.on("GET", artifactPath, bytes(std::string("PK\0\x01", 4)));
    EXPECT_EQ(browserArtifact(client(), "web", "login", "r1", "trace.zip"), std::string("PK\0\x01", 4));

    for (int status : {410, 404, 403, 500}) {
        auto failure = downloadFailure(status, R"({"reason":"artifacts_expired"})");
        EXPECT_EQ(std::get_if<BrowserArtifactRefusal>(&failure)->kind(), Refusal::expired) << status;
    }
    auto write = downloadFailure(403, R"({"reason":"artifacts_need_checks_write","error":"forbidden"})");
    EXPECT_EQ(std::get_if<BrowserArtifactRefusal>(&write)->kind(), Refusal::needsChecksWrite);

    auto unknown = downloadFailure(404, R"({"reason":"gone_fishing","error":"no file"})");
    EXPECT_TRUE(std::get_if<BrisaluneError>(&unknown)->is(Case::notFound));
    // The checks mapping is not the download's: a problems list stays a validation error.
    auto problems = downloadFailure(422, R"({"errors":["x"]})");
    EXPECT_TRUE(std::get_if<BrisaluneError>(&problems)->is(Case::validation));

    server.on("GET", "/v1/projects/%2E/checks/a%2Fb/runs/%2E%2E/artifacts/x%20y", bytes("ok"));
    EXPECT_EQ(browserArtifact(client(), ".", "a/b", "..", "x y"), "ok");
}

}  // namespace
}  // namespace brisalune
