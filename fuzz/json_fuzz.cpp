// JSON text from the network: the generic tree and a record of every field kind must either refuse
// it with DecodeError or read it, write it back and read the written text to the same thing.
#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/json_document.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace json = brisalune::json;

struct Point {
    std::int32_t x = 0;
    std::optional<double> y;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Sample {
    std::string name;
    std::optional<std::string> note;
    std::int64_t count = 0;
    double ratio = 0;
    bool active = false;
    std::optional<std::chrono::sys_seconds> seenAt;
    std::vector<Point> points;
    std::map<std::string, std::int64_t> totals;
    std::optional<std::uint32_t> limit;
    std::int64_t level = 0;
    json::Value extra;
    friend bool operator==(const Sample&, const Sample&) = default;
};

}  // namespace

namespace brisalune::json {

template <>
inline constexpr auto keys<Point> = object(field("x", &Point::x), field("y", &Point::y));

template <>
inline constexpr auto keys<Sample> = object(
    field("name", &Sample::name),
    field("note", &Sample::note),
    field("count", &Sample::count),
    field("ratio", &Sample::ratio),
    field("active", &Sample::active),
    field("seen_at", &Sample::seenAt),
    field("points", &Sample::points, orEmpty),
    field("totals", &Sample::totals, orEmpty),
    field("limit", &Sample::limit, nullWhenAbsent),
    field("level", &Sample::level, orDefault(std::int64_t{1})),
    field("extra", &Sample::extra, orEmpty));

}  // namespace brisalune::json

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// Integral doubles are written as integers, so the tree reaches its fixed point after one trip.
std::optional<json::Value> tree(const auto& text) {
    try {
        return json::decode<json::Value>(text);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

void checkTree(std::string_view text) {
    std::optional<json::Value> read = tree(text);
    // A std::string with room to spare is parsed in place: same answer, nothing past its size read.
    std::string roomy;
    roomy.reserve(text.size() + simdjson::SIMDJSON_PADDING);
    roomy.assign(text);
    require(tree(roomy) == read);
    // Held in a document, as an answer's body is, it reads the same on every reading.
    json::Document document{std::string(text)};
    require(tree(document) == read);
    require(tree(document) == read);
    if (!read) return;

    const json::Value& first = *read;
    std::string compact = json::write(first);
    json::Value second = json::parse(compact);
    require(json::write(second) == compact);
    require(json::parse(json::write(second)) == second);
    require(json::write(json::parse(json::write(first, json::Style::prettySorted))) == compact);
}

void checkRecord(std::string_view text) {
    Sample first;
    try {
        first = json::decode<Sample>(text);
    } catch (const json::DecodeError&) {
        return;
    }
    std::string compact = json::encode(first);
    Sample second = json::decode<Sample>(compact);
    require(json::encode(second) == compact);
    require(json::decode<Sample>(json::encode(first, json::Style::prettySorted)) == second);
    second.extra = first.extra;  // checked as text above: its integral doubles come back as integers
    require(second == first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    // Only the first reading may fail, and only with DecodeError: what was read must always write
    // (EncodeError included would be a fault) and read back.
    try {
        checkTree(text);
        checkRecord(text);
    } catch (...) {
        std::abort();
    }
    return 0;
}
