#include <brisalune/client/maintenance/endpoints.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_decode.hpp>

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

const std::string minimal = R"({"id":"w1","name":"Patch","timezone":"Europe/Paris","starts_at":"2024-05-01T09:30")";

MaintenanceWindow window(const std::string& extra = "") {
    return json::decode<MaintenanceWindow>(minimal + extra + "}");
}

TEST(MaintenanceWindowRecords, AWindowNeedsOnlyItsFourKeys) {
    const MaintenanceWindow read = window();
    EXPECT_FALSE(read.input.isRecurring());
    EXPECT_TRUE(read.input.scope.isEmpty());  // an absent scope covers nothing: not the default scope
    EXPECT_EQ(read.zone().identifier(), "Europe/Paris");

    // Nulls read as absent; the input's keys stand in the window's own object.
    const auto full = window(R"(,"description":null,"ends_at":null,"rrule":"FREQ=DAILY","duration_minutes":30,
        "scope":{"project":true},"current":{"start":1,"end":2},"unknown":[1])");
    EXPECT_EQ(full.input.rrule, "FREQ=DAILY");
    EXPECT_EQ(full.input.scope, MaintenanceScope::defaultScope());
    EXPECT_EQ(full.current, (MaintenanceOccurrence{1, 2}));

    MaintenanceWindow elsewhere;
    elsewhere.input.timezone = "Nowhere/Zone";
    EXPECT_EQ(elsewhere.zone(), platform::TimeZone::gmt());
}

TEST(MaintenanceWindowRecords, ARequiredKeyMissingOrAWrongTypeFailsTheWhole) {
    EXPECT_THROW(
        json::decode<MaintenanceWindow>(R"({"id":"w1","name":"n","timezone":"UTC","starts_at":null})"),
        json::DecodeError);
    EXPECT_THROW(window(R"(,"scope":{"checks":"a"})"), json::DecodeError);
    try {
        window(R"(,"next_occurrences":[{"start":1,"end":2},{"start":3}])");
        ADD_FAILURE() << "an occurrence without its end decoded";
    } catch (const json::DecodeError& error) {
        EXPECT_EQ(error.path(), "next_occurrences[1].end");
    }
}

// The schedule keys the input writes, in the order written.
std::string scheduleKeys(const MaintenanceWindowInput& input) {
    const std::string text = json::encode(input);
    std::string keys;
    for (std::string key : {"ends_at", "duration_minutes", "rrule", "exdates"}) {
        if (text.find('"' + key + "\":") != std::string::npos) keys += (keys.empty() ? "" : ",") + key;
    }
    return keys;
}

TEST(MaintenanceWindowRecords, TheRuleAloneDecidesWhichScheduleKeysAreSent) {
    MaintenanceWindowInput input{
        .name = "Patch",
        .timezone = "UTC",
        .startsAt = "2024-05-01T09:30",
        .endsAt = "2024-05-01T11:30",
        .durationMinutes = 120,
        .exdates = {"2024-05-08T09:30"}};
    EXPECT_EQ(
        json::encode(input),
        R"({"name":"Patch","description":"","timezone":"UTC","starts_at":"2024-05-01T09:30",)"
        R"("ends_at":"2024-05-01T11:30","scope":{"project":false,"checks":[],"sources":[],"rules":[]},)"
        R"("status_page":false,"components":[]})");
    input.rrule = "FREQ=WEEKLY";
    EXPECT_EQ(scheduleKeys(input), "duration_minutes,rrule,exdates");
    input.rrule = " ";  // blanks recur too
    input.durationMinutes.reset();
    input.exdates.clear();
    EXPECT_EQ(scheduleKeys(input), "rrule");
}

}  // namespace
}  // namespace brisalune
