#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/time.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace brisalune::json {

// ---- errors -------------------------------------------------------------------------------

const char* kindName(DecodeError::Kind kind) noexcept {
    switch (kind) {
        case DecodeError::Kind::dataCorrupted: return "dataCorrupted";
        case DecodeError::Kind::keyNotFound: return "keyNotFound";
        case DecodeError::Kind::valueNotFound: return "valueNotFound";
        case DecodeError::Kind::typeMismatch: return "typeMismatch";
    }
    return "dataCorrupted";
}

DecodeError::DecodeError(Kind kind, std::string detail)
    : std::runtime_error(""), kind_(kind), detail_(std::move(detail)) {
    describe();
}

std::string DecodeError::path() const {
    std::string out;
    for (auto it = reversedPath_.rbegin(); it != reversedPath_.rend(); ++it) {
        if (!out.empty() && !it->starts_with('[')) out += '.';  // an empty key has no front()
        out += *it;
    }
    return out;
}

void DecodeError::prependKey(std::string_view key) {
    reversedPath_.emplace_back(key);
    describe();
}

void DecodeError::prependIndex(std::size_t index) {
    reversedPath_.push_back("[" + std::to_string(index) + "]");
    describe();
}

void DecodeError::describe() {
    description_ = kindName(kind_);
    std::string where = path();
    if (!where.empty()) description_ += ": " + where;
    if (!detail_.empty()) description_ += ": " + detail_;
}

// ---- the writer ---------------------------------------------------------------------------

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one (overlong forms,
// surrogates and code points above U+10FFFF are invalid).
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b0 = byte(i);
    std::size_t length = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    if (length == 2 && b0 < 0xC2) return 0;
    if (length == 3) {
        unsigned char b1 = byte(i + 1);
        if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 >= 0xA0)) return 0;
    }
    if (length == 4) {
        unsigned char b1 = byte(i + 1);
        if ((b0 == 0xF0 && b1 < 0x90) || b0 > 0xF4 || (b0 == 0xF4 && b1 >= 0x90)) return 0;
    }
    return length;
}

void appendEscaped(std::string& out, std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            std::size_t length = utf8SequenceLength(s, i);
            if (length == 0) throw EncodeError("invalid UTF-8 in a string");
            out.append(s, i, length);
            i += length;
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
}

template <class N>
void appendNumber(std::string& out, N value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The shortest round-trip form, except where that would read back as something else: integral
// values from 2^63 up go to exponent form (so they read back as numbers, not integers), and
// negative zero keeps its sign.
void appendDouble(std::string& out, double value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (std::string_view(buffer, result.ptr).find_first_of(".e") == std::string_view::npos) {
        if (std::fabs(value) >= 0x1p63) {
            result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
        } else if (value == 0 && std::signbit(value)) {
            out += "-0.0";
            return;
        }
    }
    out.append(buffer, result.ptr);
}

}  // namespace

void Writer::separate() {
    if (afterKey_) {
        afterKey_ = false;
    } else if (!first_) {
        out_ += ',';
    }
    first_ = false;
}

void Writer::null() {
    separate();
    out_ += "null";
}
void Writer::boolean(bool value) {
    separate();
    out_ += value ? "true" : "false";
}
void Writer::integer(std::int64_t value) {
    separate();
    appendNumber(out_, value);
}
void Writer::unsignedInteger(std::uint64_t value) {
    separate();
    appendNumber(out_, value);
}

void Writer::number(double value) {
    if (!std::isfinite(value)) throw EncodeError("a number that is not finite cannot be written as JSON");
    separate();
    appendDouble(out_, value);
}

void Writer::string(std::string_view value) {
    separate();
    appendEscaped(out_, value);
}

void Writer::open(char bracket) {
    if (depth_ >= maxDepth) throw EncodeError("nesting deeper than " + std::to_string(maxDepth) + " levels");
    separate();
    out_ += bracket;
    ++depth_;
    first_ = true;
}

void Writer::close(char bracket) {
    out_ += bracket;
    --depth_;
    first_ = false;
}

void Writer::beginObject() { open('{'); }
void Writer::endObject() { close('}'); }
void Writer::beginArray() { open('['); }
void Writer::endArray() { close(']'); }

void Writer::key(std::string_view key) {
    separate();
    appendEscaped(out_, key);
    out_ += ':';
    afterKey_ = true;
}

std::string Writer::take() {
    std::string result = std::move(out_);
    out_.clear();
    depth_ = 0;
    first_ = true;
    afterKey_ = false;
    return result;
}

