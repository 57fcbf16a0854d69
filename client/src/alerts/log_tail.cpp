#include <brisalune/client/alerts/log_tail.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <algorithm>
#include <string_view>
#include <tuple>
#include <utility>

namespace brisalune {

bool LogLineMeta::isEmpty() const {
    return env.empty() && host.empty() && run.empty() && traceId.empty() && keys.empty() && tags.empty();
}

namespace {

// ---- hashing --------------------------------------------------------------------------------

void mix(std::size_t& seed, std::size_t h) { seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

template <class T>
void hashInto(std::size_t& seed, const T& value);
template <class K, class V>
void hashInto(std::size_t& seed, const std::map<K, V>& map) {
    mix(seed, map.size());
    for (const auto& [key, element] : map) {
        hashInto(seed, key);
        hashInto(seed, element);
    }
}
template <class T>
void hashInto(std::size_t& seed, const std::vector<T>& list) {
    mix(seed, list.size());
    for (const T& element : list) hashInto(seed, element);
}
template <class T>
void hashInto(std::size_t& seed, const std::optional<T>& value) {
    mix(seed, value.has_value());
    if (value) hashInto(seed, *value);
}
template <class T>
void hashInto(std::size_t& seed, const T& value) {
    if constexpr (json::Record<T>) {
        std::apply([&](const auto&... f) { (hashInto(seed, value.*(f.member)), ...); }, json::keys<T>.fields);
    } else {
        mix(seed, std::hash<T>{}(value));
    }
}

// ---- the flattened metadata -----------------------------------------------------------------

bool isMetaKey(std::string_view key) {
    return std::apply([&](const auto&... f) { return ((f.key == key) || ...); }, json::keys<LogLineMeta>.fields);
}

}  // namespace

void json::Rules<LogLine>::afterRead(const json::Node& n, LogLine& out) {
    bool hasMeta = false;
    n.forEachMember([&](std::string_view key, const json::Node&) { hasMeta = hasMeta || isMetaKey(key); });
    if (hasMeta) {
        json::Codec<LogLineMeta>::read(n, out.meta.emplace());
    } else {
        out.meta.reset();
    }
}

void json::Rules<LogLine>::afterWrite(json::Writer& w, const LogLine& line) {
    if (line.meta) json::writeMembers(w, *line.meta);
}

}  // namespace brisalune

std::size_t std::hash<brisalune::LogLineMeta>::operator()(const brisalune::LogLineMeta& meta) const {
    std::size_t seed = 0;
    brisalune::hashInto(seed, meta);
    return seed;
}

std::size_t std::hash<brisalune::LogLine>::operator()(const brisalune::LogLine& line) const {
    std::size_t seed = 0;
    brisalune::hashInto(seed, line);  // the line's own keys
    brisalune::hashInto(seed, line.meta);
    return seed;
}
