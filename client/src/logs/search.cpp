#include <brisalune/client/logs/search.hpp>

#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/text.hpp>

#include <string_view>

namespace brisalune {

namespace {

// The text without white space and line breaks at either end; bytes that are not UTF-8 stay.
std::string_view trimmed(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto point = platform::decodeCodePoint(text, at);
        const std::size_t length = point ? point->bytes.size() : 1;
        if (!point || !platform::isWhitespaceOrNewline(point->value)) {
            if (begin == text.size()) begin = at;
            end = at + length;
        }
        at += length;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view();
}

void addEach(std::vector<platform::QueryItem>& items, const char* name, const std::vector<std::string>& values) {
    for (const auto& value : values) items.push_back({name, value});
}

}  // namespace

std::vector<platform::QueryItem> LogSearchQuery::filterItems() const {
    std::vector<platform::QueryItem> items{{"since", std::to_string(since)}};
    if (until) items.push_back({"until", std::to_string(*until)});
    addEach(items, "project", projects);
    addEach(items, "source", sources);
    addEach(items, "env", envs);
    addEach(items, "host", hosts);
    addEach(items, "run", runs);
    for (std::int64_t level : levels) items.push_back({"level", std::to_string(level)});
    if (messageTemplate) items.push_back({"template", *messageTemplate});
    if (auto q = trimmed(text); !q.empty()) items.push_back({"q", std::string(q)});
    return items;
}

std::vector<platform::QueryItem> LogSearchQuery::queryItems() const {
    auto items = filterItems();
    items.push_back({"order", ascending ? "asc" : "desc"});
    items.push_back({"limit", std::to_string(limit)});
    if (cursor) items.push_back({ascending ? "after" : "before", std::to_string(*cursor)});
    return items;
}

}  // namespace brisalune
