#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/decode_error.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace json = brisalune::json;
using namespace std::string_literals;
using std::chrono::sys_seconds;

sys_seconds at(std::int64_t unixSeconds) { return sys_seconds{std::chrono::seconds{unixSeconds}}; }

struct Tag {
    std::string name;
    std::int32_t weight = 0;
    friend bool operator==(const Tag&, const Tag&) = default;
};

struct Severity {
    std::string rawValue;
    friend bool operator==(const Severity&, const Severity&) = default;
};

struct Item {
    std::string id;
    std::optional<std::string> note;
    std::optional<std::int64_t> snoozedUntil;
    std::vector<Tag> tags;
    std::map<std::string, std::string> labels;
    std::int64_t priority = 0;
    bool muted = false;
    double score = 0;
    Severity severity;
    sys_seconds createdAt{};
    json::Value payload;
    friend bool operator==(const Item&, const Item&) = default;
};

using Page = std::map<std::string, std::vector<Item>>;

struct Hint {
    std::optional<std::int32_t> retryAfter;
    std::optional<sys_seconds> until;
    friend bool operator==(const Hint&, const Hint&) = default;
};

// A value that travels as JSON text inside a string: its reader decodes again on the same thread.
struct Embedded {
    Tag tag;
    friend bool operator==(const Embedded&, const Embedded&) = default;
};

}  // namespace

namespace brisalune::json {

template <>
inline constexpr auto keys<Tag> = object(field("name", &Tag::name), field("weight", &Tag::weight));

template <>
inline constexpr auto keys<Item> = object(
    field("id", &Item::id),
    field("note", &Item::note),
    field("snoozed_until", &Item::snoozedUntil, nullWhenAbsent),
    field("tags", &Item::tags, orEmpty),
    field("labels", &Item::labels, orEmpty),
    field("priority", &Item::priority, orDefault(std::int64_t{3})),
    field("muted", &Item::muted),
    field("score", &Item::score),
    field("severity", &Item::severity),
    field("created_at", &Item::createdAt),
    field("payload", &Item::payload, orEmpty));

template <>
inline constexpr auto keys<Hint> =
    object(field("retry_after", &Hint::retryAfter, lenient), field("until", &Hint::until, lenient));

template <>
struct Codec<Embedded> {
    static void write(Writer& w, const Embedded& v) { w.string(encode(v.tag)); }
    template <class Node>
    static void read(const Node& n, Embedded& out) {
        out.tag = decode<Tag>(n.string());
    }
};

}  // namespace brisalune::json

namespace {

constexpr const char* minimalItem =
    R"({"id":"a1","muted":false,"score":0.5,"severity":"high","created_at":"2026-01-02T03:04:05Z"})";

using brisalune::testkit::decodeError;

TEST(JsonRecord, ReadsEveryFieldKind) {
    Item item = json::decode<Item>(R"({"id":"a1","note":"n","snoozed_until":17,"tags":[{"name":"db","weight":2}],
        "labels":{"team":"ops"},"priority":1,"muted":true,"score":-2.5,"severity":"brand-new",
        "created_at":"2026-01-02T04:04:05+01:00","payload":{"x":[1,"y",null]},"unknown":{"ignored":[1]}})");
    // Unknown keys are skipped, unknown enumeration values kept.
    EXPECT_EQ(
        item,
        (Item{
            "a1",
            "n",
            17,
            {{"db", 2}},
            {{"team", "ops"}},
            1,
            true,
            -2.5,
            {"brand-new"},
            at(1767323045),
            json::parse(R"({"x":[1,"y",null]})")}));
    EXPECT_EQ(json::decode<Item>(json::encode(item)), item);
}

TEST(JsonRecord, AbsentAndNullFillOptionalAndDefaultedFieldsAndAbsentOptionalsAreLeftOut) {
    Item item = json::decode<Item>(minimalItem);
    EXPECT_EQ(item, (Item{"a1", {}, {}, {}, {}, 3, false, 0.5, {"high"}, at(1767323045), {}}));
    Item nulls = json::decode<Item>(
        R"({"id":"a1","note":null,"snoozed_until":null,"tags":null,"labels":null,"priority":null,"payload":null,
            "muted":false,"score":0.5,"severity":"high","created_at":"2026-01-02T03:04:05Z"})");
    EXPECT_EQ(nulls, item);
    EXPECT_EQ(
        json::encode(item),
        R"({"id":"a1","snoozed_until":null,"tags":[],"labels":{},"priority":3,"muted":false,"score":0.5,)"
        R"("severity":"high","created_at":"2026-01-02T03:04:05Z","payload":null})");
}

