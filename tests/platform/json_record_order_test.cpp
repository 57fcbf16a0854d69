// A record's members are read in the order the object gives them: those in table order by the
// quick pass, the rest (moved, repeated or unknown) one by one after it. Either way the result
// and the errors are the same.
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/decode_error.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace json = brisalune::json;

using brisalune::testkit::decodeError;

// Keys of the lengths around a word: each is compared eight bytes at a time.
struct Lengths {
    int a = 0;
    std::string seven;
    std::optional<std::string> eightAb;
    std::int64_t nineAbcd = 0;
    std::vector<std::int32_t> sixteenAbcdefgh;
    double seventeen = 0;
    friend bool operator==(const Lengths&, const Lengths&) = default;
};

}  // namespace

template <>
inline constexpr auto json::keys<Lengths> = json::object(
    json::field("a", &Lengths::a),
    json::field("seven_7", &Lengths::seven),
    json::field("eight_ab", &Lengths::eightAb),
    json::field("nine_abcd", &Lengths::nineAbcd),
    json::field("sixteen_abcdefgh", &Lengths::sixteenAbcdefgh, json::orEmpty),
    json::field("seventeen_abcdefg", &Lengths::seventeen));

namespace {

const Lengths expected{1, "s", "e", 9, {1, -2, 3}, 1.5};

TEST(JsonRecordOrder, TableOrderMovedAndRepeatedKeysReadTheSame) {
    EXPECT_EQ(
        json::decode<Lengths>(
            R"({"a":1,"seven_7":"s","eight_ab":"e","nine_abcd":9,"sixteen_abcdefgh":[1,-2,3],"seventeen_abcdefg":1.5})"),
        expected);
    EXPECT_EQ(
        json::decode<Lengths>(
            R"({"seventeen_abcdefg":1.5,"nine_abcd":9,"a":1,"sixteen_abcdefgh":[1,-2,3],"eight_ab":"e","seven_7":"s"})"),
        expected);
    // A repeated key keeps its last value, an optional text read again included, and null clears it.
    EXPECT_EQ(
        json::decode<Lengths>(
            R"({"a":5,"seven_7":"x","eight_ab":"old","nine_abcd":9,"sixteen_abcdefgh":[7],"seventeen_abcdefg":1.5,)"
            R"("a":1,"seven_7":"s","eight_ab":"e","sixteen_abcdefgh":[1,-2,3]})"),
        expected);
    EXPECT_EQ(
        json::decode<Lengths>(
            R"({"a":1,"seven_7":"s","eight_ab":"e","eight_ab":null,"nine_abcd":9,"seventeen_abcdefg":1.5})")
            .eightAb,
        std::nullopt);
}

TEST(JsonRecordOrder, KeysThatDifferInTheirLastByteOrLengthAreUnknown) {
    // Each near miss stands before the real key, which is then found after the quick pass.
    const std::string text =
        R"({"b":0,"a":1,"seven_8":"x","seven_7":"s","eight_ac":"x","eight_a":"x","eight_ab":"e",)"
        R"("nine_abce":0,"nine_abcd":9,"sixteen_abcdefgi":[0],"sixteen_abcdefg":[0],"sixteen_abcdefgh":[1,-2,3],)"
        R"("seventeen_abcdefh":0,"seventeen_abcdefgh":0,"seventeen_abcdefg":1.5})";
    EXPECT_EQ(json::decode<Lengths>(text), expected);
    EXPECT_EQ(
        decodeError<Lengths>(R"({"a":1,"seven_7":"s","nine_abcd":9,"seventeen_abcdefh":1})"),
        "keyNotFound: seventeen_abcdefg");
}

TEST(JsonRecordOrder, AFailingMemberIsNamedInOrderAndOutOfOrder) {
    const std::string tail = R"("nine_abcd":9,"seventeen_abcdefg":1.5})";
    EXPECT_EQ(
        decodeError<Lengths>(R"({"a":1,"seven_7":2,)" + tail),
        "typeMismatch: seven_7: expected string, found integer");
    EXPECT_EQ(
        decodeError<Lengths>(R"({"seven_7":"s","a":"1",)" + tail),
        "typeMismatch: a: expected integer, found string");
    EXPECT_EQ(
        decodeError<Lengths>(R"({"a":1,"seven_7":"s","seven_7":null,)" + tail),
        "valueNotFound: seven_7: expected a value, found null");
}

TEST(JsonRecordOrder, NumbersInAListNameTheElementThatFails) {
    const std::string head = R"({"a":1,"seven_7":"s","nine_abcd":9,"seventeen_abcdefg":1.5,"sixteen_abcdefgh":)";
    EXPECT_EQ(
        decodeError<Lengths>(head + "[1,2,2147483648]}"), "dataCorrupted: sixteen_abcdefgh[2]: number out of range");
    EXPECT_EQ(
        decodeError<Lengths>(head + R"([1,"2"]})"),
        "typeMismatch: sixteen_abcdefgh[1]: expected integer, found string");
    EXPECT_EQ(decodeError<Lengths>(head + "[1.5]}"), "typeMismatch: sixteen_abcdefgh[0]: expected integer, found number");
    EXPECT_EQ(json::decode<Lengths>(head + "[]}").sixteenAbcdefgh, std::vector<std::int32_t>{});
    EXPECT_EQ(json::decode<std::vector<double>>("[1,2.5,-3e2]"), (std::vector<double>{1, 2.5, -300}));
}

}  // namespace
