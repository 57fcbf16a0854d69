#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include <unicode/bytestream.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace brisalune::platform {
namespace {

constexpr char32_t maxCodePoint = 0x10FFFF;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Sequence length and payload bits announced by a lead byte; 0 for a byte that cannot lead.
struct Lead {
    std::size_t length;
    char32_t bits;
};

Lead lead(unsigned char byte) {
    if (byte < 0x80) return {1, byte};
    if (byte >= 0xC2 && byte <= 0xDF) return {2, byte & 0x1Fu};
    if (byte >= 0xE0 && byte <= 0xEF) return {3, byte & 0x0Fu};
    if (byte >= 0xF0 && byte <= 0xF4) return {4, byte & 0x07u};
    return {0, 0};
}

// The smallest value each length may encode; anything below is an overlong form.
constexpr char32_t minimumFor[] = {0, 0, 0x80, 0x800, 0x10000};

const icu::Normalizer2& nfcNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr)
        throw std::runtime_error(std::string("ICU NFC data unavailable: ") + u_errorName(status));
    return *normalizer;
}

icu::StringPiece piece(std::string_view text) { return {text.data(), static_cast<std::int32_t>(text.size())}; }

// Root upper-casing maps each code point on its own, so a long text goes through ICU (whose
// lengths are 32-bit) in pieces cut between code points.
constexpr std::size_t caseChunk = std::size_t{1} << 20;

void appendUppercased(std::string_view chunk, std::string& out) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(piece(chunk));
    text.toUpper(icu::Locale::getRoot());
    text.toUTF8String(out);
}

void requireIcuSize(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) throw std::length_error("text too long to normalise");
}

}  // namespace

bool isWhitespaceOrNewline(char32_t c) {
    if (c > maxCodePoint) return false;
    const bool newline = (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
    return newline || u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

bool isAlphanumeric(char32_t c) {
    if (c > maxCodePoint) return false;
    const auto mask = U_GET_GC_MASK(static_cast<UChar32>(c));
    return (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

bool isSpaceOrTab(char32_t c) {
    if (c > maxCodePoint) return false;
    return c == U'\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

std::string uppercased(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t start = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        const auto point = decodeCodePoint(utf8, at);
        at += point ? point->bytes.size() : 1;
        if (at - start >= caseChunk || at == utf8.size()) {
            appendUppercased(utf8.substr(start, at - start), out);
            start = at;
        }
    }
    return out;
}

std::optional<CodePoint> decodeCodePoint(std::string_view text, std::size_t offset) {
    if (offset >= text.size()) return std::nullopt;
    const auto [length, bits] = lead(static_cast<unsigned char>(text[offset]));
    if (length == 0 || text.size() - offset < length) return std::nullopt;
    char32_t value = bits;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[offset + i]);
        if (!isContinuation(byte)) return std::nullopt;
        value = (value << 6) | (byte & 0x3Fu);
    }
    if (value < minimumFor[length] || value > maxCodePoint) return std::nullopt;
    if (value >= 0xD800 && value <= 0xDFFF) return std::nullopt;
    return CodePoint{value, text.substr(offset, length)};
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto point = decodeCodePoint(text, at);
        if (!point) return false;
        at += point->bytes.size();
    }
    return true;
}

std::string shortened(std::string_view text, std::size_t maxBytes) {
    static constexpr std::string_view ellipsis = "\u2026";
    static constexpr std::string_view replacement = "\uFFFD";
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    std::size_t cut = 0;  // the longest prefix that still leaves room for the ellipsis
    for (std::size_t at = 0; at < text.size();) {
        const auto point = decodeCodePoint(text, at);
        const std::string_view bytes = point ? point->bytes : replacement;
        at += point ? bytes.size() : 1;
        if (out.size() + bytes.size() > maxBytes) {
            out.resize(cut);
            if (cut + ellipsis.size() <= maxBytes) out += ellipsis;
            return out;
        }
        out += bytes;
        if (out.size() + ellipsis.size() <= maxBytes) cut = out.size();
    }
    return out;
}

std::string nfc(std::string_view utf8) {
    if (!isValidUtf8(utf8)) throw std::invalid_argument("text is not valid UTF-8");
    requireIcuSize(utf8);
    const icu::Normalizer2& normalizer = nfcNormalizer();
    UErrorCode status = U_ZERO_ERROR;
    if (normalizer.isNormalizedUTF8(piece(utf8), status) && U_SUCCESS(status)) return std::string(utf8);
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    status = U_ZERO_ERROR;
    normalizer.normalizeUTF8(0, piece(utf8), sink, nullptr, status);
    if (U_FAILURE(status)) throw std::runtime_error(std::string("NFC normalisation failed: ") + u_errorName(status));
    return out;
}

bool isNfc(std::string_view utf8) {
    if (!isValidUtf8(utf8)) return false;
    requireIcuSize(utf8);
    UErrorCode status = U_ZERO_ERROR;
    const bool normalized = nfcNormalizer().isNormalizedUTF8(piece(utf8), status);
    return U_SUCCESS(status) && normalized;
}

}  // namespace brisalune::platform
