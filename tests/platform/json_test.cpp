#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

namespace json = brisalune::json;
using json::Array;
using json::Object;
using json::Value;
using namespace std::string_literals;

std::string text(const Value& v) { return json::write(v); }

Value nestedArrays(std::size_t depth) {
    Value v = Array{};
    for (std::size_t i = 1; i < depth; ++i) {
        Array outer;
        outer.push_back(std::move(v));  // a braced list would copy the whole tree each time
        v = std::move(outer);
    }
    return v;
}

// ---- writer -------------------------------------------------------------------------------

TEST(JsonWriter, CompactOutputHasNoBlanksAndEscapesOnlyWhatItMust) {
    EXPECT_EQ(
        text(Object{{"b", Array{1, true, nullptr, "x", Array{}, Object{}}}, {"a", 2.5}}),
        R"({"a":2.5,"b":[1,true,null,"x",[],{}]})");
    EXPECT_EQ(text(Value("q\"b\\s/\n\r\t\b\f"s)), R"("q\"b\\s/\n\r\t\b\f")");
    EXPECT_EQ(text(Value("a\0b\x1f\x7f é 😀 \u2028"s)), "\"a\\u0000b\\u001f\x7f é 😀 \u2028\"");
    EXPECT_EQ(text(Object{{"k\"\n", 1}}), R"({"k\"\n":1})");
}

