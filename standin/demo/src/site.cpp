#include <brisalune/demo/site.hpp>

#include <brisalune/platform/base64.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/url.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <span>
#include <utility>

namespace brisalune::demo {

namespace {

std::int64_t minutesBefore(std::chrono::sys_seconds start, std::int64_t minutes) {
    return (start - std::chrono::minutes(minutes)).time_since_epoch().count();
}

std::string_view stateAfter(std::string_view current, std::string_view wanted) {
    if (current == rawValue(AlertState::resolved)) return current;  // resolved stays resolved
    return wanted;
}

}  // namespace

std::chrono::sys_seconds Site::now() {
    return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
}

std::optional<std::int64_t> Site::integerItem(const Request& request, std::string_view name) {
    for (const auto& item : platform::decodeQuery(request.query)) {
        if (item.name != name) continue;
        const std::string text = item.value.value_or("");
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) {
            throw Refusal{400, std::string(name) + " must be an integer"};
        }
        return value;
    }
    return std::nullopt;
}

AlertSnapshot Site::snapshotOf(const AlertSeed& seed, std::chrono::sys_seconds at, std::int64_t seq) {
    const auto firstSeen = minutesBefore(at, seed.firstSeenMinutesAgo);
    const auto lastSeen = minutesBefore(at, seed.lastSeenMinutesAgo);
    AlertSnapshot alert;
    alert.id = seed.id;
    alert.project = seed.project;
    alert.rule = seed.rule;
    alert.state = seed.state;
    alert.level = seed.level;
    alert.count = seed.count;
    alert.escalationLevel = seed.escalationLevel;
    alert.messageTemplate = seed.messageTemplate;
    alert.lastMessage = seed.lastMessage;
    alert.firstSeen = firstSeen;
    alert.lastSeen = lastSeen;
    alert.updatedSeq = seq;
    alert.identifiers = seed.identifiers;
    alert.kind = seed.kind;
    alert.source = seed.source;
    if (!seed.source.empty()) alert.reportedBy = {{seed.source, seed.count, firstSeen, lastSeen}};
    alert.incident = seed.incident;
    return alert;
}

Site::Site(SiteKind kind, const Fixture& fixture, standin::Server& server, Addresses addresses)
    : kind_(kind)
    , seed_(kind == SiteKind::hosted ? fixture.hosted : fixture.box)
    , pairing_(fixture.pairing)
    , maxOpenAlerts_(fixture.maxOpenAlerts)
    , maxMaintenanceWindows_(fixture.maxMaintenanceWindows)
    , addresses_(std::move(addresses))
    , started_(now())
    , random_(std::random_device{}()) {
    for (const auto& account : seed_.accounts) {
        accounts_.push_back({{account.id, account.email, account.displayName}, account.password});
    }
    for (const auto& seed : seed_.teams) {
        TeamRecord team;
        team.id = seed.id;
        team.name = seed.name;
        team.role = seed.role;
        team.onBox = seed.onBox;
        team.projects = seed.projects;
        std::ranges::sort(team.projects);  // the project list pages by name
        for (const auto& alert : seed.alerts) team.alerts.push_back(snapshotOf(alert, started_, ++team.seq));
        team.checks = seed.checks;
        team.statusPages = seed.statusPages;
        seedWindows(team, seed.maintenanceWindows);
        teams_.push_back(std::move(team));
    }
    addRoutes();
    server.otherwise([this](const Request& request) { return answer(request); });
}

void Site::add(const char* method, std::string pattern, Member member) {
    routes_.add(method, std::move(pattern), [this, member](const Request& request, const PathValues& values) {
        return (this->*member)(request, values);
    });
}

