#pragma once

// Hashing a wire record member by member, in the order of its key table: a list as its count and
// then its elements, an optional as a presence flag and then its value. Records opt in with
//     template <> struct std::hash<brisalune::X> : brisalune::RecordHash<brisalune::X> {};

#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace brisalune {

class FieldHasher {
public:
    std::size_t value() const noexcept { return seed_; }

    template <class T>
    void add(const T& value) {
        if constexpr (json::Record<T>) {
            std::apply([&](const auto&... f) { (add(value.*(f.member)), ...); }, json::keys<T>.fields);
        } else {
            mix(std::hash<T>{}(value));
        }
    }
    template <class T>
    void add(const std::vector<T>& list) {
        mix(list.size());
        for (const T& element : list) add(element);
    }
    template <class T>
    void add(const std::optional<T>& value) {
        mix(value.has_value());
        if (value) add(*value);
    }
    template <class K, class V, class C>
    void add(const std::map<K, V, C>& map) {
        mix(map.size());
        for (const auto& [key, element] : map) {
            add(key);
            add(element);
        }
    }

private:
    void mix(std::size_t h) noexcept { seed_ ^= h + 0x9e3779b97f4a7c15ULL + (seed_ << 6) + (seed_ >> 2); }

    std::size_t seed_ = 0;
};

template <class T>
struct RecordHash {
    std::size_t operator()(const T& record) const {
        FieldHasher hasher;
        hasher.add(record);
        return hasher.value();
    }
};

}  // namespace brisalune
