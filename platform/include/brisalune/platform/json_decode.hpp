#pragma once

// Reading records from JSON text with simdjson. Include this only where answers are decoded:
// the parser's header is large.

#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_document.hpp>
#include <brisalune/platform/time.hpp>

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
#include <vector>

namespace brisalune::json {

// One value of a parsed document, with checked reads that throw DecodeError.
//
// A value is a position on simdjson's tape. The reads that every record makes (a type, a string,
// an integer, the step to the next member) look at the tape here: simdjson's own readers of a
// dom::element are too large for the compiler to inline into a record's loop, and each call
// tests the type again.
class Node {
public:
    enum class Kind { null, boolean, integer, number, string, array, object };

    explicit Node(simdjson::dom::element element) : at_(std::bit_cast<Tape>(element)) {}

    // Inline: free-form values dispatch on it for every value they read.
    Kind kind() const {
        using simdjson::internal::tape_type;
        switch (type()) {
            case tape_type::TRUE_VALUE:
            case tape_type::FALSE_VALUE: return Kind::boolean;
            case tape_type::INT64:
            case tape_type::UINT64: return Kind::integer;
            case tape_type::DOUBLE: return Kind::number;
            case tape_type::STRING: return Kind::string;
            case tape_type::START_ARRAY: return Kind::array;
            case tape_type::START_OBJECT: return Kind::object;
            default: return Kind::null;
        }
    }
    bool isNull() const { return word() == tapeWord(simdjson::internal::tape_type::NULL_VALUE); }

    bool boolean() const {
        if (word() == tapeWord(simdjson::internal::tape_type::TRUE_VALUE)) return true;
        if (word() != tapeWord(simdjson::internal::tape_type::FALSE_VALUE)) mismatch("bool");
        return false;
    }

    // An integer of type T; a fraction, a boolean or a value outside T's range fails.
    template <std::integral T>
    T integer() const {
        if constexpr (std::is_unsigned_v<T> && sizeof(T) == sizeof(std::uint64_t)) {
            // Only 64-bit unsigned members take the values above INT64_MAX that they write.
            if (is(simdjson::internal::tape_type::UINT64)) return static_cast<T>(payload<std::uint64_t>());
        }
        std::int64_t v = is(simdjson::internal::tape_type::INT64) ? payload<std::int64_t>() : int64();
        if constexpr (!std::is_same_v<T, std::int64_t>) {
            if (!std::in_range<T>(v)) outOfRange();
        }
        return static_cast<T>(v);
    }

    double number() const {
        switch (type()) {
            case simdjson::internal::tape_type::INT64: return static_cast<double>(payload<std::int64_t>());
            case simdjson::internal::tape_type::UINT64: return static_cast<double>(payload<std::uint64_t>());
            case simdjson::internal::tape_type::DOUBLE: return payload<double>();
            default: mismatch("number");
        }
    }

    [[gnu::always_inline]] std::string_view string() const {
        if (!is(simdjson::internal::tape_type::STRING)) mismatch("string");
        return stringAt(at_.json_index);
    }

    std::chrono::sys_seconds date() const {
        const std::string_view text = string();
        std::chrono::sys_seconds out;
        if (!platform::parseInternetDate(text, out)) notADate(text);
        return out;
    }

    Value value() const;

    // Counted by the parser (as simdjson's own size() does, which stops counting at 2^24 - 1).
    std::size_t arraySize() const {
        if (!is(simdjson::internal::tape_type::START_ARRAY)) mismatch("array");
        return (word() >> 32) & simdjson::internal::JSON_COUNT_MASK;
    }

    std::size_t objectSize() const {
        if (!is(simdjson::internal::tape_type::START_OBJECT)) mismatch("object");
        return (word() >> 32) & simdjson::internal::JSON_COUNT_MASK;
    }

    template <class F>
    void forEachElement(F&& f) const {
        if (!is(simdjson::internal::tape_type::START_ARRAY)) mismatch("array");
        const std::size_t end = static_cast<std::uint32_t>(word()) - 1;  // the closing entry
        std::size_t index = 0;
        for (std::size_t at = at_.json_index + 1; at < end; at = after(at)) {
            try {
                f(Node(Tape{at_.doc, at}));
            } catch (DecodeError& error) {
                error.prependIndex(index);
                throw;
            }
            ++index;
        }
    }

