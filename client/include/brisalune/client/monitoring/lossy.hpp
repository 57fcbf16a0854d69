#pragma once

// One element of an advisory list: a list of Lossy<T> keeps the elements that decode, in order,
// and drops the others instead of failing the answer.

#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <optional>
#include <vector>

namespace brisalune {

template <class T>
struct Lossy {
    std::optional<T> value;  // none when the element did not decode

    friend bool operator==(const Lossy&, const Lossy&) = default;
};

// The values of the elements that decoded, in order.
template <class T>
std::vector<T> decodedValues(std::vector<Lossy<T>> elements) {
    std::vector<T> values;
    values.reserve(elements.size());
    for (Lossy<T>& element : elements) {
        if (element.value) values.push_back(std::move(*element.value));
    }
    return values;
}

template <class T>
struct json::Codec<Lossy<T>> {
    static void write(Writer& w, const Lossy<T>& element) { writeValue(w, element.value); }

    template <class Node>
    static void read(const Node& n, Lossy<T>& out) {
        try {
            Codec<T>::read(n, out.value.emplace());
        } catch (const DecodeError&) {
            out.value.reset();
        }
    }
};

}  // namespace brisalune
