#include <brisalune/client/maintenance/endpoints.hpp>
#include <brisalune/platform/json.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

const std::string storedWindow = R"({"id":"w1","name":"Patch","timezone":"UTC","starts_at":"2024-05-01T09:30"})";

const MaintenanceWindowInput body{
    .name = "Patch", .timezone = "UTC", .startsAt = "2024-05-01T09:30", .durationMinutes = 30, .rrule = "FREQ=DAILY"};

class MaintenanceEndpoints : public testkit::EndpointTest {};

TEST_F(MaintenanceEndpoints, WindowsUnderTheProjectOneEscapedSegmentEach) {
    server.on("GET", "/v1/projects/a%2Fb%20c/maintenance-windows/%2E%2E", Reply::json(storedWindow));
    EXPECT_EQ(maintenanceWindow(client(), "a/b c", "..").input.name, "Patch");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on("POST", "/v1/projects/p/maintenance-windows", Reply::json(storedWindow, 201));
    EXPECT_EQ(createMaintenanceWindow(client(), "p", body).id, "w1");
    EXPECT_EQ(last().body, json::encode(body));
    server.on("PUT", "/v1/projects/p/maintenance-windows/w%201", Reply::json(storedWindow));
    EXPECT_EQ(updateMaintenanceWindow(client(), "p", "w 1", body).id, "w1");
    EXPECT_EQ(last().body, json::encode(body));
    EXPECT_EQ(last().header("Content-Type"), "application/json");

    server.on("DELETE", "/v1/projects/p/maintenance-windows/w1", Reply::json(R"({"deleted":false})"));
    deleteMaintenanceWindow(client(), "p", "w1");
    EXPECT_EQ(last().body, "");
    server.on("DELETE", "/v1/projects/p/maintenance-windows/w1", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { deleteMaintenanceWindow(client(), "p", "w1"); }).is(Case::invalidResponse));
}

TEST_F(MaintenanceEndpoints, OccurrencesAskForACountWithinOneToAHundred) {
    server.on(
        "POST",
        "/v1/projects/p/maintenance-windows/preview",
        Reply::json(R"({"occurrences":[{"start":3,"end":4},{"start":1,"end":2}]})"));
    EXPECT_EQ(
        previewMaintenanceOccurrences(client(), "p", body, 7), (std::vector<MaintenanceOccurrence>{{3, 4}, {1, 2}}));
    EXPECT_EQ(last().query, "count=7");
    EXPECT_EQ(last().body, json::encode(body));
    previewMaintenanceOccurrences(client(), "p", body, 500);
    EXPECT_EQ(last().query, "count=100");

    server.on("GET", "/v1/projects/p/maintenance-windows/w1/occurrences", Reply::json(R"({"occurrences":[]})"));
    EXPECT_TRUE(maintenanceOccurrences(client(), "p", "w1", std::numeric_limits<std::int64_t>::min()).empty());
    EXPECT_EQ(last().query, "count=1");
}

TEST_F(MaintenanceEndpoints, AnswersThatDoNotDecodeAndRefusals) {
    const std::string list = "/v1/projects/p/maintenance-windows";
    for (std::string answer : {R"({"windows":null})", R"({"windows":[{"id":"w1"}]})"}) {
        server.on("GET", list, Reply::json(answer));
        EXPECT_TRUE(errorOf([&] { maintenanceWindows(client(), "p"); }).is(Case::invalidResponse)) << answer;
    }
    server.on("GET", list, Reply::json(R"({"error":"no maintenance here"})", 404));
    const auto missing = errorOf([&] { maintenanceWindows(client(), "p"); });
    EXPECT_TRUE(missing.is(Case::notFound));
    EXPECT_EQ(missing.message(), "no maintenance here");
    server.on(
        "POST",
        list + "/preview",
        Reply::json(R"({"error":"invalid","fields":[{"field":"rrule","reason":"bad"}]})", 422));
    EXPECT_TRUE(errorOf([&] { previewMaintenanceOccurrences(client(), "p", body, 5); }).is(Case::validation));

    server.clearRequests();
    EXPECT_TRUE(errorOf([&] { maintenanceWindows(client("session", std::nullopt), "p"); }).is(Case::unauthorized));
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace brisalune
