#include <brisalune/client/logs/facets.hpp>

#include <brisalune/client/detail/log_text.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <limits>

namespace brisalune {

namespace {

// The texts of LogFacetField, in its order.
constexpr std::array<std::string_view, allLogFacetFields.size()> facetFieldTexts{
    "source", "env", "host", "run", "project", "level"};

// Counts are the server's: a sum that would overflow stops at the limit instead.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

}  // namespace

std::optional<LogFacetField> logFacetField(std::string_view text) {
    for (std::size_t i = 0; i < facetFieldTexts.size(); ++i) {
        if (facetFieldTexts[i] == text) return allLogFacetFields[i];
    }
    return std::nullopt;
}

std::string_view rawValue(LogFacetField field) { return facetFieldTexts[static_cast<std::size_t>(field)]; }

const LogFacet* LogFacets::facet(LogFacetField field) const {
    auto found = facets.find(std::string(rawValue(field)));
    return found == facets.end() ? nullptr : &found->second;
}

std::int64_t LogHistogramBucket::total() const { return countAtLeast(std::numeric_limits<std::int64_t>::min()); }

std::int64_t LogHistogramBucket::countAtLeast(std::int64_t level) const {
    std::int64_t sum = 0;
    for (const auto& [key, count] : counts) {
        if (signedDecimal(key).value_or(0) >= level) sum = saturatingAdd(sum, count);
    }
    return sum;
}

void json::Rules<LogFacetValue>::afterRead(const json::Node& object, LogFacetValue& out) {
    std::string_view source;
    std::string_view value;
    object.forEachMember([&](std::string_view key, const json::Node& member) {
        if (key == "source" && member.kind() == json::Node::Kind::string) source = member.string();
        if (key == "value" && !member.isNull()) value = member.string();
    });
    out.value = source.empty() ? value : source;
}

void json::Rules<LogFacetValue>::afterWrite(json::Writer& w, const LogFacetValue& value) {
    w.key("value");
    w.string(value.value);
}

}  // namespace brisalune
