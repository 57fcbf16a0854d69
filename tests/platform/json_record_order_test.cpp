// A record's members are read in the order the object gives them: those in table order by the
// quick pass, the rest (moved, repeated or unknown) one by one after it. Either way the result
// and the errors are the same.
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/decode_error.hpp>

#include <gtest/gtest.h>

#include <chrono>
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

// A member of each kind the quick pass steps over by the value's type, and of those it steps over
// by looking at the value again; the last text shows the next key was still found.
struct Steps {
    std::string text;
    std::optional<std::string> note;
    bool flag = false;
    std::int64_t count = 0;
    double ratio = 0;
    std::chrono::sys_seconds at{};
    std::optional<std::int32_t> loose;
    std::int32_t defaulted = 0;
    std::string tail;
};

}  // namespace

template <>
inline constexpr auto json::keys<Steps> = json::object(
    json::field("text", &Steps::text),
    json::field("note", &Steps::note),
    json::field("flag", &Steps::flag),
    json::field("count", &Steps::count),
    json::field("ratio", &Steps::ratio),
    json::field("at", &Steps::at),
    json::field("loose", &Steps::loose, json::lenient),
    json::field("defaulted", &Steps::defaulted, json::orDefault(std::int32_t{7})),
    json::field("tail", &Steps::tail));

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

// The members a text is followed by, all there.
const std::string afterText = R"("flag":true,"count":-5,"ratio":3,"at":"2026-01-02T03:04:05Z","tail":"end"})";

TEST(JsonRecordOrder, TextsOfEveryLengthAreReadWholeAndTheMembersAfterThemFound) {
    // Around the string's own buffer (15 bytes) and the word-sized copies below it.
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJ";
    for (std::size_t length = 0; length <= 40; ++length) {
        const std::string plain = alphabet.substr(0, length);
        const std::string text = R"({"text":")" + plain + R"(","note":")" + plain +
                                 R"(","flag":true,"count":-5,"ratio":3,"at":"2026-01-02T03:04:05Z",)"
                                 R"("loose":[1,{"a":2}],"defaulted":null,"tail":"end"})";
        const Steps steps = json::decode<Steps>(text);
        EXPECT_EQ(steps.text, plain) << length;
        EXPECT_EQ(steps.note, plain) << length;
        EXPECT_EQ(steps.tail, "end") << length;
    }
    // Escapes and multi-byte characters, whose decoded length differs from the text's.
    EXPECT_EQ(json::decode<Steps>(R"({"text":"\u00e9t\u00e9 \"q\"\t",)" + afterText).text, "\u00e9t\u00e9 \"q\"\t");
    EXPECT_EQ(json::decode<Steps>(R"({"text":"caf\u00e9 \ud83d\ude00",)" + afterText).text, "caf\u00e9 \U0001F600");
}

TEST(JsonRecordOrder, EveryKindOfMemberIsSteppedOverToTheNextKey) {
    const Steps steps = json::decode<Steps>(
        R"({"text":"t","note":null,"flag":false,"count":9,"ratio":-1e3,)"
        R"("at":"2026-01-02T03:04:05+01:00","loose":{"a":[1,2]},"defaulted":4,"tail":"end"})");
    EXPECT_EQ(steps.note, std::nullopt);
    EXPECT_EQ(steps.ratio, -1000);
    EXPECT_EQ(steps.loose, std::nullopt);
    EXPECT_EQ(steps.defaulted, 4);
    EXPECT_EQ(steps.tail, "end");
    EXPECT_EQ(
        decodeError<Steps>(R"({"text":"t","flag":true,"count":1.5,"ratio":3,"at":"2026-01-02T03:04:05Z","tail":"e"})"),
        "typeMismatch: count: expected integer, found number");
    const Steps numbers = json::decode<Steps>(
        R"({"text":"t","flag":true,"count":-9223372036854775808,"ratio":3,"at":"2026-01-02T03:04:05Z",)"
        R"("loose":12,"defaulted":null,"tail":"e"})");
    EXPECT_EQ(numbers.count, INT64_MIN);
    EXPECT_EQ(numbers.loose, 12);
    EXPECT_EQ(numbers.defaulted, 7);
    EXPECT_EQ(numbers.tail, "e");
}

}  // namespace
