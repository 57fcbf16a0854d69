#pragma once

// Named log searches the service keeps for a team.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// A stored view, as the service reports it. Identified by `id`.
struct SavedView {
    std::string id;  // a JSON integer reads as its decimal text
    std::string name;
    std::string query;                                        // "q": the search text
    std::map<std::string, std::vector<std::string>> filters;  // search field -> chosen values
    std::string range;
    bool shared = false;
    std::string createdBy;
    std::int64_t createdAt = 0;
    std::int64_t updatedAt = 0;

    friend bool operator==(const SavedView&, const SavedView&) = default;
};

// The body of a create or update; every key is always sent.
struct SavedViewDraft {
    std::string name;
    std::string query;
    std::map<std::string, std::vector<std::string>> filters;
    std::string range;
    bool shared = false;

    friend bool operator==(const SavedViewDraft&, const SavedViewDraft&) = default;
};

template <>
inline constexpr auto json::keys<SavedView> = json::object(
    json::byRules(&SavedView::id),
    json::field("name", &SavedView::name),
    json::field("q", &SavedView::query, json::orEmpty),
    json::field("filters", &SavedView::filters, json::orEmpty),
    json::field("range", &SavedView::range, json::orEmpty),
    json::field("shared", &SavedView::shared, json::orEmpty),
    json::field("created_by", &SavedView::createdBy, json::orEmpty),
    json::field("created_at", &SavedView::createdAt, json::orEmpty),
    json::field("updated_at", &SavedView::updatedAt, json::orEmpty));

// "id" is a text or an integer.
template <>
struct json::Rules<SavedView> {
    static void afterRead(const json::Node& object, SavedView& out);
    static void afterWrite(json::Writer& w, const SavedView& view);
};

template <>
inline constexpr auto json::keys<SavedViewDraft> = json::object(
    json::field("name", &SavedViewDraft::name),
    json::field("q", &SavedViewDraft::query),
    json::field("filters", &SavedViewDraft::filters),
    json::field("range", &SavedViewDraft::range),
    json::field("shared", &SavedViewDraft::shared));

}  // namespace brisalune

template <>
struct std::hash<brisalune::SavedView> : brisalune::RecordHash<brisalune::SavedView> {};
template <>
struct std::hash<brisalune::SavedViewDraft> : brisalune::RecordHash<brisalune::SavedViewDraft> {};
