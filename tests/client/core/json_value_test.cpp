#include <brisalune/client/core/json_value.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

TEST(JSONValue, DecodesEachKindByItsOwnCase) {
    EXPECT_EQ(json::decode<JSONValue>("true").kind(), JSONValue::Kind::boolean);
    EXPECT_EQ(json::decode<JSONValue>("1").kind(), JSONValue::Kind::number);
    EXPECT_EQ(json::decode<JSONValue>("\"1\"").kind(), JSONValue::Kind::string);
    EXPECT_EQ(json::decode<JSONValue>("null").kind(), JSONValue::Kind::null);
    EXPECT_EQ(json::decode<JSONValue>("[]"), JSONValue(JSONValue::Array{}));
    EXPECT_EQ(json::decode<JSONValue>("{}"), JSONValue(JSONValue::Object{}));
    EXPECT_THROW(json::decode<JSONValue>("[1,"), json::DecodeError);
}

TEST(JSONValue, NumbersAreDoubles) {
    auto big = json::decode<JSONValue>("9007199254740993");  // 2^53 + 1
    EXPECT_EQ(*big.get<double>(), 9007199254740992.0);
    EXPECT_EQ(json::encode(big), "9007199254740992");
    auto huge = json::decode<JSONValue>("18446744073709551615");
    EXPECT_EQ(*huge.get<double>(), 18446744073709551615.0);
}

TEST(JSONValue, StructuralEqualityAndHash) {
    auto a = json::decode<JSONValue>(R"({"x":[1,{"y":null}],"z":"t"})");
    auto b = json::decode<JSONValue>(R"({"z":"t","x":[1.0,{"y":null}]})");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hash(), b.hash());
    EXPECT_EQ(JSONValue(0.0), JSONValue(-0.0));
    EXPECT_EQ(JSONValue(0.0).hash(), JSONValue(-0.0).hash());
    EXPECT_NE(JSONValue(true), JSONValue(1.0));
    EXPECT_NE(json::decode<JSONValue>("[1,2]"), json::decode<JSONValue>("[2,1]"));
}

TEST(JSONValue, PrettyTextSortsKeys) {
    auto text = json::decode<JSONValue>(R"({"b":1,"a":[true]})").prettyText();
    EXPECT_LT(text.find("\"a\""), text.find("\"b\""));
    EXPECT_NE(text.find('\n'), std::string::npos);
    EXPECT_EQ(JSONValue("s").prettyText(), "\"s\"");
    EXPECT_EQ(JSONValue(std::string("\xff")).prettyText(), "");  // not UTF-8: no text
    EXPECT_EQ(
        json::decode<JSONValue>(json::encode(json::decode<JSONValue>(R"({"k":[1.5,"x",null]})"))),
        json::decode<JSONValue>(R"({"k":[1.5,"x",null]})"));
}

}  // namespace
}  // namespace brisalune