void Site::addRoutes() {
    add("GET", "/healthz", &Site::healthz);
    add("POST", "/v1/login", &Site::login);
    add("POST", "/v1/logout", &Site::logout);
    add("GET", "/v1/me", &Site::me);
    add("GET", "/v1/tenants", &Site::tenants);
    add("POST", "/v1/tenants/{tenant}/keys", &Site::issueKey);
    add("DELETE", "/v1/tenants/{tenant}/keys/{key}", &Site::revokeKey);
    add("GET", "/v1/projects", &Site::projects);
    add("GET", "/v1/pull", &Site::pull);
    add("POST", "/v1/alerts/{alert}/ack", &Site::acknowledge);
    add("POST", "/v1/alerts/{alert}/resolve", &Site::resolve);
    add("GET", "/v1/projects/{project}/maintenance-windows", &Site::maintenanceWindows);
    add("POST", "/v1/projects/{project}/maintenance-windows", &Site::createMaintenanceWindow);
    add("POST", "/v1/projects/{project}/maintenance-windows/preview", &Site::previewMaintenance);
    add("GET", "/v1/projects/{project}/maintenance-windows/{window}", &Site::maintenanceWindow);
    add("PUT", "/v1/projects/{project}/maintenance-windows/{window}", &Site::updateMaintenanceWindow);
    add("DELETE", "/v1/projects/{project}/maintenance-windows/{window}", &Site::deleteMaintenanceWindow);
    add("GET", "/v1/projects/{project}/maintenance-windows/{window}/occurrences", &Site::maintenanceOccurrences);
    add("GET", "/v1/projects/{project}/checks", &Site::checks);
    add("GET", "/v1/projects/{project}/sources", &Site::sources);
    add("GET", "/v1/projects/{project}/rules", &Site::rules);
    add("GET", "/v1/status-pages", &Site::statusPages);
    if (kind_ == SiteKind::hosted) {
        add("GET", "/v1/tenants/{tenant}/pairings", &Site::pairings);
        add("POST", "/v1/tenants/{tenant}/pair", &Site::pairTenant);
        add("POST", "/v1/account/devices", &Site::registerDevice);
        add("GET", "/v1/account/devices", &Site::devices);
        add("DELETE", "/v1/account/devices/{device}", &Site::deleteDevice);
    } else {
        add("POST", "/v1/pair", &Site::redeem);
        add("PUT", "/v1/relay", &Site::setRelay);
        add("GET", "/v1/relay", &Site::relayStatus);
        add("POST", "/v1/pair/codes", &Site::mintPairingCode);
    }
}

standin::Reply Site::answer(const Request& request) {
    Reply reply;
    try {
        auto found = routes_.find(request);
        if (!found) throw Refusal{404, "not found"};
        reply = (*found->handler)(request, found->values);
    } catch (const Refusal& refusal) {
        reply = Reply::json(json::encode(ErrorBody{refusal.message}), refusal.status);
    } catch (const Invalid& invalid) {
        ValidationBody body{"validation failed", {}};
        for (const auto& problem : invalid.fields) body.fields.push_back({problem.field, problem.reason});
        reply = Reply::json(json::encode(body), 422);
    } catch (const json::DecodeError& error) {
        reply = Reply::json(json::encode(ErrorBody{std::string("malformed request body: ") + error.what()}), 400);
    }
    stamp(reply, request.path);
    return reply;
}

void Site::stamp(Reply& reply, std::string_view path) const {
    reply.headers.emplace_back("X-Brisalune-Version", seed_.version);
    const bool versioned = path == "/v1" || path.starts_with("/v1/");
    if (versioned && seed_.clientUnsupported) {
        reply.headers.emplace_back("X-Brisalune-Client-Unsupported", *seed_.clientUnsupported);
    }
}

void Site::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

bool Site::holdsTeam(std::string_view teamId) const {
    std::lock_guard lock(mutex_);
    return std::ranges::any_of(teams_, [&](const TeamRecord& team) { return team.id == teamId && !team.onBox; });
}

std::vector<Site::PortalTeam> Site::portalTeams() const {
    std::lock_guard lock(mutex_);
    std::vector<PortalTeam> held;
    for (const TeamRecord& team : teams_) {
        if (!team.onBox) held.push_back({team.id, team.name, team.alerts});
    }
    return held;
}

std::string Site::standingJoinCode() const {
    std::lock_guard lock(mutex_);
    return joinCode(pairing_.code, false);
}

bool Site::waitForHeldPulls(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return heldPulls_ >= count; });
}

// ---- with the lock held ----------------------------------------------------------------------

std::optional<std::string> Site::bearer(const Request& request) {
    constexpr std::string_view scheme = "Bearer ";
    auto field = request.header("Authorization");
    if (!field || !field->starts_with(scheme)) return std::nullopt;
    return field->substr(scheme.size());
}

