#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/status_page_endpoints.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/incidents/status_timeline.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/incident_samples.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;
using testkit::decodeObject;
using testkit::with;
using testkit::without;

json::Object pageObject() { return {{"id", "p1"}, {"slug", "acme"}, {"title", "Acme status"}}; }
json::Object componentObject() { return {{"id", "c1"}, {"name", "API"}}; }

TEST(StatusPageRecords, DefaultsVisibilityAndAddress) {
    auto page = decodeObject<StatusPage>(with(pageObject(), {{"ack_gate", nullptr}, {"url", ""}}));
    EXPECT_EQ(page.timezone, "UTC");
    EXPECT_TRUE(page.ackGate);
    EXPECT_EQ(page.ackFallbackMinutes, 15);
    EXPECT_EQ(page.url, std::nullopt);
    EXPECT_TRUE(page.isPublic());

    EXPECT_FALSE(decodeObject<StatusPage>(with(pageObject(), {{"visibility", "private"}})).isPublic());
    EXPECT_TRUE(decodeObject<StatusPage>(with(pageObject(), {{"visibility", "PRIVATE"}})).isPublic());
    EXPECT_EQ(
        decodeObject<StatusPage>(with(pageObject(), {{"url", "https://status.acme.example/"}})).url->host(),
        "status.acme.example");
    EXPECT_THROW(decodeObject<StatusPage>(with(pageObject(), {{"url", 1}})), json::DecodeError);

    // A bad component or binding fails the whole page.
    json::Object binding{{"project", "web"}, {"kind", "check"}};
    auto nested = with(componentObject(), {{"bindings", json::Array{binding}}});
    for (const auto& component : {without(componentObject(), "name"), nested}) {
        EXPECT_THROW(
            decodeObject<StatusPage>(with(pageObject(), {{"components", json::Array{component}}})), json::DecodeError);
    }
}

json::Object dayObject(json::Object changes) {
    return with({{"date", "2026-01-02"}, {"downtime_seconds", 0}, {"worst", "operational"}}, changes);
}

TEST(StatusTimelineRecords, ADayIsMeasuredWhenItHasAnUptimeElseMaintenanceBySecondsOrWorstState) {
    EXPECT_EQ(json::decode<StatusTimeline>("{}").state, "operational");
    EXPECT_THROW(
        decodeObject<StatusTimeline>({{"days", json::Array{without(dayObject({}), "worst")}}}), json::DecodeError);

    using Kind = StatusDay::Kind;
    auto kindOf = [](json::Object changes) { return decodeObject<StatusDay>(dayObject(std::move(changes))).kind(); };
    EXPECT_EQ(kindOf({{"uptime", 0}, {"worst", "maintenance"}, {"maintenance_seconds", 60}}), Kind::measured);
    EXPECT_EQ(kindOf({{"maintenance_seconds", 1}}), Kind::maintenance);
    EXPECT_EQ(kindOf({{"worst", "maintenance"}}), Kind::maintenance);
    EXPECT_EQ(kindOf({{"worst", "MAINTENANCE"}}), Kind::noData);
    EXPECT_EQ(kindOf({{"maintenance_seconds", -5}}), Kind::noData);
}

class StatusPageEndpoints : public testkit::EndpointTest {};

TEST_F(StatusPageEndpoints, ListsAndPagesTheirPathsAndDays) {
    server.on("GET", "/v1/status-pages", Reply::json(R"({"status_pages":null})"));
    EXPECT_TRUE(listStatusPages(client()).empty());
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    server.on("GET", "/v1/status-pages", Reply::json(R"({"status_pages":[{"id":"p2","slug":"b"}]})"));
    EXPECT_TRUE(errorOf([&] { listStatusPages(client()); }).is(Case::invalidResponse));

    server.on("GET", "/v1/status-pages/%2E%2E", Reply::json(R"({"id":"..","slug":"s","title":"T"})"));
    EXPECT_EQ(getStatusPage(client(), "..").id, "..");
    server.on("GET", "/v1/status-pages/p1/components/c%201/timeline", Reply::json(R"({"uptime":99.5})"));
    EXPECT_EQ(getStatusTimeline(client(), "p1", "c 1", -1).uptime, 99.5);
    EXPECT_EQ(last().query, "days=-1");
}

TEST_F(StatusPageEndpoints, ALogoIsItsBytesAndA404IsNoLogo) {
    const std::string png("\x89PNG\r\n\x1a\n\0\xff", 10);
    server.on("GET", "/v1/status-pages/p1/logo", Reply{200, {{"Content-Type", "image/png"}}, png});
    EXPECT_EQ(getStatusPageLogo(client(), "p1"), png);
    server.on("GET", "/v1/status-pages/p1/logo", Reply::json(R"({"error":"no logo"})", 404));
    EXPECT_EQ(getStatusPageLogo(client(), "p1"), std::nullopt);
    server.on("GET", "/v1/status-pages/p1/logo", Reply::json(R"({"error":"private page"})", 403));
    EXPECT_TRUE(errorOf([&] { getStatusPageLogo(client(), "p1"); }).is(Case::forbidden));

    BrisaluneClient hosted(*platform::Url::parse("https://api.example.com/base//"));
    EXPECT_EQ(publicStatusPageURL(hosted, "acme status")->text(), "https://api.example.com/base/status/acme%20status");
}

}  // namespace
}  // namespace brisalune
