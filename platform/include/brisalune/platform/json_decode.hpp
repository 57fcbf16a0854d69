#pragma once

// Reading records from JSON text with simdjson. Include this only where answers are decoded:
// the parser's header is large.

#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_document.hpp>

#include <simdjson.h>

#include <array>
#include <bit>
#include <chrono>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune::json {

// One value of a parsed document, with checked reads that throw DecodeError.
class Node {
public:
    enum class Kind { null, boolean, integer, number, string, array, object };

    explicit Node(simdjson::dom::element element) : e_(element) {}

    Kind kind() const {
        switch (e_.type()) {
            case simdjson::dom::element_type::NULL_VALUE: return Kind::null;
            case simdjson::dom::element_type::BOOL: return Kind::boolean;
            case simdjson::dom::element_type::INT64:
            case simdjson::dom::element_type::UINT64: return Kind::integer;
            case simdjson::dom::element_type::DOUBLE: return Kind::number;
            case simdjson::dom::element_type::STRING: return Kind::string;
            case simdjson::dom::element_type::ARRAY: return Kind::array;
            case simdjson::dom::element_type::OBJECT: return Kind::object;
        }
        return Kind::null;
    }
    bool isNull() const { return e_.is_null(); }

    bool boolean() const {
        auto r = e_.get_bool();
        if (r.error()) mismatch("bool");
        return r.value_unsafe();
    }

    // An integer of type T; a fraction, a boolean or a value outside T's range fails.
    template <std::integral T>
    T integer() const {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) == sizeof(std::uint64_t)) {
            // Only 64-bit unsigned members take the values above INT64_MAX that they write.
            if (e_.type() == simdjson::dom::element_type::UINT64) return static_cast<T>(e_.get_uint64().value_unsafe());
        }
        std::int64_t v = int64();
        if constexpr (!std::is_same_v<T, std::int64_t>) {
            if (!std::in_range<T>(v)) outOfRange();
        }
        return static_cast<T>(v);
    }

    double number() const {
        switch (e_.type()) {
            case simdjson::dom::element_type::INT64: return static_cast<double>(e_.get_int64().value_unsafe());
            case simdjson::dom::element_type::UINT64: return static_cast<double>(e_.get_uint64().value_unsafe());
            case simdjson::dom::element_type::DOUBLE: return e_.get_double().value_unsafe();
            default: mismatch("number");
        }
    }

    std::string_view string() const {
        auto r = e_.get_string();
        if (r.error()) mismatch("string");
        return r.value_unsafe();
    }

    std::chrono::sys_seconds date() const;
    Value value() const;

    std::size_t arraySize() const {
        auto r = e_.get_array();
        if (r.error()) mismatch("array");
        return r.value_unsafe().size();
    }

    std::size_t objectSize() const {
        auto r = e_.get_object();
        if (r.error()) mismatch("object");
        return r.value_unsafe().size();
    }

    template <class F>
    void forEachElement(F&& f) const {
        auto r = e_.get_array();
        if (r.error()) mismatch("array");
        std::size_t index = 0;
        for (simdjson::dom::element element : r.value_unsafe()) {
            try {
                f(Node(element));
            } catch (DecodeError& error) {
                error.prependIndex(index);
                throw;
            }
            ++index;
        }
    }

    template <class F>
    void forEachMember(F&& f) const {
        auto r = e_.get_object();
        if (r.error()) mismatch("object");
        for (simdjson::dom::key_value_pair member : r.value_unsafe()) {
            try {
                f(member.key, Node(member.value));
            } catch (DecodeError& error) {
                error.prependKey(member.key);
                throw;
            }
        }
    }

    [[noreturn]] void mismatch(std::string_view expected) const;
    [[noreturn]] static void corrupted(std::string detail);

private:
    std::int64_t int64() const;
    [[noreturn]] void outOfRange() const;

    simdjson::dom::element e_;
};

