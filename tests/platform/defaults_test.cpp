#include <brisalune/platform/defaults.hpp>

#include <brisalune/platform/json.hpp>
#include <brisalune/platform/time.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using brisalune::platform::Bytes;
using brisalune::platform::Defaults;
using brisalune::platform::DefaultsValue;
using brisalune::testkit::TempDir;

std::chrono::sys_seconds date(const char* text) { return *brisalune::platform::parseInternetDate(text); }
std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeFile(const fs::path& path, std::string_view text) { std::ofstream(path, std::ios::binary) << text; }
// What stands in the folder, the write locks beside each file left out.
auto entries(const fs::path& folder) {
    return std::ranges::count_if(fs::directory_iterator(folder), [](const fs::directory_entry& entry) {
        const std::string name = entry.path().filename().string();
        return !(name.starts_with('.') && name.ends_with(".lock"));
    });
}

class DefaultsTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path file = dir / "defaults.json";
};

TEST_F(DefaultsTest, EveryTypeRoundTripsAndReadsOnlyAsItself) {
    Bytes allBytes;
    for (int b = 0; b < 256; ++b) allBytes.push_back(static_cast<std::uint8_t>(b));
    const std::vector<std::pair<std::string, DefaultsValue>> values{
        {"bool", true},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"min", std::numeric_limits<std::int64_t>::min()},
        {"whole double", 3.0},
        {"double", 0.1},
        {"tiny", std::numeric_limits<double>::denorm_min()},
        {"string", "caf\u00E9 \U0001F600 \"quoted\"\n"},
        {"date text", "2026-01-02T03:04:05Z"},
        {"base64 text", "AAEC"},
        {"bytes", allBytes},
        {"no bytes", Bytes{}},
        {"two bytes", Bytes{0x00, 0xFE}},
        {"date", date("0000-01-01T00:00:00Z")},
        {"list", DefaultsValue::List{1, "two", 3.5, DefaultsValue::List{}, Bytes{1, 2}}},
        {"map", DefaultsValue::Map{{"a", 1}, {"b", DefaultsValue::Map{{"c", date("2000-02-29T00:00:00Z")}}}}},
        {"", "empty key"},
    };
    Defaults writer(file);
    for (const auto& [key, value] : values) writer.set(key, value);
    Defaults reader(file);
    for (const auto& [key, value] : values) EXPECT_EQ(reader.value(key), value) << key;
    EXPECT_FALSE(reader.value("absent") || reader.number("max") || reader.integer("whole double"));
    EXPECT_FALSE(reader.date("date text") || reader.bytes("base64 text") || reader.string("date"));
    writer.set("min", "now a string");
    EXPECT_EQ(reader.integer("min"), std::nullopt);
}

TEST_F(DefaultsTest, MissingOrDamagedFilesReadEmptyAndAreReplaced) {
    Defaults defaults(file);
    EXPECT_EQ(defaults.value("key"), std::nullopt);  // no file at all
    const std::vector<std::string> damaged{
        "",
        "not json",
        "[]",
        "null",
        R"({"key": {"string": "va)",
        std::string(100000, '['),
        "{\"key\": {\"string\": \"\xC3\x28\"}}",
        std::string("{\"key\"\0: 1}", 11),
        "{\"key\": {\"integer\": 1e999999}}"};
    for (const std::string& text : damaged) {
        writeFile(file, text);
        EXPECT_EQ(defaults.value("key"), std::nullopt) << text.substr(0, 40);
        defaults.set("other", 1);
        EXPECT_EQ(Defaults(file).integer("other"), 1) << text.substr(0, 40);
        // What the damaged file held is set aside, not destroyed.
        if (!text.empty()) {
            EXPECT_EQ(readFile(file.string() + ".damaged"), text);
            fs::remove(file.string() + ".damaged");
        }
    }
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);  // a reader must not hang on it
    EXPECT_EQ(defaults.value("other"), std::nullopt);
    defaults.set("key", 1);
    EXPECT_EQ(defaults.integer("key"), 1);
}

TEST_F(DefaultsTest, MembersThatDoNotDecodeSurviveWritesAndRemovals) {
    const std::string foreign = R"({"future": {"colour": "blue"}, "two tags": {"string": "a", "integer": 1},
        "wrong payload": {"integer": "x"}, "bad base64": {"bytes": "!!!!"}, "bare": 7,
        "bad date": {"date": "2026-01-02T03:04:05.5Z"}, "bad element": {"list": [{"integer": 1}, {"x": 2}]},
        "ok": {"integer": 1}})";
    writeFile(file, foreign);
    auto before = *brisalune::json::parse(foreign).get<brisalune::json::Object>();
    before.erase("ok");
    Defaults defaults(file);
    for (const auto& [key, value] : before) EXPECT_EQ(defaults.value(key), std::nullopt) << key;
    defaults.set("new", true);
    defaults.set("ok", 2);
    defaults.remove("new");
    const auto after = *brisalune::json::parse(readFile(file)).get<brisalune::json::Object>();
    for (const auto& [key, value] : before) EXPECT_EQ(after.at(key), value) << key;
    EXPECT_FALSE(after.contains("new"));
    EXPECT_EQ(defaults.integer("ok"), 2);
}