const Site::AccountRecord& Site::caller(const Request& request) const {
    auto token = bearer(request);
    auto session = token ? sessions_.find(*token) : sessions_.end();
    if (session == sessions_.end()) throw Refusal{401, "not signed in, or the session has ended"};
    auto account = std::ranges::find(accounts_, session->second, [](const auto& a) { return a.account.id; });
    if (account == accounts_.end()) throw Refusal{401, "the account no longer exists"};
    return *account;
}

Site::TeamRecord& Site::keyTeam(const Request& request) {
    auto token = bearer(request);
    auto key = token ? keys_.find(*token) : keys_.end();
    if (key == keys_.end()) throw Refusal{401, "invalid or revoked API key"};
    return team(key->second.teamId);
}

Site::TeamRecord& Site::team(std::string_view id) {
    auto found = std::ranges::find(teams_, id, &TeamRecord::id);
    if (found == teams_.end()) throw Refusal{404, "no such team"};
    return *found;
}

const std::string& Site::project(const TeamRecord& team, const PathValues& values) {
    auto found = std::ranges::find(team.projects, values.at("project"));
    if (found == team.projects.end()) throw Refusal{404, "no such project"};
    return *found;
}

AlertSnapshot& Site::alert(TeamRecord& team, std::string_view id) {
    auto found = std::ranges::find(team.alerts, id, &AlertSnapshot::id);
    if (found == team.alerts.end()) throw Refusal{404, "no such alert"};
    return *found;
}

std::vector<Membership> Site::memberships() const {
    std::vector<Membership> list;
    for (const auto& team : teams_) {
        Membership membership{team.id, team.name, team.role, std::nullopt, std::nullopt};
        if (team.onBox) membership.dataPlaneURL = platform::Url::parse(addresses_.box);
        list.push_back(std::move(membership));
    }
    return list;
}

std::string Site::issueKeyFor(const std::string& teamId, std::string& keyId) {
    keyId = "key_" + std::to_string(++serial_);
    std::string token = "bk_" + randomHex(20);
    keys_[token] = {keyId, teamId};
    return token;
}

void Site::change(TeamRecord& team, AlertSnapshot& alert, std::string_view state) {
    const auto next = stateAfter(alert.state, state);
    if (next == alert.state) return;
    alert.state = next;
    alert.updatedSeq = ++team.seq;
    changed_.notify_all();
}

void Site::keepWithinLimit(TeamRecord& team) {
    if (maxOpenAlerts_ <= 0) return;
    const auto isResolved = [](const AlertSnapshot& a) { return a.state == rawValue(AlertState::resolved); };
    const auto oldestWhere = [&](bool resolved) {
        auto oldest = team.alerts.end();
        for (auto it = team.alerts.begin(); it != team.alerts.end(); ++it) {
            if (isResolved(*it) == resolved && (oldest == team.alerts.end() || it->lastSeen < oldest->lastSeen)) {
                oldest = it;
            }
        }
        return oldest;
    };
    while (std::ranges::count_if(team.alerts, std::not_fn(isResolved)) > maxOpenAlerts_) {
        change(team, *oldestWhere(false), rawValue(AlertState::resolved));
    }
    // Old resolved alerts are forgotten, so a long run keeps a pull small.
    while (std::ranges::count_if(team.alerts, isResolved) > maxOpenAlerts_) team.alerts.erase(oldestWhere(true));
}

std::string Site::nextAlertId() {
    // Sixteen lowercase hex digits, like the ids the service issues.
    char id[17];
    std::snprintf(
        id,
        sizeof id,
        "%s%012llx",
        kind_ == SiteKind::hosted ? "a2c0" : "b2c0",
        static_cast<unsigned long long>(++alertSerial_ & 0xffff'ffff'ffffULL));
    return id;
}

std::string Site::randomHex(std::size_t bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes; ++i) {
        const auto byte = static_cast<unsigned>(random_() & 0xff);
        text += digits[byte >> 4];
        text += digits[byte & 0xf];
    }
    return text;
}

std::string Site::joinCode(const std::string& code, bool seat) const {
    const std::string hostedTeam = relay_ && relay_->hostedTenantId ? *relay_->hostedTenantId : pairing_.hostedTeam;
    const std::string payload = json::encode(JoinCodePayload{addresses_.self, hostedTeam, code, seat, 1});
    std::string text =
        platform::base64(std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
    std::erase(text, '=');
    std::ranges::replace(text, '+', '-');
    std::ranges::replace(text, '/', '_');
    return "blj_" + text;
}

}  // namespace brisalune::demo
