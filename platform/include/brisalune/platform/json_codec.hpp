#pragma once

// The record codec: a key table beside each wire record, and one generic reader and writer
// that work from it.
//
//     template <> inline constexpr auto json::keys<AuditEntry> = json::object(
//         json::field("id", &AuditEntry::id),
//         json::field("detail", &AuditEntry::detail),           // std::optional: absent or null is none
//         json::field("tags", &AuditEntry::tags, json::orEmpty),  // missing or null is empty
//         json::notOnWire(&AuditEntry::seenLocally));            // kept by the program, never sent
//
// A table names every member of its record, in any order; one left out is a build error.
//
// A member record whose keys stand in the record's own object is listed as
// `json::flattened(&T::member)`: it is read in the same pass over the object and written after
// the record's own keys. A flattened std::optional record is present when the object holds any
// of its keys, even as null.
//
// Records whose wire form has rules beyond a table (a value adjusted after reading) specialise `json::Rules<T>`, and list the members
// those rules own as `json::byRules(&T::member)`:
//     static void afterRead(const json::Node& object, T& out);   // after the table's members
//     static void afterWrite(json::Writer& w, const T& value);   // inside the object, after them
// Either may be left out.
//
// Value types are taught to the codec by specialising `json::Codec<T>` with
//     static void write(Writer&, const T&);
//     template <class Node> static void read(const Node&, T&);   // Node: see json_decode.hpp
// Reading lives in json_decode.hpp (it pulls in the parser); this header stays light so that
// every record header can include it.

#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_object.hpp>
#include <brisalune/platform/json_writer.hpp>
#include <brisalune/platform/url.hpp>

#include <algorithm>
#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace brisalune::json {

// ---- key tables ---------------------------------------------------------------------------

struct Plain {};    // required, or none when the member is a std::optional
struct OrEmpty {};  // a missing or null value reads as the member's default
template <class V>
struct OrValue {
    V value;
};                         // a missing or null value reads as `value`
struct NullWhenAbsent {};  // an absent std::optional is written as null instead of left out
struct Lenient {};         // a std::optional whose value does not decode reads as none
struct OmitEmpty {};       // read as OrEmpty; left out on write when equal to the default value
struct NotOnWire {};       // kept by the program: never read or written
struct ByRules {};         // read and written by the record's Rules<T>
struct Flattened {};       // a record whose keys stand in this record's own object

inline constexpr OrEmpty orEmpty{};
inline constexpr NullWhenAbsent nullWhenAbsent{};
inline constexpr Lenient lenient{};
inline constexpr OmitEmpty omitEmpty{};
template <class V>
constexpr OrValue<V> orDefault(V value) {
    return {value};
}

template <class T, class M, class Policy>
struct Field {
    using Member = M;
    std::string_view key;
    M T::*member;
    Policy policy;
};

template <class T, class M>
constexpr Field<T, M, Plain> field(std::string_view key, M T::*member) {
    return {key, member, {}};
}
template <class T, class M, class Policy>
constexpr Field<T, M, Policy> field(std::string_view key, M T::*member, Policy policy) {
    return {key, member, policy};
}

template <class T, class M>
constexpr Field<T, M, NotOnWire> notOnWire(M T::*member) {
    return {{}, member, {}};
}
template <class T, class M>
constexpr Field<T, M, ByRules> byRules(M T::*member) {
    return {{}, member, {}};
}

template <class T, class M>
constexpr Field<T, M, Flattened> flattened(M T::*member) {
    return {{}, member, {}};
}

// Whether a table entry stands for a key of the object.
template <class F>
constexpr bool onWire = !std::is_same_v<decltype(F::policy), NotOnWire> &&
                        !std::is_same_v<decltype(F::policy), ByRules> && !std::is_same_v<decltype(F::policy), Flattened>;

template <class... Fields>
struct ObjectKeys {
    std::tuple<Fields...> fields;
    static_assert(sizeof...(Fields) <= 64, "a record has at most 64 keys");
};
template <class... Fields>
constexpr ObjectKeys<Fields...> object(Fields... fields) {
    return {{fields...}};
}

struct NoKeys {};
// Specialised beside each record.
template <class T>
inline constexpr NoKeys keys{};

template <class T>
concept Record = !std::is_same_v<std::remove_cvref_t<decltype(keys<T>)>, NoKeys>;

class Node;

// Specialised beside a record whose wire form has rules beyond its table (see the top).
template <class T>
struct Rules {};

