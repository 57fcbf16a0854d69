// Decoding a large answer into records: simdjson alone walking every value (the floor), our
// codec from its key tables, and nlohmann/json with a from_json per struct into the same records.
#include "simdjson_floor.hpp"
#include "synthetic.hpp"

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

BENCHMARK(SimdjsonDomWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(CodecDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannDecode)->Unit(benchmark::kMillisecond);

}  // namespace

// ---- monitoring: a 500-project page and a 1,000-check list ------------------------------------

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/monitoring/checks.hpp>

namespace {

struct CheckList {
    std::vector<brisalune::MonitorCheckInfo> checks;
};

}  // namespace

template <>
inline constexpr auto brisalune::json::keys<CheckList> =
    brisalune::json::object(brisalune::json::field("checks", &CheckList::checks));

namespace {

constexpr std::size_t projectCount = 500;
constexpr std::size_t checkCount = 1'000;

// A full page of projects, as the all-projects pager reads it 500 at a time.
const std::string& projectPageAnswer() {
    static const std::string text = [] {
        brisalune::bench::Random random(20260214);
        brisalune::ProjectPage page;
        for (std::size_t i = 0; i < projectCount; ++i) {
            page.projects.push_back({.name = brisalune::bench::synthetic::identifier("project", i),
                                     .configVersion = static_cast<std::int64_t>(random.below(400)),
                                     .sources = static_cast<std::int64_t>(random.below(30)),
                                     .rules = static_cast<std::int64_t>(random.below(120)),
                                     .openAlerts = static_cast<std::int64_t>(random.below(50)),
                                     .createdAt = 1'700'000'000 + static_cast<std::int64_t>(random.below(99'999))});
        }
        page.next = "cursor_500";
        return json::encode(page);
    }();
    return text;
}

// Stored checks of every shape: free-form parameters, sources, secrets, pauses.
const std::string& checkListAnswer() {
    static const std::string text = [] {
        using brisalune::JSONValue;
        brisalune::bench::Random random(20260215);
        CheckList list;
        for (std::size_t i = 0; i < checkCount; ++i) {
            brisalune::MonitorCheckInfo check;
            auto& spec = check.spec;
            spec.name = brisalune::bench::synthetic::identifier("check", i);
            spec.addon = random.chance(30) ? "browser" : "http";
            spec.with = {{"url", JSONValue("https://example.com/" + spec.name)},
                         {"method", JSONValue("GET")},
                         {"expect_status", JSONValue(200)},
                         {"headers", JSONValue(JSONValue::Object{{"Accept", JSONValue("application/json")}})}};
            spec.intervalSeconds = 60 * static_cast<std::int64_t>(1 + random.below(10));
            if (random.chance(50)) spec.timeoutSeconds = 10;
            for (std::uint64_t s = random.below(4); s > 0; --s) {
                spec.sources.emplace_back(random.pick(brisalune::bench::synthetic::tagValues));
            }
            if (random.chance(20)) spec.enabled = random.chance(50);
            if (random.chance(60)) spec.alertIf = brisalune::AlertIf{static_cast<std::int64_t>(1 + random.below(3))};
            if (random.chance(25)) {
                spec.env = std::map<std::string, std::string>{{"TOKEN", "sealed"}, {"REGION", "eu"}};
                check.envKeys = {"REGION", "TOKEN"};
            }
            if (random.chance(40)) check.alertRule = "rule_" + spec.name;
            check.createdAt = 1'700'000'000 + static_cast<std::int64_t>(random.below(50'000'000));
            check.updatedAt = check.createdAt + static_cast<std::int64_t>(random.below(86'400));
            if (random.chance(10)) check.placementNote = brisalune::bench::synthetic::sentence(random, 6);
            if (random.chance(5)) {
                check.paused = brisalune::CheckPause{"local_only", "Runs only on your own box.", check.updatedAt + 3600};
            }
            list.checks.push_back(std::move(check));
        }
        return json::encode(list);
    }();
    return text;
}

template <class T>
void codecDecode(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        T decoded = json::decode<T>(text);
        benchmark::DoNotOptimize(decoded);
    }
    brisalune::bench::bytesProcessed(state, text);
}

void ProjectPageSimdjsonFloor(benchmark::State& state) { brisalune::bench::simdjsonFloor(state, projectPageAnswer()); }
void ProjectPageCodecDecode(benchmark::State& state) {
    codecDecode<brisalune::ProjectPage>(state, projectPageAnswer());
}
void CheckListSimdjsonFloor(benchmark::State& state) { brisalune::bench::simdjsonFloor(state, checkListAnswer()); }
void CheckListCodecDecode(benchmark::State& state) { codecDecode<CheckList>(state, checkListAnswer()); }

BENCHMARK(ProjectPageSimdjsonFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(ProjectPageCodecDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(CheckListSimdjsonFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(CheckListCodecDecode)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
