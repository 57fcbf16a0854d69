#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/incident_endpoints.hpp>
#include <brisalune/client/incidents/link_endpoints.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/incident_samples.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;
using testkit::incidentAlertObject;
using testkit::incidentDetailJson;

class IncidentEndpoints : public testkit::EndpointTest {};

TEST_F(IncidentEndpoints, ListSendsLimitFirstThenOnlyWhatIsGiven) {
    server.on("GET", "/v1/incidents", Reply::json(R"({"incidents":null,"next":"c2"})"));
    auto page = listIncidents(client(), std::nullopt, false, 25);
    EXPECT_EQ(last().query, "limit=25");
    EXPECT_TRUE(page.incidents.empty());
    EXPECT_EQ(page.next, "c2");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    listIncidents(client(), "", std::nullopt, 0);
    EXPECT_EQ(last().query, "limit=0&state=");
    listIncidents(client(), "open", true, 10, "c2");
    EXPECT_EQ(last().query, "limit=10&state=open&needs_cause=true&before=c2");
}

TEST_F(IncidentEndpoints, OpeningTurnsAKnown409IntoItsOwnErrorAndAnyOtherIntoTheMapping) {
    server.on("POST", "/v1/incidents", Reply::json(incidentDetailJson(3), 201));
    EXPECT_EQ(createIncident(client(), {.title = "Down", .alertId = "a1"}).incident.incident.number, 3);
    EXPECT_EQ(last().body, R"({"title":"Down","alert_id":"a1"})");

    server.on("POST", "/v1/incidents", Reply::json(R"({"number":12,"alert_id":"a1","incident":7})", 409));
    try {
        createIncident(client(), {.title = "Down"});
        ADD_FAILURE() << "no error thrown";
    } catch (const IncidentOpenedAlertElsewhere& error) {
        EXPECT_EQ(error.number, 12);
        EXPECT_EQ(error.alertId, "a1");
        EXPECT_EQ(error.incident, 7);
    }

    server.on("POST", "/v1/incidents", Reply::json(R"({"error":"taken","number":12,"alert_id":"a1"})", 409));
    auto error = errorOf([&] { createIncident(client(), {.title = "Down"}); });
    EXPECT_TRUE(error.is(Case::conflict));
    EXPECT_EQ(error.message(), "taken");

    // Only opening looks for that body.
    server.on("PATCH", "/v1/incidents/7", Reply::json(R"({"number":12,"alert_id":"a1","incident":7})", 409));
    EXPECT_TRUE(errorOf([&] { editIncident(client(), 7, {}); }).is(Case::conflict));
    EXPECT_EQ(last().body, "{}");
}

TEST_F(IncidentEndpoints, AttachingTurnsAKnown409IntoItsOwnErrorAndSendsMoveOnlyWhenAsked) {
    server.on("POST", "/v1/incidents/4/alerts", Reply::json(R"({"alerts":null})"));
    EXPECT_TRUE(attachAlerts(client(), 4, {}, false).empty());
    EXPECT_EQ(last().body, R"({"alert_ids":[]})");

    server.on(
        "POST",
        "/v1/incidents/4/alerts",
        Reply::json(json::write(json::Object{{"alerts", json::Array{incidentAlertObject("b")}}})));
    EXPECT_EQ(attachAlerts(client(), 4, {"b", "a"}, true).at(0).alertId, "b");
    EXPECT_EQ(last().body, R"({"alert_ids":["b","a"],"move":true})");

    server.on("POST", "/v1/incidents/4/alerts", Reply::json(R"({"alert_id":"a1","incident":9})", 409));
    try {
        attachAlerts(client(), 4, {"a1"}, false);
        ADD_FAILURE() << "no error thrown";
    } catch (const IncidentAlertConflict& error) {
        EXPECT_EQ(error.alertId, "a1");
        EXPECT_EQ(error.incident, 9);
    }
    server.on("POST", "/v1/incidents/4/alerts", Reply::json(R"({"error":"held elsewhere"})", 409));
    EXPECT_TRUE(errorOf([&] { attachAlerts(client(), 4, {"a1"}, false); }).is(Case::conflict));
}

