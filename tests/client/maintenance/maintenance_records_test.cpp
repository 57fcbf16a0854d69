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
