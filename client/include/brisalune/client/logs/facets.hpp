#pragma once

// Summaries of a log search: values with their counts per field, and line counts per level over
// time.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// The fields a facets request can summarise.
enum class LogFacetField { source, env, host, run, project, level };

inline constexpr std::array<LogFacetField, 6> allLogFacetFields = {
    LogFacetField::source,
    LogFacetField::env,
    LogFacetField::host,
    LogFacetField::run,
    LogFacetField::project,
    LogFacetField::level};

// "source", "env", "host", "run", "project" or "level", matched exactly; any other text is none.
std::optional<LogFacetField> logFacetField(std::string_view text);
std::string_view rawValue(LogFacetField field);

// One value of a field and how many lines carry it.
struct LogFacetValue {
    std::string value;  // read from a non-empty "source", else from "value"
    std::string project;
    std::int64_t count = 0;

    friend bool operator==(const LogFacetValue&, const LogFacetValue&) = default;
};

struct LogFacet {
    std::vector<LogFacetValue> values;
    std::int64_t other = 0;  // the count the service reports beside the listed values

    friend bool operator==(const LogFacet&, const LogFacet&) = default;
};

struct LogFacets {
    std::map<std::string, LogFacet> facets;  // keyed by a field's text
    bool partial = false;

    // The field's entry; null when the answer has none.
    const LogFacet* facet(LogFacetField field) const;

    friend bool operator==(const LogFacets&, const LogFacets&) = default;
};

// One interval: line counts keyed by a level's text.
struct LogHistogramBucket {
    std::int64_t start = 0;
    std::map<std::string, std::int64_t> counts;

    // The sums below stop at the int64 limits rather than overflow: the counts are the server's.
    std::int64_t total() const;
    // The lines at `level` or above; a key that is no decimal integer counts as level 0.
    std::int64_t countAtLeast(std::int64_t level) const;

    friend bool operator==(const LogHistogramBucket&, const LogHistogramBucket&) = default;
};

struct LogHistogram {
    std::int64_t interval = 0;
    std::vector<LogHistogramBucket> buckets;
    bool partial = false;

    friend bool operator==(const LogHistogram&, const LogHistogram&) = default;
};

template <>
inline constexpr auto json::keys<LogFacetValue> = json::object(
    json::byRules(&LogFacetValue::value),
    json::field("project", &LogFacetValue::project, json::orEmpty),
    json::field("count", &LogFacetValue::count));

// `value` comes from one of two keys.
template <>
struct json::Rules<LogFacetValue> {
    static void afterRead(const json::Node& object, LogFacetValue& out);
    static void afterWrite(json::Writer& w, const LogFacetValue& value);
};

template <>
inline constexpr auto json::keys<LogFacet> =
    json::object(json::field("values", &LogFacet::values), json::field("other", &LogFacet::other));

template <>
inline constexpr auto json::keys<LogFacets> = json::object(
    json::field("facets", &LogFacets::facets, json::orEmpty),
    json::field("partial", &LogFacets::partial, json::orEmpty));

template <>
inline constexpr auto json::keys<LogHistogramBucket> = json::object(
    json::field("start", &LogHistogramBucket::start),
    json::field("counts", &LogHistogramBucket::counts, json::orEmpty));

template <>
inline constexpr auto json::keys<LogHistogram> = json::object(
    json::field("interval", &LogHistogram::interval),
    json::field("buckets", &LogHistogram::buckets, json::orEmpty),
    json::field("partial", &LogHistogram::partial, json::orEmpty));

}  // namespace brisalune

template <>
struct std::hash<brisalune::LogFacetValue> : brisalune::RecordHash<brisalune::LogFacetValue> {};
template <>
struct std::hash<brisalune::LogFacet> : brisalune::RecordHash<brisalune::LogFacet> {};
template <>
struct std::hash<brisalune::LogFacets> : brisalune::RecordHash<brisalune::LogFacets> {};
template <>
struct std::hash<brisalune::LogHistogramBucket> : brisalune::RecordHash<brisalune::LogHistogramBucket> {};
template <>
struct std::hash<brisalune::LogHistogram> : brisalune::RecordHash<brisalune::LogHistogram> {};