// String enumerations that keep values they do not know: a struct with `std::string rawValue`.
template <class T>
concept RawText = requires(T t) {
    { t.rawValue } -> std::same_as<std::string&>;
}
&&std::is_aggregate_v<T>;

// ---- value codecs -------------------------------------------------------------------------

template <class T, class Enable = void>
struct Codec;

template <class T>
void writeValue(Writer& w, const T& value) {
    Codec<T>::write(w, value);
}

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <>
struct Codec<bool> {
    static void write(Writer& w, bool v) { w.boolean(v); }
    template <class Node>
    static void read(const Node& n, bool& out) {
        out = n.boolean();
    }
};

template <std::integral T>
requires(!std::is_same_v<T, bool>) struct Codec<T> {
    static void write(Writer& w, T v) {
        if constexpr (std::is_signed_v<T>) {
            w.integer(static_cast<std::int64_t>(v));
        } else {
            w.unsignedInteger(static_cast<std::uint64_t>(v));
        }
    }
    template <class Node>
    static void read(const Node& n, T& out) {
        out = n.template integer<T>();
    }
};

template <>
struct Codec<double> {
    static void write(Writer& w, double v) { w.number(v); }
    template <class Node>
    static void read(const Node& n, double& out) {
        out = n.number();
    }
};

namespace detail {

// Copies up to 16 bytes inline, as two loads and two stores that may overlap: most texts decoded
// are this short, and a call to memcpy costs more than the copy.
[[gnu::always_inline]] inline void copyShort(char* to, const char* from, std::size_t n) {
    auto move = [&]<std::size_t Width>(std::integral_constant<std::size_t, Width>) {
        unsigned char head[Width];
        unsigned char tail[Width];
        std::memcpy(head, from, Width);
        std::memcpy(tail, from + n - Width, Width);
        std::memcpy(to, head, Width);
        std::memcpy(to + n - Width, tail, Width);
    };
    if (n >= 8) {
        move(std::integral_constant<std::size_t, 8>{});
    } else if (n >= 4) {
        move(std::integral_constant<std::size_t, 4>{});
    } else if (n > 0) {
        const char first = from[0];
        const char middle = from[n / 2];
        const char last = from[n - 1];
        to[0] = first;
        to[n / 2] = middle;
        to[n - 1] = last;
    }
}

// A text into a string, mostly a fresh one. A short text goes into the string's own buffer: a
// resize to a fixed length within the capacity just marks those bytes used (and fills them with
// a few stores, where any length not known in advance costs a call to memset or memcpy), the text
// is copied inline, and a second resize cuts the string to it. A longer one is made to size where
// the empty string stood: fewer steps than growing it, than building one aside and moving it in,
// or than the library's general assignment, which must allow for the text overlapping the string.
inline void assignText(std::string& out, std::string_view text) {
    constexpr std::size_t shortText = 15;  // what a fresh string holds without allocating
    if (!out.empty()) {
        out = text;
    } else if (text.size() <= shortText && out.capacity() >= shortText) {
        out.resize(shortText);
        copyShort(out.data(), text.data(), text.size());
        out.resize(text.size());
    } else {
        std::destroy_at(&out);
        try {
            std::construct_at(&out, text.data(), text.size());
        } catch (...) {
            std::construct_at(&out);  // empty again, as it was
            throw;
        }
    }
}

}  // namespace detail

template <>
struct Codec<std::string> {
    static void write(Writer& w, const std::string& v) { w.string(v); }
    template <class Node>
    static void read(const Node& n, std::string& out) {
        detail::assignText(out, n.string());
    }
};

template <RawText T>
struct Codec<T> {
    static void write(Writer& w, const T& v) { w.string(v.rawValue); }
    template <class Node>
    static void read(const Node& n, T& out) {
        detail::assignText(out.rawValue, n.string());
    }
};

// Instants travel as ISO-8601 internet date-times without fractional seconds.
template <>
struct Codec<std::chrono::sys_seconds> {
    static void write(Writer& w, std::chrono::sys_seconds v);
    template <class Node>
    static void read(const Node& n, std::chrono::sys_seconds& out) {
        out = n.date();
    }
};

template <>
struct Codec<platform::Url> {
    static void write(Writer& w, const platform::Url& v) { w.string(v.text()); }
    template <class Node>
    static void read(const Node& n, platform::Url& out) {
        auto url = platform::Url::parse(n.string());
        if (!url) Node::corrupted("invalid URL string");
        out = std::move(*url);
    }
};

