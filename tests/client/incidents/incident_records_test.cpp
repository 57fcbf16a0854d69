#include <brisalune/client/incidents/incidents.hpp>
#include <brisalune/client/incidents/links.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/incident_samples.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace brisalune {
namespace {

using testkit::decodeObject;
using testkit::incidentAlertObject;
using testkit::reportObject;
using testkit::with;
using testkit::without;

TEST(IncidentRecords, ADetailHoldingOnlyItsIncidentDefaultsEveryList) {
    auto detail = json::decode<IncidentDetail>(testkit::incidentDetailJson(7));
    EXPECT_EQ(detail.incident.incident.number, 7);
    EXPECT_TRUE(detail.entries.empty());
    EXPECT_TRUE(detail.alerts.empty());
    EXPECT_TRUE(detail.timeline.empty());
    EXPECT_TRUE(detail.links.empty());
    EXPECT_TRUE(detail.issueJobs.empty());
    EXPECT_EQ(detail.shareLink, std::nullopt);

    auto shared = decodeObject<IncidentDetail>({{"incident", reportObject()}, {"share_link", false}});
    EXPECT_EQ(shared.shareLink, false);
    EXPECT_THROW(decodeObject<IncidentDetail>({{"entries", json::Array{}}}), json::DecodeError);
    // One bad element fails the whole detail.
    EXPECT_THROW(
        decodeObject<IncidentDetail>(
            {{"incident", reportObject()}, {"alerts", json::Array{without(incidentAlertObject(), "state")}}}),
        json::DecodeError);

    auto page = decodeObject<IncidentPage>({{"incidents", nullptr}});
    EXPECT_TRUE(page.incidents.empty());
    EXPECT_EQ(page.next, std::nullopt);
}

TEST(IncidentRecords, AttachedAlertDefaultsAndRequiredKeys) {
    EXPECT_FALSE(decodeObject<IncidentAlert>(incidentAlertObject()).grouped);
    EXPECT_FALSE(decodeObject<IncidentAlert>(with(incidentAlertObject(), {{"grouped", nullptr}})).grouped);
    auto alert =
        decodeObject<IncidentAlert>(with(incidentAlertObject("a9"), {{"resolved_at", nullptr}, {"grouped", true}}));
    EXPECT_EQ(alert.resolvedAt, std::nullopt);
    EXPECT_TRUE(alert.grouped);
    EXPECT_EQ(alert.id(), "a9");
    EXPECT_THROW(decodeObject<IncidentAlert>(without(incidentAlertObject(), "attached_at")), json::DecodeError);
}

TEST(IncidentRecords, TimelineItemsReadAtAndCarryTheirDataAsGiven) {
    auto item = decodeObject<IncidentTimelineItem>(
        {{"at", 5},
         {"kind", "never_seen_before"},
         {"data", json::Object{{"n", 1}, {"list", json::Array{true, nullptr}}}}});
    EXPECT_EQ(item.time, 5);
    EXPECT_EQ(item.kind, "never_seen_before");
    EXPECT_EQ(item.data.at("n"), JSONValue(1.0));
    EXPECT_EQ(item.data.at("list"), JSONValue(JSONValue::Array{true, nullptr}));

    EXPECT_TRUE(decodeObject<IncidentTimelineItem>({{"at", 5}, {"kind", "x"}}).data.empty());
    EXPECT_THROW(decodeObject<IncidentTimelineItem>({{"time", 5}, {"kind", "x"}}), json::DecodeError);
}

TEST(IncidentRecords, RequestBodiesLeaveAbsentKeysOut) {
    EXPECT_EQ(json::encode(IncidentEdit{}), "{}");
    EXPECT_EQ(json::encode(IncidentEdit{.groupAlerts = false}), R"({"group_alerts":false})");
    EXPECT_EQ(json::encode(IncidentEdit{.title = ""}), R"({"title":""})");
    EXPECT_EQ(json::encode(IncidentDraft{.title = "Down"}), R"({"title":"Down"})");
    EXPECT_EQ(json::encode(IncidentDraft{.title = "", .alertId = "a1"}), R"({"title":"","alert_id":"a1"})");
    EXPECT_EQ(
        json::encode(IncidentEntryDraft{.title = "", .contentMd = "", .entryType = "update"}),
        R"({"title":"","content_md":"","entry_type":"update"})");
    EXPECT_EQ(json::encode(IncidentSettings{30}), R"({"group_window_minutes":30})");
    EXPECT_THROW(json::decode<IncidentSettings>("{}"), json::DecodeError);
}

json::Object linkObject() { return {{"id", "l1"}, {"provider", "forge"}, {"repo", "acme/web"}, {"number", 12}}; }

TEST(IncidentRecords, LinksDefaultTheirKindAndDropAnAddressThatDoesNotParse) {
    auto link = decodeObject<IncidentLink>(linkObject());
    EXPECT_EQ(link.kind, "issue");
    EXPECT_EQ(link.createdAt, 0);
    EXPECT_TRUE(link.isUntracked());
    EXPECT_EQ(link.url, std::nullopt);
    EXPECT_EQ(decodeObject<IncidentLink>(with(linkObject(), {{"kind", nullptr}})).kind, "issue");

    for (const char* text : {"", "not an address", "http://", "%zz"}) {
        EXPECT_EQ(decodeObject<IncidentLink>(with(linkObject(), {{"url", text}})).url, std::nullopt) << text;
    }
    auto tracked = decodeObject<IncidentLink>(
        with(linkObject(), {{"url", "https://forge.example/acme/web/issues/12"}, {"tracker_id", "t1"}}));
    EXPECT_EQ(tracked.url->host(), "forge.example");
    EXPECT_FALSE(tracked.isUntracked());

    EXPECT_THROW(decodeObject<IncidentLink>(with(linkObject(), {{"url", 5}})), json::DecodeError);
    EXPECT_THROW(decodeObject<IncidentLink>(with(linkObject(), {{"number", "12"}})), json::DecodeError);
    EXPECT_THROW(decodeObject<IncidentLink>(without(linkObject(), "number")), json::DecodeError);

    json::Object job{{"id", "j1"}, {"tracker_id", "t1"}, {"action", "open"}, {"status", "queued"}, {"attempts", 2}};
    EXPECT_EQ(decodeObject<IncidentIssueJob>(job).lastError, std::nullopt);
    EXPECT_THROW(decodeObject<IncidentIssueJob>(without(job, "attempts")), json::DecodeError);
}

TEST(IncidentRecords, EqualRecordsHashAlikeAndEveryFieldCounts) {
    auto a = decodeObject<IncidentTimelineItem>({{"at", 1}, {"kind", "k"}, {"data", json::Object{{"x", 0.0}}}});
    auto b = decodeObject<IncidentTimelineItem>({{"at", 1}, {"kind", "k"}, {"data", json::Object{{"x", -0.0}}}});
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<IncidentTimelineItem>{}(a), std::hash<IncidentTimelineItem>{}(b));

    auto link = decodeObject<IncidentLink>(linkObject());
    auto other = link;
    other.actorType = "";
    EXPECT_NE(link, other);
    EXPECT_NE(std::hash<IncidentLink>{}(link), std::hash<IncidentLink>{}(other));
}

}  // namespace
}  // namespace brisalune
