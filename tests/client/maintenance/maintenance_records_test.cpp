#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

const std::string minimal = R"({"id":"w1","name":"Patch","timezone":"Europe/Paris","starts_at":"2024-05-01T09:30")";

MaintenanceWindow window(const std::string& extra = "") {
    return json::decode<MaintenanceWindow>(minimal + extra + "}");
}

TEST(MaintenanceWindowRecords, AWindowNeedsOnlyItsFourKeys) {
    const MaintenanceWindow read = window();
    MaintenanceWindow expected;
    expected.id = "w1";
    expected.input = {.name = "Patch", .timezone = "Europe/Paris", .startsAt = "2024-05-01T09:30"};
    EXPECT_EQ(read, expected);
    EXPECT_FALSE(read.input.isRecurring());
    EXPECT_TRUE(read.input.scope.isEmpty());  // an absent scope covers nothing: not the default scope
    EXPECT_EQ(read.zone().identifier(), "Europe/Paris");

    // Nulls read as absent; the input's keys stand in the window's own object.
    const auto full = window(R"(,"description":null,"ends_at":null,"rrule":"FREQ=DAILY","exdates":["2024-05-02T09:30"],
        "duration_minutes":30,"scope":{"project":true},"status_page":true,"components":["c1"],"created_by":"ann",
        "created_at":5,"updated_at":6,"active":true,"current":{"start":1,"end":2},
        "next_occurrences":[{"start":3,"end":4}],"unknown":[1])");
    EXPECT_EQ(full.input.rrule, "FREQ=DAILY");
    EXPECT_EQ(full.input.durationMinutes, 30);
    EXPECT_EQ(full.input.scope, MaintenanceScope::defaultScope());
    EXPECT_EQ(full.current, (MaintenanceOccurrence{1, 2}));
    EXPECT_EQ(full.nextOccurrences, (std::vector<MaintenanceOccurrence>{{3, 4}}));
    EXPECT_EQ(full.createdBy, "ann");
    EXPECT_TRUE(full.active);

    EXPECT_EQ(json::decode<MaintenanceScope>("{}"), MaintenanceScope{});
    MaintenanceWindow elsewhere;
    elsewhere.input.timezone = "Nowhere/Zone";
    EXPECT_EQ(elsewhere.zone(), platform::TimeZone::gmt());
}

TEST(MaintenanceWindowRecords, ARequiredKeyMissingOrAWrongTypeFailsTheWhole) {
    EXPECT_THROW(json::decode<MaintenanceWindow>(R"({"id":"w1","name":"n","timezone":"UTC"})"), json::DecodeError);
    EXPECT_THROW(
        json::decode<MaintenanceWindow>(R"({"id":"w1","name":"n","timezone":"UTC","starts_at":null})"),
        json::DecodeError);
    EXPECT_THROW(window(R"(,"active":"yes")"), json::DecodeError);
    EXPECT_THROW(window(R"(,"scope":{"checks":"a"})"), json::DecodeError);
    try {
        window(R"(,"next_occurrences":[{"start":1,"end":2},{"start":3}])");
        ADD_FAILURE() << "an occurrence without its end decoded";
    } catch (const json::DecodeError& error) {
        EXPECT_EQ(error.path(), "next_occurrences[1].end");
    }
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
    EXPECT_EQ(
        json::encode(input),
        R"({"name":"Patch","description":"","timezone":"UTC","starts_at":"2024-05-01T09:30",)"
        R"("duration_minutes":120,"rrule":"FREQ=WEEKLY","exdates":["2024-05-08T09:30"],)"
        R"("scope":{"project":false,"checks":[],"sources":[],"rules":[]},"status_page":false,"components":[]})");

    input.rrule = " ";  // blanks recur too
    input.durationMinutes.reset();
    input.exdates.clear();
    EXPECT_EQ(
        json::encode(input),
        R"({"name":"Patch","description":"","timezone":"UTC","starts_at":"2024-05-01T09:30","rrule":" ",)"
        R"("scope":{"project":false,"checks":[],"sources":[],"rules":[]},"status_page":false,"components":[]})");
}

}  // namespace
}  // namespace brisalune
