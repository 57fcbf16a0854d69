// Requests per second of the client's send road with decoding of a small answer, against the
// stand-in on loopback, beside a bare reused libcurl handle (the floor) in the same run.

#include "bare_curl.hpp"
#include "heap_meter.hpp"

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/standin/server.hpp>

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

namespace {

struct Small {
    std::string id;
    bool ok = false;
    std::int64_t count = 0;
};

constexpr const char* smallBody = R"({"id":"a1","ok":true,"count":42})";

}  // namespace

template <>
inline constexpr auto brisalune::json::keys<Small> = brisalune::json::object(
    brisalune::json::field("id", &Small::id),
    brisalune::json::field("ok", &Small::ok),
    brisalune::json::field("count", &Small::count));

namespace {

brisalune::standin::Server& server() {
    static auto* s = [] {
        auto* made = new brisalune::standin::Server;  // lives for the whole run
        made->on("GET", "/v1/small", brisalune::standin::Reply::json(smallBody));
        return made;
    }();
    return *s;
}

void BareCurl(benchmark::State& state) {
    brisalune::bench::BareCurl curl(server().baseUrl() + "/v1/small");
    for (auto _ : state) benchmark::DoNotOptimize(curl.get(state));
    brisalune::bench::requestRate(state);
    state.counters["answer_bytes"] = static_cast<double>(std::string_view(smallBody).size());
}

void ClientSendAndDecode(benchmark::State& state) {
    brisalune::BrisaluneClient client(*brisalune::platform::Url::parse(server().baseUrl()), "token");
    for (auto _ : state) {
        auto small = brisalune::fetch<Small>(client, {.method = "GET", .path = "/v1/small"});
        benchmark::DoNotOptimize(small);
    }
    brisalune::bench::requestRate(state);
    brisalune::bench::reportPeakHeap(state, [&] {
        benchmark::DoNotOptimize(brisalune::fetch<Small>(client, {.method = "GET", .path = "/v1/small"}));
    });
    state.counters["answer_bytes"] = static_cast<double>(std::string_view(smallBody).size());
}

}  // namespace

BENCHMARK(BareCurl)->MinTime(2.0)->UseRealTime();
BENCHMARK(ClientSendAndDecode)->MinTime(2.0)->UseRealTime();
BENCHMARK_MAIN();
