#include <brisalune/client/monitoring/heartbeat_endpoints.hpp>
#include <brisalune/client/monitoring/project_endpoints.hpp>
#include <brisalune/client/monitoring/projects.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

// A page of `count` projects named "<prefix><n>", with a next cursor when given.
std::string projectPage(const std::string& prefix, int count, std::optional<std::string> next) {
    std::string body = R"({"projects":[)";
    for (int n = 0; n < count; ++n) {
        if (n > 0) body += ',';
        body += R"({"name":")" + prefix + std::to_string(n) +
                R"(","config_version":1,"sources":0,"rules":0,"open_alerts":0,"created_at":0})";
    }
    body += "]";
    if (next) body += R"(,"next":")" + *next + '"';
    return body + "}";
}

TEST(SourceRecords, LenientAfterTheThreeRequiredKeys) {
    const auto bare = json::decode<SourceInfo>(
        R"({"name":"api","retain_logs":true,"created_at":5,"addons":null,"heartbeat_pending":null})");
    EXPECT_EQ(
        json::encode(bare),
        R"({"name":"api","retain_logs":true,"created_at":5,"open_secret_findings":0,"heartbeat_pending":false,)"
        R"("addons":[]})");
    EXPECT_THROW(
        json::decode<SourceInfo>(R"({"name":"a","retain_logs":false,"created_at":1,"open_secret_findings":"2"})"),
        json::DecodeError);
    EXPECT_THROW(json::decode<SourceInfo>(R"({"name":"a","retain_logs":false})"), json::DecodeError);
}

class ProjectEndpoints : public testkit::EndpointTest {
protected:
    // Answers the project list from `pages`, by the "after" cursor ("" for the first page).
    void servePages(std::function<Reply(const std::string& after)> pages) {
        server.on("GET", "/v1/projects", [pages](const standin::ReceivedRequest& request) {
            const std::string prefix = "limit=500&after=";
            if (request.query == "limit=500") return pages("");
            if (request.query.starts_with(prefix)) return pages(request.query.substr(prefix.size()));
            return Reply::json(R"({"error":"unexpected query"})", 400);
        });
    }
};

TEST_F(ProjectEndpoints, APageSendsTheLimitAndTheCursorOnlyWhenGiven) {
    server.on("GET", "/v1/projects", Reply::json(projectPage("web", 1, "c2")));
    auto page = listProjects(client(), 1);
    EXPECT_EQ(last().rawTarget, "/v1/projects?limit=1");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_EQ(page.projects.at(0).name, "web0");
    EXPECT_EQ(page.next, "c2");
    listProjects(client(), 500, "a/b");
    EXPECT_EQ(last().rawTarget, "/v1/projects?limit=500&after=a%2Fb");

    server.clearRequests();
    EXPECT_EQ(errorOf([&] { listProjects(client("s", std::nullopt), 1); }).message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());
    server.on("GET", "/v1/projects", Reply::json(R"({"error":"bad key"})", 401));
    EXPECT_TRUE(errorOf([&] { listProjects(client(), 1); }).is(Case::unauthorized));
}

TEST_F(ProjectEndpoints, PagerFollowsCursorsToTheEndOrFiftyPagesAndFailsWhole) {
    servePages([](const std::string& after) {
        if (after.empty()) return Reply::json(projectPage("a", 500, "a"));
        if (after == "a") return Reply::json(projectPage("b", 500, "b"));
        return Reply::json(projectPage("c", 200, std::nullopt));
    });
    const auto projects = allProjects(client());
    ASSERT_EQ(projects.size(), 1200u);
    EXPECT_EQ(projects[500].name, "b0");
    EXPECT_EQ(projects.back().name, "c199");
    EXPECT_EQ(server.requests().size(), 3u);

    // An empty page with a cursor goes on; an empty cursor ends like none.
    servePages([](const std::string& after) {
        if (after.empty()) return Reply::json(projectPage("a", 0, "x"));
        return Reply::json(projectPage("b", 2, ""));
    });
    EXPECT_EQ(allProjects(client()).size(), 2u);

    // It stops at fifty pages and fails whole.
    servePages([](const std::string&) { return Reply::json(projectPage("p", 3, "more")); });
    server.clearRequests();
    EXPECT_EQ(allProjects(client()).size(), 150u);
    EXPECT_EQ(server.requests().size(), 50u);

    servePages([](const std::string& after) {
        if (after.empty()) return Reply::json(projectPage("a", 5, "a"));
        if (after == "a") return Reply::json(projectPage("b", 5, "b"));
        return Reply::json(R"({"error":"no such tenant"})", 404);
    });
    EXPECT_TRUE(errorOf([&] { allProjects(client()); }).is(Case::notFound));
}

