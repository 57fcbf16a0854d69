#pragma once

// Enumerations whose wire texts form a closed set: the texts are listed once, beside the enum,
//     template <> inline constexpr auto closedTexts<E> = std::array{std::pair{E::a, std::string_view("a")}, ...};
// and a text outside the list fails the decode instead of being kept.

#include <brisalune/platform/json_codec.hpp>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace brisalune {

template <class E>
inline constexpr std::nullptr_t closedTexts = nullptr;

template <class E>
concept ClosedText =
    std::is_enum_v<E> && !std::is_same_v<std::remove_cvref_t<decltype(closedTexts<E>)>, std::nullptr_t>;

template <ClosedText E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [candidate, text] : closedTexts<E>) {
        if (candidate == value) return text;
    }
    return {};
}

// The case whose text is exactly `text`; none for any other text.
template <ClosedText E>
constexpr std::optional<E> fromRawValue(std::string_view text) {
    for (const auto& [candidate, raw] : closedTexts<E>) {
        if (raw == text) return candidate;
    }
    return std::nullopt;
}

// Every case, in the order of the list.
template <ClosedText E>
constexpr auto allCases() {
    constexpr auto& table = closedTexts<E>;
    std::array<E, table.size()> cases{};
    for (std::size_t i = 0; i < table.size(); ++i) cases[i] = table[i].first;
    return cases;
}

}  // namespace brisalune

namespace brisalune::json {

template <ClosedText E>
struct Codec<E> {
    static void write(Writer& w, E value) { w.string(rawValue(value)); }
    template <class Node>
    static void read(const Node& n, E& out) {
        auto text = n.string();
        auto value = fromRawValue<E>(text);
        if (!value) Node::corrupted("unknown value \"" + std::string(text) + "\"");
        out = *value;
    }
};

}  // namespace brisalune::json