TEST_F(DefaultsTest, WritesAPrivateFileAndLeavesNoTemporaryFiles) {
    const fs::path nested = dir / "a" / "b" / "defaults.json";
    Defaults defaults(nested);
    defaults.remove("absent");
    EXPECT_FALSE(fs::exists(nested));  // nothing to change, nothing written
    defaults.set("key", 1);
    EXPECT_EQ(fs::status(nested).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dir / "a").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir / "a" / "b").permissions(), fs::perms::owner_all);
    EXPECT_EQ(entries(nested.parent_path()), 1);  // no temporary file left behind
}

TEST_F(DefaultsTest, FailedWritesThrowAndLeaveTheFileAlone) {
    writeFile(dir / "plain", "x");
    EXPECT_THROW(Defaults(dir / "plain" / "defaults.json").set("key", 1), std::system_error);
    fs::create_directory(dir / "folder.json");
    Defaults onFolder(dir / "folder.json");
    EXPECT_THROW(onFolder.set("key", 1), std::system_error);
    Defaults defaults(file);
    defaults.set("key", 1);
    const std::string before = readFile(file);
    EXPECT_THROW(defaults.set("key", std::string("\xC3\x28")), std::invalid_argument);
    EXPECT_THROW(defaults.set(std::string("\xFF"), 1), std::invalid_argument);
    for (double bad : {std::nan(""), -std::numeric_limits<double>::infinity()})
        EXPECT_THROW(defaults.set("key", bad), std::invalid_argument);
    EXPECT_THROW(defaults.set("key", date("9999-12-31T23:59:59Z") + std::chrono::seconds{1}), std::out_of_range);
    DefaultsValue deep = 1;
    for (int i = 0; i < 1000; ++i) deep = DefaultsValue::List{std::move(deep)};
    EXPECT_THROW(defaults.set("key", std::move(deep)), std::invalid_argument);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(entries(dir.path()), 3);  // plain, folder.json and defaults.json
}

TEST_F(DefaultsTest, WhatCannotBeReadIsMovedAsideNeverOverwritten) {
    const std::string tooLarge(16 * 1024 * 1024 + 1, ' ');  // past the read limit, however valid
    writeFile(file, tooLarge);
    Defaults defaults(file);
    EXPECT_EQ(defaults.keys(), std::vector<std::string>{});
    defaults.set("key", 1);
    EXPECT_EQ(defaults.keys(), std::vector<std::string>{"key"});
    EXPECT_EQ(fs::file_size(file.string() + ".damaged"), tooLarge.size());

    // A later damaged file takes the next name: the earlier one is kept.
    writeFile(file, "not json");
    defaults.remove("absent");  // nothing to change: the file stays where it is
    EXPECT_EQ(readFile(file), "not json");
    defaults.set("key", 2);
    EXPECT_EQ(readFile(file.string() + ".damaged.2"), "not json");
    EXPECT_EQ(fs::file_size(file.string() + ".damaged"), tooLarge.size());

    // With no name left to move it to, the write fails and the file stays as it was.
    for (int n = 3; n <= 100; ++n) writeFile(file.string() + ".damaged." + std::to_string(n), "");
    writeFile(file, "still not json");
    EXPECT_THROW(defaults.set("key", 3), std::system_error);
    EXPECT_EQ(readFile(file), "still not json");
}

TEST_F(DefaultsTest, AnUnreadableFileIsMovedAside) {
    writeFile(file, R"({"kept": {"integer": 1}})");
    fs::permissions(file, fs::perms::none);
    const auto check = [&] {
        Defaults defaults(file);
        EXPECT_EQ(defaults.integer("kept"), std::nullopt);
        defaults.set("key", 1);
        EXPECT_EQ(defaults.keys(), std::vector<std::string>{"key"});
    };
    if (::geteuid() != 0) {
        check();
    } else {
        // Root reads a file whatever its mode: the store runs as nobody in a child instead.
        constexpr uid_t nobody = 65534;
        ASSERT_EQ(::chown(dir.path().c_str(), nobody, nobody), 0);
        EXPECT_EXIT(
            {
                if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) std::_Exit(2);
                check();
                std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0),
            "");
    }
    fs::permissions(file.string() + ".damaged", fs::perms::owner_read);
    EXPECT_EQ(readFile(file.string() + ".damaged"), R"({"kept": {"integer": 1}})");
}