namespace detail {

template <class M, class Policy>
void readField(const Node& n, M& member, Policy policy) {
    if constexpr (std::is_same_v<Policy, Lenient>) {
        static_assert(IsOptional<M>::value, "only an optional field can be lenient");
        try {
            Codec<M>::read(n, member);
        } catch (const DecodeError&) {
            member.reset();
        }
        return;
    }
    if constexpr (std::is_same_v<Policy, OrEmpty> || std::is_same_v<Policy, OmitEmpty> || requires { policy.value; }) {
        if (n.isNull()) {
            if constexpr (std::is_same_v<Policy, OrEmpty> || std::is_same_v<Policy, OmitEmpty>) {
                member = M{};
            } else {
                member = policy.value;
            }
            return;
        }
    } else if constexpr (!IsOptional<M>::value) {
        if (n.isNull()) throw DecodeError(DecodeError::Kind::valueNotFound, "expected a value, found null");
    }
    Codec<M>::read(n, member);
}

template <class M, class Policy>
void fillMissing(M& member, Policy policy, std::string_view key) {
    if constexpr (
        std::is_same_v<Policy, NotOnWire> || std::is_same_v<Policy, ByRules> || std::is_same_v<Policy, Flattened>) {
        return;  // not the table's to read
    } else if constexpr (std::is_same_v<Policy, OrEmpty> || std::is_same_v<Policy, OmitEmpty>) {
        member = M{};
    } else if constexpr (requires { policy.value; }) {
        member = policy.value;
    } else if constexpr (IsOptional<M>::value) {
        member.reset();
    } else {
        DecodeError error(DecodeError::Kind::keyNotFound, "");
        error.prependKey(key);
        throw error;
    }
}

// Entries off the wire have no name.
template <std::size_t N>
constexpr bool distinct(const std::array<std::string_view, N>& names) {
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (!names[i].empty() && names[i] == names[j]) return false;
        }
    }
    return true;
}

// A record's wire keys, with the entries of each key length as a bit set, so that a key the table
// does not have (an unknown one, or one of a flattened record read from the same object) is
// mostly turned away by its length alone.
template <std::size_t N>
struct KeyIndex {
    static constexpr std::size_t longest = 32;  // keys this long and longer share the last bucket

    std::array<std::string_view, N> names{};
    std::array<std::uint64_t, longest + 1> byLength{};

    constexpr explicit KeyIndex(const std::array<std::string_view, N>& keys) : names(keys) {
        for (std::size_t i = 0; i < N; ++i) {
            if (!names[i].empty()) byLength[bucket(names[i].size())] |= std::uint64_t{1} << i;
        }
    }
    static constexpr std::size_t bucket(std::size_t length) { return length < longest ? length : longest; }

    // The index of `key`, or N. Answers mostly list their keys in table order, so the entry after
    // the last one found is tried first.
    std::size_t find(std::string_view key, std::size_t expected) const {
        if (expected < N && !names[expected].empty() && sameKey(names[expected], key)) return expected;
        for (std::uint64_t candidates = byLength[bucket(key.size())]; candidates != 0; candidates &= candidates - 1) {
            auto i = static_cast<std::size_t>(std::countr_zero(candidates));
            if (sameKey(names[i], key)) return i;
        }
        return N;
    }
};

template <class M>
struct Unoptional {
    using type = M;
};
template <class M>
struct Unoptional<std::optional<M>> {
    using type = M;
};

template <std::size_t N>
constexpr std::uint64_t lowBits() {
    return N >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << N) - 1;
}

// Every key read from a record's object: its table's entries (those not on the wire unnamed),
// then the entries of each record flattened into it, each at its own offset. One pass over the
// object reads them all, and a bit per entry tells which were there.
template <class T, class NodeT>
struct FlatTable {
    using Fields = std::remove_cvref_t<decltype(keys<T>.fields)>;
    static constexpr std::size_t own = std::tuple_size_v<Fields>;
    template <std::size_t I>
    using FieldAt = std::tuple_element_t<I, Fields>;
    template <std::size_t I>
    static constexpr bool isFlattened = std::is_same_v<decltype(FieldAt<I>::policy), Flattened>;
    template <std::size_t I>
    using Inner = FlatTable<typename Unoptional<typename FieldAt<I>::Member>::type, NodeT>;

