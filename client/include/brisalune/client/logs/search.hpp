#pragma once

// Log search: the query, a page of its answer with the retention of the sources searched, and the
// error of a query the service cannot parse.

#include <brisalune/client/alerts/log_tail.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// How many of a set of log sources keep their lines, and the plan's limits on keeping them.
struct LogRetention {
    std::int64_t sourcesTotal = 0;
    std::int64_t sourcesRetaining = 0;
    bool overQuota = false;
    std::optional<std::int64_t> retainDays;
    std::optional<std::int64_t> maxLinesPerSource;

    friend bool operator==(const LogRetention&, const LogRetention&) = default;
};

// The parameters of one search. Nothing is checked or clamped: the service judges them.
struct LogSearchQuery {
    LogSearchQuery(std::int64_t from, std::optional<std::int64_t> to, std::string searchText)
        : since(from), until(to), text(std::move(searchText)) {}

    std::int64_t since;
    std::optional<std::int64_t> until;
    std::vector<std::string> projects;
    std::vector<std::string> sources;
    std::vector<std::string> envs;
    std::vector<std::string> hosts;
    std::vector<std::string> runs;
    std::vector<std::int64_t> levels;
    std::optional<std::string> messageTemplate;  // "template"; an empty one is still sent
    std::string text;                            // "q", trimmed; left out when blank
    bool ascending = false;
    std::int64_t limit = 100;
    std::optional<std::int64_t> cursor;  // the `next` of an earlier page

    // What the search sends: the filter items, then "order", "limit" and the cursor.
    std::vector<platform::QueryItem> queryItems() const;
    // The filter items alone, as the facets and histogram requests send them.
    std::vector<platform::QueryItem> filterItems() const;

    friend bool operator==(const LogSearchQuery&, const LogSearchQuery&) = default;
};

// One matching line and the project it belongs to; one flat object on the wire.
struct LogSearchHit {
    std::string project;
    LogLine line;

    friend bool operator==(const LogSearchHit&, const LogSearchHit&) = default;
};

struct LogSearchPage {
    std::vector<LogSearchHit> lines;
    std::optional<std::int64_t> next;  // none: no following page
    std::int64_t total = 0;
    bool totalCapped = false;
    bool partial = false;
    std::map<std::string, LogRetention> retention;  // keyed as the service chooses

    bool isIncomplete() const { return totalCapped || partial; }

    friend bool operator==(const LogSearchPage&, const LogSearchPage&) = default;
};

// The service refused a log query (status 422). Thrown instead of BrisaluneError by the search,
// facets and histogram requests and by saved-view writes; `what()` is the service's message.
class LogQueryError : public std::exception {
public:
    explicit LogQueryError(std::string message, std::optional<std::int64_t> offset = std::nullopt)
        : message_(std::move(message)), offset_(offset) {}

    const std::string& message() const noexcept { return message_; }
    std::optional<std::int64_t> offset() const noexcept { return offset_; }  // as the service counts
    const char* what() const noexcept override { return message_.c_str(); }

    friend bool operator==(const LogQueryError& a, const LogQueryError& b) {
        return a.message_ == b.message_ && a.offset_ == b.offset_;
    }

private:
    std::string message_;
    std::optional<std::int64_t> offset_;
};

template <>
inline constexpr auto json::keys<LogRetention> = json::object(
    json::field("sources_total", &LogRetention::sourcesTotal),
    json::field("sources_retaining", &LogRetention::sourcesRetaining),
    json::field("over_quota", &LogRetention::overQuota),
    json::field("retain_days", &LogRetention::retainDays),
    json::field("max_lines_per_source", &LogRetention::maxLinesPerSource));

template <>
inline constexpr auto json::keys<LogSearchHit> =
    json::object(json::field("project", &LogSearchHit::project), json::flattened(&LogSearchHit::line));

template <>
inline constexpr auto json::keys<LogSearchPage> = json::object(
    json::field("lines", &LogSearchPage::lines, json::orEmpty),
    json::field("next", &LogSearchPage::next),
    json::field("total", &LogSearchPage::total, json::orEmpty),
    json::field("total_capped", &LogSearchPage::totalCapped, json::orEmpty),
    json::field("partial", &LogSearchPage::partial, json::orEmpty),
    json::field("retention", &LogSearchPage::retention, json::orEmpty));

}  // namespace brisalune

template <>
struct std::hash<brisalune::LogRetention> : brisalune::RecordHash<brisalune::LogRetention> {};
template <>
struct std::hash<brisalune::LogSearchHit> : brisalune::RecordHash<brisalune::LogSearchHit> {};
template <>
struct std::hash<brisalune::LogSearchPage> : brisalune::RecordHash<brisalune::LogSearchPage> {};

template <>
struct std::hash<brisalune::LogSearchQuery> {
    std::size_t operator()(const brisalune::LogSearchQuery& q) const {
        return brisalune::hashValues(
            q.since,
            q.until,
            q.projects,
            q.sources,
            q.envs,
            q.hosts,
            q.runs,
            q.levels,
            q.messageTemplate,
            q.text,
            q.ascending,
            q.limit,
            q.cursor);
    }
};

template <>
struct std::hash<brisalune::LogQueryError> {
    std::size_t operator()(const brisalune::LogQueryError& error) const {
        return brisalune::hashValues(error.message(), error.offset());
    }
};
