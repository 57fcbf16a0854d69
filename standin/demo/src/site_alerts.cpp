#include <brisalune/demo/site.hpp>

#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/url.hpp>

#include <algorithm>
#include <set>

namespace brisalune::demo {

namespace {

// The service's own limit on how long a pull may be held.
constexpr std::int64_t longestWait = 60;

bool isOpen(const AlertSnapshot& alert) { return alert.state != rawValue(AlertState::resolved); }

}  // namespace

standin::Reply Site::projects(const Request& request, const PathValues&) {
    const auto limit = std::max<std::int64_t>(1, integerItem(request, "limit").value_or(50));
    const auto items = platform::decodeQuery(request.query);
    const auto after = std::ranges::find(items, "after", &platform::QueryItem::name);
    std::lock_guard lock(mutex_);
    const auto& team = keyTeam(request);
    ProjectPage page;
    for (const auto& name : team.projects) {
        if (after != items.end() && name <= after->value.value_or("")) continue;
        if (static_cast<std::int64_t>(page.projects.size()) == limit) {
            page.next = page.projects.back().name;
            break;
        }
        std::set<std::string> rules;
        std::int64_t open = 0;
        for (const auto& alert : team.alerts) {
            if (alert.project != name) continue;
            rules.insert(alert.rule);
            open += isOpen(alert) ? 1 : 0;
        }
        const auto created = (started_ - std::chrono::days(30)).time_since_epoch().count();
        page.projects.push_back({name, 1, 1, static_cast<std::int64_t>(rules.size()), open, created});
    }
    return Reply::json(json::encode(page));
}

standin::Reply Site::pull(const Request& request, const PathValues&) {
    auto cursor = integerItem(request, "cursor").value_or(0);
    const auto wait = std::clamp<std::int64_t>(integerItem(request, "wait").value_or(0), 0, longestWait);
    std::unique_lock lock(mutex_);
    auto& team = keyTeam(request);
    if (cursor < 0 || cursor > team.seq) cursor = 0;  // a cursor this run never gave out: start over
    if (wait > 0 && team.seq == cursor && !stopping_) {
        ++heldPulls_;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(wait), [&] { return stopping_ || team.seq > cursor; });
        --heldPulls_;
    }
    PullResponse answer{team.seq, {}, {}};
    for (const auto& project : team.projects) answer.configVersions[project] = 1;
    for (const auto& alert : team.alerts) {
        if (alert.updatedSeq > cursor) answer.alerts.push_back(alert);
    }
    std::ranges::sort(answer.alerts, {}, &AlertSnapshot::updatedSeq);
    return Reply::json(json::encode(answer));
}

standin::Reply Site::acknowledge(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    auto& acked = alert(team, values.at("alert"));
    change(team, acked, rawValue(AlertState::acked));
    return Reply::json(json::encode(acked));
}

standin::Reply Site::resolve(const Request& request, const PathValues& values) {
    // The cause and fix are read to check them, and not kept.
    if (!request.body.empty()) json::decode<AlertResolveBody>(request.body);
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    auto& resolved = alert(team, values.at("alert"));
    change(team, resolved, rawValue(AlertState::resolved));
    return Reply::json(json::encode(resolved));
}

void Site::raise(const ArrivalSeed& arrival) {
    std::lock_guard lock(mutex_);
    auto found = std::ranges::find_if(teams_, [&](const TeamRecord& t) { return t.id == arrival.team && !t.onBox; });
    if (found == teams_.end()) return;
    auto& team = *found;
    const AlertSeed seed{
        nextAlertId(),
        arrival.project,
        arrival.rule,
        std::string(rawValue(AlertState::firing)),
        arrival.level,
        1,
        0,
        arrival.messageTemplate,
        arrival.lastMessage,
        0,
        0,
        std::string(AlertKind::event),
        arrival.source,
        {},
        std::nullopt};
    team.alerts.push_back(snapshotOf(seed, now(), ++team.seq));
    keepWithinLimit(team);
    changed_.notify_all();
}

}  // namespace brisalune::demo
