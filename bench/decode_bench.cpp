// Decoding a large answer into records: simdjson alone walking every value (the floor), our
// codec from its key tables, and nlohmann/json with a from_json per struct into the same records.
#include "simdjson_floor.hpp"
#include "synthetic.hpp"
#include "synthetic_log_search.hpp"

#include <brisalune/client/logs/search.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/time.hpp>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace json = brisalune::json;
using std::chrono::sys_seconds;

struct Tag {
    std::string key;
    std::string value;
    friend bool operator==(const Tag&, const Tag&) = default;
};

struct Alert {
    std::string id;
    std::string title;
    std::optional<std::string> description;
    std::string status;
    std::string severity;
    std::string source;
    std::string serviceId;
    std::optional<std::string> teamId;
    std::optional<std::string> assigneeId;
    std::int32_t priority = 0;
    std::int64_t occurrences = 0;
    double score = 0;
    bool muted = false;
    std::int32_t escalationLevel = 0;
    sys_seconds createdAt{};
    sys_seconds updatedAt{};
    std::optional<sys_seconds> acknowledgedAt;
    std::optional<sys_seconds> resolvedAt;
    std::string url;
    std::vector<Tag> tags;
    friend bool operator==(const Alert&, const Alert&) = default;
};

struct AlertPage {
    std::vector<Alert> alerts;
    std::int64_t total = 0;
    std::optional<std::string> nextCursor;
    friend bool operator==(const AlertPage&, const AlertPage&) = default;
};

}  // namespace

namespace brisalune::json {

template <>
inline constexpr auto keys<Tag> = object(field("key", &Tag::key), field("value", &Tag::value));

template <>
inline constexpr auto keys<Alert> = object(
    field("id", &Alert::id),
    field("title", &Alert::title),
    field("description", &Alert::description),
    field("status", &Alert::status),
    field("severity", &Alert::severity),
    field("source", &Alert::source),
    field("service_id", &Alert::serviceId),
    field("team_id", &Alert::teamId),
    field("assignee_id", &Alert::assigneeId),
    field("priority", &Alert::priority),
    field("occurrences", &Alert::occurrences),
    field("score", &Alert::score),
    field("muted", &Alert::muted),
    field("escalation_level", &Alert::escalationLevel),
    field("created_at", &Alert::createdAt),
    field("updated_at", &Alert::updatedAt),
    field("acknowledged_at", &Alert::acknowledgedAt),
    field("resolved_at", &Alert::resolvedAt),
    field("url", &Alert::url),
    field("tags", &Alert::tags, orEmpty));

template <>
inline constexpr auto keys<AlertPage> = object(
    field("alerts", &AlertPage::alerts),
    field("total", &AlertPage::total),
    field("next_cursor", &AlertPage::nextCursor));

}  // namespace brisalune::json

namespace {

// ---- nlohmann/json: one from_json per struct ----------------------------------------------

sys_seconds readDate(const nlohmann::json& j) {
    auto parsed = brisalune::platform::parseInternetDate(j.get_ref<const std::string&>());
    if (!parsed) throw std::runtime_error("not an internet date-time");
    return *parsed;
}

template <class T, class Read>
void readOptional(const nlohmann::json& j, const char* key, std::optional<T>& out, Read read) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) {
        out.reset();
    } else {
        out = read(*it);
    }
}

template <class T>
void readOptional(const nlohmann::json& j, const char* key, std::optional<T>& out) {
    readOptional(j, key, out, [](const nlohmann::json& v) { return v.get<T>(); });
}

void from_json(const nlohmann::json& j, Tag& t) {
    j.at("key").get_to(t.key);
    j.at("value").get_to(t.value);
}

void from_json(const nlohmann::json& j, Alert& a) {
    j.at("id").get_to(a.id);
    j.at("title").get_to(a.title);
    readOptional(j, "description", a.description);
    j.at("status").get_to(a.status);
    j.at("severity").get_to(a.severity);
    j.at("source").get_to(a.source);
    j.at("service_id").get_to(a.serviceId);
    readOptional(j, "team_id", a.teamId);
    readOptional(j, "assignee_id", a.assigneeId);
    j.at("priority").get_to(a.priority);
    j.at("occurrences").get_to(a.occurrences);
    j.at("score").get_to(a.score);
    j.at("muted").get_to(a.muted);
    j.at("escalation_level").get_to(a.escalationLevel);
    a.createdAt = readDate(j.at("created_at"));
    a.updatedAt = readDate(j.at("updated_at"));
    readOptional(j, "acknowledged_at", a.acknowledgedAt, readDate);
    readOptional(j, "resolved_at", a.resolvedAt, readDate);
    j.at("url").get_to(a.url);
    auto tags = j.find("tags");
    if (tags == j.end() || tags->is_null()) {
        a.tags.clear();
    } else {
        tags->get_to(a.tags);
    }
}

void from_json(const nlohmann::json& j, AlertPage& p) {
    j.at("alerts").get_to(p.alerts);
    j.at("total").get_to(p.total);
    readOptional(j, "next_cursor", p.nextCursor);
}

// ---- the benchmarks -----------------------------------------------------------------------

constexpr std::size_t alertCount = 10'000;

const std::string& answer() {
    static const std::string text = brisalune::bench::syntheticAlertPage(alertCount);
    return text;
}


void SimdjsonDomWalk(benchmark::State& state) { brisalune::bench::simdjsonFloor(state, answer()); }

void CodecDecode(benchmark::State& state) {
    for (auto _ : state) {
        AlertPage page = json::decode<AlertPage>(answer());
        benchmark::DoNotOptimize(page);
    }
    brisalune::bench::bytesProcessed(state, answer());
}

void NlohmannDecode(benchmark::State& state) {
    if (nlohmann::json::parse(answer()).get<AlertPage>() != json::decode<AlertPage>(answer())) {
        state.SkipWithError("nlohmann/json and the codec read different records");
        return;
    }
    for (auto _ : state) {
        AlertPage page = nlohmann::json::parse(answer()).get<AlertPage>();
        benchmark::DoNotOptimize(page);
    }
    brisalune::bench::bytesProcessed(state, answer());
}

// ---- a log search page: lines flat beside their project, metadata read from the same object ----

constexpr std::size_t logLineCount = 10'000;

const std::string& logSearchAnswer() {
    static const std::string text = brisalune::bench::syntheticLogSearchPage(logLineCount);
    return text;
}

void LogSearchSimdjsonDomWalk(benchmark::State& state) {
    brisalune::bench::simdjsonFloor(state, logSearchAnswer());
}

void LogSearchCodecDecode(benchmark::State& state) {
    if (json::decode<brisalune::LogSearchPage>(logSearchAnswer()).lines.size() != logLineCount) {
        state.SkipWithError("the codec did not read every line");
        return;
    }
    for (auto _ : state) {
        brisalune::LogSearchPage page = json::decode<brisalune::LogSearchPage>(logSearchAnswer());
        benchmark::DoNotOptimize(page);
    }
    brisalune::bench::bytesProcessed(state, logSearchAnswer());
}

BENCHMARK(LogSearchSimdjsonDomWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(LogSearchCodecDecode)->Unit(benchmark::kMillisecond);

BENCHMARK(SimdjsonDomWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(CodecDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
