#include "brisalune/platform/defaults.hpp"

#include "brisalune/platform/json.hpp"
#include "brisalune/platform/time.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using brisalune::platform::Bytes;
using brisalune::platform::Defaults;
using brisalune::platform::DefaultsValue;
using brisalune::testing::TempDir;

std::chrono::sys_seconds date(const char* text) { return *brisalune::platform::parseInternetDate(text); }

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> folderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
}

class DefaultsTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path file = dir / "defaults.json";
};

TEST_F(DefaultsTest, EveryTypeRoundTripsThroughAnotherInstance) {
    Bytes allBytes;
    for (int i = 0; i < 256; ++i) allBytes.push_back(static_cast<std::uint8_t>(i));
    const std::vector<std::pair<std::string, DefaultsValue>> values{
        {"bool", true},
        {"false", false},
        {"integer", std::int64_t{-42}},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"min", std::numeric_limits<std::int64_t>::min()},
        {"whole double", 3.0},
        {"double", 0.1},
        {"tiny", std::numeric_limits<double>::denorm_min()},
        {"huge", 1e300},
        {"string", "caf\u00E9 \U0001F600 \"quoted\"\n"},
        {"empty", ""},
        {"bytes", allBytes},
        {"no bytes", Bytes{}},
        {"one byte", Bytes{0xFF}},
        {"two bytes", Bytes{0x00, 0xFE}},
        {"date", date("2026-01-02T03:04:05Z")},
        {"first date", date("0000-01-01T00:00:00Z")},
        {"list", DefaultsValue::List{1, "two", 3.5, DefaultsValue::List{}, Bytes{1, 2}}},
        {"map", DefaultsValue::Map{{"a", 1}, {"b", DefaultsValue::Map{{"c", date("2000-02-29T00:00:00Z")}}}}},
        {"", "empty key"},
    };
    Defaults writer(file);
    for (const auto& [key, value] : values) writer.set(key, value);

    Defaults reader(file);
    for (const auto& [key, value] : values) EXPECT_EQ(reader.value(key), value) << key;
    EXPECT_EQ(reader.boolean("bool"), true);
    EXPECT_EQ(reader.integer("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(reader.number("whole double"), 3.0);
    EXPECT_EQ(reader.string("string"), "caf\u00E9 \U0001F600 \"quoted\"\n");
    EXPECT_EQ(reader.bytes("bytes"), allBytes);
    EXPECT_EQ(reader.date("date"), date("2026-01-02T03:04:05Z"));
    EXPECT_EQ(reader.value("absent"), std::nullopt);

    writer.set("integer", "now a string");
    EXPECT_EQ(reader.string("integer"), "now a string");
    EXPECT_EQ(reader.integer("integer"), std::nullopt);
}

TEST_F(DefaultsTest, ReadingAnotherTypeGivesNone) {
    Defaults defaults(file);
    defaults.set("integer", 3);
    defaults.set("double", 3.0);
    defaults.set("date text", "2026-01-02T03:04:05Z");
    defaults.set("bool", true);
    defaults.set("base64 text", "AAEC");
    defaults.set("date", date("2026-01-02T03:04:05Z"));

    EXPECT_EQ(defaults.number("integer"), std::nullopt);
    EXPECT_EQ(defaults.boolean("integer"), std::nullopt);
    EXPECT_EQ(defaults.integer("double"), std::nullopt);
    EXPECT_EQ(defaults.date("date text"), std::nullopt);
    EXPECT_EQ(defaults.integer("bool"), std::nullopt);
    EXPECT_EQ(defaults.bytes("base64 text"), std::nullopt);
    EXPECT_EQ(defaults.string("date"), std::nullopt);
    EXPECT_EQ(defaults.integer("date"), std::nullopt);
}

TEST_F(DefaultsTest, MissingOrDamagedFilesReadEmptyAndAreReplaced) {
    Defaults defaults(file);
    EXPECT_EQ(defaults.value("key"), std::nullopt);  // no file at all
    defaults.set("key", "value");
    const std::string valid = readFile(file);

    const std::vector<std::string> damaged{
        "",
        "not json",
        "[]",
        "null",
        "\"text\"",
        valid.substr(0, valid.size() / 2),                 // truncated
        std::string(100000, '['),                          // nesting bomb
        "{\"key\": {\"string\": \"\xC3\x28\"}}",           // invalid UTF-8
        std::string("{\"key\"\0: 1}", 11),
        "{\"key\": {\"integer\": 1e999999}}",
        "{\"key\": 1, \"key\": 2",
    };
    for (const std::string& text : damaged) {
        writeFile(file, text);
        EXPECT_EQ(defaults.value("key"), std::nullopt) << text.substr(0, 40);
        defaults.set("other", 1);
        EXPECT_EQ(Defaults(file).integer("other"), 1) << text.substr(0, 40);
    }
}

TEST_F(DefaultsTest, SomethingOtherThanAFileReadsEmpty) {
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);  // a reader must not hang on it
    Defaults defaults(file);
    EXPECT_EQ(defaults.value("key"), std::nullopt);
    defaults.set("key", 1);
    EXPECT_EQ(defaults.integer("key"), 1);

    const fs::path folder = dir / "folder.json";
    fs::create_directory(folder);
    Defaults onFolder(folder);
    EXPECT_EQ(onFolder.value("key"), std::nullopt);
    EXPECT_THROW(onFolder.set("key", 1), std::system_error);
}