    template <std::size_t I>
    static constexpr std::size_t innerCount() {
        if constexpr (isFlattened<I>) {
            return Inner<I>::count;
        } else {
            return 0;
        }
    }

    // Where each entry's flattened entries start.
    static constexpr auto offsets = []<std::size_t... I>(std::index_sequence<I...>) {
        std::array<std::size_t, own + 1> out{};
        std::size_t at = own;
        ((out[I] = at, at += innerCount<I>()), ...);
        out[own] = at;
        return out;
    }
    (std::make_index_sequence<own>{});
    static constexpr std::size_t count = offsets[own];
    static_assert(count <= 64, "a record and those flattened into it have at most 64 entries");

    using Reader = void (*)(const NodeT&, T&);

    template <std::size_t I>
    static void readOwn(const NodeT& value, T& record) {
        constexpr auto& f = std::get<I>(keys<T>.fields);
        if constexpr (onWire<FieldAt<I>>) readField(value, record.*(f.member), f.policy);
    }

    template <class M>
    static M& target(M& member) {
        return member;
    }
    template <class M>
    static M& target(std::optional<M>& member) {
        return member ? *member : member.emplace();
    }

    template <std::size_t I, std::size_t J>
    static void readInner(const NodeT& value, T& record) {
        Inner<I>::readers[J](value, target(record.*(std::get<I>(keys<T>.fields).member)));
    }

    struct Entries {
        std::array<std::string_view, count> names{};
        std::array<Reader, count> readers{};
    };

    template <std::size_t I>
    static constexpr void addInner(Entries& out) {
        if constexpr (isFlattened<I>) {
            [&]<std::size_t... J>(std::index_sequence<J...>) {
                ((out.names[offsets[I] + J] = Inner<I>::names[J], out.readers[offsets[I] + J] = &readInner<I, J>), ...);
            }
            (std::make_index_sequence<Inner<I>::count>{});
        }
    }

    static constexpr Entries entries = []<std::size_t... I>(std::index_sequence<I...>) {
        Entries out;
        ((out.names[I] = onWire<FieldAt<I>> ? std::get<I>(keys<T>.fields).key : std::string_view{},
          out.readers[I] = &readOwn<I>),
         ...);
        (addInner<I>(out), ...);
        return out;
    }
    (std::make_index_sequence<own>{});
    static constexpr const auto& names = entries.names;
    static constexpr const auto& readers = entries.readers;

    template <std::size_t I>
    static constexpr std::uint64_t offWireAt() {
        if constexpr (isFlattened<I>) {
            return std::uint64_t{1} << I | Inner<I>::offWire << offsets[I];
        } else {
            return onWire<FieldAt<I>> ? std::uint64_t{0} : std::uint64_t{1} << I;
        }
    }
    // The entries that stand for no key: set from the start.
    static constexpr std::uint64_t offWire = []<std::size_t... I>(std::index_sequence<I...>) {
        return (offWireAt<I>() | ... | std::uint64_t{0});
    }
    (std::make_index_sequence<own>{});

    // A flattened optional record is read into a fresh value when any of its keys comes.
    static void prepare(T& out) {
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (
                [&] {
                    if constexpr (isFlattened<I>) {
                        auto& member = out.*(std::get<I>(keys<T>.fields).member);
                        if constexpr (IsOptional<std::remove_cvref_t<decltype(member)>>::value) {
                            member.reset();
                        } else {
                            Inner<I>::prepare(member);
                        }
                    }
                }(),
                ...);
        }
        (std::make_index_sequence<own>{});
    }

    // After the pass: the missing entries take their defaults (or fail), then the record's rules run.
    static void finish(std::uint64_t seen, const NodeT& n, T& out) {
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            constexpr std::uint64_t ownEntries = lowBits<own>();
            if ((seen & ownEntries) != ownEntries) {
                ((seen & (std::uint64_t{1} << I) ? void()
                                                 : fillMissing(
                                                       out.*(std::get<I>(keys<T>.fields).member),
                                                       std::get<I>(keys<T>.fields).policy,
                                                       std::get<I>(keys<T>.fields).key)),
                 ...);
            }
            (finishInner<I>(seen, n, out), ...);
        }
        (std::make_index_sequence<own>{});
        if constexpr (requires { Rules<T>::afterRead(n, out); }) Rules<T>::afterRead(n, out);
    }

    template <std::size_t I>
    static void finishInner(std::uint64_t seen, const NodeT& n, T& out) {
        if constexpr (isFlattened<I>) {
            const std::uint64_t inner = (seen >> offsets[I]) & lowBits<Inner<I>::count>();
            auto& member = out.*(std::get<I>(keys<T>.fields).member);
            if constexpr (IsOptional<std::remove_cvref_t<decltype(member)>>::value) {
                if (inner == Inner<I>::offWire) {
                    member.reset();
                } else {
                    Inner<I>::finish(inner, n, *member);
                }
            } else {
                Inner<I>::finish(inner, n, member);
            }
        }
    }
};

