#pragma once

// Texts the log family reads itself: a refusal of a log query, decimal identifiers and levels.

#include <brisalune/client/logs/search.hpp>
#include <brisalune/platform/json_document.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

// The refusal in a 422 body ("error", optional "offset"); none when the body is not one.
std::optional<LogQueryError> logQueryRefusal(const json::Document& body);

// A decimal int64 with at most one leading "+" or "-" and nothing else; none otherwise, and
// for a value out of range.
std::optional<std::int64_t> signedDecimal(std::string_view text);

}  // namespace brisalune
