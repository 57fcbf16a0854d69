#include <brisalune/client/routing/oncall_endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class OnCallEndpoints : public testkit::EndpointTest {};

TEST_F(OnCallEndpoints, SchedulesAtEscapedPaths) {
    server.on("GET", "/v1/projects/a%2Fb/oncall/schedules", Reply::json(R"({"schedules":[{"id":"s"}]})"));
    EXPECT_EQ(onCallSchedules(client(), "a/b").at(0).id, "s");
    server.on("GET", "/v1/projects/a%20b/oncall/schedules", Reply::json(R"({"schedules":null})"));
    EXPECT_TRUE(errorOf([&] { onCallSchedules(client(), "a b"); }).is(Case::invalidResponse));

    server.on("POST", "/v1/projects/p/oncall/schedules", Reply::json(R"({"id":"s","created_at":3})", 201));
    EXPECT_EQ(createOnCallSchedule(client(), "p", {}).createdAt, 3);
    EXPECT_EQ(last().body, "{}");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on("GET", "/v1/projects/p/oncall/schedules/%2E", Reply::json(R"({"id":"."})"));
    EXPECT_EQ(onCallSchedule(client(), "p", ".").id, ".");
    server.on("PUT", "/v1/projects/p/oncall/schedules/%2E%2E", Reply::json(R"({"id":"..","name":"N"})"));
    EXPECT_EQ(updateOnCallSchedule(client(), "p", "..", {.name = "N"}).schedule.name, "N");
    EXPECT_EQ(last().body, R"({"name":"N"})");

    server.on("GET", "/v1/projects/p/oncall/schedules/s/current", Reply::json(R"({"on_call":true,"via":"layer"})"));
    EXPECT_EQ(onCallStatus(client(), "p", "s").via, "layer");

    server.on("DELETE", "/v1/projects/p/oncall/schedules/s", Reply::json(R"({"deleted":false})"));
    deleteOnCallSchedule(client(), "p", "s");
    server.on("DELETE", "/v1/projects/p/oncall/schedules/s", Reply{204, {}, ""});
    EXPECT_TRUE(errorOf([&] { deleteOnCallSchedule(client(), "p", "s"); }).is(Case::invalidResponse));
}

TEST_F(OnCallEndpoints, OverridesAndTheEdgesOfSuccess) {
    server.on("POST", "/v1/projects/p/oncall/schedules/s/overrides", Reply::json(R"({"id":"o1"})", 201));
    EXPECT_EQ(createOnCallOverride(client(), "p", "s", {.accountId = "a", .startsAt = 1, .endsAt = 2}), "o1");
    EXPECT_EQ(last().body, R"({"account_id":"a","starts_at":1,"ends_at":2})");

    server.on("GET", "/v1/projects/p/oncall/schedules/s/overrides", Reply::json(R"({"overrides":[]})"));
    EXPECT_TRUE(onCallOverrides(client(), "p", "s").empty());

    for (int status : {200, 299}) {
        server.on(
            "DELETE", "/v1/projects/p/oncall/schedules/s/overrides/o%2F1", Reply::json(R"({"deleted":true})", status));
        deleteOnCallOverride(client(), "p", "s", "o/1");
    }
    // (A final status below 200 cannot travel over HTTP.)
    server.on("DELETE", "/v1/projects/p/oncall/schedules/s/overrides/o%2F1", Reply::json(R"({"deleted":true})", 300));
    auto error = errorOf([&] { deleteOnCallOverride(client(), "p", "s", "o/1"); });
    EXPECT_TRUE(error.is(Case::server));
    EXPECT_EQ(error.status(), 300);
}

}  // namespace
}  // namespace brisalune