    // An array of integers into `out`, as integer<T>() reads each; a failing element is named by
    // its index. The integers simdjson keeps as int64 are read straight off the tape.
    template <std::integral T>
    void integers(std::vector<T>& out) const {
        if (!is(simdjson::internal::tape_type::START_ARRAY)) mismatch("array");
        const std::uint64_t* const tape = at_.doc->tape.get();
        const std::size_t end = static_cast<std::uint32_t>(word()) - 1;  // the closing entry
        out.resize((word() >> 32) & simdjson::internal::JSON_COUNT_MASK);
        std::size_t index = 0;
        for (std::size_t at = at_.json_index + 1; at < end; ++index) {
            T value;
            const std::int64_t fast = std::bit_cast<std::int64_t>(tape[at + 1]);
            if ((tape[at] >> 56) == static_cast<std::uint64_t>(simdjson::internal::tape_type::INT64) &&
                std::in_range<T>(fast)) {
                value = static_cast<T>(fast);
                at += 2;
            } else {
                try {
                    value = Node(Tape{at_.doc, at}).integer<T>();
                } catch (DecodeError& error) {
                    error.prependIndex(index);
                    throw;
                }
                at = after(at);
            }
            if (index < out.size()) {
                out[index] = value;
            } else {
                out.push_back(value);  // past the count the parser keeps (2^24 - 1)
            }
        }
    }

    template <class F>
    void forEachMember(F&& f) const {
        for (Members members = this->members(); !members.done(); members.next()) {
            try {
                f(members.key(), members.value());
            } catch (DecodeError& error) {
                error.prependKey(members.key());
                throw;
            }
        }
    }

    // A cursor over an object's members in their order. Past the last member the key is empty.
    class Members {
    public:
        bool done() const { return at_ >= end_; }
        std::string_view key() const { return key_; }
        Node value() const { return Node(Tape{doc_, at_ + 1}); }
        [[gnu::always_inline]] void next() { moveTo(Node(Tape{doc_, at_ + 1}).after(at_ + 1)); }
        // The same when the value is known to take `width` entries of the tape.
        [[gnu::always_inline]] void skip(std::size_t width) { moveTo(at_ + 1 + width); }

    private:
        friend class Node;
        Members(const simdjson::dom::document* doc, std::size_t first, std::size_t end)
            : doc_(doc), at_(first), end_(end), key_(done() ? std::string_view() : Node(Tape{doc, first}).stringAt(first)) {}

        [[gnu::always_inline]] void moveTo(std::size_t at) {
            at_ = at;
            key_ = done() ? std::string_view() : Node(Tape{doc_, at_}).stringAt(at_);
        }

        const simdjson::dom::document* doc_;
        std::size_t at_;  // the member's key on the tape
        std::size_t end_;
        std::string_view key_;
    };

    [[gnu::always_inline]] Members members() const {
        if (!is(simdjson::internal::tape_type::START_OBJECT)) mismatch("object");
        return Members(at_.doc, at_.json_index + 1, static_cast<std::uint32_t>(word()) - 1);
    }

    [[noreturn]] void mismatch(std::string_view expected) const;
    [[noreturn]] static void corrupted(std::string detail);
    [[noreturn]] static void nullForValue();  // a null where a member requires a value

private:
    using Tape = simdjson::internal::tape_ref;
    static_assert(sizeof(Tape) == sizeof(simdjson::dom::element) && std::is_trivially_copyable_v<Tape> &&
                  std::is_trivially_copyable_v<simdjson::dom::element>, "a dom::element is a tape position");

    explicit Node(Tape at) : at_(at) {}