// Reads T's members from the object. With `whenAnyKey`, an object that holds none of T's keys is
// left alone and false returned, where otherwise each of them would be missing.
template <bool whenAnyKey, class T, class NodeT>
bool readMembers(const NodeT& n, T& out) {
    using Table = FlatTable<T, NodeT>;
    static_assert(distinct(Table::names), "a key appears twice in a record's table or those flattened into it");
    static constexpr KeyIndex<Table::count> index(Table::names);

    Table::prepare(out);
    std::uint64_t seen = Table::offWire;
    std::size_t next = 0;
    n.forEachMember([&](std::string_view key, const NodeT& value) {
        std::size_t found = index.find(key, next);
        if (found == Table::count) return;  // unknown keys are ignored
        Table::readers[found](value, out);
        seen |= std::uint64_t{1} << found;
        next = found + 1;
    });
    if constexpr (whenAnyKey) {
        if (seen == Table::offWire) return false;
    }
    Table::finish(seen, n, out);
    return true;
}

template <class T, class NodeT>
void readRecord(const NodeT& n, T& out) {
    readMembers<false>(n, out);
}

// Lends a parser whose buffers stay allocated between parses: each thread keeps its largest idle
// parser, and a lease taken while that one is out (a nested parse, or an answer still held) gets
// a parser of its own. The parsed document lives as long as the lease, which may end on another
// thread than the one that took it.
class ParserLease {
public:
    ParserLease();
    ~ParserLease();
    ParserLease(const ParserLease&) = delete;
    ParserLease& operator=(const ParserLease&) = delete;

    // `allocated` is how many bytes from text.data() may be read; with room for simdjson's
    // padding the text is parsed in place, otherwise from a padded copy. Throws DecodeError
    // (dataCorrupted) when the text is not JSON.
    simdjson::dom::element parse(std::string_view text, std::size_t allocated);

private:
    struct Own;
    static std::unique_ptr<Own>& idleParser();  // the calling thread's
    std::unique_ptr<Own> own_;
};

template <class T>
T readRoot(const Node& root) {
    T out{};
    Codec<T>::read(root, out);
    return out;
}

}  // namespace detail

// Reads a record whose keys stand in another record's object (see Rules in json_codec.hpp) when
// that object holds any of them, even as null; none when it holds none.
template <Record T>
void readIfAnyKey(const Node& n, std::optional<T>& out) {
    T value{};
    if (detail::readMembers<true>(n, value)) {
        out = std::move(value);
    } else {
        out.reset();
    }
}

// Decodes one value of type T from JSON text. Throws DecodeError naming the coding path.
template <class T>
T decode(std::string_view text) {
    detail::ParserLease lease;
    return detail::readRoot<T>(Node(lease.parse(text, text.size())));
}

// The same from a std::string, read in place when its spare capacity covers the parser's padding
// (an answer body usually has it), which saves copying the text.
template <class T, class S>
requires std::same_as<S, std::string> T decode(const S& text) {
    detail::ParserLease lease;
    return detail::readRoot<T>(Node(lease.parse(text, text.capacity())));
}

// The same from a document, whose parse is made once and shared with its other readers.
template <class T>
T decode(const Document& document) {
    return detail::readRoot<T>(document.root());
}

}  // namespace brisalune::json
