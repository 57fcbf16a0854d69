#pragma once

// Hashing a wire record by its key table, so that a record's hash follows its equality without a
// hand-written list of members. Every member the table names feeds the hash in table order; an
// optional feeds whether it is present before its value, a list its length before its elements,
// a map its entries in key order (so equal maps hash alike whatever order they were filled in).
//
//     template <> struct std::hash<brisalune::AlertIf> : brisalune::RecordHash<brisalune::AlertIf> {};

#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace brisalune {

namespace detail {

inline void mixHash(std::size_t& seed, std::size_t h) noexcept {
    seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

template <class T>
void hashInto(std::size_t& seed, const T& value);
template <class K, class V, class C>
void hashInto(std::size_t& seed, const std::map<K, V, C>& map);
template <class T>
void hashInto(std::size_t& seed, const std::vector<T>& list);
template <class T>
void hashInto(std::size_t& seed, const std::optional<T>& value);

template <class K, class V, class C>
void hashInto(std::size_t& seed, const std::map<K, V, C>& map) {
    mixHash(seed, map.size());
    for (const auto& [key, element] : map) {
        hashInto(seed, key);
        hashInto(seed, element);
    }
}

template <class T>
void hashInto(std::size_t& seed, const std::vector<T>& list) {
    mixHash(seed, list.size());
    for (const T& element : list) hashInto(seed, element);
}

template <class T>
void hashInto(std::size_t& seed, const std::optional<T>& value) {
    mixHash(seed, value.has_value());
    if (value) hashInto(seed, *value);
}

template <class T>
void hashInto(std::size_t& seed, const T& value) {
    if constexpr (json::Record<T>) {
        std::apply([&](const auto&... f) { (hashInto(seed, value.*(f.member)), ...); }, json::keys<T>.fields);
    } else {
        mixHash(seed, std::hash<T>{}(value));
    }
}

}  // namespace detail

template <json::Record T>
struct RecordHash {
    std::size_t operator()(const T& value) const {
        std::size_t seed = 0;
        detail::hashInto(seed, value);
        return seed;
    }
};

}  // namespace brisalune
