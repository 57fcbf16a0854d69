#include <brisalune/client/routing/oncall.hpp>
#include <brisalune/client/routing/oncall_endpoints.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/written.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

using testkit::written;

PointInTime at(double seconds) { return PointInTime(std::chrono::duration<double>(seconds)); }

TEST(OnCallRecords, RestrictionsAndLayersWriteOnlyWhatIsSet) {
    OnCallRestriction evenings{.startMinute = 0, .endMinute = 600, .days = {1, 2}};
    EXPECT_EQ(written(evenings), json::parse(R"({"end_minute":600,"days":[1,2]})"));
    EXPECT_EQ(json::decode<OnCallRestriction>(json::encode(evenings)), evenings);
    EXPECT_THROW(json::decode<OnCallRestriction>(R"({"days":["mon"]})"), json::DecodeError);

    OnCallLayer layer{.restriction = OnCallRestriction{}};
    EXPECT_EQ(written(layer).get<json::Object>()->at("restriction"), json::Value(json::Object{}));
    EXPECT_EQ(json::decode<OnCallLayer>(R"({"name":null,"participants":null})"), OnCallLayer{});
    EXPECT_THROW(json::decode<OnCallLayer>(R"({"shift_minutes":1.5})"), json::DecodeError);
    EXPECT_EQ(json::decode<OnCallLayer>(R"({"rotation_start":86400})").rotationStartDate(), at(86400));
}

TEST(OnCallRecords, ScheduleInfoIsOneFlatObjectAndRequiredKeysAreRequired) {
    auto info = json::decode<OnCallScheduleInfo>(R"({"id":"s1","layers":null,"members":3})");
    EXPECT_THROW(json::decode<OnCallScheduleInfo>("{}"), json::DecodeError);

    info.schedule = {.name = "Primary", .layers = {OnCallLayer{.participants = {"a"}}}};
    EXPECT_EQ(written(info).get<json::Object>()->at("name"), json::Value("Primary"));
    EXPECT_EQ(json::decode<OnCallScheduleInfo>(json::encode(info)), info);

    auto item = json::decode<OnCallOverride>(R"({"id":"o","account_id":"a","starts_at":1,"ends_at":2,"created_at":0})");
    EXPECT_FALSE(written(item).get<json::Object>()->contains("created_by"));
    EXPECT_THROW(
        json::decode<OnCallOverride>(R"({"id":"o","account_id":"a","starts_at":1,"ends_at":2})"), json::DecodeError);
    EXPECT_THROW(json::decode<OnCallStatus>("{}"), json::DecodeError);
}

TEST(OnCallOverrides, ActiveFromTheStartUpToTheEnd) {
    OnCallOverride span{.id = "o", .accountId = "a", .startsAt = 100, .endsAt = 200};
    EXPECT_TRUE(span.isActive(at(100)));
    EXPECT_FALSE(span.isActive(at(200)));
    EXPECT_FALSE(span.isActive(at(99.9)));
    EXPECT_TRUE(span.isActive(std::chrono::system_clock::time_point(std::chrono::milliseconds(150'500))));

    // The fraction is cut toward zero: -1.5 s is second -1.
    OnCallOverride beforeEpoch{.id = "o", .accountId = "a", .startsAt = -1, .endsAt = 0};
    EXPECT_TRUE(beforeEpoch.isActive(at(-1.5)));
    EXPECT_FALSE(beforeEpoch.isActive(at(-2)));
    EXPECT_FALSE((OnCallOverride{.id = "o", .accountId = "a", .startsAt = 5, .endsAt = 5}.isActive(at(5))));
}

TEST(OnCallOverrides, TimesBeyondSixtyFourBitsAreClampedAndNaNIsNeverActive) {
    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    constexpr auto highest = std::numeric_limits<std::int64_t>::max();
    constexpr double infinity = std::numeric_limits<double>::infinity();

    EXPECT_EQ(wholeSecondsSince1970(at(std::nan(""))), std::nullopt);
    for (double beyond : {infinity, 0x1p63, 1e300}) {
        EXPECT_EQ(wholeSecondsSince1970(at(beyond)), highest) << beyond;
        EXPECT_EQ(wholeSecondsSince1970(at(-beyond)), lowest) << beyond;
    }

    OnCallOverride always{.id = "o", .accountId = "a", .startsAt = lowest, .endsAt = highest};
    EXPECT_FALSE(always.isActive(at(std::nan(""))));
    EXPECT_TRUE(always.isActive(at(-infinity)));
    EXPECT_FALSE(always.isActive(at(infinity)));  // the end is never included
    EXPECT_TRUE(always.isActive(at(0)));

    auto draft = OnCallOverrideDraft::between("a", at(-infinity), at(12.75));
    EXPECT_EQ(draft, (OnCallOverrideDraft{.accountId = "a", .startsAt = lowest, .endsAt = 12}));
    EXPECT_EQ(written(draft), json::parse(R"({"account_id":"a","starts_at":-9223372036854775808,"ends_at":12})"));
    EXPECT_EQ(OnCallOverrideDraft::between("a", at(300), at(100)).endsAt, 100);  // order is not checked
    EXPECT_THROW(OnCallOverrideDraft::between("a", at(std::nan("")), at(1)), std::invalid_argument);
}

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