template <class T>
struct Codec<std::optional<T>> {
    static void write(Writer& w, const std::optional<T>& v) {
        if (v) {
            writeValue(w, *v);
        } else {
            w.null();
        }
    }
    template <class Node>
    static void read(const Node& n, std::optional<T>& out) {
        if (n.isNull()) {
            out.reset();
        } else if constexpr (std::is_same_v<T, std::string> || std::is_arithmetic_v<T>) {
            Codec<T>::read(n, out ? *out : out.emplace());  // a value read whole: no fresh one needed
        } else {
            Codec<T>::read(n, out.emplace());
        }
    }
};

template <class T>
struct Codec<std::vector<T>> {
    static void write(Writer& w, const std::vector<T>& v) {
        w.beginArray();
        for (const auto& element : v) writeValue(w, element);
        w.endArray();
    }
    template <class Node>
    static void read(const Node& n, std::vector<T>& out) {
        out.clear();
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool> && requires { n.integers(out); }) {
            n.integers(out);
        } else if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
            // Numbers are written in place, without growing the vector one at a time.
            const std::size_t count = n.arraySize();
            out.resize(count);
            T* const values = out.data();
            std::size_t at = 0;
            n.forEachElement([&](const Node& element) {
                T value;
                Codec<T>::read(element, value);
                if (at < count) {
                    values[at] = value;
                } else {
                    out.push_back(value);  // past the count the parser keeps (2^24 - 1)
                }
                ++at;
            });
        } else {
            out.reserve(n.arraySize());
            n.forEachElement([&](const Node& element) { Codec<T>::read(element, out.emplace_back()); });
        }
    }
};

namespace detail {

// Keys are short: comparing inline, a word at a time, beats a call to memcmp. Forced, as the
// compiler leaves it out of a record's loop once enough readers are inlined there.
[[gnu::always_inline]] inline bool sameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    std::size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return false;
    }
    for (; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// The order of std::string (bytes compared as unsigned), inline for the same reason.
inline bool keyBefore(std::string_view a, std::string_view b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    }
    return a.size() < b.size();
}

// A map-like range of members as an object, in the range's order.
template <class Members>
void writeObject(Writer& w, const Members& members) {
    w.beginObject();
    for (const auto& [key, element] : members) {
        w.key(key);
        writeValue(w, element);
    }
    w.endObject();
}

}  // namespace detail

template <class T, class Compare>
struct Codec<std::map<std::string, T, Compare>> {
    static void write(Writer& w, const std::map<std::string, T, Compare>& v) { detail::writeObject(w, v); }
    template <class Node>
    static void read(const Node& n, std::map<std::string, T, Compare>& out) {
        out.clear();
        n.forEachMember([&](std::string_view key, const Node& element) {
            // Keys mostly come sorted (so does every map this codec writes): then each member
            // goes at the end after one comparison. A key seen again keeps its last value.
            const std::size_t before = out.size();
            auto at = out.emplace_hint(out.end(), std::piecewise_construct, std::forward_as_tuple(key), std::tuple<>());
            if (out.size() == before) at->second = T{};
            Codec<T>::read(element, at->second);
        });
    }
};

template <class T>
struct Codec<FlatObject<T>> {
    static void write(Writer& w, const FlatObject<T>& v) { detail::writeObject(w, v); }

    // The members are put in key order while still views into the parse, so that no decoded
    // value is moved, and then read in place; a key given twice keeps its last value, and an
    // earlier one is not read. The views of a small object stay on the stack.
    template <class Node>
    static void read(const Node& n, FlatObject<T>& out) {
        const std::size_t count = n.objectSize();
        if (count <= small) {
            Views<Node, small> views;
            gather(n, views.at);
            build(views.at, count, out);
        } else {
            std::vector<View<Node>> views;
            views.reserve(count);
            n.forEachMember([&](std::string_view key, const Node& value) { views.push_back({key, value}); });
            if (!std::is_sorted(views.begin(), views.end(), before<Node>)) {
                std::stable_sort(views.begin(), views.end(), before<Node>);
            }
            build(views.data(), views.size(), out);
        }
    }

private:
    static constexpr std::size_t small = 8;

    template <class Node>
    struct View {
        std::string_view key;
        Node value;
    };
    // Room for N views, left unmade: a Node has no empty state.
    template <class Node, std::size_t N>
    union Views {
        View<Node> at[N];
        Views() {}
    };
    template <class Node>
    static bool before(const View<Node>& a, const View<Node>& b) {
        return detail::keyBefore(a.key, b.key);
    }

