#pragma once

// One server of the demo service, the hosted service or the self-hosted box: its accounts,
// teams, sessions, keys, alerts and maintenance windows, kept in memory and served on a
// stand-in server, with the checks, sources, rules and status pages a window can name. Every
// operation is safe from any thread; a pull that asks to wait is held on the server's own
// connection thread until its team changes, its wait runs out or the site stops.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/alerts/alerts.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/client/monitoring/checks.hpp>
#include <brisalune/demo/fixture.hpp>
#include <brisalune/demo/routes.hpp>
#include <brisalune/demo/wire.hpp>
#include <brisalune/standin/server.hpp>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune::demo {

enum class SiteKind { hosted, box };

// A request the site will not serve: answered with `status` and {"error": message}.
struct Refusal {
    int status = 400;
    std::string message;
};

// A body the site refuses field by field: answered 422 with {"error", "fields": [{"field",
// "message"}]}.
struct Invalid {
    std::vector<FieldError> fields;
};

class Site {
public:
    // The addresses clients use, which may differ from the stand-in server's own.
    struct Addresses {
        std::string self;
        std::string box;                    // where teams marked "on_box" keep their data
        std::optional<std::string> portal;  // announced by the health answer unless the seed names one
    };

    // A team whose data the site keeps, as its web portal shows it.
    struct PortalTeam {
        std::string id;
        std::string name;
        std::vector<AlertSnapshot> alerts;
    };

    Site(SiteKind kind, const Fixture& fixture, standin::Server& server, Addresses addresses);
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // Answers every held pull at once, and every later pull without waiting.
    void stop();

    // Whether this site holds the team's alerts.
    bool holdsTeam(std::string_view teamId) const;
    // The teams whose alerts this site holds, as they are now.
    std::vector<PortalTeam> portalTeams() const;
    // A new firing alert in the arrival's team, as if a source had just reported it. Beyond the
    // fixture's limit of open alerts, the team's oldest open alert is resolved.
    void raise(const ArrivalSeed& arrival);

    // The join code of the fixture's standing pairing code (on the box).
    std::string standingJoinCode() const;

    // Waits until at least `count` pulls are held; false when `limit` passed first.
    bool waitForHeldPulls(std::size_t count, std::chrono::milliseconds limit) const;

private:
    struct AccountRecord {
        Account account;
        std::string password;
    };
    struct TeamRecord {
        std::string id;
        std::string name;
        std::string role;
        bool onBox = false;
        std::vector<std::string> projects;
        std::vector<AlertSnapshot> alerts;                            // the latest snapshot of each alert
        std::int64_t seq = 0;                                         // the team's last change; the pull cursor
        std::map<std::string, std::vector<MonitorCheckSpec>> checks;  // project → its checks
        std::vector<StatusPage> statusPages;
        std::map<std::string, std::vector<MaintenanceWindow>> maintenance;  // project → its windows, oldest first
    };
    struct KeyRecord {
        std::string id;
        std::string teamId;
    };
    struct PairingCode {
        std::string teamId;
        bool seat = false;
        std::int64_t expiresAt = 0;  // seconds since 1970; 0: never
    };

    using Request = standin::ReceivedRequest;
    using Reply = standin::Reply;
    using Member = Reply (Site::*)(const Request&, const PathValues&);

    void addRoutes();
    void add(const char* method, std::string pattern, Member member);
    Reply answer(const Request& request);
    void stamp(Reply& reply, std::string_view path) const;

    static std::optional<std::string> bearer(const Request& request);
    static std::chrono::sys_seconds now();
    // The query item as an integer; none when absent, a Refusal when it is not one.
    static std::optional<std::int64_t> integerItem(const Request& request, std::string_view name);
    // The alert as the seed describes it, its times counted back from `at`.
    static AlertSnapshot snapshotOf(const AlertSeed& seed, std::chrono::sys_seconds at, std::int64_t seq);

