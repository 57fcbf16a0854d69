#pragma once

// The transfer floor of the loopback benchmarks: one libcurl easy handle,
// reused (so its connection stays open), fetching a URL into a buffer that
// keeps its capacity between calls. Header lines, when given, are set once
// (libcurl's own syntax: "Name: value", "Name:" to drop one of its defaults).

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstddef>
#include <string>
#include <vector>

namespace brisalune::bench {

class BareCurl {
public:
    explicit BareCurl(const std::string& url, const std::vector<std::string>& headerLines = {})
        : easy_(curl_easy_init()) {
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        for (const auto& line : headerLines) headers_ = curl_slist_append(headers_, line.c_str());
        if (headers_ != nullptr) curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &BareCurl::collect);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
        curl_easy_setopt(easy_, CURLOPT_TCP_NODELAY, 1L);
    }
    ~BareCurl() {
        curl_easy_cleanup(easy_);
        curl_slist_free_all(headers_);
    }
    BareCurl(const BareCurl&) = delete;
    BareCurl& operator=(const BareCurl&) = delete;

    // The body of one GET; a failed transfer is reported on `state`.
    const std::string& get(benchmark::State& state) {
        body_.clear();
        if (curl_easy_perform(easy_) != CURLE_OK) state.SkipWithError("transfer failed");
        return body_;
    }

private:
    static std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    }

    CURL* easy_;
    curl_slist* headers_ = nullptr;
    std::string body_;
};

inline void requestRate(benchmark::State& state) {
    state.counters["req/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace brisalune::bench
