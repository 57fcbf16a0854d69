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

TEST(IncidentRecords, ADetailNeedsItsIncidentAndOneBadElementFailsIt) {
    auto detail = json::decode<IncidentDetail>(testkit::incidentDetailJson(7));
    EXPECT_EQ(detail.incident.incident.number, 7);
    EXPECT_TRUE(detail.alerts.empty());
    EXPECT_EQ(detail.shareLink, std::nullopt);

    EXPECT_THROW(decodeObject<IncidentDetail>({{"entries", json::Array{}}}), json::DecodeError);
    EXPECT_THROW(
        decodeObject<IncidentDetail>(
            {{"incident", reportObject()}, {"alerts", json::Array{without(incidentAlertObject(), "state")}}}),
        json::DecodeError);
    EXPECT_FALSE(decodeObject<IncidentAlert>(with(incidentAlertObject(), {{"grouped", nullptr}})).grouped);
    EXPECT_THROW(decodeObject<IncidentAlert>(without(incidentAlertObject(), "attached_at")), json::DecodeError);
}

TEST(IncidentRecords, TimelineItemsReadAtAndCarryTheirDataAsGiven) {
    auto item = decodeObject<IncidentTimelineItem>(
        {{"at", 5}, {"kind", "never_seen_before"}, {"data", json::Object{{"list", json::Array{true, nullptr}}}}});
    EXPECT_EQ(item.time, 5);
    EXPECT_EQ(item.data.at("list"), JSONValue(JSONValue::Array{true, nullptr}));
    EXPECT_THROW(decodeObject<IncidentTimelineItem>({{"time", 5}, {"kind", "x"}}), json::DecodeError);

    // Equal records hash alike, and every field counts.
    auto a = decodeObject<IncidentTimelineItem>({{"at", 1}, {"kind", "k"}, {"data", json::Object{{"x", 0.0}}}});
    auto b = decodeObject<IncidentTimelineItem>({{"at", 1}, {"kind", "k"}, {"data", json::Object{{"x", -0.0}}}});
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<IncidentTimelineItem>{}(a), std::hash<IncidentTimelineItem>{}(b));
    b.kind = "";
    EXPECT_NE(std::hash<IncidentTimelineItem>{}(a), std::hash<IncidentTimelineItem>{}(b));
}

TEST(IncidentRecords, RequestBodiesLeaveAbsentKeysOut) {
    EXPECT_EQ(json::encode(IncidentEdit{}), "{}");
    EXPECT_EQ(json::encode(IncidentEdit{.groupAlerts = false}), R"({"group_alerts":false})");
    EXPECT_EQ(json::encode(IncidentDraft{.title = "", .alertId = "a1"}), R"({"title":"","alert_id":"a1"})");
}

json::Object linkObject() { return {{"id", "l1"}, {"provider", "forge"}, {"repo", "acme/web"}, {"number", 12}}; }

TEST(IncidentRecords, LinksDefaultTheirKindAndDropAnAddressThatDoesNotParse) {
    auto link = decodeObject<IncidentLink>(with(linkObject(), {{"kind", nullptr}}));
    EXPECT_EQ(link.kind, "issue");
    EXPECT_TRUE(link.isUntracked());

    for (const char* text : {"", "not an address", "http://", "%zz"}) {
        EXPECT_EQ(decodeObject<IncidentLink>(with(linkObject(), {{"url", text}})).url, std::nullopt) << text;
    }
    auto tracked = decodeObject<IncidentLink>(
        with(linkObject(), {{"url", "https://forge.example/acme/web/issues/12"}, {"tracker_id", "t1"}}));
    EXPECT_EQ(tracked.url->host(), "forge.example");
    EXPECT_FALSE(tracked.isUntracked());

    EXPECT_THROW(decodeObject<IncidentLink>(with(linkObject(), {{"url", 5}})), json::DecodeError);
    EXPECT_THROW(decodeObject<IncidentLink>(with(linkObject(), {{"number", "12"}})), json::DecodeError);
}

}  // namespace
}  // namespace brisalune