    static constexpr std::uint64_t tapeWord(simdjson::internal::tape_type type) {
        return static_cast<std::uint64_t>(type) << 56;
    }
    std::uint64_t word() const { return at_.doc->tape[at_.json_index]; }
    simdjson::internal::tape_type type() const { return static_cast<simdjson::internal::tape_type>(word() >> 56); }
    bool is(simdjson::internal::tape_type t) const { return (word() >> 56) == static_cast<std::uint64_t>(t); }
    // A number's value, in the entry after its type.
    template <class N>
    N payload() const {
        return std::bit_cast<N>(at_.doc->tape[at_.json_index + 1]);
    }
    // The string whose entry is at `index`: its length, then its bytes, in the string buffer.
    [[gnu::always_inline]] std::string_view stringAt(std::size_t index) const {
        const std::uint8_t* text = at_.doc->string_buf.get() + (at_.doc->tape[index] & simdjson::internal::JSON_VALUE_MASK);
        std::uint32_t length;
        std::memcpy(&length, text, sizeof length);
        return {reinterpret_cast<const char*>(text + sizeof length), length};
    }
    // The entry after the value at `index`: past a nested array or object, or a number's payload.
    [[gnu::always_inline]] std::size_t after(std::size_t index) const {
        const std::uint64_t entry = at_.doc->tape[index];
        switch (static_cast<simdjson::internal::tape_type>(entry >> 56)) {
            case simdjson::internal::tape_type::START_ARRAY:
            case simdjson::internal::tape_type::START_OBJECT: return static_cast<std::uint32_t>(entry);
            case simdjson::internal::tape_type::INT64:
            case simdjson::internal::tape_type::UINT64:
            case simdjson::internal::tape_type::DOUBLE: return index + 2;
            default: return index + 1;
        }
    }
    simdjson::dom::element element() const { return std::bit_cast<simdjson::dom::element>(at_); }

    std::int64_t int64() const;
    [[noreturn]] void outOfRange() const;
    [[noreturn]] static void notADate(std::string_view text);

    Tape at_;
};

namespace detail {

// A member back to its default value. A container is emptied in place: mostly it is empty
// already, and assigning a fresh one costs more than finding that out.
template <class M>
void resetToEmpty(M& member) {
    if constexpr (requires { member.clear(); member.empty(); }) {
        member.clear();
    } else {
        member = M{};
    }
}

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
                resetToEmpty(member);
            } else {
                member = policy.value;
            }
            return;
        }
    } else if constexpr (!IsOptional<M>::value) {
        if (n.isNull()) Node::nullForValue();
    }
    Codec<M>::read(n, member);
}

