// A pull answer of 10,000 alerts: simdjson parsing and walking every value (the floor), the
// endpoint's decoding into AlertSnapshot records, and the open-alert merge of the decoded list.
// Then the whole pull over loopback from the stand-in (send, gate and decode), beside its floor:
// a bare reused libcurl handle fetching the same bytes, then simdjson parsing and walking them.
#include "bare_curl.hpp"
#include "heap_meter.hpp"
#include "pinned_server.hpp"
#include "simdjson_floor.hpp"
#include "synthetic.hpp"

#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/alerts/open_alerts.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/standin/server.hpp>

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace brisalune;
using bench::Random;
namespace synthetic = bench::synthetic;

constexpr std::size_t alertCount = 10'000;

inline constexpr std::array<std::string_view, 3> states = {"firing", "acked", "resolved"};
inline constexpr std::array<std::string_view, 4> kinds = {"event", "event", "source_health", "secret_warning"};

AlertSnapshot syntheticAlert(Random& random, std::uint64_t number, std::int64_t seq) {
    const std::int64_t firstSeen = 1'735'689'600 + static_cast<std::int64_t>(random.below(30'000'000));
    AlertSnapshot a;
    a.id = synthetic::identifier("al", number);
    a.project = synthetic::identifier("proj", random.below(40));
    a.rule = synthetic::sentence(random, 2);
    a.state = std::string(random.pick(states));
    a.level = static_cast<std::int64_t>(random.below(6)) * 100;
    a.count = static_cast<std::int64_t>(random.below(100'000));
    a.escalationLevel = static_cast<std::int64_t>(random.below(4));
    a.investigate = random.chance(20);
    a.messageTemplate = synthetic::sentence(random, 4 + random.below(6));
    a.lastMessage = synthetic::sentence(random, 8 + random.below(12));
    a.firstSeen = firstSeen;
    a.lastSeen = firstSeen + static_cast<std::int64_t>(random.below(86'400));
    a.updatedSeq = seq;
    a.identifiers = {
        {"host", synthetic::identifier("host", random.below(300))},
        {"service", synthetic::identifier("svc", random.below(500))}};
    if (random.chance(30)) a.identifiers.emplace("finding_id", synthetic::identifier("f", number));
    for (std::uint64_t p = random.below(3); p > 0; --p) a.pageAccounts.push_back(synthetic::identifier("usr", p));
    a.kind = std::string(random.pick(kinds));
    a.source = std::string(random.pick(synthetic::sources));
    for (std::uint64_t r = 1 + random.below(2); r > 0; --r) {
        a.reportedBy.push_back(
            {std::string(random.pick(synthetic::sources)),
             static_cast<std::int64_t>(random.below(1000)),
             firstSeen,
             a.lastSeen});
    }
    for (int c = 0; c < 12; ++c) a.recentCounts.push_back(static_cast<std::int64_t>(random.below(50)));
    if (random.chance(60)) a.lastNotifiedAt = a.lastSeen;
    if (random.chance(30)) a.nextEscalationAt = a.lastSeen + 900;
    if (random.chance(25)) {
        a.incident = AlertIncidentRef{
            static_cast<std::int64_t>(random.below(5000)),
            synthetic::identifier("INC", random.below(5000)),
            synthetic::sentence(random, 4),
            "open"};
    }
    return a;
}

// 10,000 snapshots of about 8,000 alerts: as in a real pull, some alerts come more than once.
const std::string& answer() {
    static const std::string text = [] {
        Random random(2024);
        PullResponse pull;
        pull.cursor = 123'456;
        pull.configVersions = {{"proj_0000001", 4}, {"proj_0000002", 9}};
        for (std::size_t i = 0; i < alertCount; ++i) {
            const std::uint64_t number = random.chance(20) ? random.below(i + 1) : i;
            pull.alerts.push_back(syntheticAlert(random, number, static_cast<std::int64_t>(i) + 1));
        }
        return json::encode(pull);
    }();
    return text;
}

void PullSimdjsonFloor(benchmark::State& state) { bench::simdjsonFloor(state, answer()); }

using bench::timedWithoutFreeing;

void PullDecode(benchmark::State& state) {
    timedWithoutFreeing(state, [] { return decodeAnswer<PullResponse>(answer()); });
    bench::bytesProcessed(state, answer());
    bench::reportPeakHeap(state, [] { benchmark::DoNotOptimize(decodeAnswer<PullResponse>(answer())); });
}

void OpenAlertsMerge(benchmark::State& state) {
    const std::vector<AlertSnapshot> alerts = decodeAnswer<PullResponse>(answer()).alerts;
    timedWithoutFreeing(state, [&] { return OpenAlerts::merge(alerts); });
    state.counters["open"] = static_cast<double>(OpenAlerts::merge(alerts).size());
}

// The app model's case: the decoded list is handed over and the winners are moved out.
void OpenAlertsMergeMoving(benchmark::State& state) {
    const std::vector<AlertSnapshot> alerts = decodeAnswer<PullResponse>(answer()).alerts;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<AlertSnapshot> input = alerts;
        state.ResumeTiming();
        std::vector<AlertSnapshot> open = OpenAlerts::merge(std::move(input));
        benchmark::DoNotOptimize(open);
        state.PauseTiming();
        input = {};
        open = {};
        state.ResumeTiming();
    }
}

standin::Server& server() {
    static auto* s = bench::startServerBesideCaller([] {
        auto* made = new standin::Server;  // lives for the whole run
        made->on("GET", "/v1/pull", standin::Reply::json(answer()));
        return made;
    });
    return *s;
}

// The floor of a pull: the same bytes through a bare reused libcurl handle, then parsed and
// walked as every floor here is (bench::walk), so that nothing of the parse can be skipped.
void PullOverLoopbackFloor(benchmark::State& state) {
    bench::BareCurl curl(server().baseUrl() + "/v1/pull");
    simdjson::dom::parser parser;
    for (auto _ : state) {
        auto root = parser.parse(curl.get(state));
        if (root.error()) state.SkipWithError("not JSON");
        benchmark::DoNotOptimize(bench::walk(root.value_unsafe()));
    }
    bench::requestRate(state);
    bench::bytesProcessed(state, answer());
}

void PullOverLoopback(benchmark::State& state) {
    BrisaluneClient client(*platform::Url::parse(server().baseUrl()), std::nullopt, "key");
    timedWithoutFreeing(state, [&] { return pull(client, 0, 0); });
    bench::requestRate(state);
    bench::bytesProcessed(state, answer());
    bench::reportPeakHeap(state, [&] { benchmark::DoNotOptimize(pull(client, 0, 0)); });
}

// On a busy machine the fastest repetition says most about the code: run with
// --benchmark_repetitions=10 to get it beside the mean and the median.
double fastest(const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); }

BENCHMARK(PullSimdjsonFloor)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(PullDecode)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(OpenAlertsMerge)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(OpenAlertsMergeMoving)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", fastest);
BENCHMARK(PullOverLoopbackFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);
BENCHMARK(PullOverLoopback)->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
