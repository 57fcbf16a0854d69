#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/incidents/status_page_endpoints.hpp>
#include <brisalune/client/maintenance/endpoints.hpp>
#include <brisalune/client/maintenance/scope_names.hpp>
#include <brisalune/client/maintenance/wall_clock.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/demo/demo_service.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>

namespace brisalune::demo {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::Field;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const platform::TimeZone berlin = *platform::TimeZone::named("Europe/Berlin");

Fixture fixtureKeeping(std::int64_t windowsPerProject) {
    auto fixture = loadFixture(defaultFixturePath());
    fixture.maxMaintenanceWindows = windowsPerProject;
    return fixture;
}

// A client on the data of the hosted team "acme-ops".
BrisaluneClient acmeClient(const DemoService& demo, ServerCompatibility& compatibility) {
    const auto hosted = *platform::Url::parse(demo.hostedUrl());
    BrisaluneClient account(hosted, std::nullopt, std::nullopt, nullptr, ClientIdentity::current(), compatibility);
    const auto& seed = demo.fixture().hosted.accounts.front();
    account.setSessionToken(login(account, seed.email, seed.password).token);
    return BrisaluneClient(
        hosted, std::nullopt, issueKey(account, "acme-ops").apiKey, nullptr, ClientIdentity::current(), compatibility);
}

BrisaluneError errorOf(const std::function<void()>& request) {
    try {
        request();
    } catch (const BrisaluneError& error) {
        return error;
    }
    ADD_FAILURE() << "the request was not refused";
    return BrisaluneError::transport("not refused");
}

// Twice a week at 02:00 in Berlin, across the change to summer time on 25 March 2040.
MaintenanceWindowInput twiceWeekly() {
    MaintenanceWindowInput input;
    input.name = "Database upgrade";
    input.description = "Two nights a week";
    input.timezone = "Europe/Berlin";
    input.startsAt = "2040-03-12T02:00";
    input.durationMinutes = 90;
    input.rrule = "FREQ=WEEKLY;BYDAY=MO,TH";
    input.exdates = {"2040-03-15T02:00"};
    input.scope = MaintenanceScope{.project = false, .checks = {"ledger-db"}};
    input.statusPage = true;
    input.components = {"cmp-payments"};
    return input;
}

MaintenanceWindowInput once(std::string startsAt, std::string endsAt) {
    MaintenanceWindowInput input;
    input.name = "Migration";
    input.timezone = "UTC";
    input.startsAt = std::move(startsAt);
    input.endsAt = std::move(endsAt);
    input.scope = MaintenanceScope::defaultScope();
    return input;
}

std::vector<std::string> starts(const std::vector<MaintenanceOccurrence>& occurrences, const platform::TimeZone& zone) {
    std::vector<std::string> texts;
    for (const auto& occurrence : occurrences) {
        texts.push_back(
            MaintenanceWallClock::format(std::chrono::sys_seconds(std::chrono::seconds(occurrence.start)), zone));
    }
    return texts;
}

class DemoMaintenanceTest : public ::testing::Test {
protected:
    explicit DemoMaintenanceTest(Fixture fixture = loadFixture(defaultFixturePath()))
        : demo(std::move(fixture), {.hostedPort = 0, .boxPort = 0, .newAlertEvery = {}}) {}

