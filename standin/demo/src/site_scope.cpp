#include <brisalune/demo/site.hpp>

#include <brisalune/client/routing/rules.hpp>

#include <algorithm>
#include <set>

namespace brisalune::demo {

namespace {

// The distinct values one member of the project's alerts holds, ascending; empty ones left out.
std::set<std::string> namedBy(
    const std::vector<AlertSnapshot>& alerts, const std::string& project, std::string AlertSnapshot::*member) {
    std::set<std::string> names;
    for (const auto& alert : alerts) {
        if (alert.project == project && !(alert.*member).empty()) names.insert(alert.*member);
    }
    return names;
}

// When the seeded checks, sources and rules were made.
std::int64_t aMonthBefore(std::chrono::sys_seconds start) {
    return (start - std::chrono::days(30)).time_since_epoch().count();
}

}  // namespace

standin::Reply Site::checks(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    ChecksResponse answer;
    for (const auto& spec : team.checks[project(team, values)]) {
        MonitorCheckInfo check;
        check.spec = spec;
        check.createdAt = aMonthBefore(started_);
        check.updatedAt = check.createdAt;
        answer.checks.push_back(std::move(check));
    }
    return Reply::json(json::encode(answer));
}

standin::Reply Site::sources(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    SourcesResponse answer;
    for (const auto& name : namedBy(team.alerts, project(team, values), &AlertSnapshot::source)) {
        SourceInfo source;
        source.name = name;
        source.createdAt = aMonthBefore(started_);
        answer.sources.push_back(std::move(source));
    }
    return Reply::json(json::encode(answer));
}

standin::Reply Site::rules(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& team = keyTeam(request);
    RulesResponse answer;
    for (const auto& name : namedBy(team.alerts, project(team, values), &AlertSnapshot::rule)) {
        RuleInfo rule;
        rule.rule.name = name;
        rule.createdAt = aMonthBefore(started_);
        rule.updatedAt = rule.createdAt;
        answer.rules.push_back(std::move(rule));
    }
    return Reply::json(json::encode(answer));
}

standin::Reply Site::statusPages(const Request& request, const PathValues&) {
    std::lock_guard lock(mutex_);
    return Reply::json(json::encode(StatusPagesResponse{keyTeam(request).statusPages}));
}

}  // namespace brisalune::demo
