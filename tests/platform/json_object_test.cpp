#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/json_object.hpp>

#include <support/decode_error.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace json = brisalune::json;
using Ints = json::FlatObject<int>;

std::vector<std::string> keysOf(const Ints& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object) keys.push_back(key);
    return keys;
}

using brisalune::testkit::decodeError;

// Keys a table must tell apart: equal lengths, one past the length buckets, one off the wire.
struct Wide {
    int ab = 0;
    int ba = 0;
    int longFirst = 0;
    int longSecond = 0;
    int local = 7;
    friend bool operator==(const Wide&, const Wide&) = default;
};

// Keys that stand in another record's object, read when any of them is there.
struct Meta {
    std::string env;
    std::vector<std::string> tags;
    friend bool operator==(const Meta&, const Meta&) = default;
};

constexpr const char* longFirstKey = "a_key_longer_than_any_length_bucket_1";
constexpr const char* longSecondKey = "a_key_longer_than_any_length_bucket_2";

}  // namespace

template <>
inline constexpr auto json::keys<Wide> = json::object(
    json::field("ab", &Wide::ab),
    json::field("ba", &Wide::ba),
    json::field(longFirstKey, &Wide::longFirst),
    json::field(longSecondKey, &Wide::longSecond),
    json::notOnWire(&Wide::local));

template <>
inline constexpr auto json::keys<Meta> =
    json::object(json::field("env", &Meta::env, json::orEmpty), json::field("tags", &Meta::tags, json::orEmpty));