TEST_F(IncidentEndpoints, BodiesThatAreIgnoredAndBodiesThatAreDecoded) {
    // Rewriting or deleting an entry and detaching an alert take any 2xx, read or not.
    server.on("PUT", "/v1/incidents/7/entries/e1", Reply{204, {}, ""});
    updateIncidentEntry(client(), 7, "e1", {.title = "t", .contentMd = "m", .entryType = "update", .occurredAt = 5});
    EXPECT_EQ(last().body, R"({"title":"t","content_md":"m","entry_type":"update","occurred_at":5})");
    server.on("DELETE", "/v1/incidents/7/entries/e1", Reply{200, {}, "not json"});
    deleteIncidentEntry(client(), 7, "e1");
    server.on("DELETE", "/v1/incidents/7/alerts/a1", Reply::json(R"({"error":"not attached"})", 404));
    EXPECT_TRUE(errorOf([&] { detachAlert(client(), 7, "a1"); }).is(Case::notFound));

    // Adding an entry and every lifecycle step read their answer.
    server.on("POST", "/v1/incidents/7/entries", Reply::json(R"({"ok":true})"));
    EXPECT_TRUE(errorOf([&] { addIncidentEntry(client(), 7, {}); }).is(Case::invalidResponse));
    for (const char* step : {"accept", "reopen"}) {
        const std::string path = std::string("/v1/incidents/7/") + step;
        server.on("POST", path, Reply{204, {}, ""});
        auto call = [&] { step == std::string("accept") ? acceptIncident(client(), 7) : reopenIncident(client(), 7); };
        EXPECT_TRUE(errorOf(call).is(Case::invalidResponse)) << step;
    }
    server.on("POST", "/v1/incidents/7/rotate-link", Reply::json(R"({"public_uuid":null,"share_link":true})"));
    EXPECT_TRUE(errorOf([&] { rotateIncidentLink(client(), 7); }).is(Case::invalidResponse));

    server.on("PUT", "/v1/incident-settings", Reply::json(R"({"group_window_minutes":15})"));
    EXPECT_EQ(updateIncidentSettings(client(), {30}).groupWindowMinutes, 15);
    EXPECT_EQ(last().body, R"({"group_window_minutes":30})");
}

TEST_F(IncidentEndpoints, LifecycleBodiesCarryExactlyTheKeysSet) {
    server.on("POST", "/v1/incidents/42/accept", Reply::json(incidentDetailJson(42)));
    EXPECT_EQ(acceptIncident(client(), 42).incident.incident.number, 42);
    EXPECT_EQ(last().body, "");
    EXPECT_FALSE(last().header("Content-Type"));

    server.on("POST", "/v1/incidents/42/resolve", Reply::json(incidentDetailJson(42)));
    resolveIncident(client(), 42, {});
    EXPECT_EQ(last().body, "{}");
    resolveIncident(client(), 42, {.reason = "duplicate", .duplicateOf = 0});
    EXPECT_EQ(last().body, R"({"reason":"duplicate","duplicate_of":0})");

    server.on("PUT", "/v1/incidents/42/publish", Reply::json(incidentDetailJson(42)));
    publishIncident(
        client(),
        42,
        {.statusPage = true, .components = std::vector<ReportComponent>{{"c1", "major"}}, .shareLink = false});
    EXPECT_EQ(
        last().body,
        R"({"status_page":true,"components":[{"component_id":"c1","impact":"major"}],"share_link":false})");
}

TEST_F(IncidentEndpoints, NumbersAndIdsStayOnePathSegment) {
    server.on("DELETE", "/v1/incidents/-3/entries/%2E%2E", Reply{204, {}, ""});
    deleteIncidentEntry(client(), -3, "..");
    server.on("DELETE", "/v1/incidents/1/alerts/a%2Fb%3F", Reply{204, {}, ""});
    detachAlert(client(), 1, "a/b?");
    EXPECT_EQ(server.requests().size(), 2U);
    EXPECT_EQ(last().query, "");

    server.clearRequests();
    EXPECT_EQ(errorOf([&] { incident(client("session-token", std::nullopt), 1); }).message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(IncidentEndpoints, LinksAreAddedUncheckedIssuesOpenWithoutReadingAndRetriesAreCounted) {
    server.on(
        "POST",
        "/v1/incidents/5/links",
        Reply::json(R"({"id":"l1","provider":"forge","repo":"acme/web","number":3,"url":"::"})", 201));
    EXPECT_EQ(addIncidentLink(client(), 5, "not even an address").url, std::nullopt);
    EXPECT_EQ(last().body, R"({"url":"not even an address"})");

    server.on("DELETE", "/v1/incidents/5/links/a%2Fb", Reply{200, {}, "gone"});
    removeIncidentLink(client(), 5, "a/b");
    server.on("POST", "/v1/incidents/5/issues", Reply{202, {}, ""});
    createIncidentIssue(client(), 5, "t1");
    EXPECT_EQ(last().body, R"({"tracker_id":"t1"})");

    server.on("POST", "/v1/incidents/5/issues/retry", Reply::json(R"({"retried":2})"));
    EXPECT_EQ(retryIncidentIssues(client(), 5), 2);
    server.on("POST", "/v1/incidents/5/issues/retry", Reply{200, {}, ""});
    EXPECT_TRUE(errorOf([&] { retryIncidentIssues(client(), 5); }).is(Case::invalidResponse));

    server.on("GET", "/v1/issue-trackers", Reply::json(R"({"issue_trackers":null})"));
    EXPECT_TRUE(issueTrackers(client()).empty());
}

}  // namespace
}  // namespace brisalune
