#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/link_endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class IncidentLinkEndpoints : public testkit::EndpointTest {};

TEST_F(IncidentLinkEndpoints, AddingSendsTheAddressUncheckedAndReadsTheLink) {
    server.on(
        "POST",
        "/v1/incidents/5/links",
        Reply::json(R"({"id":"l1","provider":"forge","repo":"acme/web","number":3,"url":"::"})", 201));
    auto link = addIncidentLink(client(), 5, "not even an address");
    EXPECT_EQ(last().body, R"({"url":"not even an address"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    EXPECT_EQ(link.number, 3);
    EXPECT_EQ(link.url, std::nullopt);

    server.on("POST", "/v1/incidents/5/links", Reply{201, {}, ""});
    EXPECT_TRUE(errorOf([&] { addIncidentLink(client(), 5, "x"); }).is(Case::invalidResponse));
}

TEST_F(IncidentLinkEndpoints, RemovingAndOpeningIssuesIgnoreTheBodyRetryingReadsIt) {
    server.on("DELETE", "/v1/incidents/5/links/a%2Fb", Reply{204, {}, ""});
    removeIncidentLink(client(), 5, "a/b");
    EXPECT_EQ(last().rawTarget, "/v1/incidents/5/links/a%2Fb");
    server.on("DELETE", "/v1/incidents/5/links/%2E", Reply{200, {}, "gone"});
    removeIncidentLink(client(), 5, ".");
    server.on("DELETE", "/v1/incidents/5/links/l9", Reply::json(R"({"error":"no such link"})", 404));
    EXPECT_TRUE(errorOf([&] { removeIncidentLink(client(), 5, "l9"); }).is(Case::notFound));

    server.on("POST", "/v1/incidents/5/issues", Reply{202, {}, ""});
    createIncidentIssue(client(), 5, "t1");
    EXPECT_EQ(last().body, R"({"tracker_id":"t1"})");

    server.on("POST", "/v1/incidents/5/issues/retry", Reply::json(R"({"retried":2})"));
    EXPECT_EQ(retryIncidentIssues(client(), 5), 2);
    EXPECT_EQ(last().body, "");
    server.on("POST", "/v1/incidents/5/issues/retry", Reply{200, {}, ""});
    EXPECT_TRUE(errorOf([&] { retryIncidentIssues(client(), 5); }).is(Case::invalidResponse));
}

TEST_F(IncidentLinkEndpoints, TrackerListsWithoutTrackersAreEmpty) {
    for (const char* answer : {"{}", R"({"issue_trackers":null})", R"({"issue_trackers":[]})"}) {
        server.on("GET", "/v1/issue-trackers", Reply::json(answer));
        EXPECT_TRUE(issueTrackers(client()).empty()) << answer;
    }
    server.on(
        "GET",
        "/v1/issue-trackers",
        Reply::json(R"({"issue_trackers":[{"id":"t1","provider":"forge","repo":"acme/web","last_error":"401"}]})"));
    auto trackers = issueTrackers(client());
    ASSERT_EQ(trackers.size(), 1U);
    EXPECT_EQ(trackers[0].lastError, "401");
}

}  // namespace
}  // namespace brisalune