namespace {

std::optional<Meta> metaOf(const std::string& text) {
    json::Document document(text);
    std::optional<Meta> meta = Meta{"stale", {}};
    json::readIfAnyKey(document.root(), meta);
    return meta;
}

TEST(JsonFlattened, ReadWhenAnyKeyIsThereEvenAsNullOtherwiseNone) {
    EXPECT_EQ(metaOf(R"({"id":1,"message":"m"})"), std::nullopt);
    EXPECT_EQ(metaOf("{}"), std::nullopt);
    EXPECT_EQ(metaOf(R"({"id":1,"env":null})"), Meta{});
    EXPECT_EQ(metaOf(R"({"tags":["a"],"id":1})"), (Meta{"", {"a"}}));
    try {
        metaOf(R"({"env":5})");
        ADD_FAILURE() << "a wrong type was read";
    } catch (const json::DecodeError& error) {
        EXPECT_STREQ(error.what(), "typeMismatch: env: expected string, found integer");
    }
}

TEST(JsonFlatObject, ReadsLikeASortedMap) {
    Ints object{{"b", 2}, {"a", 1}, {"b", 3}};  // as with std::map, a repeated key keeps its first value
    EXPECT_EQ(keysOf(object), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(object.at("b"), 2);
    EXPECT_TRUE(object.contains("a"));
    EXPECT_EQ(object.count("z"), 0u);
    EXPECT_EQ(object.find("z"), object.end());
    EXPECT_THROW((void)object.at("z"), std::out_of_range);

    EXPECT_FALSE(object.insert_or_assign("a", 10).second);
    EXPECT_TRUE(object.emplace("c", 4).second);
    EXPECT_FALSE(object.emplace("c", 5).second);
    object["0"] = 9;
    object.at("b") = 20;
    EXPECT_EQ(keysOf(object), (std::vector<std::string>{"0", "a", "b", "c"}));
    EXPECT_EQ(object, (Ints{{"c", 4}, {"b", 20}, {"a", 10}, {"0", 9}}));
    EXPECT_EQ(object.erase("a"), 1u);
    EXPECT_EQ(object.erase("a"), 0u);
    EXPECT_NE(object, (Ints{{"c", 4}, {"b", 20}, {"a", 10}, {"0", 9}}));

    // Members in any order, a repeated key keeping its last value, as a decoder assigns them.
    auto made = Ints::fromMembers({{"y", 1}, {"x", 2}, {"y", 3}, {"w", 4}, {"x", 5}});
    EXPECT_EQ(made, (Ints{{"w", 4}, {"x", 5}, {"y", 3}}));
    EXPECT_EQ(std::hash<Ints>{}(made), std::hash<Ints>{}(Ints{{"y", 3}, {"x", 5}, {"w", 4}}));
}

TEST(JsonFlatObject, DecodesInKeyOrderKeepingTheLastOfARepeatedKeyAndNamingAFailingMember) {
    EXPECT_EQ(json::decode<Ints>(R"({"b":1,"a":2,"c":3})"), (Ints{{"a", 2}, {"b", 1}, {"c", 3}}));
    EXPECT_EQ(json::decode<Ints>(R"({"a":1,"b":2,"a":3})"), (Ints{{"a", 3}, {"b", 2}}));
    EXPECT_EQ(json::decode<Ints>("{}"), Ints{});
    EXPECT_EQ(json::encode(json::decode<Ints>(R"({"b":1,"a":2})")), R"({"a":2,"b":1})");
    EXPECT_EQ(decodeError<Ints>(R"({"b":1,"a":"x"})"), "typeMismatch: a: expected integer, found string");
    EXPECT_EQ(
        decodeError<std::vector<json::FlatObject<std::vector<int>>>>(R"([{},{"k":[1,true]}])"),
        "typeMismatch: [1].k[1]: expected integer, found bool");
}

TEST(JsonFlatObject, NestedObjectsSortEachLevelAndAFailureLeavesTheNextDecodeWhole) {
    using Nested = json::FlatObject<Ints>;
    const Nested expected{{"a", Ints{}}, {"b", Ints{{"x", 2}, {"y", 1}}}, {"c", Ints{{"z", 3}}}};
    const std::string text = R"({"c":{"z":3},"b":{"y":1,"x":2},"a":{}})";
    EXPECT_EQ(json::decode<Nested>(text), expected);
    EXPECT_EQ(decodeError<Nested>(R"({"b":{"y":1,"x":null},"a":{}})"), "valueNotFound: b.x: expected integer, found null");
    EXPECT_EQ(json::decode<Nested>(text), expected);
}

TEST(JsonFlatObject, ManyMembersPrefixKeysAndRepeatsReadAsFewDo) {
    // Beyond the handful of members read from the stack; keys in byte order, a repeat keeping its
    // last value wherever the earlier one stood, which is never read.
    const std::string many = R"({"k9":9,"k1":1,"k8":8,"k2":"no","k7":7,"k3":3,"k6":6,"k4":4,"k5":5,"k2":2})";
    Ints expected;
    for (int i = 1; i <= 9; ++i) expected.emplace("k" + std::to_string(i), i);
    EXPECT_EQ(json::decode<Ints>(many), expected);
    EXPECT_EQ(json::decode<Ints>(R"({"a":"no","b":1,"a":2})"), (Ints{{"a", 2}, {"b", 1}}));
    EXPECT_EQ(
        keysOf(json::decode<Ints>(R"({"ab":1,"é":2,"a":3,"abc":4,"B":5,"a":6})")),
        (std::vector<std::string>{"B", "a", "ab", "abc", "\xc3\xa9"}));
    EXPECT_EQ(
        decodeError<Ints>(R"({"k9":9,"k1":1,"k8":8,"k2":2,"k7":7,"k3":3,"k6":6,"k4":"x","k5":5})"),
        "typeMismatch: k4: expected integer, found string");
}

TEST(JsonMapCodec, SortedUnsortedAndRepeatedKeysReadAsBefore) {
    using Map = std::map<std::string, int>;
    EXPECT_EQ(json::decode<Map>(R"({"a":1,"b":2,"c":3})"), (Map{{"a", 1}, {"b", 2}, {"c", 3}}));
    EXPECT_EQ(json::decode<Map>(R"({"c":3,"a":1,"b":2})"), (Map{{"a", 1}, {"b", 2}, {"c", 3}}));
    EXPECT_EQ(json::decode<Map>(R"({"a":1,"b":2,"a":3})"), (Map{{"a", 3}, {"b", 2}}));
    EXPECT_EQ(json::decode<Map>(R"({"b":1,"a":2,"b":3})"), (Map{{"a", 2}, {"b", 3}}));
    EXPECT_EQ(decodeError<Map>(R"({"a":1,"b":null})"), "valueNotFound: b: expected integer, found null");
}

TEST(JsonRecordKeys, FoundInAnyOrderByLengthAndContentNeverOffTheWire) {
    const std::string forward = std::string(R"({"ab":1,"ba":2,")") + longFirstKey + R"(":3,")" + longSecondKey + R"(":4})";
    const std::string backward =
        std::string(R"({")") + longSecondKey + R"(":4,")" + longFirstKey + R"(":3,"ba":2,"ab":1})";
    const Wide expected{1, 2, 3, 4, 7};
    EXPECT_EQ(json::decode<Wide>(forward), expected);
    EXPECT_EQ(json::decode<Wide>(backward), expected);

    // Unknown keys of a known length, an empty key and a longer one are ignored, not misread.
    const std::string noise = std::string(R"({"":5,"aa":9,"bb":9,"ab":1,"ba":2,")") + longFirstKey + R"(x":9,")" +
                              longFirstKey + R"(":3,")" + longSecondKey + R"(":4})";
    EXPECT_EQ(json::decode<Wide>(noise), expected);
    EXPECT_EQ(decodeError<Wide>(R"({"ab":1,"ba":2})"), std::string("keyNotFound: ") + longFirstKey);
}

}  // namespace