    // Takes the members into `at`, sorted (stably) by key as they come.
    template <class Node>
    static void gather(const Node& n, View<Node>* at) {
        std::size_t size = 0;
        n.forEachMember([&](std::string_view key, const Node& value) {
            std::size_t i = size++;
            for (; i > 0 && detail::keyBefore(key, at[i - 1].key); --i) at[i] = at[i - 1];
            at[i] = View<Node>{key, value};
        });
    }

    template <class Node>
    static void build(const View<Node>* views, std::size_t count, FlatObject<T>& out) {
        auto& members = out.members_;
        members.clear();
        members.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view key = views[i].key;
            if (i + 1 < count && detail::sameKey(views[i + 1].key, key)) continue;  // a later one wins
            auto& member = members.emplace_back(std::piecewise_construct, std::forward_as_tuple(key), std::tuple<>());
            try {
                Codec<T>::read(views[i].value, member.second);
            } catch (DecodeError& error) {
                error.prependKey(key);
                throw;
            }
        }
    }
};

template <>
struct Codec<Value> {
    static void write(Writer& w, const Value& v);
    template <class Node>
    static void read(const Node& n, Value& out) {
        out = n.value();
    }
};

// ---- records ------------------------------------------------------------------------------

namespace detail {

// Defined in json_decode.hpp.
template <class T, class Node>
void readRecord(const Node& n, T& out);

template <class M, class Policy>
bool writesField(const M& value, Policy) {
    if constexpr (
        std::is_same_v<Policy, NotOnWire> || std::is_same_v<Policy, ByRules> || std::is_same_v<Policy, Flattened>) {
        return false;
    } else if constexpr (std::is_same_v<Policy, OmitEmpty>) {
        return !(value == M{});
    } else if constexpr (IsOptional<M>::value && !std::is_same_v<Policy, NullWhenAbsent>) {
        return value.has_value();
    } else {
        return true;
    }
}

// How many members an aggregate has: the most initialisers it can be braced from.
struct AnyMember {
    // Only ever asked about, never called. Defined all the same: clang counts a member of a type
    // in an unnamed namespace as used by the braced test, and refuses it undefined.
    template <class M>
    operator M&() const&& noexcept {
        std::terminate();
    }
};
template <class T, class... A>
concept BracedFrom = requires {
    T{std::declval<A>()...};
};
template <class T, class... A>
constexpr std::size_t memberCount() {
    if constexpr (sizeof...(A) <= 64 && BracedFrom<T, A..., AnyMember>) {
        return memberCount<T, A..., AnyMember>();
    } else {
        return sizeof...(A);
    }
}

template <class T>
constexpr bool tableCoversRecord() {
    if constexpr (std::is_aggregate_v<T>) {
        return std::tuple_size_v<decltype(keys<T>.fields)> == memberCount<T>();
    } else {
        return true;  // not an aggregate: nothing to count
    }
}

}  // namespace detail

// Writes a record's keys into the object being written: how a record flattened into another
// one's object (see Rules) is written.
template <Record T>
void writeMembers(Writer& w, const T& record) {
    std::apply(
        [&](const auto&... f) {
            (
                [&] {
                    const auto& member = record.*(f.member);
                    if (detail::writesField(member, f.policy)) {
                        w.key(f.key);
                        writeValue(w, member);
                    }
                }(),
                ...);
        },
        keys<T>.fields);
    std::apply(
        [&](const auto&... f) {
            (
                [&] {
                    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(f.policy)>, Flattened>) {
                        const auto& member = record.*(f.member);
                        if constexpr (IsOptional<std::remove_cvref_t<decltype(member)>>::value) {
                            if (member) writeMembers(w, *member);
                        } else {
                            writeMembers(w, member);
                        }
                    }
                }(),
                ...);
        },
        keys<T>.fields);
    if constexpr (requires { Rules<T>::afterWrite(w, record); }) Rules<T>::afterWrite(w, record);
}

template <Record T>
struct Codec<T> {
    static_assert(
        detail::tableCoversRecord<T>(),
        "the key table must name every member; one kept off the wire is json::notOnWire");

    static void write(Writer& w, const T& record) {
        w.beginObject();
        writeMembers(w, record);
        w.endObject();
    }

    // A member template defined outside this constrained specialisation trips clang, hence the hop.
    template <class Node>
    static void read(const Node& n, T& out) {
        detail::readRecord(n, out);
    }
};

// ---- writing ------------------------------------------------------------------------------

// Encodes any value the codec knows. Throws EncodeError.
template <class T>
std::string encode(const T& value, Style style = Style::compact) {
    Writer w;
    writeValue(w, value);
    if (style == Style::compact) return w.take();
    return reformat(w.take(), style);
}

}  // namespace brisalune::json
