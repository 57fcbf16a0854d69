#pragma once

// Unicode character classes, a strict UTF-8 walker and NFC normalisation (on ICU).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune::platform {

// The Unicode White_Space property plus the newlines U+000A-U+000D, U+0085, U+2028, U+2029.
bool isWhitespaceOrNewline(char32_t c);

// Letters, marks and numbers of every script (general categories L*, M*, N*).
bool isAlphanumeric(char32_t c);

// One code point of a UTF-8 text, with the bytes that encode it (a view into that text).
struct CodePoint {
    char32_t value = 0;
    std::string_view bytes;
};

// Decodes the code point that starts at `offset` (which must be < text.size()). Strict UTF-8:
// overlong forms, surrogates, values above U+10FFFF and truncated sequences give nullopt.
std::optional<CodePoint> decodeCodePoint(std::string_view text, std::size_t offset);

bool isValidUtf8(std::string_view text);

// Calls f(CodePoint) for each code point in order. Returns false, without calling f at all,
// when the text is not valid UTF-8, so a caller never acts on half a text.
template <class F>
bool forEachCodePoint(std::string_view utf8, F&& f) {
    if (!isValidUtf8(utf8)) return false;
    for (std::size_t at = 0; at < utf8.size();) {
        const CodePoint point = *decodeCodePoint(utf8, at);
        at += point.bytes.size();
        f(point);
    }
    return true;
}

// Canonical composition (NFC). Throws std::invalid_argument on invalid UTF-8.
std::string nfc(std::string_view utf8);

// Whether the text is already NFC; false for invalid UTF-8.
bool isNfc(std::string_view utf8);

}  // namespace brisalune::platform