TEST_F(DefaultsTest, AWriteTheStoreCouldNotReadBackIsRefused) {
    Defaults defaults(file);
    defaults.set("key", 1);
    const std::string before = readFile(file);
    EXPECT_THROW(defaults.set("huge", std::string(16 * 1024 * 1024, 'x')), std::length_error);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(entries(dir.path()), 1);
}

TEST_F(DefaultsTest, TheFirstOpenRemovesTemporaryFilesAKilledWriteLeft) {
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const std::string marked = ".defaults.json.brisalune-staged-";
    const std::vector<std::string> left{marked + "Ab3dE9", marked + "000000"};
    const std::vector<std::string> others{
        marked + "Ab3dE",                         // one letter short
        marked + "Ab3dE9x",                       // one too many
        marked + "Ab-dE9",                        // not mkostemp's alphabet
        ".other.json.brisalune-staged-Ab3dE9",    // another file's
        "defaults.json.brisalune-staged-Ab3dE9",  // not hidden
        ".defaults.json.backup",                  // a person's, of the length mkostemp's names have
        ".defaults.json.2024v1",
        ".defaults.json.Ab3dE9"};  // unmarked, as older versions left them: harmless, so kept
    for (const auto& name : left) writeFile(dir / name, "{");
    for (const auto& name : others) writeFile(dir / name, "{");
    fs::create_directory(dir / (marked + "Dir123"));
    writeFile(dir / (marked + "Young1"), "{");  // may be another process's write in flight
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename() != marked + "Young1") fs::last_write_time(entry.path(), old);

    Defaults defaults(file);
    for (const auto& name : left) EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const auto& name : others) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::exists(dir / (marked + "Dir123")));
    EXPECT_TRUE(fs::exists(dir / (marked + "Young1")));

    // Beside where a link leads, only the store's own files of the target's name go.
    const fs::path notes = dir / "notes" / "notes.txt";
    fs::create_directory(notes.parent_path());
    writeFile(notes, "{}");
    const fs::path backup = notes.parent_path() / ".notes.txt.backup";
    const fs::path staged = notes.parent_path() / ".notes.txt.brisalune-staged-Ab3dE9";
    for (const fs::path& path : {backup, staged}) {
        writeFile(path, "{");
        fs::last_write_time(path, old);
    }
    const fs::path linked = dir / "linked" / "defaults.json";
    fs::create_directory(linked.parent_path());
    fs::create_symlink(notes, linked);
    Defaults throughLink(linked);
    EXPECT_TRUE(fs::exists(backup));
    EXPECT_FALSE(fs::exists(staged));
}

TEST_F(DefaultsTest, ConcurrentWritersLoseNoKey) {
    const auto key = [](int t, int k) { return "t" + std::to_string(t) + "k" + std::to_string(k); };
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&, t] {
            Defaults own(file);  // a separate instance per thread, one file
            for (int k = 0; k < 20; ++k) own.set(key(t, k), k);
        });
    for (auto& writer : writers) writer.join();
    Defaults defaults(file);
    for (int t = 0; t < 8; ++t)
        for (int k = 0; k < 20; ++k) EXPECT_EQ(defaults.integer(key(t, k)), k);
    EXPECT_EQ(entries(dir.path()), 1);
}

TEST(DefaultsStandardFile, FollowsTheXdgConfigFolder) {
    const char* names[] = {"XDG_CONFIG_HOME", "HOME"};
    std::optional<std::string> saved[2];
    for (int i = 0; i < 2; ++i)
        if (const char* value = std::getenv(names[i])) saved[i] = value;
    ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
    ::setenv("HOME", "/x/home", 1);
    EXPECT_EQ(Defaults::standardFile(), fs::path("/x/config/brisalune/defaults.json"));
    for (const char* ignored : {"relative", ""}) {  // not absolute: ignored
        ::setenv("XDG_CONFIG_HOME", ignored, 1);
        EXPECT_EQ(Defaults::standardFile(), fs::path("/x/home/.config/brisalune/defaults.json")) << ignored;
    }
    // Without a usable HOME, the user's own home folder as the system knows it.
    const fs::path own = fs::path(::getpwuid(::getuid())->pw_dir) / ".config" / "brisalune" / "defaults.json";
    for (const char* unusable : {"relative", ""}) {
        ::setenv("HOME", unusable, 1);
        EXPECT_EQ(Defaults::standardFile(), own) << unusable;
    }
    ::unsetenv("HOME");
    EXPECT_EQ(Defaults::standardFile(), own);
    for (int i = 0; i < 2; ++i) saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
}

}  // namespace
