#pragma once

// A deterministic synthetic log search page: lines flat beside their project, with the metadata
// keys most lines carry, and the retention of the sources searched. The same seed gives the same bytes.
//
// {"lines":[{"project":"web","id":1,"message":...,"env":"prod","keys":{...},"tags":[...]},...],
//  "next":...,"total":...,"total_capped":false,"partial":false,"retention":{"nginx":{...}}}

#include "synthetic.hpp"

#include <brisalune/platform/json_writer.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brisalune::bench {

namespace synthetic {

inline constexpr std::array<std::string_view, 4> projects = {"web", "api", "billing", "search"};
inline constexpr std::array<std::string_view, 5> logSources = {"nginx", "app", "worker", "cron", "postgres"};
inline constexpr std::array<std::string_view, 3> envs = {"prod", "staging", "dev"};
inline constexpr std::array<std::int64_t, 5> levels = {10, 20, 30, 40, 50};

inline std::string hexDigest(Random& random) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(64, '0');
    for (char& c : out) c = hex[random.below(16)];
    return out;
}

inline void logHit(json::Writer& w, Random& random, std::uint64_t index) {
    w.beginObject();
    w.key("project");
    w.string(random.pick(projects));
    w.key("id");
    w.integer(static_cast<std::int64_t>(index));
    w.key("message");
    w.string(sentence(random, 6 + random.below(14)));
    w.key("level");
    w.integer(random.pick(levels));
    w.key("source");
    w.string(random.pick(logSources));
    optionalField(w, random, "template_sha256", 80, [&] { w.string(hexDigest(random)); });
    w.key("created_at");
    w.integer(1'735'689'600'000 + static_cast<std::int64_t>(random.below(30'000'000'000)));
    if (random.chance(85)) {
        w.key("env");
        w.string(random.pick(envs));
        w.key("host");
        w.string(identifier("host", random.below(200)));
        w.key("run");
        w.string(identifier("run", random.below(5000)));
        w.key("trace_id");
        w.string(hexDigest(random).substr(0, 32));
        w.key("keys");
        w.beginObject();
        for (std::uint64_t k = random.below(4); k > 0; --k) {
            w.key(random.pick(tagKeys));
            w.string(random.pick(tagValues));
        }
        w.endObject();
        w.key("tags");
        w.beginArray();
        for (std::uint64_t t = random.below(3); t > 0; --t) w.string(random.pick(tagValues));
        w.endArray();
    }
    if (random.chance(2)) {
        w.key("secret_warning");
        w.boolean(true);
    }
    w.endObject();
}

}  // namespace synthetic

// A search page of `count` lines; about 400 bytes per line (4.0 MB for 10,000).
inline std::string syntheticLogSearchPage(std::size_t count, std::uint64_t seed = 20260219) {
    Random random(seed);
    json::Writer w;
    w.beginObject();
    w.key("lines");
    w.beginArray();
    for (std::size_t i = 0; i < count; ++i) synthetic::logHit(w, random, i + 1);
    w.endArray();
    w.key("next");
    w.integer(static_cast<std::int64_t>(count) + 1);
    w.key("total");
    w.integer(static_cast<std::int64_t>(count) * 7);
    w.key("total_capped");
    w.boolean(false);
    w.key("partial");
    w.boolean(false);
    w.key("retention");
    w.beginObject();
    for (std::string_view source : synthetic::logSources) {
        w.key(source);
        w.beginObject();
        w.key("sources_total");
        w.integer(12);
        w.key("sources_retaining");
        w.integer(9);
        w.key("over_quota");
        w.boolean(false);
        w.key("retain_days");
        w.integer(30);
        w.endObject();
    }
    w.endObject();
    w.endObject();
    return w.take();
}

}  // namespace brisalune::bench
