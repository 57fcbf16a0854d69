#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/json.hpp>

#include <support/file_size_limit.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace brisalune {
namespace {

using platform::Bytes;
using platform::Defaults;
using testkit::TempDir;
using Replaced = PendingAckStoring::Replaced;

PendingAck record(std::string alertId, std::int64_t attempts = 1, std::string lastError = "E") {
    return {
        .alertId = std::move(alertId),
        .tenantId = "t-1",
        .title = "Disk full",
        .attempts = attempts,
        .lastError = std::move(lastError),
        .verdict = AckFailureVerdict::retryable};
}

class PendingAckStores : public ::testing::TestWithParam<bool> {
protected:
    TempDir dir;
    std::unique_ptr<PendingAckStoring> store =
        GetParam() ? std::unique_ptr<PendingAckStoring>(new PendingAckStore(PendingAckStore::inFile(dir / "d.json")))
                   : std::make_unique<MemoryPendingAckStore>();
};

TEST_P(PendingAckStores, PutReplaceRemove) {
    EXPECT_TRUE(store->put(record("a9")));
    EXPECT_TRUE(store->put(record("a10")));
    EXPECT_TRUE(store->put(record("a9", 2)));
    EXPECT_EQ(store->all(), (std::vector{record("a10"), record("a9", 2)}));  // byte order
    // Every field is compared; absent on both sides counts as equal.
    EXPECT_EQ(store->replace("a9", record("a9", 2, "other"), record("a9", 3)), Replaced::overtaken);
    EXPECT_EQ(store->replace("a9", std::nullopt, record("a9", 3)), Replaced::overtaken);
    EXPECT_EQ(store->replace("b", record("b"), record("b")), Replaced::overtaken);
    EXPECT_EQ(store->replace("a9", record("a9", 2), record("a9", 3)), Replaced::written);
    EXPECT_EQ(store->replace("c", std::nullopt, record("c")), Replaced::written);
    EXPECT_EQ(store->get("a9"), record("a9", 3));
    store->remove("a9");
    EXPECT_EQ(store->all(), (std::vector{record("a10"), record("c")}));
    // Only the very record expected goes.
    EXPECT_FALSE(store->removeUnchanged("c", record("c", 2)));
    EXPECT_FALSE(store->removeUnchanged("d", record("d")));
    EXPECT_TRUE(store->removeUnchanged("c", record("c")));
    EXPECT_EQ(store->all(), std::vector{record("a10")});
    store->removeAll();
    EXPECT_TRUE(store->all().empty());
}

INSTANTIATE_TEST_SUITE_P(, PendingAckStores, ::testing::Bool(), [](const auto& param) {
    return param.param ? "Defaults" : "Memory";
});

class PendingAckDefaults : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path file = dir / "defaults.json";
    PendingAckStore store = PendingAckStore::inFile(file);

    void storeText(std::string_view text) { Defaults(file).set(PendingAckStore::key, Bytes(text.begin(), text.end())); }
};

TEST_F(PendingAckDefaults, MembersThatDoNotDecodeAreInvisibleButSurviveWrites) {
    storeText(R"({"bad":{"alertId":"bad"},"worse":7,"m":)" + json::encode(record("a")) + "}");
    EXPECT_EQ(store.all(), std::vector{record("a")});
    EXPECT_EQ(store.get("m"), record("a"));  // the member name is the key
    EXPECT_EQ(store.get("a"), std::nullopt);
    EXPECT_EQ(store.replace("m", record("a"), record("a", 2)), Replaced::written);
    store.remove("m");
    const Bytes bytes = Defaults(file).bytes(PendingAckStore::key).value();
    EXPECT_EQ(
        json::parse(std::string(bytes.begin(), bytes.end())),
        json::parse(R"({"bad":{"alertId":"bad"},"worse":7})"));  // only what decodes was touched
}

TEST_F(PendingAckDefaults, UnreadableValuesAreReplacedAndOtherDefaultsKept) {
    Defaults(file).set("brisalune.device-token", "abc");
    for (std::string_view text : {"not json", "[1,2]"}) {
        storeText(text);
        EXPECT_TRUE(store.all().empty()) << text;
    }
    Defaults(file).set(PendingAckStore::key, "a string, not data");
    EXPECT_TRUE(store.all().empty());
    EXPECT_TRUE(store.put(record("a")));
    EXPECT_EQ(PendingAckStore::inFile(file).all(), std::vector{record("a")});  // nothing cached
    store.removeAll();
    EXPECT_EQ(Defaults(file).value(PendingAckStore::key), std::nullopt);
    EXPECT_EQ(Defaults(file).string("brisalune.device-token"), "abc");
}

TEST_F(PendingAckDefaults, WritesThatFailReturnFalseAndChangeNothing) {
    store.put(record("a"));
    const PendingAck notUtf8 = record("a", 5, "\xff\xfe not UTF-8");
    EXPECT_FALSE(store.put(notUtf8));
    PendingAckStore blocked = PendingAckStore::inFile(dir.path());  // a folder where the file should be
    EXPECT_FALSE(blocked.put(record("b")));
    EXPECT_TRUE(blocked.remove("b"));  // nothing there to remove
    EXPECT_TRUE(blocked.all().empty());
    EXPECT_EQ(store.all(), std::vector{record("a")});

    // A record too large for the file is refused; nothing else in the file is lost.
    Defaults(file).set("brisalune.device-token", "abc");
    EXPECT_FALSE(store.put(record("big", 1, std::string(12 * 1024 * 1024, 'e'))));
    EXPECT_EQ(store.all(), std::vector{record("a")});
    EXPECT_EQ(Defaults(file).string("brisalune.device-token"), "abc");

    EXPECT_EQ(blocked.replace("b", std::nullopt, record("b")), Replaced::failed);
    EXPECT_EQ(store.replace("a", record("a"), notUtf8), Replaced::failed);

    // A full disk: every write says it failed, and a compare-and-swap that failed says so rather
    // than that another record stood.
    testkit::FileSizeLimit full(0);
    EXPECT_FALSE(store.put(record("b")));
    EXPECT_EQ(store.replace("a", record("a"), record("a", 2)), Replaced::failed);
    EXPECT_EQ(store.replace("a", record("a", 9), record("a", 2)), Replaced::overtaken);
    EXPECT_FALSE(store.remove("a"));
    EXPECT_FALSE(store.removeAll());
    EXPECT_EQ(store.all(), std::vector{record("a")});
}

TEST_F(PendingAckDefaults, SuitesKeepTheirOwnFileBesideTheStandardOne) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    PendingAckStore("group.test").put(record("s"));
    PendingAckStore().put(record("d"));
    EXPECT_EQ(PendingAckStore("group.test").all(), std::vector{record("s")});
    EXPECT_EQ(PendingAckStore("a/b").all(), std::vector{record("d")});  // not a file name: the standard file
    EXPECT_TRUE(std::filesystem::exists(dir / "brisalune" / "group.test.json"));
    previous ? ::setenv("XDG_CONFIG_HOME", previous->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace brisalune
