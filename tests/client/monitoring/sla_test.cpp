#include <brisalune/client/monitoring/sla_endpoints.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

SLAPeriod custom(std::int64_t start, std::int64_t end) { return {SLAPeriod::Custom{start, end}}; }

TEST(SLAPeriods, RangeRuleWithoutOverflow) {
    const std::string order = "The start must be before the end.";
    const std::string wide = "The time range is wider than 366 days; narrow it.";
    EXPECT_EQ(custom(5, 5).validateRange(), order);
    EXPECT_FALSE(custom(0, SLAPeriod::maxSpanSeconds).validateRange());
    EXPECT_EQ(custom(0, SLAPeriod::maxSpanSeconds + 1).validateRange(), wide);
    EXPECT_EQ(custom(-1, SLAPeriod::maxSpanSeconds).validateRange(), wide);

    constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
    constexpr auto highest = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(custom(lowest, highest).validateRange(), wide);
    EXPECT_FALSE(custom(highest - SLAPeriod::maxSpanSeconds, highest).validateRange());
    EXPECT_FALSE(custom(lowest, lowest + 1).validateRange());
    EXPECT_EQ(custom(highest, lowest).validateRange(), order);
    EXPECT_FALSE(SLAPeriod{SLAPeriod::Days90{}}.validateRange());
}

TEST(SLAReports, ListsDefaultButRowsAreStrict) {
    EXPECT_TRUE(json::decode<SLAChecksReport>(R"({"from":1,"to":2,"checks":null})").checks.empty());
    const auto checks = json::decode<SLAChecksReport>(
        R"({"from":1,"to":2,"checks":[{"project":"web","check":"api","outages":1,"downtime_seconds":60,)"
        R"("longest_downtime_seconds":60,"judged_runs":1440}]})");
    EXPECT_FALSE(checks.checks.at(0).uptimePercent);
    EXPECT_EQ(checks.checks.at(0).id(), "web/api");
    EXPECT_THROW(
        json::decode<SLAChecksReport>(
            R"({"from":1,"to":2,"checks":[{"project":"web","check":"api","outages":1,"downtime_seconds":60,)"
            R"("longest_downtime_seconds":60}]})"),
        json::DecodeError);

    const auto row = [](const char* page) {
        return json::decode<SLAComponentRow>(
            std::string(R"({"page_id":")") + page +
            R"(","page":"P","component_id":"c1","component":"C","uptime_percent":99.5,)"
            R"("outages":0,"downtime_seconds":0,"longest_downtime_seconds":0,"maintenance_seconds":9})");
    };
    EXPECT_NE(row("p1").id(), row("p2").id());

    const auto times = json::decode<SLAResponseTimesReport>(
        R"({"from":1,"to":2,"team":{"alerts":3,"acknowledged":2,"resolved":1,"mtta_seconds":null},)"
        R"("projects":[{"project":"web","alerts":3,"acknowledged":2,"resolved":1,"mttr_seconds":600}]})");
    EXPECT_EQ(times.projects.at(0), (SLAProjectResponseStats{"web", {3, 2, 1, std::nullopt, 600}}));
    EXPECT_EQ(json::decode<SLAResponseTimesReport>(json::encode(times)), times);
}

class SLAEndpoints : public testkit::EndpointTest {};

TEST_F(SLAEndpoints, PeriodIsTheWholeQuery) {
    server.on("GET", "/v1/sla/checks", Reply::json(R"({"from":1700000000,"to":1700086400})"));
    EXPECT_EQ(slaChecks(client(), custom(1'700'000'000, 1'700'086'400)).end, 1'700'086'400);
    EXPECT_EQ(last().query, "from=1700000000&to=1700086400");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on("GET", "/v1/sla/components", Reply::json(R"({"from":1,"to":2})"));
    slaComponents(client(), {SLAPeriod::Days30{}});
    EXPECT_EQ(last().query, "period=30d");
    server.on(
        "GET",
        "/v1/sla/response-times",
        Reply::json(R"({"from":1,"to":2,"team":{"alerts":0,"acknowledged":0,"resolved":0}})"));
    slaResponseTimes(client(), {SLAPeriod::Days90{}});
    EXPECT_EQ(last().query, "period=90d");

    // Sent as it is, even when the range rule refuses it; the service decides.
    server.on("GET", "/v1/sla/checks", Reply::json(R"({"error":"bad range"})", 400));
    EXPECT_TRUE(errorOf([&] { slaChecks(client(), custom(9, 1)); }).is(Case::validation));
    EXPECT_EQ(last().query, "from=9&to=1");
    server.on("GET", "/v1/sla/components", Reply::json(R"({"from":1})"));
    EXPECT_TRUE(errorOf([&] { slaComponents(client(), {SLAPeriod::Days7{}}); }).is(Case::invalidResponse));
}

}  // namespace
}  // namespace brisalune
