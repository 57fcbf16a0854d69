#pragma once

// A JSON value of a shape the client does not know in advance, carried through unchanged.
// Every number is a 64-bit float, as on the wire of the service's free-form fields.

#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace brisalune {

class JSONValue {
public:
    using Array = std::vector<JSONValue>;
    using Object = json::FlatObject<JSONValue>;  // reads like a std::map: sorted, found by key
    enum class Kind { null, boolean, number, string, array, object };

    JSONValue() = default;
    JSONValue(std::nullptr_t) {}
    JSONValue(bool v) : value_(v) {}
    JSONValue(double v) : value_(v) {}
    JSONValue(int v) : value_(static_cast<double>(v)) {}
    JSONValue(std::string v) : value_(std::move(v)) {}
    JSONValue(const char* v) : value_(std::string(v)) {}
    JSONValue(Array v) : value_(std::move(v)) {}
    JSONValue(Object v) : value_(std::move(v)) {}

    Kind kind() const noexcept { return static_cast<Kind>(value_.index()); }
    template <class T>
    const T* get() const noexcept {
        return std::get_if<T>(&value_);
    }

    // Pretty JSON with sorted keys; the empty text when it cannot be written.
    std::string prettyText() const;

    // Structural: 0 equals -0, objects compare regardless of member order.
    friend bool operator==(const JSONValue&, const JSONValue&) = default;
    std::size_t hash() const noexcept;

private:
    friend struct json::Codec<JSONValue>;  // reads each value in place

    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value_;
};

}  // namespace brisalune

template <>
struct std::hash<brisalune::JSONValue> {
    std::size_t operator()(const brisalune::JSONValue& v) const noexcept { return v.hash(); }
};

namespace brisalune::json {

template <>
struct Codec<JSONValue> {
    static void write(Writer& w, const JSONValue& v);

    // Scalars, most of any free-form value, are read inline where the value is; arrays and
    // objects, which recurse, out of line.
    template <class Node>
    [[gnu::always_inline]] static void read(const Node& n, JSONValue& out) {
        switch (n.kind()) {
            case Node::Kind::null: set<std::nullptr_t>(out); return;
            case Node::Kind::boolean: set<bool>(out, n.boolean()); return;
            case Node::Kind::integer:
            case Node::Kind::number: set<double>(out, n.number()); return;
            case Node::Kind::string: json::detail::assignText(set<std::string>(out), n.string()); return;
            case Node::Kind::array:
            case Node::Kind::object: readContainer(n, out); return;
        }
        Node::corrupted("unsupported JSON value");
    }

private:
    template <class Node>
    [[gnu::noinline]] static void readContainer(const Node& n, JSONValue& out) {
        if (n.kind() == Node::Kind::array) {
            auto& array = set<JSONValue::Array>(out);
            array.reserve(n.arraySize());
            n.forEachElement([&](const Node& element) { read(element, array.emplace_back()); });
        } else {
            Codec<JSONValue::Object>::read(n, set<JSONValue::Object>(out));
        }
    }

    // Values are mostly read into fresh nulls, which hold nothing to destroy: the new value is
    // then built in the variant's place, where emplace would first visit the old one and build
    // a string (which may throw) aside before moving it in.
    template <class V, class... A>
    static V& set(JSONValue& out, A&&... args) {
        auto& value = out.value_;
        if (value.index() != 0) return value.template emplace<V>(std::forward<A>(args)...);
        try {
            std::construct_at(&value, std::in_place_type<V>, std::forward<A>(args)...);
        } catch (...) {
            std::construct_at(&value);  // null again, as it was
            throw;
        }
        return *std::get_if<V>(&value);
    }
};

}  // namespace brisalune::json
