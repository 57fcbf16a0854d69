#pragma once

// A JSON value of a shape the client does not know in advance, carried through unchanged.
// Every number is a 64-bit float, as on the wire of the service's free-form fields.

#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
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

    template <class Node>
    static void read(const Node& n, JSONValue& out) {
        auto& value = out.value_;
        switch (n.kind()) {
            case Node::Kind::null: value.emplace<std::nullptr_t>(); return;
            case Node::Kind::boolean: value.emplace<bool>(n.boolean()); return;
            case Node::Kind::integer:
            case Node::Kind::number: value.emplace<double>(n.number()); return;
            // Made first and moved in: a variant builds in place only what cannot throw.
            case Node::Kind::string: value.emplace<std::string>(std::string(n.string())); return;
            case Node::Kind::array: {
                auto& array = value.emplace<JSONValue::Array>();
                array.reserve(n.arraySize());
                n.forEachElement([&](const Node& element) { read(element, array.emplace_back()); });
                return;
            }
            case Node::Kind::object: Codec<JSONValue::Object>::read(n, value.emplace<JSONValue::Object>()); return;
        }
        Node::corrupted("unsupported JSON value");
    }
};

}  // namespace brisalune::json
