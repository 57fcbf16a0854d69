#pragma once

// What the demo service starts from: the accounts, teams and alerts of the hosted service and
// of one self-hosted box, the pairing code that links them, the alerts that arrive later, and
// the published release manifest; and for the maintenance windows, each team's windows, checks
// and status pages.

#include <brisalune/client/alerts/alerts.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/client/monitoring/checks.hpp>
#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisalune::demo {

struct AccountSeed {
    std::string id;
    std::string email;
    std::string password;
    std::optional<std::string> displayName;
};

// One alert as it stands when the service starts; its times are minutes before the start.
struct AlertSeed {
    std::string id;
    std::string project;
    std::string rule;
    std::string state;
    std::int64_t level = 0;
    std::int64_t count = 1;
    std::int64_t escalationLevel = 0;
    std::string messageTemplate;
    std::string lastMessage;
    std::int64_t firstSeenMinutesAgo = 0;
    std::int64_t lastSeenMinutesAgo = 0;
    std::string kind;
    std::string source;
    std::map<std::string, std::string> identifiers;
    std::optional<AlertIncidentRef> incident;
};

// One maintenance window as the service starts with it. Its start counts from the service's
// start, so that it is always upcoming or in progress whenever the service runs:
// `startsInMinutes` later (negative: earlier), down to the quarter hour; with `at` ("02:00"),
// that day's wall-clock time in the window's zone instead. A one-off window (no `rrule`) lasts
// `durationMinutes`; a recurring one starts on the rule's first date from then on, repeats by
// `rrule` for `durationMinutes` each time and skips the occurrences `skipped` counts (0: the
// first).
struct MaintenanceSeed {
    std::string project;
    std::string name;
    std::string description;
    std::string timezone;
    std::int64_t startsInMinutes = 0;
    std::optional<std::string> at;
    std::int64_t durationMinutes = 60;
    std::string rrule;
    std::vector<std::int64_t> skipped;
    MaintenanceScope scope;
    bool statusPage = false;
    std::vector<std::string> components;
    std::string createdBy;
};

struct TeamSeed {
    std::string id;
    std::string name;
    std::string role;    // every account of the server holds this role in the team
    bool onBox = false;  // its data lives on the box: the membership names the box's address
    std::vector<std::string> projects;
    std::vector<AlertSeed> alerts;
    // Read only. A project's alert rules and ingest sources are those its alerts name.
    std::map<std::string, std::vector<MonitorCheckSpec>> checks;  // project → its checks
    std::vector<StatusPage> statusPages;
    std::vector<MaintenanceSeed> maintenanceWindows;
};

// One server: the hosted service or the box.
struct SiteSeed {
    std::string version;                           // sent as "X-Brisalune-Version"
    std::optional<std::string> clientUnsupported;  // sent as "X-Brisalune-Client-Unsupported" on /v1 answers
    std::optional<std::string> portalOrigin;       // announced by the health answer
    std::vector<AccountSeed> accounts;
    std::vector<TeamSeed> teams;
};

// The box's standing pairing code: redeeming it joins the box team for the hosted team.
struct PairingSeed {
    std::string code;
    std::string hostedTeam;
    std::string boxTeam;
};

// An alert that arrives while the service runs, in the team that holds `team`'s data.
struct ArrivalSeed {
    std::string team;
    std::string project;
    std::string rule;
    std::int64_t level = 0;
    std::string messageTemplate;
    std::string lastMessage;
    std::string source;
};

struct ReleaseSeed {
    std::string path;      // where the demo's web site serves the manifest
    json::Value manifest;  // served as it stands, but for what it leaves out (see offeredManifest)
};

struct Fixture {
    SiteSeed hosted;
    SiteSeed box;
    PairingSeed pairing;
    std::vector<ArrivalSeed> arrivals;        // taken in turn, round and round
    std::int64_t maxOpenAlerts = 0;           // an arrival beyond it resolves the team's oldest open alert
    std::int64_t maxMaintenanceWindows = 20;  // per project: creating one more is refused
    ReleaseSeed release;
};

// Reads a fixture; throws std::runtime_error naming the file and what is wrong with it.
Fixture loadFixture(const std::filesystem::path& path);
// The fixture beside the sources, which the program uses unless told otherwise.
std::filesystem::path defaultFixturePath();

}  // namespace brisalune::demo

