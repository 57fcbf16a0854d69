#pragma once

// Hashing that agrees with memberwise equality. A record hashes every member its key table names
// (a table names them all); lists hash element by element in order, maps entry by entry,
// optionals with their presence, variants with their case. A record is made hashable with one line:
//
//     template <> struct std::hash<brisalune::SecretBlock> : brisalune::RecordHash<brisalune::SecretBlock> {};

#include <brisalune/platform/json_codec.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <variant>
#include <vector>

namespace brisalune {

template <json::Record T>
struct RecordHash;

class FieldHasher {
public:
    template <class... T>
    FieldHasher& add(const T&... values) {
        (addOne(values), ...);
        return *this;
    }
    std::size_t value() const noexcept { return seed_; }

private:
    template <class T>
    void addOne(const std::vector<T>& list) {
        mix(list.size());
        for (const T& element : list) addOne(element);
    }
    template <class K, class V, class C>
    void addOne(const std::map<K, V, C>& map) {
        mix(map.size());
        for (const auto& [key, element] : map) add(key, element);
    }
    template <class T>
    void addOne(const std::optional<T>& value) {
        mix(value.has_value());
        if (value) addOne(*value);
    }
    // The case, then its payload: equal only within one case, as variants compare.
    template <class... C>
    void addOne(const std::variant<C...>& value) {
        mix(value.index());
        std::visit([&](const auto& payload) { addOne(payload); }, value);
    }
    template <class D>
    void addOne(const std::chrono::time_point<std::chrono::system_clock, D>& instant) {
        mix(std::hash<typename D::rep>{}(instant.time_since_epoch().count()));
    }
    template <class T>
    void addOne(const T& value) {
        if constexpr (requires { std::hash<T>{}(value); }) {
            mix(std::hash<T>{}(value));
        } else {
            mix(RecordHash<T>{}(value));
        }
    }
    void mix(std::size_t h) noexcept { seed_ ^= h + 0x9e3779b97f4a7c15ULL + (seed_ << 6) + (seed_ >> 2); }

    std::size_t seed_ = 0;
};

template <json::Record T>
struct RecordHash {
    std::size_t operator()(const T& record) const {
        return std::apply(
            [&](const auto&... f) { return FieldHasher().add(record.*(f.member)...).value(); }, json::keys<T>.fields);
    }
};

// The hash of several values, for types without a key table.
template <class... T>
std::size_t hashValues(const T&... values) {
    return FieldHasher().add(values...).value();
}

}  // namespace brisalune
