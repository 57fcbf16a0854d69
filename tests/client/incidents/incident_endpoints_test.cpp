#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/incident_endpoints.hpp>

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
    server.on("POST", "/v1/incidents", Reply{409, {}, ""});
    EXPECT_TRUE(errorOf([&] { createIncident(client(), {.title = "Down"}); }).is(Case::conflict));

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
    auto alerts = attachAlerts(client(), 4, {"b", "a"}, true);
    EXPECT_EQ(last().body, R"({"alert_ids":["b","a"],"move":true})");
    ASSERT_EQ(alerts.size(), 1U);
    EXPECT_EQ(alerts[0].alertId, "b");

    server.on("POST", "/v1/incidents/4/alerts", Reply::json("{}"));
    EXPECT_TRUE(attachAlerts(client(), 4, {"a"}, false).empty());
    server.on(
        "POST",
        "/v1/incidents/4/alerts",
        Reply::json(
            json::write(json::Object{{"alerts", json::Array{testkit::without(incidentAlertObject(), "state")}}})));
    EXPECT_TRUE(errorOf([&] { attachAlerts(client(), 4, {"a"}, false); }).is(Case::invalidResponse));

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
    server.on("DELETE", "/v1/incidents/7/alerts/a1", Reply{204, {}, ""});
    detachAlert(client(), 7, "a1");
    server.on("DELETE", "/v1/incidents/7/alerts/a1", Reply::json(R"({"error":"not attached"})", 404));
    EXPECT_TRUE(errorOf([&] { detachAlert(client(), 7, "a1"); }).is(Case::notFound));

    // Adding an entry and every lifecycle step read their answer.
    server.on("POST", "/v1/incidents/7/entries", Reply::json(R"({"id":"e2"})", 201));
    EXPECT_EQ(addIncidentEntry(client(), 7, {.title = "t", .contentMd = "m", .entryType = "update"}), "e2");
    server.on("POST", "/v1/incidents/7/entries", Reply::json(R"({"ok":true})"));
    EXPECT_TRUE(errorOf([&] { addIncidentEntry(client(), 7, {}); }).is(Case::invalidResponse));
    for (const char* step : {"accept", "reopen"}) {
        const std::string path = std::string("/v1/incidents/7/") + step;
        server.on("POST", path, Reply{204, {}, ""});
        auto call = [&] { step == std::string("accept") ? acceptIncident(client(), 7) : reopenIncident(client(), 7); };
        EXPECT_TRUE(errorOf(call).is(Case::invalidResponse)) << step;
        server.on("POST", path, Reply::json(R"({"error":"no such incident"})", 404));
        EXPECT_TRUE(errorOf(call).is(Case::notFound)) << step;
    }

    server.on("POST", "/v1/incidents/7/rotate-link", Reply::json(R"({"public_uuid":"u2","share_link":true,"x":1})"));
    auto rotated = rotateIncidentLink(client(), 7);
    EXPECT_EQ(rotated.publicUuid, "u2");
    EXPECT_TRUE(rotated.shareLink);
    for (const char* answer : {R"({"public_uuid":"u2"})", R"({"public_uuid":null,"share_link":true})"}) {
        server.on("POST", "/v1/incidents/7/rotate-link", Reply::json(answer));
        EXPECT_TRUE(errorOf([&] { rotateIncidentLink(client(), 7); }).is(Case::invalidResponse)) << answer;
    }

    server.on("PUT", "/v1/incident-settings", Reply::json(R"({"group_window_minutes":15})"));
    EXPECT_EQ(updateIncidentSettings(client(), {30}).groupWindowMinutes, 15);
    EXPECT_EQ(last().body, R"({"group_window_minutes":30})");
}

TEST_F(IncidentEndpoints, LifecycleBodiesCarryExactlyTheKeysSet) {
    server.on("POST", "/v1/incidents/42/accept", Reply::json(incidentDetailJson(42)));
    EXPECT_EQ(acceptIncident(client(), 42).incident.incident.number, 42);
    EXPECT_EQ(last().method, "POST");
    EXPECT_EQ(last().body, "");
    EXPECT_FALSE(last().header("Content-Type"));

    server.on("POST", "/v1/incidents/42/resolve", Reply::json(incidentDetailJson(42)));
    resolveIncident(client(), 42, {});
    EXPECT_EQ(last().body, "{}");
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    resolveIncident(client(), 42, {.reason = "duplicate", .duplicateOf = 0});
    EXPECT_EQ(last().body, R"({"reason":"duplicate","duplicate_of":0})");

    server.on("PUT", "/v1/incidents/42/publish", Reply::json(incidentDetailJson(42)));
    publishIncident(client(), 42, {.components = std::vector<ReportComponent>{}});
    EXPECT_EQ(last().body, R"({"components":[]})");
    publishIncident(client(), 42, {.viewPassword = "s3cret"});
    EXPECT_EQ(last().body, R"({"view_password":"s3cret"})");
    publishIncident(
        client(),
        42,
        {.statusPage = true, .components = std::vector<ReportComponent>{{"c1", "major"}}, .shareLink = false});
    EXPECT_EQ(
        last().body,
        R"({"status_page":true,"components":[{"component_id":"c1","impact":"major"}],"share_link":false})");
}

TEST_F(IncidentEndpoints, NumbersAndIdsStayOnePathSegment) {
    server.on("DELETE", "/v1/incidents/-3/entries/%2E", Reply{204, {}, ""});
    deleteIncidentEntry(client(), -3, ".");
    server.on("DELETE", "/v1/incidents/1/entries/%2E%2E", Reply{204, {}, ""});
    deleteIncidentEntry(client(), 1, "..");
    server.on("PUT", "/v1/incidents/1/entries/a%2Fb%3F", Reply{204, {}, ""});
    updateIncidentEntry(client(), 1, "a/b?", {});
    server.on("DELETE", "/v1/incidents/1/alerts/x%2Fy", Reply{204, {}, ""});
    detachAlert(client(), 1, "x/y");
    EXPECT_EQ(server.requests().size(), 4U);
    for (const auto& request : server.requests()) EXPECT_EQ(request.query, "") << request.rawTarget;

    server.clearRequests();
    EXPECT_EQ(errorOf([&] { incident(client("session-token", std::nullopt), 1); }).message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace brisalune