template <class M, class Policy>
void fillMissing(M& member, Policy policy, std::string_view key) {
    if constexpr (
        std::is_same_v<Policy, NotOnWire> || std::is_same_v<Policy, ByRules> || std::is_same_v<Policy, Flattened>) {
        return;  // not the table's to read
    } else if constexpr (std::is_same_v<Policy, OrEmpty> || std::is_same_v<Policy, OmitEmpty>) {
        resetToEmpty(member);
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

// How many tape entries a value takes once a member of type M has read it under Policy without
// failing: one for a text, a boolean or a null, two for a number (its type, then its value). 0
// where it depends on the value, which is then looked at again.
template <class M, class Policy>
constexpr std::size_t tapeWidth() {
    constexpr bool oneEntry =
        std::is_same_v<M, std::string> || std::is_same_v<M, bool> || std::is_same_v<M, std::chrono::sys_seconds>;
    if constexpr (std::is_same_v<Policy, Lenient>) {
        return 0;  // a value that does not decode is passed over, whatever it is
    } else if constexpr (IsOptional<M>::value) {
        return tapeWidth<typename M::value_type, Plain>() == 1 ? 1 : 0;
    } else if constexpr (oneEntry) {
        return 1;  // a null read as the default takes one entry as well
    } else if constexpr ((std::is_integral_v<M> || std::is_same_v<M, double>) && std::is_same_v<Policy, Plain>) {
        return 2;
    } else {
        return 0;
    }
}

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

    // The tape entries of entry I's value once read, or 0 when that depends on the value.
    template <std::size_t I>
    static constexpr std::size_t widthAt() {
        if constexpr (I < own) {
            if constexpr (onWire<FieldAt<I>>) {
                return tapeWidth<typename FieldAt<I>::Member, decltype(FieldAt<I>::policy)>();
            } else {
                return 0;
            }
        } else {
            return 0;
        }
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

// `name` as little-endian words, with a mask of the bytes that belong to it in each.
template <std::size_t Length>
struct KeyWords {
    std::array<std::uint64_t, (Length + 7) / 8> words{};
    std::array<std::uint64_t, (Length + 7) / 8> masks{};

    constexpr explicit KeyWords(std::string_view name) {
        for (std::size_t i = 0; i < Length; ++i) {
            words[i / 8] |= std::uint64_t{static_cast<unsigned char>(name[i])} << (8 * (i % 8));
            masks[i / 8] |= std::uint64_t{0xFF} << (8 * (i % 8));
        }
    }
};

// Whether a key of a parsed document is the table's entry I. simdjson's string buffer has room
// past its last string, so the key is read eight bytes at a time and the bytes past it masked off.
template <class Table, std::size_t I>
[[gnu::always_inline]] inline bool isEntryKey(std::string_view key) {
    constexpr std::string_view name = Table::names[I];
    if constexpr (std::endian::native != std::endian::little) {
        return sameKey(name, key);
    } else {
        static constexpr KeyWords<name.size()> expected(name);
        if (key.size() != name.size()) return false;
        std::uint64_t difference = 0;
        for (std::size_t i = 0; i < expected.words.size(); ++i) {
            std::uint64_t word;
            std::memcpy(&word, key.data() + 8 * i, sizeof word);
            difference |= (word ^ expected.words[i]) & expected.masks[i];
        }
        return difference == 0;
    }
}

// Reads a member's value with its reader; a failure names the member's key in its path.
template <class Reader, class NodeT, class T>
[[gnu::always_inline]] inline void readNamed(Reader read, const NodeT& value, T& out, std::string_view key) {
    try {
        read(value, out);
    } catch (DecodeError& error) {
        error.prependKey(key);
        throw;
    }
}

// Reads the member at hand when it is entry I's key, and moves past it.
template <class Table, std::size_t I, class Members, class T>
[[gnu::always_inline]] inline void readInOrder(Members& members, T& out, std::uint64_t& seen) {
    constexpr std::string_view name = Table::names[I];
    if constexpr (!name.empty()) {
        if (!isEntryKey<Table, I>(members.key())) return;
        readNamed(Table::readers[I], members.value(), out, name);
        seen |= std::uint64_t{1} << I;
        if constexpr (constexpr std::size_t width = Table::template widthAt<I>(); width != 0) {
            members.skip(width);  // the reader saw the value's type: no need to look again
        } else {
            members.next();
        }
    }
}

template <class Table, class Members, class T, std::size_t... I>
[[gnu::always_inline]] inline void readAllInOrder(Members& members, T& out, std::uint64_t& seen, std::index_sequence<I...>) {
    (readInOrder<Table, I>(members, out, seen), ...);
}

// Reads T's members from the object. With `whenAnyKey`, an object that holds none of T's keys is
// left alone and false returned, where otherwise each of them would be missing.
template <bool whenAnyKey, class T, class NodeT>
bool readMembers(const NodeT& n, T& out) {
    using Table = FlatTable<T, NodeT>;
    static_assert(distinct(Table::names), "a key appears twice in a record's table or those flattened into it");
    static constexpr KeyIndex<Table::count> index(Table::names);

    Table::prepare(out);
    std::uint64_t seen = Table::offWire;
    // Kept opaque: the compiler otherwise follows every combination of present and missing
    // entries as its own constant, and carries them all through the pass on the stack.
    asm("" : "+r"(seen));
    auto members = n.members();
    // Answers mostly list their keys in table order: each entry in turn is tried against the
    // member at hand and read by a direct call. What is left (keys out of order, unknown or
    // repeated) is looked up one by one; either way each member is read once, in its order.
    readAllInOrder<Table>(members, out, seen, std::make_index_sequence<Table::count>{});
    for (std::size_t next = 0; !members.done(); members.next()) {
        const std::string_view key = members.key();
        const std::size_t found = index.find(key, next);
        if (found == Table::count) continue;  // unknown keys are ignored
        readNamed(Table::readers[found], members.value(), out, key);
        seen |= std::uint64_t{1} << found;
        next = found + 1;
    }
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
