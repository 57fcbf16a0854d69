#pragma once

// Hashing a wire record from its key table: every member the table names, in table order,
// flattened and off-the-wire members included. An optional feeds a presence flag (0 or 1)
// before its value; a list or a map its size before its elements.
//
//     template <> struct std::hash<Thing> : brisalune::RecordHash<Thing> {};

#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace brisalune {

namespace hashing {

inline void mix(std::size_t& seed, std::size_t h) { seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

// Declared first so that each can feed the others' elements.
template <class T>
void feed(std::size_t& seed, const T& value);
template <class T>
void feed(std::size_t& seed, const std::optional<T>& value);
template <class T>
void feed(std::size_t& seed, const std::vector<T>& list);
template <class K, class V, class C>
void feed(std::size_t& seed, const std::map<K, V, C>& map);

template <class T>
void feed(std::size_t& seed, const std::optional<T>& value) {
    mix(seed, value.has_value() ? 1 : 0);
    if (value) feed(seed, *value);
}

template <class T>
void feed(std::size_t& seed, const std::vector<T>& list) {
    mix(seed, list.size());
    for (const T& element : list) feed(seed, element);
}

template <class K, class V, class C>
void feed(std::size_t& seed, const std::map<K, V, C>& map) {
    mix(seed, map.size());
    for (const auto& [key, element] : map) {
        feed(seed, key);
        feed(seed, element);
    }
}

template <class T>
void feed(std::size_t& seed, const T& value) {
    if constexpr (json::Record<T>) {
        std::apply([&](const auto&... f) { (feed(seed, value.*(f.member)), ...); }, json::keys<T>.fields);
    } else {
        mix(seed, std::hash<T>{}(value));
    }
}

}  // namespace hashing

template <json::Record T>
struct RecordHash {
    std::size_t operator()(const T& value) const {
        std::size_t seed = 0;
        hashing::feed(seed, value);
        return seed;
    }
};

}  // namespace brisalune