TEST(JsonRecord, LenientOptionalsReadWhatDoesNotDecodeAsNone) {
    EXPECT_EQ(json::decode<Hint>(R"({"retry_after":30,"until":"2026-01-02T03:04:05Z"})"), (Hint{30, at(1767323045)}));
    for (const char* text :
         {R"({"retry_after":"soon","until":"tomorrow"})", R"({"retry_after":4294967296,"until":7})"}) {
        EXPECT_EQ(json::decode<Hint>(text), Hint{}) << text;
    }
    EXPECT_EQ(decodeError<Hint>("[]"), "typeMismatch: expected object, found array");  // only the fields are lenient
    EXPECT_THROW(json::decode<Hint>(R"({"retry_after":)"), json::DecodeError);
}

TEST(JsonStrictTypes, NumbersBooleansAndStringsDoNotMixAndIntegersDoNotWrap) {
    EXPECT_EQ(decodeError<std::int64_t>("true"), "typeMismatch: expected integer, found bool");
    EXPECT_EQ(decodeError<bool>("1"), "typeMismatch: expected bool, found integer");
    EXPECT_EQ(decodeError<std::int32_t>("-0.25"), "typeMismatch: expected integer, found number");
    EXPECT_EQ(decodeError<std::string>("null"), "valueNotFound: expected string, found null");
    EXPECT_EQ(decodeError<Tag>(R"({"name":"x","weight":4294967296})"), "dataCorrupted: weight: number out of range");
    // Integral numbers are integers, whatever their spelling; doubles take integers.
    EXPECT_EQ(json::decode<std::int32_t>("-2e3"), -2000);
    EXPECT_EQ(json::decode<double>("9223372036854775808"), 9223372036854775808.0);
    EXPECT_EQ(json::decode<std::int64_t>("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    for (const char* text : {"9223372036854775808", "-9223372036854775809", "9.3e18"}) {
        EXPECT_THROW(json::decode<std::int64_t>(text), json::DecodeError) << text;
    }
    EXPECT_THROW(json::decode<std::uint64_t>("-1"), json::DecodeError);
    // Unsigned values read back over their whole range, above INT64_MAX included.
    for (std::uint64_t v : {std::uint64_t{1} << 63, std::numeric_limits<std::uint64_t>::max()}) {
        EXPECT_EQ(json::decode<std::uint64_t>(json::encode(v)), v) << v;
    }
}

TEST(JsonStrictTypes, IntegersBeyond64BitsAreIgnoredUnknownNumbersOnlyAndRefusedAsIntegers) {
    EXPECT_EQ(json::decode<Tag>(R"({"name":"x","trace":-123456789012345678901234,"weight":2})"), (Tag{"x", 2}));
    EXPECT_EQ(
        decodeError<std::vector<Tag>>(R"([{"name":"a","weight":99999999999999999999999}])"),
        "dataCorrupted: [0].weight: number out of range");
    for (const char* text : {"18446744073709551616", "-9223372036854775809", "-9223372036854776832"}) {
        EXPECT_THROW(json::decode<std::uint64_t>(text), json::DecodeError) << text;
        EXPECT_THROW(json::decode<std::int64_t>(text), json::DecodeError) << text;
        EXPECT_EQ(json::decode<double>(text), std::stod(text)) << text;
    }
    Item item = json::decode<Item>(std::string(minimalItem).replace(1, 0, R"("payload":[123456789012345678901234],)"));
    EXPECT_EQ(item.payload, json::Value(json::Array{123456789012345678901234.0}));
}

TEST(JsonErrors, DescriptionsNameKindAndCodingPath) {
    std::string alerts = R"({"alerts":[)"s + minimalItem + R"(,{"id":"a2","muted":false,"score":1,"severity":"low"}]})";
    EXPECT_EQ(decodeError<Page>(alerts), "keyNotFound: alerts[1].created_at");
    EXPECT_EQ(
        decodeError<std::vector<Tag>>(R"([{"name":"a","weight":1},null])"),
        "valueNotFound: [1]: expected object, found null");
    EXPECT_EQ(
        (decodeError<std::map<std::string, std::vector<int>>>(R"({"k":[[1]]})")),
        "typeMismatch: k[0]: expected integer, found array");
    EXPECT_EQ(
        decodeError<Item>(std::string(minimalItem).replace(1, 9, R"("id":null)")),
        "valueNotFound: id: expected a value, found null");
    EXPECT_TRUE(decodeError<Page>("{").starts_with("dataCorrupted: the data is not valid JSON"));
}

TEST(JsonDates, ReadWithOffsetsWriteInUtcAndRefuseWhatTheyCannotCarry) {
    EXPECT_EQ(json::decode<sys_seconds>(R"("2026-01-01T22:34:05-04:30")"), at(1767323045));
    EXPECT_EQ(json::encode(at(1767323045)), R"("2026-01-02T03:04:05Z")");
    EXPECT_EQ(
        decodeError<sys_seconds>(R"("2026-01-02T03:04:05.123Z")"),
        R"(dataCorrupted: expected an ISO-8601 date-time, found "2026-01-02T03:04:05.123Z")");
    EXPECT_THROW(json::decode<sys_seconds>("1767323045"), json::DecodeError);
    // Instants outside years 0...9999 have no such text: the writer refuses them.
    for (std::int64_t s : {-62167219201, 253402300800}) EXPECT_THROW(json::encode(at(s)), json::EncodeError);
    EXPECT_EQ(json::encode(at(253402300799)), R"("9999-12-31T23:59:59Z")");
}

TEST(JsonDecodeReentrancy, ACodecMayDecodeAgainInsideItsRead) {
    using Items = std::vector<Embedded>;
    EXPECT_EQ(
        json::decode<Items>(R"(["{\"name\":\"a\",\"weight\":1}","{\"name\":\"b\",\"weight\":2}"])"),
        (Items{{{"a", 1}}, {{"b", 2}}}));
    EXPECT_EQ(
        decodeError<Items>(R"(["{\"name\":\"a\",\"weight\":1}","{\"weight\":\"2\"}"])"),
        "typeMismatch: [1].weight: expected integer, found string");
    EXPECT_TRUE(decodeError<Items>(R"(["{"])").starts_with("dataCorrupted: [0]: the data is not"));
    EXPECT_EQ(json::decode<Tag>(R"({"name":"c","weight":3})"), (Tag{"c", 3}));  // the thread's parser is free again
}

TEST(JsonDecodeThreads, ManyThreadsDecodeAtOnce) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 300; ++i) {
                std::vector<Tag> tags(static_cast<std::size_t>(i % 7), Tag{"t" + std::to_string(t), i});
                if (json::decode<std::vector<Tag>>(json::encode(tags)) != tags) ++wrong;
                if (decodeError<Tag>(R"({"name":1})") != "typeMismatch: name: expected string, found integer") ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace

// ---- tables that name every member, and the rules hook ----

namespace {

struct Partial {
    std::string id;
    std::optional<std::string> note;
    std::vector<Tag> tags;
};

struct Cached {
    std::string id;
    std::int64_t fetchedAt = 0;  // the program's own
    std::vector<std::string> flags;
    Tag tag;  // flattened into the object
    bool archived = false;
};

}  // namespace

namespace brisalune::json {

template <>
inline constexpr auto keys<Partial> = object(field("id", &Partial::id), field("tags", &Partial::tags));

template <>
inline constexpr auto keys<Cached> = object(
    field("id", &Cached::id),
    notOnWire(&Cached::fetchedAt),
    field("flags", &Cached::flags, omitEmpty),
    byRules(&Cached::tag),
    field("archived", &Cached::archived, omitEmpty));

template <>
struct Rules<Cached> {
    static void afterRead(const Node& object, Cached& out) { Codec<Tag>::read(object, out.tag); }
    static void afterWrite(Writer& w, const Cached& value) { writeMembers(w, value.tag); }
};

}  // namespace brisalune::json

namespace {

static_assert(!json::detail::tableCoversRecord<Partial>(), "a table that leaves out a member is refused");
static_assert(json::detail::tableCoversRecord<Cached>());
static_assert(json::detail::tableCoversRecord<Item>());

TEST(JsonCodecRules, MembersOffTheWireFlattenedAndOmittedWhenEmpty) {
    Cached value{.id = "c1", .fetchedAt = 99, .flags = {}, .tag = {"db", 3}, .archived = false};
    EXPECT_EQ(json::encode(value), R"({"id":"c1","name":"db","weight":3})");
    value.flags = {"x"};
    value.archived = true;
    EXPECT_EQ(json::encode(value), R"({"id":"c1","flags":["x"],"archived":true,"name":"db","weight":3})");

    auto read = json::decode<Cached>(R"({"id":"c1","name":"db","weight":3,"fetchedAt":5,"":1})");
    EXPECT_EQ(read.fetchedAt, 0);  // never read, even under a key that looks like it
    EXPECT_EQ(read.tag, (Tag{"db", 3}));
    EXPECT_TRUE(read.flags.empty());
    EXPECT_FALSE(read.archived);
    EXPECT_TRUE(
        json::decode<Cached>(R"({"id":"c1","name":"db","weight":1,"flags":null,"archived":null})").flags.empty());
}

}  // namespace
