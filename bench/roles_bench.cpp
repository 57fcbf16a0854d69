// A million route permission checks per iteration, over a mixed set of route keys (listed,
// server-sent and unlisted), projects and callers (built-in and custom roles, restricted and
// not, with and without role definitions). Prints checks per second; an iteration's time in
// milliseconds is the time of one check in nanoseconds.

#include "synthetic.hpp"

#include <brisalune/client/roles/role_permissions.hpp>
#include <brisalune/client/roles/route_keys.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace brisalune;
using bench::Random;

constexpr std::size_t checksPerIteration = 1'000'000;

std::vector<RolePermissions> callers() {
    std::vector<RolePermissions> made;
    for (std::string_view role : {"owner", "admin", "member", "responder", "viewer", "auditor"}) {
        made.emplace_back(std::string(role));
    }
    made.emplace_back(
        "admin",
        RouteRules{},
        std::vector<ProjectGrant>{{"proj_1", "viewer"}, {"proj_2", "responder"}, {"proj_3", "admin"}});
    std::vector<ProjectGrant> many;
    for (int i = 0; i < 12; ++i) many.push_back({"proj_" + std::to_string(i), i % 3 ? "member" : "viewer"});
    made.emplace_back("viewer", RouteRules{}, many);
    made.emplace_back(json::decode<RolesResponse>(
        R"({"role":"lead","permissions":["alerts:write","oncall:write"],)"
        R"("routes":{"POST /v1/alerts/{id}/ack":{"min_role":"responder","permission":"alerts:write"},)"
        R"("POST /v1/projects/{id}/checks":{"min_role":"member","scope":"project"},)"
        R"("PUT /v1/incident-settings":{"min_role":"admin","permission":"incident_settings:write"}},)"
        R"("projects":[{"project":"proj_1","role":"lead"},{"project":"proj_2","role":"member"}],)"
        R"("role_defs":[{"id":"owner","builtin":true,"permissions":["members:write","alerts:write"]},)"
        R"({"id":"admin","builtin":true,"permissions":["members:write"]},)"
        R"({"id":"member","builtin":true,"permissions":["alerts:write"]},)"
        R"({"id":"lead","name":"On-call lead","permissions":["alerts:write","oncall:write"]}]})"));
    return made;
}

std::vector<std::string_view> routes() {
    std::vector<std::string_view> made(RoutePattern::all.begin(), RoutePattern::all.end());
    for (std::string_view read :
         {"GET /v1/projects/{id}/checks",
          "GET /v1/alerts/{id}",
          "GET /v1/views",
          "GET /v1/incidents/{number}",
          "PUT /v1/projects/{id}/unknown"}) {
        made.push_back(read);
    }
    return made;
}

struct Query {
    const RolePermissions* caller;
    std::string_view route;
    std::optional<std::string_view> project;
};

// A fixed shuffle of 4,096 questions, cycled through.
struct Questions {
    std::vector<RolePermissions> people = callers();
    std::vector<std::string_view> keys = routes();
    std::array<std::string, 5> projects = {"proj_1", "proj_2", "proj_3", "proj_7", "proj_none"};
    std::vector<Query> queries;

    Questions() {
        Random random(116);
        for (int i = 0; i < 4096; ++i) {
            std::optional<std::string_view> project;
            if (!random.chance(20)) project = projects[random.below(projects.size())];
            queries.push_back({&people[random.below(people.size())], keys[random.below(keys.size())], project});
        }
    }
};

void MayChecks(benchmark::State& state) {
    const Questions questions;
    std::size_t allowed = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < checksPerIteration; ++i) {
            const Query& q = questions.queries[i & 4095];
            allowed += q.caller->may(q.route, q.project);
        }
        benchmark::DoNotOptimize(allowed);
    }
    state.counters["checks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * checksPerIteration), benchmark::Counter::kIsRate);
}

double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

BENCHMARK(MayChecks)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
