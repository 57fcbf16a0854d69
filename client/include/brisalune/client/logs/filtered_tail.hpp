#pragma once

// The filtered tail of a project's log: what to narrow it to, and one page of it.

#include <brisalune/client/alerts/log_tail.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/logs/search.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// Each part is sent only when set; an empty text counts as set.
struct LogTailFilter {
    std::optional<std::string> source{};
    std::optional<std::int64_t> minLevel{};
    std::optional<std::string> messageTemplate{};  // "template"

    bool isEmpty() const { return !source && !minLevel && !messageTemplate; }
    // "source", "min_level", "template", each when set.
    std::vector<platform::QueryItem> queryItems() const;

    friend bool operator==(const LogTailFilter&, const LogTailFilter&) = default;
};

struct LogTailPage {
    std::optional<std::int64_t> cursor;  // the "after" of the next request
    std::vector<LogLine> lines;
    std::optional<LogRetention> retention;
};

template <>
inline constexpr auto json::keys<LogTailPage> = json::object(
    json::field("cursor", &LogTailPage::cursor),
    json::field("lines", &LogTailPage::lines, json::orEmpty),
    json::field("retention", &LogTailPage::retention));

}  // namespace brisalune

template <>
struct std::hash<brisalune::LogTailFilter> {
    std::size_t operator()(const brisalune::LogTailFilter& filter) const {
        return brisalune::hashValues(filter.source, filter.minLevel, filter.messageTemplate);
    }
};
