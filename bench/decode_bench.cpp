// Decoding a large answer into records: simdjson alone walking every value (the floor), our
// codec from its key tables, and nlohmann/json with a from_json per struct into the same records.
#include "heap_meter.hpp"
#include "simdjson_floor.hpp"
#include "synthetic.hpp"
#include "synthetic_log_search.hpp"

#include <brisalune/client/incidents/incidents.hpp>
#include <brisalune/client/logs/search.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/time.hpp>

#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
    brisalune::bench::timedWithoutFreeing(state, [] { return json::decode<AlertPage>(answer()); });
    brisalune::bench::bytesProcessed(state, answer());
    brisalune::bench::reportPeakHeap(state, [] { benchmark::DoNotOptimize(json::decode<AlertPage>(answer())); });
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

void LogSearchSimdjsonDomWalk(benchmark::State& state) { brisalune::bench::simdjsonFloor(state, logSearchAnswer()); }

void LogSearchCodecDecode(benchmark::State& state) {
    if (json::decode<brisalune::LogSearchPage>(logSearchAnswer()).lines.size() != logLineCount) {
        state.SkipWithError("the codec did not read every line");
        return;
    }
    brisalune::bench::timedWithoutFreeing(
        state, [] { return json::decode<brisalune::LogSearchPage>(logSearchAnswer()); });
    brisalune::bench::bytesProcessed(state, logSearchAnswer());
    brisalune::bench::reportPeakHeap(
        state, [] { benchmark::DoNotOptimize(json::decode<brisalune::LogSearchPage>(logSearchAnswer())); });
}

BENCHMARK(LogSearchSimdjsonDomWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(LogSearchCodecDecode)->Unit(benchmark::kMillisecond);

BENCHMARK(SimdjsonDomWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(CodecDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(NlohmannDecode)->Unit(benchmark::kMillisecond);

// ---- an incident detail with a long timeline --------------------------------------------------

namespace incident {

using brisalune::bench::Random;
namespace synthetic = brisalune::bench::synthetic;

inline constexpr std::array<std::string_view, 6> kinds = {
    "alert_attached", "state_changed", "entry_added", "severity_changed", "lead_changed", "notified"};
inline constexpr std::array<std::string_view, 3> actorTypes = {"user", "system", "ai"};

void reportFields(brisalune::json::Writer& w, Random& random, std::int64_t number) {
    w.key("id");
    w.string(synthetic::identifier("inc", static_cast<std::uint64_t>(number)));
    w.key("project");
    w.string("web");
    w.key("title");
    w.string(synthetic::sentence(random, 5));
    w.key("description");
    w.string(synthetic::sentence(random, 20));
    w.key("public_uuid");
    w.string("3f2c7a9e-0d4b-4c61-9e2f-5b8a1d7c6e40");
    w.key("password_protected");
    w.boolean(false);
    w.key("created_at");
    w.integer(1'735'689'600);
    w.key("updated_at");
    w.integer(1'735'700'000);
    w.key("status_page");
    w.boolean(true);
    w.key("components");
    w.beginArray();
    w.beginObject();
    w.key("component_id");
    w.string("cmp_api");
    w.key("impact");
    w.string("major");
    w.endObject();
    w.endArray();
    w.key("number");
    w.integer(number);
    w.key("reference");
    w.string("INC-" + std::to_string(number));
    w.key("state");
    w.string("investigating");
    w.key("severity");
    w.string(random.pick(synthetic::severities));
    w.key("group_alerts");
    w.boolean(true);
    w.key("projects");
    w.beginArray();
    w.string("web");
    w.string("api");
    w.endArray();
}

// A free-form data map of three to six members of mixed types, one of them nested.
void data(brisalune::json::Writer& w, Random& random) {
    w.beginObject();
    w.key("from");
    w.string(random.pick(synthetic::statuses));
    w.key("to");
    w.string(random.pick(synthetic::statuses));
    w.key("level");
    w.integer(static_cast<std::int64_t>(random.below(5)));
    if (random.chance(60)) {
        w.key("message");
        w.string(synthetic::sentence(random, 4 + random.below(6)));
    }
    if (random.chance(40)) {
        w.key("score");
        w.number(random.unit());
    }
    if (random.chance(30)) {
        w.key("tags");
        w.beginArray();
        for (std::uint64_t t = 1 + random.below(3); t > 0; --t) w.string(random.pick(synthetic::tagValues));
        w.endArray();
    }
    w.endObject();
}

void timelineItem(brisalune::json::Writer& w, Random& random, std::int64_t at) {
    w.beginObject();
    w.key("at");
    w.integer(at);
    w.key("kind");
    w.string(random.pick(kinds));
    synthetic::optionalField(w, random, "actor", 70, [&] { w.string(synthetic::identifier("usr", random.below(50))); });
    w.key("actor_type");
    w.string(random.pick(actorTypes));
    synthetic::optionalField(
        w, random, "entry_id", 20, [&] { w.string(synthetic::identifier("ent", random.below(100))); });
    synthetic::optionalField(
        w, random, "alert_id", 40, [&] { w.string(synthetic::identifier("al", random.below(100))); });
    w.key("data");
    data(w, random);
    w.endObject();
}

// One incident detail with `timelineCount` timeline items, 50 entries and 50 alerts.
std::string detail(std::size_t timelineCount, std::uint64_t seed = 20260103) {
    Random random(seed);
    brisalune::json::Writer w;
    w.beginObject();
    w.key("incident");
    w.beginObject();
    reportFields(w, random, 4242);
    w.endObject();
    w.key("entries");
    w.beginArray();
    for (std::uint64_t i = 0; i < 50; ++i) {
        w.beginObject();
        w.key("id");
        w.string(synthetic::identifier("ent", i));
        w.key("report_id");
        w.string("inc_0004242");
        w.key("content_md");
        w.string(synthetic::sentence(random, 30));
        w.key("content_html");
        w.string("<p>" + synthetic::sentence(random, 30) + "</p>");
        w.key("entry_type");
        w.string("update");
        w.key("created_at");
        w.integer(1'735'689'600 + static_cast<std::int64_t>(i) * 60);
        w.endObject();
    }
    w.endArray();
    w.key("alerts");
    w.beginArray();
    for (std::uint64_t i = 0; i < 50; ++i) {
        w.beginObject();
        w.key("alert_id");
        w.string(synthetic::identifier("al", i));
        w.key("project");
        w.string("web");
        w.key("rule");
        w.string("errors");
        w.key("message");
        w.string(synthetic::sentence(random, 8));
        w.key("opened_at");
        w.integer(1'735'689'600);
        w.key("state");
        w.string("firing");
        w.key("attached_at");
        w.integer(1'735'689'700);
        w.key("grouped");
        w.boolean(random.chance(50));
        w.endObject();
    }
    w.endArray();
    w.key("timeline");
    w.beginArray();
    for (std::size_t i = 0; i < timelineCount; ++i)
        timelineItem(w, random, 1'735'689'600 + static_cast<std::int64_t>(i));
    w.endArray();
    w.key("share_link");
    w.boolean(true);
    w.endObject();
    return w.take();
}

constexpr std::size_t timelineCount = 2'000;

const std::string& answer() {
    static const std::string text = detail(timelineCount);
    return text;
}

void SimdjsonDomWalk(benchmark::State& state) { brisalune::bench::simdjsonFloor(state, answer()); }

void CodecDecode(benchmark::State& state) {
    if (json::decode<brisalune::IncidentDetail>(answer()).timeline.size() != timelineCount) {
        state.SkipWithError("the detail did not decode with its whole timeline");
        return;
    }
    brisalune::bench::timedWithoutFreeing(state, [] { return json::decode<brisalune::IncidentDetail>(answer()); });
    brisalune::bench::bytesProcessed(state, answer());
    brisalune::bench::reportPeakHeap(
        state, [] { benchmark::DoNotOptimize(json::decode<brisalune::IncidentDetail>(answer())); });
    state.counters["timeline_items"] = static_cast<double>(timelineCount);
}

}  // namespace incident

BENCHMARK(incident::SimdjsonDomWalk)->Name("IncidentDetail/SimdjsonDomWalk")->Unit(benchmark::kMicrosecond);
BENCHMARK(incident::CodecDecode)->Name("IncidentDetail/CodecDecode")->Unit(benchmark::kMicrosecond);

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
            page.projects.push_back(
                {.name = brisalune::bench::synthetic::identifier("project", i),
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
            spec.with = {
                {"url", JSONValue("https://example.com/" + spec.name)},
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
                check.paused =
                    brisalune::CheckPause{"local_only", "Runs only on your own box.", check.updatedAt + 3600};
            }
            list.checks.push_back(std::move(check));
        }
        return json::encode(list);
    }();
    return text;
}

template <class T>
void codecDecode(benchmark::State& state, const std::string& text) {
    brisalune::bench::timedWithoutFreeing(state, [&] { return json::decode<T>(text); });
    brisalune::bench::bytesProcessed(state, text);
    brisalune::bench::reportPeakHeap(state, [&] { benchmark::DoNotOptimize(json::decode<T>(text)); });
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
