#include <brisalune/client/team/view_endpoints.hpp>
#include <brisalune/client/team/views.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

TEST(TeamViewRecords, SourcesReadTheirProjectFromTheSourceObject) {
    auto source = json::decode<TeamSource>(R"({"project":"p1","name":"api","retain_logs":true,"created_at":5})");
    EXPECT_TRUE(source.source.retainLogs);
    EXPECT_EQ(source.id(), "p1/api");

    auto other = json::decode<TeamSource>(R"({"project":"p2","name":"api","retain_logs":true,"created_at":5})");
    EXPECT_NE(other.id(), source.id());
    EXPECT_NE(other, source);
    other.project = "p1";
    EXPECT_EQ(std::hash<TeamSource>{}(other), std::hash<TeamSource>{}(source));

    EXPECT_THROW(json::decode<TeamSource>(R"({"name":"api","retain_logs":true,"created_at":5})"), json::DecodeError);
    EXPECT_THROW(json::decode<TeamSource>(R"({"project":"p1","retain_logs":true,"created_at":5})"), json::DecodeError);
}

TEST(TeamViewRecords, SchedulesReadInfoScheduleAndWhoIsOnCall) {
    auto schedule = json::decode<TeamSchedule>(
        R"({"project":"p1","id":"s1","name":"Primary","timezone":"UTC","layers":[],"created_at":7,
            "on_call_now":{"on_call":true,"account_id":"a1","via":"override"}})");
    EXPECT_EQ(schedule.id(), "p1/s1");
    EXPECT_EQ(schedule.info.schedule.name, "Primary");
    EXPECT_EQ(schedule.onCallNow, (OnCallNow{true, "a1", "override"}));
    EXPECT_TRUE(schedule.isOnCall("a1"));
    EXPECT_FALSE(schedule.isOnCall("A1"));
    EXPECT_FALSE(schedule.isOnCall("a2"));

    schedule.onCallNow->onCall = false;
    EXPECT_FALSE(schedule.isOnCall("a1"));
    schedule.onCallNow = OnCallNow{.onCall = true};
    EXPECT_FALSE(schedule.isOnCall(""));

    auto defaults =
        json::decode<TeamSchedule>(R"({"project":"p1","id":"s1","on_call_now":{"on_call":null,"via":null}})");
    EXPECT_EQ(defaults.onCallNow, OnCallNow{});

    auto absent = json::decode<TeamSchedule>(R"({"project":"p1","id":"s1","on_call_now":null})");
    EXPECT_FALSE(absent.onCallNow);
    EXPECT_FALSE(absent.isOnCall(""));
    EXPECT_NE(absent, defaults);

    EXPECT_THROW(json::decode<TeamSchedule>(R"({"project":"p1","name":"Primary"})"), json::DecodeError);
}

class TeamViewEndpoints : public testkit::EndpointTest {};

TEST_F(TeamViewEndpoints, EachProjectIsOneQueryItemInOrder) {
    server.on("GET", "/v1/sources", Reply::json(R"({"sources":[]})"));
    EXPECT_TRUE(teamSources(client(), {}).empty());
    EXPECT_EQ(last().rawTarget, "/v1/sources");
    EXPECT_FALSE(last().hasQuery);
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    teamSources(client(), {"p1", "p2", "p1"});
    EXPECT_EQ(last().query, "project=p1&project=p2&project=p1");
    teamSources(client(), {"a&b=c d"});
    EXPECT_EQ(last().query, "project=a%26b%3Dc%20d");
}

TEST_F(TeamViewEndpoints, ReadTaggedListsAndFailAsAWhole) {
    server.on("GET", "/v1/sources", Reply::json(R"({"sources":[
        {"project":"p1","name":"api","retain_logs":false,"created_at":1},
        {"project":"p2","name":"api","retain_logs":true,"created_at":2,"addons":["otel"]}]})"));
    auto sources = teamSources(client(), {"p1", "p2"});
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[1].id(), "p2/api");
    EXPECT_EQ(sources[1].source.addons, std::vector<std::string>{"otel"});

    server.on("GET", "/v1/oncall/schedules", Reply::json(R"({"schedules":[{"project":"p1","id":"s1"}]})"));
    EXPECT_EQ(teamSchedules(client(), {"p1"}).at(0).id(), "p1/s1");
    EXPECT_EQ(last().rawTarget, "/v1/oncall/schedules?project=p1");

    server.on("GET", "/v1/integrations", Reply::json(R"({"integrations":[{"id":"i1","project":"p1","type":"webhook",
        "enabled":true,"consecutive_failures":0,"created_at":3}]})"));
    EXPECT_EQ(teamIntegrations(client(), {"p1"}).at(0).type, "webhook");

    server.on("GET", "/v1/sources", Reply::json(R"({"sources":[{"project":"p1","name":"api","retain_logs":false,
        "created_at":1},{"name":"web","retain_logs":false,"created_at":1}]})"));
    EXPECT_TRUE(errorOf([&] { teamSources(client(), {}); }).is(Case::invalidResponse));
    server.on("GET", "/v1/oncall/schedules", Reply::json(R"({})"));
    EXPECT_TRUE(errorOf([&] { teamSchedules(client(), {}); }).is(Case::invalidResponse));
    server.on("GET", "/v1/integrations", Reply::json(R"({"error":"slow down"})", 429));
    EXPECT_TRUE(errorOf([&] { teamIntegrations(client(), {}); }).is(Case::rateLimited));

    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
}

}  // namespace
}  // namespace brisalune
