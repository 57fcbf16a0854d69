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

// The tab and the space separators (general category Zs, the ordinary blank among them); no
// line breaks.
bool isSpaceOrTab(char32_t c);

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

// The text without the code points at either end for which `trim(c)` holds. A byte that is not
// UTF-8 is kept and stops the trim.
template <class Trim>
std::string_view trimmed(std::string_view utf8, Trim&& trim) {
    std::size_t begin = utf8.size();
    std::size_t end = utf8.size();
    for (std::size_t at = 0; at < utf8.size();) {
        const auto point = decodeCodePoint(utf8, at);
        const std::size_t length = point ? point->bytes.size() : 1;
        if (!point || !trim(point->value)) {
            if (begin == utf8.size()) begin = at;
            end = at + length;
        }
        at += length;
    }
    return begin == utf8.size() ? utf8.substr(utf8.size()) : utf8.substr(begin, end - begin);
}

// The text cut to at most `maxBytes` bytes, ending on a code-point boundary, with "…" in place
// of what was cut (the ellipsis counts toward the limit). Bytes that are not UTF-8 become
// U+FFFD first, so what comes out is always valid UTF-8: fit for a stored record or a
// notification body whatever the server sent.
std::string shortened(std::string_view text, std::size_t maxBytes);

// Full Unicode upper-case mapping, the same in every locale ("ß" becomes "SS"). Bytes that are
// not UTF-8 become U+FFFD.
std::string uppercased(std::string_view utf8);

// Canonical composition (NFC). Throws std::invalid_argument on invalid UTF-8.
std::string nfc(std::string_view utf8);

// Whether the text is already NFC; false for invalid UTF-8.
bool isNfc(std::string_view utf8);

}  // namespace brisalune::platform
