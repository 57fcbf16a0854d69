// Requests per second of the client's send road with decoding of a small answer, against the
// stand-in on loopback, beside a bare reused libcurl handle (the floor) in the same run.

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/standin/server.hpp>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

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
    brisalune::json::field("id", &Small::id), brisalune::json::field("ok", &Small::ok),
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

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

void BareCurl(benchmark::State& state) {
    std::string url = server().baseUrl() + "/v1/small";
    CURL* easy = curl_easy_init();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(easy) != CURLE_OK) state.SkipWithError("transfer failed");
        benchmark::DoNotOptimize(body);
    }
    curl_easy_cleanup(easy);
    state.counters["req/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void ClientSendAndDecode(benchmark::State& state) {
    brisalune::BrisaluneClient client(*brisalune::platform::Url::parse(server().baseUrl()), "token");
    for (auto _ : state) {
        auto small = brisalune::fetch<Small>(client, {.method = "GET", .path = "/v1/small"});
        benchmark::DoNotOptimize(small);
    }
    state.counters["req/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BareCurl)->MinTime(2.0)->UseRealTime();
BENCHMARK(ClientSendAndDecode)->MinTime(2.0)->UseRealTime();
BENCHMARK_MAIN();