// ---- the generic tree ---------------------------------------------------------------------

void Codec<Value>::write(Writer& w, const Value& v) {
    std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, std::nullptr_t>) {
                w.null();
            } else {
                writeValue(w, x);
            }
        },
        v.data);
}

namespace {

void writePretty(std::string& out, const Value& v, std::size_t depth) {
    if (depth >= maxDepth && (v.is<Array>() || v.is<Object>())) {
        throw EncodeError("nesting deeper than " + std::to_string(maxDepth) + " levels");
    }
    auto newline = [&](std::size_t level) {
        out += '\n';
        out.append(2 * level, ' ');
    };
    if (const auto* array = v.get<Array>()) {
        if (array->empty()) {
            out += "[]";
            return;
        }
        out += '[';
        for (std::size_t i = 0; i < array->size(); ++i) {
            if (i) out += ',';
            newline(depth + 1);
            writePretty(out, (*array)[i], depth + 1);
        }
        newline(depth);
        out += ']';
    } else if (const auto* object = v.get<Object>()) {
        if (object->empty()) {
            out += "{}";
            return;
        }
        out += '{';
        bool first = true;
        for (const auto& [key, member] : *object) {  // std::map: keys already in order
            if (!first) out += ',';
            first = false;
            newline(depth + 1);
            appendEscaped(out, key);
            out += " : ";
            writePretty(out, member, depth + 1);
        }
        newline(depth);
        out += '}';
    } else {
        Writer w;
        Codec<Value>::write(w, v);
        out += w.take();
    }
}

}  // namespace

std::string write(const Value& value, Style style) {
    if (style == Style::prettySorted) {
        std::string out;
        writePretty(out, value, 0);
        return out;
    }
    Writer w;
    Codec<Value>::write(w, value);
    return w.take();
}

Value parse(std::string_view text) { return decode<Value>(text); }

std::string reformat(std::string_view text, Style style) { return write(parse(text), style); }

// ---- reading ------------------------------------------------------------------------------

namespace {

const char* kindText(Node::Kind kind) {
    switch (kind) {
        case Node::Kind::null: return "null";
        case Node::Kind::boolean: return "bool";
        case Node::Kind::integer: return "integer";
        case Node::Kind::number: return "number";
        case Node::Kind::string: return "string";
        case Node::Kind::array: return "array";
        case Node::Kind::object: return "object";
    }
    return "value";
}

}  // namespace

void Node::mismatch(std::string_view expected) const {
    throw DecodeError(
        isNull() ? DecodeError::Kind::valueNotFound : DecodeError::Kind::typeMismatch,
        "expected " + std::string(expected) + ", found " + kindText(kind()));
}

void Node::corrupted(std::string detail) { throw DecodeError(DecodeError::Kind::dataCorrupted, std::move(detail)); }

void Node::outOfRange() const { corrupted("number out of range"); }

void Node::nullForValue() { throw DecodeError(DecodeError::Kind::valueNotFound, "expected a value, found null"); }

std::int64_t Node::int64() const {
    const simdjson::dom::element e = element();
    switch (e.type()) {
        case simdjson::dom::element_type::INT64: return e.get_int64().value_unsafe();
        case simdjson::dom::element_type::UINT64: outOfRange();
        case simdjson::dom::element_type::DOUBLE: {
            // An integral double such as 3.0 or 1e3 is an integer; 1.5 is not.
            double d = e.get_double().value_unsafe();
            if (d != std::trunc(d)) mismatch("integer");
            // -2^63 itself is refused: as a double it is also what integers just below it round to,
            // and its integer spelling arrives as INT64 anyway.
            if (!(d > -0x1p63 && d < 0x1p63)) outOfRange();
            return static_cast<std::int64_t>(d);
        }
        default: mismatch("integer");
    }
}

void Node::notADate(std::string_view text) {
    corrupted("expected an ISO-8601 date-time, found \"" + std::string(text) + "\"");
}

Value Node::value() const {
    switch (kind()) {
        case Kind::null: return nullptr;
        case Kind::boolean: return boolean();
        case Kind::integer:
            if (is(simdjson::internal::tape_type::UINT64)) return number();
            return int64();
        case Kind::number: return number();
        case Kind::string: return std::string(string());
        case Kind::array: {
            Array array;
            array.reserve(arraySize());
            forEachElement([&](const Node& element) { array.push_back(element.value()); });
            return array;
        }
        case Kind::object: {
            Object object;
            forEachMember([&](std::string_view key, const Node& member) {
                object.insert_or_assign(std::string(key), member.value());
            });
            return object;
        }
    }
    return nullptr;
}