    // ---- with the lock held ----
    const AccountRecord& caller(const Request& request) const;  // the session plane
    TeamRecord& keyTeam(const Request& request);                // the data plane
    TeamRecord& team(std::string_view id);
    AlertSnapshot& alert(TeamRecord& team, std::string_view id);
    std::vector<Membership> memberships() const;
    std::string issueKeyFor(const std::string& teamId, std::string& keyId);
    void change(TeamRecord& team, AlertSnapshot& alert, std::string_view state);
    void keepWithinLimit(TeamRecord& team);
    std::string nextAlertId();
    std::string randomHex(std::size_t bytes);
    std::string joinCode(const std::string& code, bool seat) const;
    // The path's {project}, one of the team's; a Refusal when the team has no such project.
    static const std::string& project(const TeamRecord& team, const PathValues& values);
    // The seeded windows, their starts counted from the site's.
    void seedWindows(TeamRecord& team, const std::vector<MaintenanceSeed>& seeds);

    // ---- accounts and teams (site_accounts.cpp) ----
    Reply healthz(const Request&, const PathValues&);
    Reply login(const Request&, const PathValues&);
    Reply logout(const Request&, const PathValues&);
    Reply me(const Request&, const PathValues&);
    Reply tenants(const Request&, const PathValues&);
    Reply issueKey(const Request&, const PathValues&);
    Reply revokeKey(const Request&, const PathValues&);
    Reply registerDevice(const Request&, const PathValues&);
    Reply devices(const Request&, const PathValues&);
    Reply deleteDevice(const Request&, const PathValues&);

    // ---- alerts (site_alerts.cpp) ----
    Reply projects(const Request&, const PathValues&);
    Reply pull(const Request&, const PathValues&);
    Reply acknowledge(const Request&, const PathValues&);
    Reply resolve(const Request&, const PathValues&);

    // ---- maintenance windows (site_maintenance.cpp) ----
    Reply maintenanceWindows(const Request&, const PathValues&);
    Reply maintenanceWindow(const Request&, const PathValues&);
    Reply createMaintenanceWindow(const Request&, const PathValues&);
    Reply updateMaintenanceWindow(const Request&, const PathValues&);
    Reply deleteMaintenanceWindow(const Request&, const PathValues&);
    Reply maintenanceOccurrences(const Request&, const PathValues&);
    Reply previewMaintenance(const Request&, const PathValues&);

    // ---- what a window can cover and be shown on, read only (site_scope.cpp) ----
    Reply checks(const Request&, const PathValues&);
    Reply sources(const Request&, const PathValues&);
    Reply rules(const Request&, const PathValues&);
    Reply statusPages(const Request&, const PathValues&);

    // ---- pairing and relay (site_boxes.cpp) ----
    Reply pairings(const Request&, const PathValues&);
    Reply pairTenant(const Request&, const PathValues&);
    Reply redeem(const Request&, const PathValues&);
    Reply setRelay(const Request&, const PathValues&);
    Reply relayStatus(const Request&, const PathValues&);
    Reply mintPairingCode(const Request&, const PathValues&);

    const SiteKind kind_;
    const SiteSeed seed_;
    const PairingSeed pairing_;
    const std::int64_t maxOpenAlerts_;
    const std::int64_t maxMaintenanceWindows_;
    const Addresses addresses_;
    const std::chrono::sys_seconds started_;
    Routes routes_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::size_t heldPulls_ = 0;
    std::vector<AccountRecord> accounts_;
    std::vector<TeamRecord> teams_;                         // never grows: references stay valid
    std::map<std::string, std::string> sessions_;           // session token → account id
    std::map<std::string, KeyRecord> keys_;                 // key token → key
    std::map<std::string, std::vector<Pairing>> pairings_;  // hosted team → its pairings
    std::map<std::string, std::vector<Device>> devices_;    // account id → its devices
    std::map<std::string, PairingCode> pairingCodes_;       // minted on the box
    std::optional<SetRelayBody> relay_;
    std::int64_t serial_ = 0;
    std::mt19937_64 random_;
    // The last alert id given, from a random start: the app's settings outlive a run, so an id
    // must never name another run's alert.
    std::uint64_t alertSerial_ = random_();
};

}  // namespace brisalune::demo