namespace brisalune {

template <>
inline constexpr auto json::keys<demo::AccountSeed> = json::object(
    json::field("id", &demo::AccountSeed::id),
    json::field("email", &demo::AccountSeed::email),
    json::field("password", &demo::AccountSeed::password),
    json::field("display_name", &demo::AccountSeed::displayName));

template <>
inline constexpr auto json::keys<demo::AlertSeed> = json::object(
    json::field("id", &demo::AlertSeed::id),
    json::field("project", &demo::AlertSeed::project),
    json::field("rule", &demo::AlertSeed::rule),
    json::field("state", &demo::AlertSeed::state),
    json::field("level", &demo::AlertSeed::level),
    json::field("count", &demo::AlertSeed::count, json::orDefault(std::int64_t{1})),
    json::field("escalation_level", &demo::AlertSeed::escalationLevel, json::orEmpty),
    json::field("template", &demo::AlertSeed::messageTemplate),
    json::field("last_message", &demo::AlertSeed::lastMessage),
    json::field("first_seen_minutes_ago", &demo::AlertSeed::firstSeenMinutesAgo),
    json::field("last_seen_minutes_ago", &demo::AlertSeed::lastSeenMinutesAgo),
    json::field("kind", &demo::AlertSeed::kind, json::orDefault(std::string_view(AlertKind::event))),
    json::field("source", &demo::AlertSeed::source, json::orEmpty),
    json::field("identifiers", &demo::AlertSeed::identifiers, json::orEmpty),
    json::field("incident", &demo::AlertSeed::incident));

template <>
inline constexpr auto json::keys<demo::MaintenanceSeed> = json::object(
    json::field("project", &demo::MaintenanceSeed::project),
    json::field("name", &demo::MaintenanceSeed::name),
    json::field("description", &demo::MaintenanceSeed::description, json::orEmpty),
    json::field("timezone", &demo::MaintenanceSeed::timezone),
    json::field("starts_in_minutes", &demo::MaintenanceSeed::startsInMinutes),
    json::field("at", &demo::MaintenanceSeed::at),
    json::field("duration_minutes", &demo::MaintenanceSeed::durationMinutes),
    json::field("rrule", &demo::MaintenanceSeed::rrule, json::orEmpty),
    json::field("skipped", &demo::MaintenanceSeed::skipped, json::orEmpty),
    json::field("scope", &demo::MaintenanceSeed::scope, json::orEmpty),
    json::field("status_page", &demo::MaintenanceSeed::statusPage, json::orEmpty),
    json::field("components", &demo::MaintenanceSeed::components, json::orEmpty),
    json::field("created_by", &demo::MaintenanceSeed::createdBy));

template <>
inline constexpr auto json::keys<demo::TeamSeed> = json::object(
    json::field("id", &demo::TeamSeed::id),
    json::field("name", &demo::TeamSeed::name),
    json::field("role", &demo::TeamSeed::role),
    json::field("on_box", &demo::TeamSeed::onBox, json::orEmpty),
    json::field("projects", &demo::TeamSeed::projects, json::orEmpty),
    json::field("alerts", &demo::TeamSeed::alerts, json::orEmpty),
    json::field("checks", &demo::TeamSeed::checks, json::orEmpty),
    json::field("status_pages", &demo::TeamSeed::statusPages, json::orEmpty),
    json::field("maintenance_windows", &demo::TeamSeed::maintenanceWindows, json::orEmpty));

template <>
inline constexpr auto json::keys<demo::SiteSeed> = json::object(
    json::field("version", &demo::SiteSeed::version),
    json::field("client_unsupported", &demo::SiteSeed::clientUnsupported),
    json::field("portal_origin", &demo::SiteSeed::portalOrigin),
    json::field("accounts", &demo::SiteSeed::accounts),
    json::field("teams", &demo::SiteSeed::teams));

template <>
inline constexpr auto json::keys<demo::PairingSeed> = json::object(
    json::field("code", &demo::PairingSeed::code),
    json::field("hosted_team", &demo::PairingSeed::hostedTeam),
    json::field("box_team", &demo::PairingSeed::boxTeam));

template <>
inline constexpr auto json::keys<demo::ArrivalSeed> = json::object(
    json::field("team", &demo::ArrivalSeed::team),
    json::field("project", &demo::ArrivalSeed::project),
    json::field("rule", &demo::ArrivalSeed::rule),
    json::field("level", &demo::ArrivalSeed::level),
    json::field("template", &demo::ArrivalSeed::messageTemplate),
    json::field("last_message", &demo::ArrivalSeed::lastMessage),
    json::field("source", &demo::ArrivalSeed::source, json::orEmpty));

template <>
inline constexpr auto json::keys<demo::ReleaseSeed> =
    json::object(json::field("path", &demo::ReleaseSeed::path), json::field("manifest", &demo::ReleaseSeed::manifest));

template <>
inline constexpr auto json::keys<demo::Fixture> = json::object(
    json::field("hosted", &demo::Fixture::hosted),
    json::field("box", &demo::Fixture::box),
    json::field("pairing", &demo::Fixture::pairing),
    json::field("arrivals", &demo::Fixture::arrivals),
    json::field("max_open_alerts", &demo::Fixture::maxOpenAlerts),
    json::field("max_maintenance_windows", &demo::Fixture::maxMaintenanceWindows, json::orDefault(std::int64_t{20})),
    json::field("release", &demo::Fixture::release));

}  // namespace brisalune
