#include <brisalune/platform/text.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace brisalune::platform;

TEST(TextClasses, WhitespaceNewlinesAndAlphanumericsOfEveryScript) {
    for (char32_t c : {U' ', U'\t', U'\n', U'\r', U'\u0085', U'\u00A0', U'\u2028', U'\u3000'})
        EXPECT_TRUE(isWhitespaceOrNewline(c)) << static_cast<unsigned>(c);
    for (char32_t c : {U'a', U'\0', U'\u200B', U'\uFEFF', char32_t{0x110000}, char32_t{0xFFFFFFFF}})
        EXPECT_FALSE(isWhitespaceOrNewline(c)) << static_cast<unsigned>(c);

    // Letters, a combining mark, Nl and No numbers, beyond the BMP.
    for (char32_t c : {U'a', U'9', U'Ж', U'字', U'\u0661', U'\u0301', U'\u2167', U'\u00B2', U'\U0001D400'})
        EXPECT_TRUE(isAlphanumeric(c)) << static_cast<unsigned>(c);
    for (char32_t c : {U' ', U'_', U'\u2014', U'\U0001F600', char32_t{0xD800}, char32_t{0x110000}})
        EXPECT_FALSE(isAlphanumeric(c)) << static_cast<unsigned>(c);
}

TEST(Utf8Walker, GivesEachCodePointWithItsBytes) {
    std::vector<char32_t> values;
    std::vector<std::string> bytes;
    EXPECT_TRUE(forEachCodePoint(std::string_view("a\0\u00E9\u20AC\U0001F600", 11), [&](CodePoint point) {
        values.push_back(point.value);
        bytes.emplace_back(point.bytes);
    }));
    EXPECT_EQ(values, (std::vector<char32_t>{U'a', 0, 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(
        bytes, (std::vector<std::string>{"a", std::string(1, '\0'), "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}));
    EXPECT_TRUE(isValidUtf8("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"));  // around the gaps
}

TEST(Utf8Walker, RefusesInvalidTextWithoutCallingBack) {
    // Lone continuation, truncated, overlong, surrogate, above U+10FFFF, bad lead, bad continuation.
    for (const char* text :
         {"\x80",
          "\xE2\x82",
          "\xE0\x80\xAF",
          "\xED\xA0\x80",
          "\xF4\x90\x80\x80",
          "\xFF",
          "\xC3\x28",
          "ok\xE2\x82\xACok\x80"}) {
        int calls = 0;
        EXPECT_FALSE(forEachCodePoint(text, [&](CodePoint) { ++calls; })) << text;
        EXPECT_EQ(calls, 0) << text;
    }
}

TEST(Nfc, ComposesCanonicallyEquivalentTextAndRefusesInvalidUtf8) {
    EXPECT_FALSE(isNfc("e\u0301"));
    EXPECT_TRUE(isNfc("\u00E9"));
    EXPECT_EQ(nfc("e\u0301"), "\u00E9");
    EXPECT_EQ(nfc("\u212B"), "\u00C5");               // a singleton
    EXPECT_EQ(nfc("A\u030A\u0323"), "\u1EA0\u030A");  // marks reordered, then composed
    EXPECT_EQ(nfc(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_THROW(nfc("e\xCC"), std::invalid_argument);
    EXPECT_FALSE(isNfc("\xC3\x28"));
}

}  // namespace

TEST(Shortened, CutsOnACodePointBoundaryWithinTheLimit) {
    EXPECT_EQ(shortened("short", 10), "short");
    EXPECT_EQ(shortened("exactly10!", 10), "exactly10!");             // fits: no ellipsis
    EXPECT_EQ(shortened("abcdefghijk", 10), "abcdefg\u2026");         // 7 bytes + 3 for the ellipsis
    EXPECT_EQ(shortened("\u00E9\u00E9\u00E9\u00E9\u00E9", 8), "\u00E9\u00E9\u2026");  // never half an é
    EXPECT_EQ(shortened("abcdef", 2), "");                             // no room even for the ellipsis
    // Bytes that are not UTF-8 come out as U+FFFD, so the result is always valid.
    const std::string cut = shortened("a\xFF\xE2\x82z", 100);
    EXPECT_EQ(cut, "a\uFFFD\uFFFD\uFFFDz");
    EXPECT_TRUE(isValidUtf8(shortened(std::string(1 << 20, '\xC3'), 1000)));
    EXPECT_LE(shortened(std::string(1 << 20, 'x'), 1000).size(), 1000u);
}
