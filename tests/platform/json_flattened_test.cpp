// Records whose keys stand in another record's object, read in the one pass over that object.
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace json = brisalune::json;

struct Where {
    std::string host;
    std::vector<std::string> tags;
    friend bool operator==(const Where&, const Where&) = default;
};

struct Line {
    std::string message;
    std::optional<std::int64_t> level;
    std::optional<Where> where;  // present when any of its keys is there, even as null
    friend bool operator==(const Line&, const Line&) = default;
};

struct Hit {
    std::string project;
    Line line;
    std::int64_t seen = 0;  // the program's own
    friend bool operator==(const Hit&, const Hit&) = default;
};

}  // namespace

namespace brisalune::json {

template <>
inline constexpr auto keys<Where> = object(field("host", &Where::host), field("tags", &Where::tags, orEmpty));

template <>
inline constexpr auto keys<Line> =
    object(field("message", &Line::message), flattened(&Line::where), field("level", &Line::level));

template <>
inline constexpr auto keys<Hit> =
    object(flattened(&Hit::line), field("project", &Hit::project), notOnWire(&Hit::seen));

}  // namespace brisalune::json

namespace {

TEST(JsonFlattened, ReadsNestedRecordsFromOneObjectInAnyKeyOrder) {
    EXPECT_EQ(
        json::decode<Hit>(R"({"tags":["a"],"project":"web","level":3,"x":1,"host":"h1","message":"m"})"),
        (Hit{"web", {"m", 3, Where{"h1", {"a"}}}, 0}));
    // None of the optional record's keys: none of it; any of them, even null: all of it.
    EXPECT_EQ(json::decode<Hit>(R"({"project":"web","message":"m"})").line, (Line{"m", std::nullopt, std::nullopt}));
    EXPECT_EQ(json::decode<Hit>(R"({"project":"web","message":"m","tags":null,"host":"h"})").line.where, (Where{"h", {}}));

    // Reading into a record that held values before leaves none of the old optional record.
    Hit reused{"old", {"old", 1, Where{"old", {"old"}}}, 7};
    const json::Document document(R"({"project":"p","message":"m"})");
    json::Codec<Hit>::read(document.root(), reused);
    EXPECT_EQ(reused, (Hit{"p", {"m", std::nullopt, std::nullopt}, 7}));
}

TEST(JsonFlattened, MissingOrWrongKeysNameTheirPath) {
    auto failure = [](const char* text) {
        try {
            json::decode<std::vector<Hit>>(text);
        } catch (const json::DecodeError& error) {
            return std::string(json::kindName(error.kind())) + " " + error.path();
        }
        return std::string("decoded");
    };
    EXPECT_EQ(failure(R"([{"project":"p"}])"), "keyNotFound [0].message");
    EXPECT_EQ(failure(R"([{"project":"p","message":"m","tags":[]}])"), "keyNotFound [0].host");
    EXPECT_EQ(failure(R"([{"project":"p","message":"m","host":"h","tags":[1]}])"), "typeMismatch [0].tags[0]");
    EXPECT_EQ(failure(R"([{"message":"m"}])"), "keyNotFound [0].project");
}

TEST(JsonFlattened, WritesTheNestedKeysAfterTheRecordsOwnAndReadsThemBack) {
    const Hit hit{"web", {"m", 2, Where{"h", {"t"}}}, 0};
    const std::string text = json::encode(hit);
    EXPECT_EQ(text, R"({"project":"web","message":"m","level":2,"host":"h","tags":["t"]})");
    EXPECT_EQ(json::decode<Hit>(text), hit);
    EXPECT_EQ(json::encode(Hit{"web", {"m", std::nullopt, std::nullopt}, 0}), R"({"project":"web","message":"m"})");
}

}  // namespace
