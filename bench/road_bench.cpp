// Requests per second of the client's send road with decoding of a small answer, against the
// stand-in on loopback, beside a bare reused libcurl handle (the floor) in the same run. The
// floor sends the very request ours sends (our User-Agent and Authorization, no Accept), its
// header lines set once; the floor without them, as it was first written, is measured beside it.

#include "bare_curl.hpp"
#include "heap_meter.hpp"
#include "pinned_server.hpp"

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/standin/server.hpp>

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

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
    static auto* s = brisalune::bench::startServerBesideCaller([] {
        auto* made = new brisalune::standin::Server;  // lives for the whole run
        made->on("GET", "/v1/small", brisalune::standin::Reply::json(smallBody));
        return made;
    });
    return *s;
}

brisalune::BrisaluneClient makeClient() {
    return brisalune::BrisaluneClient(*brisalune::platform::Url::parse(server().baseUrl()), "token");
}

const brisalune::Call smallCall{.method = "GET", .path = "/v1/small"};

// The fields of the last request the stand-in received, Host aside (libcurl writes it itself).
brisalune::standin::HeaderFields lastFields() {
    auto fields = server().lastRequest().value_or(brisalune::standin::ReceivedRequest{}).headers;
    std::erase_if(fields, [](const auto& field) { return brisalune::http::sameFieldName(field.first, "Host"); });
    return fields;
}

// The fields of our client's request, and the header lines that make libcurl send them and
// nothing else: its default Accept is dropped when ours sends none.
struct OurRequest {
    brisalune::standin::HeaderFields fields;
    std::vector<std::string> lines;
};

const OurRequest& ourRequest() {
    static const OurRequest request = [] {
        brisalune::fetch<Small>(makeClient(), smallCall);
        OurRequest made{.fields = lastFields(), .lines = {}};
        bool accept = false;
        for (const auto& [name, value] : made.fields) {
            made.lines.push_back(name + ": " + value);
            accept = accept || brisalune::http::sameFieldName(name, "Accept");
        }
        if (!accept) made.lines.emplace_back("Accept:");
        return made;
    }();
    return request;
}

void runFloor(benchmark::State& state, const std::vector<std::string>& headerLines) {
    brisalune::bench::BareCurl curl(server().baseUrl() + "/v1/small", headerLines);
    for (auto _ : state) benchmark::DoNotOptimize(curl.get(state));
    brisalune::bench::requestRate(state);
    state.counters["answer_bytes"] = static_cast<double>(std::string_view(smallBody).size());
}

// The floor: the same request as ours, byte for byte.
void BareCurl(benchmark::State& state) {
    runFloor(state, ourRequest().lines);
    if (lastFields() != ourRequest().fields) state.SkipWithError("the floor's request is not the one ours sends");
}

// The floor as it was before it carried our fields: Host and libcurl's Accept only.
void BareCurlWithoutOurFields(benchmark::State& state) { runFloor(state, {}); }

void ClientSendAndDecode(benchmark::State& state) {
    const auto client = makeClient();
    for (auto _ : state) {
        auto small = brisalune::fetch<Small>(client, smallCall);
        benchmark::DoNotOptimize(small);
    }
    brisalune::bench::requestRate(state);
    brisalune::bench::reportPeakHeap(state, [&] {
        benchmark::DoNotOptimize(brisalune::fetch<Small>(client, smallCall));
    });
    state.counters["answer_bytes"] = static_cast<double>(std::string_view(smallBody).size());
}

}  // namespace

BENCHMARK(BareCurl)->UseRealTime();
BENCHMARK(BareCurlWithoutOurFields)->UseRealTime();
BENCHMARK(ClientSendAndDecode)->UseRealTime();
BENCHMARK_MAIN();
