#include "brisalune/platform/text.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace brisalune::platform;

TEST(TextClasses, WhitespaceAndNewlines) {
    for (char32_t c : {U' ', U'\t', U'\n', U'\v', U'\f', U'\r', U'\u0085', U'\u00A0', U'\u1680',
                       U'\u2000', U'\u200A', U'\u2028', U'\u2029', U'\u202F', U'\u205F', U'\u3000'})
        EXPECT_TRUE(isWhitespaceOrNewline(c)) << static_cast<unsigned>(c);
    for (char32_t c : {U'a', U'0', U'_', U'\0', U'\u200B', U'\uFEFF', U'\u180E', char32_t{0x110000},
                       char32_t{0xFFFFFFFF}})
        EXPECT_FALSE(isWhitespaceOrNewline(c)) << static_cast<unsigned>(c);
}

TEST(TextClasses, AlphanumericsOfEveryScript) {
    for (char32_t c : {U'a', U'Z', U'0', U'9', U'é', U'ß', U'Ж', U'字', U'\u0661' /* Arabic-Indic one */,
                       U'\u0301' /* combining acute */, U'\u2167' /* Roman numeral eight, Nl */,
                       U'\u00B2' /* superscript two, No */, U'\U0001D400' /* math bold A */})
        EXPECT_TRUE(isAlphanumeric(c)) << static_cast<unsigned>(c);
    for (char32_t c : {U' ', U'-', U'_', U'.', U'/', U'%', U'~', U'\u00A0', U'\u2014', U'\U0001F600',
                       char32_t{0xD800}, char32_t{0x110000}})
        EXPECT_FALSE(isAlphanumeric(c)) << static_cast<unsigned>(c);
}

TEST(Utf8Walker, GivesEachCodePointWithItsBytes) {
    const std::string text = "a\u00E9\u20AC\U0001F600";
    std::vector<char32_t> values;
    std::vector<std::string> bytes;
    EXPECT_TRUE(forEachCodePoint(text, [&](CodePoint point) {
        values.push_back(point.value);
        bytes.emplace_back(point.bytes);
    }));
    EXPECT_EQ(values, (std::vector<char32_t>{U'a', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(bytes, (std::vector<std::string>{"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}));
    EXPECT_TRUE(forEachCodePoint("", [](CodePoint) { FAIL(); }));
    EXPECT_TRUE(forEachCodePoint(std::string_view("\0", 1), [](CodePoint p) { EXPECT_EQ(p.value, 0u); }));
}

TEST(Utf8Walker, RefusesInvalidTextWithoutCallingBack) {
    for (const char* text : {
             "\x80",                  // lone continuation
             "a\xC3",                 // truncated
             "\xE2\x82",              // truncated
             "\xC0\xAF",              // overlong '/'
             "\xC1\xBF",
             "\xE0\x80\xAF",          // overlong
             "\xF0\x80\x80\xAF",      // overlong
             "\xED\xA0\x80",          // surrogate U+D800
             "\xED\xBF\xBF",          // surrogate U+DFFF
             "\xF4\x90\x80\x80",      // above U+10FFFF
             "\xF5\x80\x80\x80",
             "\xFF",
             "\xC3\x28",              // bad continuation
             "ok\xE2\x82\xACok\x80",  // valid prefix, invalid end
         }) {
        int calls = 0;
        EXPECT_FALSE(forEachCodePoint(text, [&](CodePoint) { ++calls; })) << text;
        EXPECT_EQ(calls, 0) << text;
        EXPECT_FALSE(isValidUtf8(text));
    }
    EXPECT_TRUE(isValidUtf8("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"));  // around the gaps
}

TEST(Nfc, ComposesCanonicallyEquivalentText) {
    const std::string decomposed = "e\u0301";  // e + combining acute
    const std::string composed = "\u00E9";
    EXPECT_FALSE(isNfc(decomposed));
    EXPECT_TRUE(isNfc(composed));
    EXPECT_EQ(nfc(decomposed), composed);
    EXPECT_EQ(nfc(composed), composed);
    EXPECT_EQ(nfc("\u212B"), "\u00C5");  // Angstrom sign is a singleton
    EXPECT_EQ(nfc("A\u030A\u0323"), "\u1EA0\u030A");  // marks reordered, then composed
    EXPECT_EQ(nfc(""), "");
    EXPECT_EQ(nfc(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_TRUE(isNfc("plain ascii"));
}

TEST(Nfc, RefusesInvalidUtf8) {
    EXPECT_THROW(nfc("e\xCC"), std::invalid_argument);
    EXPECT_FALSE(isNfc("\xC3\x28"));
}

}  // namespace
