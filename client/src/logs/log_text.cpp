#include <brisalune/client/detail/log_text.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <algorithm>
#include <charconv>
#include <utility>

namespace brisalune {

namespace {

// The body of a 422 answer to a log query or a saved-view write.
struct QueryRefusal {
    std::string error;
    std::optional<std::int64_t> offset;
};

}  // namespace

template <>
inline constexpr auto json::keys<QueryRefusal> =
    json::object(json::field("error", &QueryRefusal::error), json::field("offset", &QueryRefusal::offset));

std::optional<LogQueryError> logQueryRefusal(const json::Document& body) {
    try {
        auto refusal = json::decode<QueryRefusal>(body);
        return LogQueryError(std::move(refusal.error), refusal.offset);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

std::optional<std::int64_t> signedDecimal(std::string_view text) {
    const bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);  // from_chars takes only "-"
    const std::string_view digits = !plus && !text.empty() && text.front() == '-' ? text.substr(1) : text;
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc{}) return std::nullopt;
    return value;
}

}  // namespace brisalune