TEST_F(ProjectEndpoints, ProjectAndSourceWritesCheckTheirAnswers) {
    server.on("POST", "/v1/projects", Reply::json(R"({"name":"web","version":1})"));
    createProject(client(), "web");
    EXPECT_EQ(last().body, R"({"name":"web"})");
    server.on("POST", "/v1/projects/a%2Fb/rename", Reply::json(R"({"name":"c"})"));
    renameProject(client(), "a/b", "c");
    EXPECT_EQ(last().body, R"({"name":"c"})");

    server.on(
        "GET",
        "/v1/projects/web/sources",
        Reply::json(R"({"sources":[{"name":"api","retain_logs":true,"created_at":5}]})"));
    EXPECT_EQ(listSources(client(), "web").at(0).name, "api");
    server.on("POST", "/v1/projects/web/sources", Reply::json(R"({"name":"api","token":"tok"})"));
    EXPECT_EQ(createSource(client(), "web", "api", false), (CreatedSource{"api", "tok"}));
    EXPECT_EQ(last().body, R"({"name":"api","retain_logs":false})");

    server.on("PUT", "/v1/projects/web/sources/%2E%2E", Reply::json(R"({"name":".."})"));
    updateSource(client(), "web", "..", false, true);
    EXPECT_EQ(last().body, R"({"retain_logs":false,"monitoring_acknowledged":true})");

    server.on("POST", "/v1/projects/web/sources/api/rotate-token", Reply::json(R"({"name":"api","token":"new"})"));
    EXPECT_EQ(rotateSourceToken(client(), "web", "api"), "new");
    EXPECT_EQ(last().body, "");

    server.on("DELETE", "/v1/projects/web/sources/api", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { deleteSource(client(), "web", "api"); }).is(Case::invalidResponse));
    server.on("DELETE", "/v1/projects/web", Reply::json(R"({"error":"still referenced"})", 409));
    EXPECT_TRUE(errorOf([&] { deleteProject(client(), "web"); }).is(Case::conflict));
}

TEST_F(ProjectEndpoints, HeartbeatAddressesJoinTheClientsBase) {
    const BrisaluneClient nested(
        *platform::Url::parse(server.baseUrl() + "/api///"),
        std::nullopt,
        "data-key",
        nullptr,
        ClientIdentity::current(),
        compatibility);
    server.on(
        "POST",
        "/api/v1/projects/web/sources/api/heartbeat-token",
        Reply::json(R"({"name":"api-renamed","heartbeat_token":"abc"})"));
    const auto endpoint = mintHeartbeatEndpoint(nested, "web", "api");
    EXPECT_EQ(endpoint.source, "api-renamed");
    EXPECT_EQ(endpoint.okURL.text(), server.baseUrl() + "/api/v1/heartbeat/abc");
    EXPECT_EQ(endpoint.startURL.text(), server.baseUrl() + "/api/v1/heartbeat/abc/start");

    server.on(
        "POST",
        "/v1/projects/%2E/sources/a%20b/heartbeat-token",
        Reply::json(R"({"name":"a b","heartbeat_token":"x/y z"})"));
    EXPECT_EQ(mintHeartbeatEndpoint(client(), ".", "a b").failURL.path(), "/v1/heartbeat/x%2Fy%20z/fail");

    server.on("POST", "/v1/projects/web/sources/api/heartbeat-token", Reply::json(R"({"name":"api"})"));
    EXPECT_TRUE(errorOf([&] { mintHeartbeatEndpoint(client(), "web", "api"); }).is(Case::invalidResponse));
}

}  // namespace
}  // namespace brisalune
