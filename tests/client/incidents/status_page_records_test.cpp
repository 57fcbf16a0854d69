#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/incidents/status_timeline.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/incident_samples.hpp>

#include <gtest/gtest.h>

#include <optional>

namespace brisalune {
namespace {

using testkit::decodeObject;
using testkit::with;
using testkit::without;

json::Object pageObject() { return {{"id", "p1"}, {"slug", "acme"}, {"title", "Acme status"}}; }
json::Object componentObject() { return {{"id", "c1"}, {"name", "API"}}; }
json::Object bindingObject() { return {{"project", "web"}, {"kind", "check"}, {"target", "ping"}}; }

TEST(StatusPageRecords, APageWithItsRequiredKeysOnlyTakesEveryDefault) {
    auto page = decodeObject<StatusPage>(pageObject());
    EXPECT_EQ(page.description, "");
    EXPECT_EQ(page.visibility, "public");
    EXPECT_EQ(page.timezone, "UTC");
    EXPECT_TRUE(page.ackGate);
    EXPECT_EQ(page.ackFallbackMinutes, 15);
    EXPECT_EQ(page.accent, "");
    EXPECT_EQ(page.supportURL, "");
    EXPECT_FALSE(page.hasLogo);
    EXPECT_EQ(page.createdBy, "");
    EXPECT_EQ(page.createdAt, 0);
    EXPECT_EQ(page.updatedAt, 0);
    EXPECT_TRUE(page.components.empty());
    EXPECT_EQ(page.url, std::nullopt);
    EXPECT_TRUE(page.isPublic());

    EXPECT_FALSE(decodeObject<StatusPage>(with(pageObject(), {{"ack_gate", false}})).ackGate);
    EXPECT_TRUE(decodeObject<StatusPage>(with(pageObject(), {{"ack_gate", nullptr}})).ackGate);
    EXPECT_FALSE(decodeObject<StatusPage>(with(pageObject(), {{"visibility", "private"}})).isPublic());
    EXPECT_TRUE(decodeObject<StatusPage>(with(pageObject(), {{"visibility", "PRIVATE"}})).isPublic());
    EXPECT_TRUE(decodeObject<StatusPage>(with(pageObject(), {{"components", nullptr}})).components.empty());
    EXPECT_EQ(decodeObject<StatusPage>(with(pageObject(), {{"url", ""}})).url, std::nullopt);
    EXPECT_EQ(
        decodeObject<StatusPage>(with(pageObject(), {{"url", "https://status.acme.example/"}})).url->host(),
        "status.acme.example");
    EXPECT_THROW(decodeObject<StatusPage>(with(pageObject(), {{"ack_gate", "yes"}})), json::DecodeError);
    EXPECT_THROW(decodeObject<StatusPage>(with(pageObject(), {{"url", 1}})), json::DecodeError);
}

TEST(StatusPageRecords, ComponentsAndBindingsDefaultAndFailTheWholePage) {
    auto bare = decodeObject<StatusComponent>(componentObject());
    EXPECT_EQ(bare.group, "");
    EXPECT_EQ(bare.position, 0);
    EXPECT_TRUE(bare.bindings.empty());
    EXPECT_EQ(bare.state, std::nullopt);
    EXPECT_EQ(decodeObject<StatusComponent>(with(componentObject(), {{"state", ""}})).state, "");

    EXPECT_EQ(decodeObject<StatusBinding>(bindingObject()).impact, "major");
    EXPECT_EQ(decodeObject<StatusBinding>(with(bindingObject(), {{"impact", nullptr}})).impact, "major");
    EXPECT_EQ(decodeObject<StatusBinding>(with(bindingObject(), {{"impact", "minor"}})).impact, "minor");

    auto nested = with(componentObject(), {{"bindings", json::Array{without(bindingObject(), "target")}}});
    for (const auto& component : {without(componentObject(), "name"), nested}) {
        EXPECT_THROW(
            decodeObject<StatusPage>(with(pageObject(), {{"components", json::Array{component}}})), json::DecodeError);
    }
}

json::Object dayObject(json::Object changes) {
    return with({{"date", "2026-01-02"}, {"downtime_seconds", 0}, {"worst", "operational"}}, changes);
}

TEST(StatusTimelineRecords, DefaultsAndRequiredKeys) {
    auto empty = json::decode<StatusTimeline>("{}");
    EXPECT_EQ(empty.state, "operational");
    EXPECT_TRUE(empty.phases.empty());
    EXPECT_TRUE(empty.days.empty());
    EXPECT_EQ(empty.uptime, std::nullopt);

    json::Object phase{{"id", "ph1"}, {"state", "degraded"}, {"started_at", 1}, {"origin", "check"}, {"hidden", false}};
    auto timeline =
        decodeObject<StatusTimeline>({{"phases", json::Array{phase}}, {"days", json::Array{dayObject({})}}});
    EXPECT_EQ(timeline.phases.at(0).endedAt, std::nullopt);
    EXPECT_EQ(timeline.days.at(0).maintenanceSeconds, 0);

    for (const auto& broken :
         {json::Object{{"phases", json::Array{without(phase, "hidden")}}},
          json::Object{{"days", json::Array{without(dayObject({}), "downtime_seconds")}}},
          json::Object{{"days", json::Array{without(dayObject({}), "worst")}}}}) {
        EXPECT_THROW(decodeObject<StatusTimeline>(broken), json::DecodeError) << json::write(broken);
    }
}

TEST(StatusTimelineRecords, ADayIsMeasuredWhenItHasAnUptimeElseMaintenanceBySecondsOrWorstState) {
    using Kind = StatusDay::Kind;
    auto kindOf = [](json::Object changes) { return decodeObject<StatusDay>(dayObject(std::move(changes))).kind(); };
    EXPECT_EQ(kindOf({{"uptime", 0}, {"worst", "maintenance"}, {"maintenance_seconds", 60}}), Kind::measured);
    EXPECT_EQ(kindOf({{"maintenance_seconds", 1}}), Kind::maintenance);
    EXPECT_EQ(kindOf({{"worst", "maintenance"}}), Kind::maintenance);
    EXPECT_EQ(kindOf({{"worst", "MAINTENANCE"}}), Kind::noData);
    EXPECT_EQ(kindOf({{"maintenance_seconds", -5}}), Kind::noData);
    EXPECT_EQ(kindOf({{"uptime", nullptr}}), Kind::noData);
    EXPECT_EQ((StatusDay{"d", std::nullopt, 0, "maintenance", 0}.kind()), Kind::maintenance);
}

}  // namespace
}  // namespace brisalune