TEST(JsonWriter, RefusesInvalidUtf8AndNonFiniteNumbersInBothStyles) {
    for (const std::string& bad :
         {"\x80"s /* stray continuation */,
          "\xF0\x9F\x98"s /* truncated */,
          "\xc0\xaf"s /* overlong */,
          "\xED\xA0\x80"s /* surrogate */,
          "\xF4\x90\x80\x80"s /* above U+10FFFF */}) {
        EXPECT_THROW(text(Value(bad)), json::EncodeError) << ::testing::PrintToString(bad);
        EXPECT_THROW(text(Object{{bad, 1}}), json::EncodeError) << ::testing::PrintToString(bad);
        EXPECT_THROW(json::write(Array{Value(bad)}, json::Style::prettySorted), json::EncodeError);
    }
    EXPECT_EQ(
        text(Value("\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"s)),
        "\"\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF\"");  // U+D7FF, U+E000, U+10FFFF
    for (double d : {std::nan(""), -std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(json::write(Array{d}, json::Style::prettySorted), json::EncodeError);
        EXPECT_THROW(json::encode(std::vector<double>{1.0, d}), json::EncodeError);
    }
}

TEST(JsonWriter, EveryNumberReadsBackExactly) {
    EXPECT_EQ(text(Value(0.1)), "0.1");
    EXPECT_EQ(text(Value(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
    EXPECT_EQ(json::encode(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
    // Integral doubles beyond 64 bits are written in a form that reads back as the same double.
    for (double d :
         {1.0 / 3,
          5e-324,
          1.7976931348623157e308,
          1.8446744073709552e19,
          9.2233720368547758e18,
          -1.2345678901234567e20,
          -0.0}) {
        std::string written = text(Value(d));
        double back = 0;
        EXPECT_NO_THROW(back = json::decode<double>(written)) << written;
        EXPECT_EQ(back, d) << written;
        EXPECT_EQ(std::signbit(back), std::signbit(d)) << written;
        EXPECT_NO_THROW(EXPECT_EQ(json::reformat(written, json::Style::compact), written));
    }
}

TEST(JsonPretty, IndentsByTwoAndSortsKeys) {
    Value v =
        Object{{"b", Array{1, "x"}}, {"a", Object{{"d", nullptr}, {"c", false}}}, {"e", Array{}}, {"f", Object{}}};
    EXPECT_EQ(
        json::write(v, json::Style::prettySorted),
        "{\n  \"a\" : {\n    \"c\" : false,\n    \"d\" : null\n  },\n"
        "  \"b\" : [\n    1,\n    \"x\"\n  ],\n  \"e\" : [],\n  \"f\" : {}\n}");
    EXPECT_EQ(
        json::reformat("{ \"b\" : [ 1 , 2 ] ,\n \"a\" : null }", json::Style::compact), R"({"a":null,"b":[1,2]})");
}

// ---- the generic tree ---------------------------------------------------------------------

TEST(JsonValue, ParseKeepsIntegersApartFromDoubles) {
    Value v = json::parse(R"({"i":-7,"d":1.5,"e":3.0,"big":9223372036854775808,"s":"\u00e9\ud83d\ude00\u0000",
                             "b":true,"n":null,"a":[[]],"o":{}})");
    EXPECT_EQ(
        v,
        Value(Object{
            {"i", -7},
            {"d", 1.5},
            {"e", 3.0},
            {"big", 9223372036854775808.0},
            {"s", "é😀\0"s},
            {"b", true},
            {"n", nullptr},
            {"a", Array{Array{}}},
            {"o", Object{}}}));
    // Integral doubles are written like integers, so the second reading is the fixed point.
    EXPECT_EQ(text(json::parse(text(v))), text(v));
}

TEST(JsonValue, IntegersBeyond64BitsAreTheNearestDouble) {
    Value v = json::parse(R"({"up":18446744073709551616,"down":-9223372036854775809,
                             "s":"x\"99999999999999999999999","list":[1,-123456789012345678901234567890,2.5e1]})");
    EXPECT_EQ(
        v,
        Value(Object{
            {"up", 18446744073709551616.0},
            {"down", -9223372036854775809.0},
            {"s", "x\"99999999999999999999999"},
            {"list", Array{1, -123456789012345678901234567890.0, 25.0}}}));
    EXPECT_EQ(text(json::parse(text(v))), text(v));
    // Nothing else that was refused is taken along with them.
    for (const char* bad :
         {"[99999999999999999999999,01]", "[99999999999999999999999,]", "[99999999999999999999999e]"}) {
        EXPECT_THROW(json::parse(bad), json::DecodeError) << bad;
    }
}

TEST(JsonValue, StringsAreReadOnlyUpToTheirSize) {
    // Bytes past size() but inside the capacity must never count, with or without room to spare.
    for (std::size_t capacity : {std::size_t{0}, std::size_t{4096}}) {
        auto cut = [capacity](std::string s, std::size_t size) {
            s.reserve(capacity);
            s.resize(size);
            if (capacity == 0) s.shrink_to_fit();
            return s;
        };
        std::string truncated = cut("[1,2]" + std::string(80, ']'), 4);
        EXPECT_THROW(json::parse(truncated), json::DecodeError);
        EXPECT_THROW(json::decode<std::vector<int>>(truncated), json::DecodeError);
        EXPECT_EQ(json::decode<std::int64_t>(cut("1234567890", 3)), 123);
    }
}

// ---- nesting ------------------------------------------------------------------------------

TEST(JsonNesting, ReadAndWriteUpToTheLimitAndFailCleanlyBeyond) {
    auto arrays = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_EQ(json::parse(arrays(json::maxDepth)), nestedArrays(json::maxDepth));
    EXPECT_THROW(json::parse(arrays(json::maxDepth + 1)), json::DecodeError);
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += R"({"a":)";
    EXPECT_THROW(json::parse(objects), json::DecodeError);
    EXPECT_THROW(json::decode<std::vector<Value>>(arrays(100000)), json::DecodeError);

    Value deepObjects = Object{};
    for (int i = 0; i < 600; ++i) {
        Object outer;
        outer.emplace("a", std::move(deepObjects));
        deepObjects = std::move(outer);
    }
    for (auto style : {json::Style::compact, json::Style::prettySorted}) {
        EXPECT_NO_THROW(json::write(nestedArrays(json::maxDepth), style));
        EXPECT_THROW(json::write(nestedArrays(json::maxDepth + 1), style), json::EncodeError);
        EXPECT_THROW(json::write(deepObjects, style), json::EncodeError);
    }
}

// ---- malformed and hostile input ----------------------------------------------------------

TEST(JsonHostile, MalformedTextFailsWithDataCorrupted) {
    for (const std::string& input :
         {""s,
          R"({"a" 1})"s,
          "[1,]"s,
          R"({a:1})"s,
          "NaN"s,
          "01"s,
          "1e400"s,
          "1"s + std::string(400, '0'),
          "-01234567890123456789012"s,
          R"("\ud800")"s,
          "\"\xc0\xaf\""s,
          "\"a\nb\""s,
          "[1]\0"s,
          "1 2"s,
          "/* c */ 1"s}) {
        try {
            json::parse(input);
            ADD_FAILURE() << "accepted " << ::testing::PrintToString(input);
        } catch (const json::DecodeError& error) {
            EXPECT_EQ(error.kind(), json::DecodeError::Kind::dataCorrupted) << ::testing::PrintToString(input);
            EXPECT_EQ(error.path(), "");
            EXPECT_TRUE(std::string(error.what()).starts_with("dataCorrupted: ")) << error.what();
        }
        EXPECT_THROW((json::decode<std::map<std::string, std::int64_t>>(input)), json::DecodeError);
        EXPECT_THROW(json::reformat(input, json::Style::prettySorted), json::DecodeError);
    }
}

TEST(JsonHostile, EveryTruncationOfADocumentFails) {
    const std::string whole = R"({"a":[1,-2.5e3,"x\"\u00e9y",{"b":null,"c":true}],"d":"2026-01-02T03:04:05Z"})";
    ASSERT_NO_THROW(json::parse(whole));
    for (std::size_t n = 0; n < whole.size(); ++n) {
        EXPECT_THROW(json::parse(whole.substr(0, n)), json::DecodeError) << whole.substr(0, n);
    }
}

}  // namespace