    DemoService demo;
    ServerCompatibility compatibility;
    BrisaluneClient team = acmeClient(demo, compatibility);
};

TEST_F(DemoMaintenanceTest, KeepsReplacesAndDeletesAWindow) {
    const auto created = createMaintenanceWindow(team, "payments-api", twiceWeekly());
    EXPECT_THAT(created.id, StartsWith("mw_"));
    EXPECT_EQ(created.input, twiceWeekly());
    EXPECT_THAT(maintenanceWindows(team, "payments-api"), Contains(created));

    // The skipped Thursday is left out; summer time moves no start off 02:00.
    const auto occurrences = maintenanceOccurrences(team, "payments-api", created.id, 5);
    EXPECT_THAT(
        starts(occurrences, berlin),
        ElementsAre(
            "2040-03-12T02:00", "2040-03-19T02:00", "2040-03-22T02:00", "2040-03-26T02:00", "2040-03-29T02:00"));
    EXPECT_EQ(occurrences[3].start - occurrences[2].start, 4 * 86400 - 3600);
    EXPECT_TRUE(std::ranges::all_of(occurrences, [](const auto& o) { return o.end - o.start == 90 * 60; }));
    EXPECT_EQ(created.nextOccurrences, occurrences);
    EXPECT_FALSE(created.active);

    // A replacement keeps nothing of the old input that it leaves out.
    const auto replacement = once("2040-06-01T08:00", "2040-06-01T09:30");
    const auto updated = updateMaintenanceWindow(team, "payments-api", created.id, replacement);
    EXPECT_EQ(updated.input, replacement);
    EXPECT_EQ(maintenanceWindow(team, "payments-api", created.id).input, replacement);

    deleteMaintenanceWindow(team, "payments-api", created.id);
    EXPECT_TRUE(
        errorOf([&] { maintenanceWindow(team, "payments-api", created.id); }).is(BrisaluneError::Case::notFound));
    EXPECT_TRUE(
        errorOf([&] { deleteMaintenanceWindow(team, "payments-api", created.id); }).is(BrisaluneError::Case::notFound));
    EXPECT_TRUE(errorOf([&] { maintenanceWindows(team, "no-such-project"); }).is(BrisaluneError::Case::notFound));
}

TEST_F(DemoMaintenanceTest, PreviewsEveryModelledPattern) {
    const platform::TimeZone utc = *platform::TimeZone::named("UTC");
    const auto preview = [&](std::string rule, std::string startsAt, std::int64_t count = 10) {
        MaintenanceWindowInput input = once(std::move(startsAt), "");
        input.rrule = std::move(rule);
        input.durationMinutes = 30;
        return starts(previewMaintenanceOccurrences(team, "web", input, count), utc);
    };
    EXPECT_THAT(
        preview("FREQ=MONTHLY;BYDAY=-1FR;COUNT=3", "2040-01-01T09:00"),
        ElementsAre("2040-01-27T09:00", "2040-02-24T09:00", "2040-03-30T09:00"));
    EXPECT_THAT(
        preview("FREQ=MONTHLY;BYMONTHDAY=31", "2040-01-31T09:00", 3),
        ElementsAre("2040-01-31T09:00", "2040-03-31T09:00", "2040-05-31T09:00"));
    EXPECT_THAT(
        preview("FREQ=DAILY;INTERVAL=2;UNTIL=20400105T090000Z", "2040-01-01T09:00"),
        ElementsAre("2040-01-01T09:00", "2040-01-03T09:00", "2040-01-05T09:00"));
    EXPECT_THAT(
        preview("FREQ=WEEKLY;INTERVAL=2", "2040-01-02T09:00", 2), ElementsAre("2040-01-02T09:00", "2040-01-16T09:00"));

    // Rules begun long ago still reach today; hostile ones end within bounds.
    EXPECT_EQ(preview("FREQ=DAILY", "0001-01-01T00:00", 3).size(), 3u);
    EXPECT_THAT(preview("FREQ=DAILY;COUNT=100000000", "0001-01-01T00:00"), IsEmpty());
    EXPECT_THAT(
        preview("FREQ=DAILY;INTERVAL=9000000000000000000", "2040-01-01T09:00"), ElementsAre("2040-01-01T09:00"));
    EXPECT_THAT(
        preview("FREQ=WEEKLY;BYDAY=MO", "9999-12-20T09:00"), ElementsAre("9999-12-20T09:00", "9999-12-27T09:00"));
}

TEST_F(DemoMaintenanceTest, RefusesWhatItCannotKeepFieldByField) {
    const auto fieldsRefused = [&](const std::function<void(MaintenanceWindowInput&)>& change) {
        auto input = twiceWeekly();
        change(input);
        const auto error = errorOf([&] { createMaintenanceWindow(team, "payments-api", input); });
        EXPECT_TRUE(error.is(BrisaluneError::Case::validation)) << error.what();
        EXPECT_EQ(
            errorOf([&] { previewMaintenanceOccurrences(team, "payments-api", input, 5); }).fieldErrors(),
            error.fieldErrors());
        std::vector<std::string> fields;
        for (const auto& field : error.fieldErrors()) fields.push_back(field.field);
        return fields;
    };
    EXPECT_THAT(fieldsRefused([](auto& input) { input.name = " \n "; }), ElementsAre("name"));
    EXPECT_THAT(fieldsRefused([](auto& input) { input.timezone = "Mars/Olympus"; }), ElementsAre("timezone"));
    EXPECT_THAT(fieldsRefused([](auto& input) { input.startsAt = "next Monday"; }), ElementsAre("starts_at"));
    EXPECT_THAT(fieldsRefused([](auto& input) { input.durationMinutes = 0; }), ElementsAre("duration_minutes"));
    EXPECT_THAT(
        fieldsRefused([](auto& input) { input.durationMinutes = std::numeric_limits<std::int64_t>::max(); }),
        ElementsAre("duration_minutes"));
    EXPECT_THAT(fieldsRefused([](auto& input) { input.rrule = "FREQ=HOURLY"; }), ElementsAre("rrule"));
    EXPECT_THAT(fieldsRefused([](auto& input) { input.exdates = {"2040-02-30T02:00"}; }), ElementsAre("exdates[0]"));
    EXPECT_THAT(fieldsRefused([](auto& input) { input.components.clear(); }), ElementsAre("components"));
    EXPECT_THAT(
        fieldsRefused([](auto& input) { input = once("2040-01-01T10:00", "2040-01-01T10:00"); }),
        ElementsAre("ends_at"));
    EXPECT_THAT(
        fieldsRefused([](auto& input) {
            input = once("2040-01-01T10:00", "");
            input.endsAt.reset();
            input.name.clear();
        }),
        ElementsAre("name", "ends_at"));
    auto custom = twiceWeekly();
    custom.rrule = "FREQ=YEARLY";
    EXPECT_EQ(
        errorOf([&] { createMaintenanceWindow(team, "payments-api", custom); }).fieldErrors(),
        (std::vector<FieldError>{{"rrule", "unsupported recurrence rule"}}));
    EXPECT_EQ(maintenanceWindows(team, "payments-api").size(), 1u);  // the seeded one alone
}

TEST_F(DemoMaintenanceTest, ServesTheSeededWindowsAndWhatTheyCanCover) {
    const auto payments = maintenanceWindows(team, "payments-api");
    ASSERT_EQ(payments.size(), 1u);
    const auto& weekly = payments[0];
    EXPECT_EQ(weekly.input.name, "Weekly database maintenance");
    ASSERT_EQ(weekly.input.exdates.size(), 1u);
    EXPECT_EQ(weekly.nextOccurrences.size(), 5u);
    EXPECT_THAT(starts(weekly.nextOccurrences, berlin), Not(Contains(weekly.input.exdates[0])));
    for (const auto& start : starts(weekly.nextOccurrences, berlin)) EXPECT_THAT(start, EndsWith("T02:00"));

    const auto web = maintenanceWindows(team, "web");
    const auto purge =
        std::ranges::find(web, std::string("CDN cache purge"), [](const auto& w) { return w.input.name; });
    ASSERT_NE(purge, web.end());
    EXPECT_TRUE(purge->active);
    ASSERT_TRUE(purge->current.has_value());
    EXPECT_THAT(purge->nextOccurrences, IsEmpty());
    const auto migration = maintenanceWindows(team, "checkout").at(0);
    EXPECT_FALSE(migration.active);
    EXPECT_EQ(migration.nextOccurrences.size(), 1u);
    EXPECT_THAT(migration.input.components, ElementsAre("cmp-checkout", "cmp-payments"));

    const auto pages = listStatusPages(team);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_THAT(pages[0].components, Contains(Field(&StatusComponent::bindings, IsEmpty())));
    EXPECT_THAT(pages[0].components, Contains(Field(&StatusComponent::bindings, Not(IsEmpty()))));

    const auto names = maintenanceScopeNames(team, "payments-api");
    EXPECT_THAT(names.checks, ElementsAre("ledger-db", "payments-health"));
    EXPECT_THAT(names.rules, Contains("Database connections saturated"));
    EXPECT_THAT(names.sources, Contains("payments-api-2"));
}

// The weekly Tuesday window, seeded to start on each day of the coming year, both clock changes
// included: whichever day the service starts on, its first start is a Tuesday at 02:00 in Berlin,
// the rule's first date.
constexpr int daysSeeded = 371;

Fixture weeklyWindowFromEachDay() {
    auto fixture = loadFixture(defaultFixturePath());
    auto& team = fixture.hosted.teams.front();
    MaintenanceSeed seed =
        *std::ranges::find(team.maintenanceWindows, std::string("payments-api"), &MaintenanceSeed::project);
    team.maintenanceWindows.clear();
    for (int day = 0; day < daysSeeded; ++day) {
        seed.startsInMinutes = day * 1440;
        team.maintenanceWindows.push_back(seed);
    }
    return fixture;
}

class DemoMaintenanceSeedTest : public DemoMaintenanceTest {
protected:
    DemoMaintenanceSeedTest() : DemoMaintenanceTest(weeklyWindowFromEachDay()) {}
};

TEST_F(DemoMaintenanceSeedTest, AWeeklyWindowStartsOnItsRulesDay) {
    const auto windows = maintenanceWindows(team, "payments-api");
    ASSERT_EQ(windows.size(), std::size_t{daysSeeded});
    for (const auto& window : windows) {
        const auto start = MaintenanceWallClock::parse(window.input.startsAt, berlin);
        ASSERT_TRUE(start) << window.input.startsAt;
        const auto fields = platform::GregorianCalendar(berlin).fields(*start);
        ASSERT_TRUE(fields);
        EXPECT_EQ(fields->weekday, 3) << window.input.startsAt;  // Tuesday
        EXPECT_THAT(window.input.startsAt, EndsWith("T02:00"));
    }
}

class DemoMaintenanceLimitTest : public DemoMaintenanceTest {
protected:
    DemoMaintenanceLimitTest() : DemoMaintenanceTest(fixtureKeeping(2)) {}
};

TEST_F(DemoMaintenanceLimitTest, RefusesOneWindowTooManyPerProject) {
    createMaintenanceWindow(team, "checkout", twiceWeekly());  // beside the seeded migration
    const auto error = errorOf([&] { createMaintenanceWindow(team, "checkout", twiceWeekly()); });
    EXPECT_TRUE(error.is(BrisaluneError::Case::rateLimited));
    EXPECT_THAT(error.message(), StartsWith("max_maintenance_windows"));
    EXPECT_NO_THROW(createMaintenanceWindow(team, "payments-api", twiceWeekly()));  // each project has its own
}

}  // namespace
}  // namespace brisalune::demo
