#pragma once

// A deterministic synthetic answer for benchmarks: a page of alert-like records of about twenty
// fields of mixed types, as the service sends them. The same seed gives the same bytes.
//
// {"alerts":[{"id":"al_0000001","title":...,"tags":[{"key":"env","value":"prod"}],...},...],
//  "total":10000,"next_cursor":null}

#include <brisalune/platform/json_writer.hpp>
#include <brisalune/platform/time.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace brisalune::bench {

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
    bool chance(unsigned percent) { return below(100) < percent; }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }

    template <class T, std::size_t N>
    const T& pick(const std::array<T, N>& choices) {
        return choices[below(N)];
    }

private:
    std::uint64_t state_;
};

namespace synthetic {

inline constexpr std::array<std::string_view, 12> words = {
    "disk",
    "latency",
    "database",
    "checkout",
    "replica",
    "timeout",
    "queue",
    "memory",
    "certificate",
    "gateway",
    "scheduler",
    "café"};
inline constexpr std::array<std::string_view, 3> statuses = {"open", "acknowledged", "resolved"};
inline constexpr std::array<std::string_view, 4> severities = {"critical", "high", "medium", "low"};
inline constexpr std::array<std::string_view, 5> sources = {
    "prometheus", "heartbeat", "email", "webhook", "synthetics"};
inline constexpr std::array<std::string_view, 4> tagKeys = {"env", "region", "team", "tier"};
inline constexpr std::array<std::string_view, 6> tagValues = {
    "prod", "staging", "eu-west-1", "us-east-2", "payments", "gold"};

inline std::string sentence(Random& random, std::size_t wordCount) {
    std::string out;
    for (std::size_t i = 0; i < wordCount; ++i) {
        if (i) out += ' ';
        out += random.pick(words);
    }
    if (random.chance(10)) out += " \"quoted\"\tand\\escaped";
    return out;
}

inline std::string identifier(std::string_view prefix, std::uint64_t number) {
    char buffer[32];
    std::snprintf(
        buffer,
        sizeof buffer,
        "%.*s_%07llu",
        static_cast<int>(prefix.size()),
        prefix.data(),
        static_cast<unsigned long long>(number));
    return buffer;
}

// An optional value is written, written as null or left out.
template <class F>
void optionalField(json::Writer& w, Random& random, std::string_view key, unsigned presentPercent, F&& value) {
    if (random.chance(presentPercent)) {
        w.key(key);
        value();
    } else if (random.chance(50)) {
        w.key(key);
        w.null();
    }
}

inline void alert(json::Writer& w, Random& random, std::uint64_t index) {
    using std::chrono::seconds;
    const std::int64_t created = 1'735'689'600 + static_cast<std::int64_t>(random.below(30'000'000));
    auto date = [&](std::int64_t at) { w.string(platform::formatInternetDate(std::chrono::sys_seconds{seconds{at}})); };
    w.beginObject();
    w.key("id");
    w.string(identifier("al", index));
    w.key("title");
    w.string(sentence(random, 3 + random.below(4)));
    optionalField(w, random, "description", 60, [&] { w.string(sentence(random, 10 + random.below(12))); });
    w.key("status");
    w.string(random.pick(statuses));
    w.key("severity");
    w.string(random.pick(severities));
    w.key("source");
    w.string(random.pick(sources));
    w.key("service_id");
    w.string(identifier("svc", random.below(500)));
    optionalField(w, random, "team_id", 70, [&] { w.string(identifier("team", random.below(40))); });
    optionalField(w, random, "assignee_id", 50, [&] { w.string(identifier("usr", random.below(2000))); });
    w.key("priority");
    w.integer(static_cast<std::int64_t>(random.below(5)) + 1);
    w.key("occurrences");
    w.integer(static_cast<std::int64_t>(random.below(1'000'000'000'000)));
    w.key("score");
    w.number(random.unit() * 100);
    w.key("muted");
    w.boolean(random.chance(15));
    w.key("escalation_level");
    w.integer(static_cast<std::int64_t>(random.below(4)));
    w.key("created_at");
    date(created);
    w.key("updated_at");
    date(created + static_cast<std::int64_t>(random.below(86'400)));
    optionalField(w, random, "acknowledged_at", 40, [&] { date(created + 600); });
    optionalField(w, random, "resolved_at", 30, [&] { date(created + 7200); });
    w.key("url");
    w.string("https://app.example.com/alerts/" + identifier("al", index));
    w.key("tags");
    w.beginArray();
    for (std::uint64_t t = random.below(5); t > 0; --t) {
        w.beginObject();
        w.key("key");
        w.string(random.pick(tagKeys));
        w.key("value");
        w.string(random.pick(tagValues));
        w.endObject();
    }
    w.endArray();
    w.endObject();
}

}  // namespace synthetic

// The page of `count` alerts; about 650 bytes per alert.
inline std::string syntheticAlertPage(std::size_t count, std::uint64_t seed = 20260102) {
    Random random(seed);
    json::Writer w;
    w.beginObject();
    w.key("alerts");
    w.beginArray();
    for (std::size_t i = 0; i < count; ++i) synthetic::alert(w, random, i + 1);
    w.endArray();
    w.key("total");
    w.integer(static_cast<std::int64_t>(count));
    w.key("next_cursor");
    w.null();
    w.endObject();
    return w.take();
}

}  // namespace brisalune::bench
