#pragma once

// JSON text in and out: the error types shared by the reader, the writer and the record codec,
// and a generic tree for callers that need no record (the defaults file, pretty printing).

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brisalune::json {

// Nesting deeper than this fails cleanly on read and on write.
inline constexpr std::size_t maxDepth = 512;

// A decode failure: its kind, the coding path (`alerts[3].created_at`) and a detail.
class DecodeError : public std::runtime_error {
public:
    enum class Kind { dataCorrupted, keyNotFound, valueNotFound, typeMismatch };

    DecodeError(Kind kind, std::string detail);

    Kind kind() const noexcept { return kind_; }
    const std::string& detail() const noexcept { return detail_; }
    // The path from the root, e.g. "alerts[3].created_at"; empty at the root.
    std::string path() const;

    // Called while unwinding, innermost first.
    void prependKey(std::string_view key);
    void prependIndex(std::size_t index);

    const char* what() const noexcept override { return description_.c_str(); }

private:
    void describe();

    Kind kind_;
    std::string detail_;
    std::vector<std::string> reversedPath_;  // innermost first, each "key" or "[n]"
    std::string description_;
};

const char* kindName(DecodeError::Kind kind) noexcept;

// The writer refuses what JSON cannot carry: invalid UTF-8, non-finite numbers, too deep nesting.
class EncodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Style { compact, prettySorted };

struct Value;
using Array = std::vector<Value>;
using Object = std::map<std::string, Value, std::less<>>;

// A generic JSON value. Integers that fit 64 bits stay integers; other numbers are doubles.
struct Value {
    std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Array, Object> data = nullptr;

    Value() = default;
    template <class T>
    requires std::is_constructible_v<decltype(data), T&&> Value(T&& v)
        : data(std::forward<T>(v)) {}  // NOLINT: implicit on purpose, like a literal
    Value(int v) : data(std::int64_t{v}) {}
    Value(const char* v) : data(std::string(v)) {}

    template <class T>
    bool is() const {
        return std::holds_alternative<T>(data);
    }
    template <class T>
    const T* get() const {
        return std::get_if<T>(&data);
    }
    template <class T>
    T* get() {
        return std::get_if<T>(&data);
    }

    friend bool operator==(const Value&, const Value&) = default;
};

// Parses one JSON text (RFC 8259, strict UTF-8). Throws DecodeError (dataCorrupted) when malformed.
Value parse(std::string_view text);

// Writes a value; prettySorted indents by two blanks and sorts object keys.
std::string write(const Value& value, Style style = Style::compact);

// Re-writes any JSON text in the given style.
std::string reformat(std::string_view text, Style style);

}  // namespace brisalune::json
