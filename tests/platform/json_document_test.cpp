#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/json_document.hpp>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

namespace {

namespace json = brisalune::json;

struct Pair {
    std::string name;
    std::int64_t count = 0;
    friend bool operator==(const Pair&, const Pair&) = default;
};

}  // namespace

template <>
inline constexpr auto json::keys<Pair> =
    json::object(json::field("name", &Pair::name), json::field("count", &Pair::count));

namespace {

// A document keeps its parse while the thread parses other texts, and through
// moves and copies.
TEST(JsonDocument, KeepsItsParseWhileOtherTextsAreParsedAndWhenMoved) {
    json::Document first(R"({"name":"first","count":1})");
    EXPECT_EQ(json::decode<Pair>(first), (Pair{"first", 1}));

    EXPECT_EQ(json::decode<Pair>(std::string(R"({"name":"other","count":2})")), (Pair{"other", 2}));
    json::Document second(R"({"name":"second","count":3})");
    EXPECT_EQ(json::decode<Pair>(second), (Pair{"second", 3}));
    EXPECT_EQ(json::decode<Pair>(first), (Pair{"first", 1}));

    json::Document moved = std::move(first);
    EXPECT_EQ(json::decode<Pair>(moved), (Pair{"first", 1}));
    json::Document copy = moved;
    copy = second;
    EXPECT_EQ(json::decode<Pair>(copy), (Pair{"second", 3}));
    EXPECT_EQ(copy.text(), second.text());

    // Read and dropped on another thread; this thread's parser still works
    // afterwards.
    std::thread([held = std::move(second)] { EXPECT_EQ(json::decode<Pair>(held).name, "second"); }).join();
    EXPECT_EQ(json::decode<Pair>(moved).name, "first");
    EXPECT_EQ(json::decode<Pair>(json::Document(R"({"name":"last","count":4})")).count, 4);
}

TEST(JsonDocument, TextThatIsNotJsonFailsTheSameOnEveryRead) {
    json::Document broken("{\"name\":");
    std::string first;
    try {
        json::decode<Pair>(broken);
    } catch (const json::DecodeError& error) {
        first = error.what();
    }
    EXPECT_TRUE(first.starts_with("dataCorrupted: the data is not valid JSON")) << first;
    try {
        broken.root();
        ADD_FAILURE() << "read twice without failing";
    } catch (const json::DecodeError& error) {
        EXPECT_EQ(error.what(), first);
    }
    EXPECT_THROW(json::decode<Pair>(json::Document()), json::DecodeError);
}

}  // namespace