TEST_F(DefaultsTest, MembersThatDoNotDecodeSurviveWrites) {
    const std::string foreign = R"({
        "future": {"colour": "blue"},
        "two tags": {"string": "a", "integer": 1},
        "wrong payload": {"integer": "x"},
        "bad base64": {"bytes": "!!!!"},
        "bad date": {"date": "2026-01-02T03:04:05.5Z"},
        "bad element": {"list": [{"integer": 1}, {"unknown": 2}]},
        "bare": 7,
        "ok": {"integer": 1}
    })";
    writeFile(file, foreign);
    const auto before = *brisalune::json::parse(foreign).get<brisalune::json::Object>();

    Defaults defaults(file);
    EXPECT_EQ(defaults.integer("ok"), 1);
    for (const char* key : {"future", "two tags", "wrong payload", "bad base64", "bad date", "bad element", "bare"})
        EXPECT_EQ(defaults.value(key), std::nullopt) << key;

    defaults.set("new", true);
    defaults.set("ok", 2);
    defaults.remove("new");
    const auto after = *brisalune::json::parse(readFile(file)).get<brisalune::json::Object>();
    for (const auto& [key, value] : before) {
        if (key == "ok") continue;
        EXPECT_EQ(after.at(key), value) << key;
    }
    EXPECT_EQ(defaults.integer("ok"), 2);
}

TEST_F(DefaultsTest, WritesAPrivateFileAndLeaveNoTemporaryFiles) {
    const fs::path nested = dir / "a" / "b" / "defaults.json";
    Defaults defaults(nested);
    for (int i = 0; i < 5; ++i) defaults.set("key" + std::to_string(i), i);
    defaults.remove("key0");

    struct stat info {};
    ASSERT_EQ(::stat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(folderNames(nested.parent_path()), std::vector<std::string>{"defaults.json"});
}

TEST_F(DefaultsTest, RemoveDeletesOnlyThatKey) {
    Defaults defaults(file);
    defaults.remove("absent");
    EXPECT_FALSE(fs::exists(file));  // nothing to change, nothing written
    defaults.set("a", 1);
    defaults.set("b", 2);
    defaults.remove("a");
    EXPECT_EQ(defaults.value("a"), std::nullopt);
    EXPECT_EQ(defaults.integer("b"), 2);
}

TEST_F(DefaultsTest, FailedWritesThrowAndLeaveTheFileAlone) {
    writeFile(dir / "plain", "x");
    Defaults underAFile(dir / "plain" / "defaults.json");
    try {
        underAFile.set("key", 1);
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOTDIR);
    }

    Defaults defaults(file);
    defaults.set("key", 1);
    const std::string before = readFile(file);
    EXPECT_THROW(defaults.set("key", std::string("\xC3\x28")), std::invalid_argument);
    EXPECT_THROW(defaults.set(std::string("\xFF"), 1), std::invalid_argument);
    EXPECT_THROW(defaults.set("key", std::nan("")), std::invalid_argument);
    EXPECT_THROW(defaults.set("key", std::numeric_limits<double>::infinity()), std::invalid_argument);
    EXPECT_THROW(defaults.set("key", date("9999-12-31T23:59:59Z") + std::chrono::seconds{1}),
                 std::out_of_range);
    DefaultsValue deep = 1;
    for (int i = 0; i < 1000; ++i) {
        DefaultsValue::List wrapper;
        wrapper.push_back(std::move(deep));
        deep = std::move(wrapper);
    }
    EXPECT_THROW(defaults.set("key", std::move(deep)), std::invalid_argument);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(folderNames(dir.path()).size(), 2u);  // plain and defaults.json
}

TEST_F(DefaultsTest, ConcurrentWritersLoseNoKey) {
    constexpr int threads = 8;
    constexpr int keysEach = 20;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([this, t] {
            Defaults own(file);  // a separate instance per thread, one file
            for (int k = 0; k < keysEach; ++k) own.set("t" + std::to_string(t) + "k" + std::to_string(k), k);
        });
    for (auto& writer : writers) writer.join();
    Defaults defaults(file);
    for (int t = 0; t < threads; ++t)
        for (int k = 0; k < keysEach; ++k)
            EXPECT_EQ(defaults.integer("t" + std::to_string(t) + "k" + std::to_string(k)), k);
    EXPECT_EQ(folderNames(dir.path()).size(), 1u);
}

TEST(DefaultsStandardFile, FollowsTheXdgConfigFolder) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string config = savedConfig ? savedConfig : "";
    const std::string home = savedHome ? savedHome : "";

    ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
    ::setenv("HOME", "/x/home", 1);
    EXPECT_EQ(Defaults::standardFile(), fs::path("/x/config/brisalune/defaults.json"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(Defaults::standardFile(), fs::path("/x/home/.config/brisalune/defaults.json"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(Defaults::standardFile(), fs::path("/x/home/.config/brisalune/defaults.json"));

    savedConfig ? ::setenv("XDG_CONFIG_HOME", config.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    savedHome ? ::setenv("HOME", home.c_str(), 1) : ::unsetenv("HOME");
}

}  // namespace