void Codec<std::chrono::sys_seconds>::write(Writer& w, std::chrono::sys_seconds v) {
    std::string text;
    try {
        text = platform::formatInternetDate(v);
    } catch (const std::out_of_range& error) {
        throw EncodeError(error.what());
    }
    w.string(text);
}

namespace detail {

struct ParserLease::Own {
    simdjson::dom::parser parser;
    std::string padded;  // a copy of the text with room past the end, which simdjson reads, or its widened form

    Own() {
        if (parser.allocate(4096, maxDepth) != simdjson::SUCCESS) throw std::bad_alloc();
    }
};

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isNumberChar(char c) { return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// Past the closing quote of the string that opens at text[at].
std::size_t afterString(std::string_view text, std::size_t at) {
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\') {
            ++at;
        } else if (text[at] == '"') {
            return at + 1;
        }
    }
    return text.size();
}

// A well-formed integer (no fraction, no exponent) that fits neither int64 nor uint64.
bool isBigInteger(std::string_view token) {
    std::string_view digits = token.starts_with('-') ? token.substr(1) : token;
    if (digits.empty() || (digits[0] == '0' && digits.size() > 1)) return false;
    if (!std::all_of(digits.begin(), digits.end(), isDigit)) return false;
    std::errc result;
    if (token.starts_with('-')) {
        std::int64_t value;
        result = std::from_chars(token.data(), token.data() + token.size(), value).ec;
    } else {
        std::uint64_t value;
        result = std::from_chars(token.data(), token.data() + token.size(), value).ec;
    }
    return result == std::errc::result_out_of_range;
}

// simdjson refuses integers beyond 64 bits, which JSON allows; as numbers they are the nearest
// double. Writes `text` to `out`, padded, with ".0" after each such integer so that simdjson reads
// it as one; false (and `out` unspecified) when there is none.
bool widenBigIntegers(std::string_view text, std::string& out) {
    out.clear();
    std::size_t copied = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == '"') {
            at = afterString(text, at);
            continue;
        }
        if (!isNumberChar(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && isNumberChar(text[end])) ++end;
        if (isBigInteger(text.substr(at, end - at))) {
            out.append(text, copied, end - copied);
            out += ".0";
            copied = end;
        }
        at = end;
    }
    if (copied == 0) return false;
    out.append(text, copied);
    out.append(simdjson::SIMDJSON_PADDING, '\0');
    return true;
}

}  // namespace

std::unique_ptr<ParserLease::Own>& ParserLease::idleParser() {
    thread_local std::unique_ptr<Own> idle;
    return idle;
}

ParserLease::ParserLease() : own_(idleParser() ? std::move(idleParser()) : std::make_unique<Own>()) {}

// A parser's buffers are about 14 bytes per byte of text it can take: one grown by a huge answer
// is let go rather than kept for the life of its thread.
constexpr std::size_t largestKeptCapacity = std::size_t{16} << 20;

ParserLease::~ParserLease() {
    auto& idle = idleParser();
    if (own_->parser.capacity() > largestKeptCapacity) return;
    if (!idle || idle->parser.capacity() < own_->parser.capacity()) idle = std::move(own_);
}

simdjson::dom::element ParserLease::parse(std::string_view text, std::size_t allocated) {
    Own& p = *own_;
    const char* start = text.data();
    if (allocated < text.size() + simdjson::SIMDJSON_PADDING) {
        p.padded.assign(text);
        p.padded.append(simdjson::SIMDJSON_PADDING, '\0');
        start = p.padded.data();
    }
    auto result = p.parser.parse(start, text.size(), false);
    if (result.error() == simdjson::NUMBER_ERROR && widenBigIntegers(text, p.padded)) {
        result = p.parser.parse(p.padded.data(), p.padded.size() - simdjson::SIMDJSON_PADDING, false);
    }
    if (result.error() == simdjson::DEPTH_ERROR) {
        Node::corrupted("nesting deeper than " + std::to_string(maxDepth) + " levels");
    }
    if (result.error()) {
        Node::corrupted(std::string("the data is not valid JSON: ") + simdjson::error_message(result.error()));
    }
    return result.value_unsafe();
}

}  // namespace detail

}  // namespace brisalune::json
