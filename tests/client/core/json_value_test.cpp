#include <brisalune/client/core/json_value.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A record holding free-form values, as the service's records do.
struct Holder {
    brisalune::JSONValue value;
    brisalune::JSONValue::Object data;
};

}  // namespace

template <>
inline constexpr auto brisalune::json::keys<Holder> = brisalune::json::object(
    brisalune::json::field("value", &Holder::value),
    brisalune::json::field("data", &Holder::data, brisalune::json::orEmpty));

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

TEST(JSONValue, AValueReadOverAnotherAndFreeFormObjectsInARecord) {
    // A key given twice: the later value replaces the earlier one, whatever their kinds.
    const std::string longText = "a string longer than its own inline room";
    auto replaced = json::decode<Holder>(R"({"value":{"a":[1,")" + longText + R"("]},"value":"short"})");
    EXPECT_EQ(replaced.value, JSONValue("short"));
    replaced = json::decode<Holder>(R"({"value":"short","value":{"b":null,"a":[")" + longText + R"("]}})");
    EXPECT_EQ(replaced.value, JSONValue(JSONValue::Object{{"a", JSONValue::Array{longText}}, {"b", nullptr}}));
    EXPECT_EQ(json::decode<Holder>(R"({"value":[true],"value":2.5})").value, JSONValue(2.5));

    auto nested = json::decode<Holder>(R"({"data":{"z":1,"y":{"x":[{"w":"deep"},[]]},"a":false},"value":"v"})");
    EXPECT_EQ(
        nested.data,
        (JSONValue::Object{
            {"a", false},
            {"y", JSONValue::Object{{"x", JSONValue::Array{JSONValue::Object{{"w", "deep"}}, JSONValue::Array{}}}}},
            {"z", 1}}));
    EXPECT_EQ(nested.value, JSONValue("v"));

    try {
        json::decode<std::vector<Holder>>(R"([{"value":1,"data":{"a":1}},{"value":1,"data":[1]}])");
        ADD_FAILURE() << "decoded a list whose object is an array";
    } catch (const json::DecodeError& error) {
        EXPECT_STREQ(error.what(), "typeMismatch: [1].data: expected object, found array");
    }
}

}  // namespace
}  // namespace brisalune
