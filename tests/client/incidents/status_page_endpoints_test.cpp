#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/status_page_endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class StatusPageEndpoints : public testkit::EndpointTest {};

TEST_F(StatusPageEndpoints, ListsWithoutPagesAreEmptyAndOneBadPageFailsTheList) {
    for (const char* answer : {"{}", R"({"status_pages":null})", R"({"status_pages":[]})"}) {
        server.on("GET", "/v1/status-pages", Reply::json(answer));
        EXPECT_TRUE(listStatusPages(client()).empty()) << answer;
    }
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    server.on(
        "GET",
        "/v1/status-pages",
        Reply::json(R"({"status_pages":[{"id":"p1","slug":"a","title":"A"},{"id":"p2","slug":"b"}]})"));
    EXPECT_TRUE(errorOf([&] { listStatusPages(client()); }).is(Case::invalidResponse));
}

TEST_F(StatusPageEndpoints, PageIdsStayOnePathSegment) {
    server.on("GET", "/v1/status-pages/a%2Fb", Reply::json(R"({"id":"a/b","slug":"s","title":"T"})"));
    EXPECT_EQ(getStatusPage(client(), "a/b").id, "a/b");
    server.on("GET", "/v1/status-pages/%2E%2E", Reply::json(R"({"id":"..","slug":"s","title":"T"})"));
    EXPECT_EQ(getStatusPage(client(), "..").id, "..");
}

TEST_F(StatusPageEndpoints, ALogoIsItsBytesAndA404IsNoLogo) {
    const std::string png("\x89PNG\r\n\x1a\n\0\xff", 10);
    server.on("GET", "/v1/status-pages/p1/logo", Reply{200, {{"Content-Type", "image/png"}}, png});
    EXPECT_EQ(getStatusPageLogo(client(), "p1"), png);
    server.on("GET", "/v1/status-pages/p1/logo", Reply{200, {}, ""});
    EXPECT_EQ(getStatusPageLogo(client(), "p1"), "");
    server.on("GET", "/v1/status-pages/p1/logo", Reply::json(R"({"error":"no logo"})", 404));
    EXPECT_EQ(getStatusPageLogo(client(), "p1"), std::nullopt);
    server.on("GET", "/v1/status-pages/p1/logo", Reply::json(R"({"error":"private page"})", 403));
    EXPECT_TRUE(errorOf([&] { getStatusPageLogo(client(), "p1"); }).is(Case::forbidden));
}

TEST_F(StatusPageEndpoints, TheTimelineSendsDaysAsGiven) {
    server.on("GET", "/v1/status-pages/p1/components/c%201/timeline", Reply::json(R"({"uptime":99.5})"));
    for (std::int64_t days : {0, -1, 90}) {
        EXPECT_EQ(getStatusTimeline(client(), "p1", "c 1", days).uptime, 99.5);
        EXPECT_EQ(last().query, "days=" + std::to_string(days));
    }
}

TEST_F(StatusPageEndpoints, ThePublicAddressHangsFromTheBaseAddressWithoutItsTrailingSlashes) {
    BrisaluneClient hosted(*platform::Url::parse("https://api.example.com/base//"));
    EXPECT_EQ(publicStatusPageURL(hosted, "acme status")->text(), "https://api.example.com/base/status/acme%20status");
    EXPECT_EQ(publicStatusPageURL(hosted, ".")->text(), "https://api.example.com/base/status/%2E");
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace brisalune
