#include <brisalune/client/pending_ack_store.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/json.hpp>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace brisalune {
namespace {

using platform::Bytes;
using platform::Defaults;
using testing::TempDir;

PendingAck record(std::string alertId, std::int64_t attempts = 1, std::string lastError = "E") {
    return {.alertId = std::move(alertId),
            .tenantId = "t-1",
            .title = "Disk full",
            .attempts = attempts,
            .lastError = std::move(lastError),
            .verdict = AckFailureVerdict::retryable};
}

std::vector<std::string> ids(const std::vector<PendingAck>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.alertId);
    return out;
}

// ---- behaviour both stores share ----

class PendingAckStores : public ::testing::TestWithParam<bool> {
protected:
    TempDir dir;
    std::unique_ptr<PendingAckStoring> store =
        GetParam() ? std::unique_ptr<PendingAckStoring>(new PendingAckStore(PendingAckStore::inFile(dir / "d.json")))
                   : std::make_unique<MemoryPendingAckStore>();
};

TEST_P(PendingAckStores, PutGetAllRemove) {
    EXPECT_EQ(store->get("a9"), std::nullopt);
    EXPECT_TRUE(store->all().empty());

    EXPECT_TRUE(store->put(record("a9")));
    EXPECT_TRUE(store->put(record("a10")));
    EXPECT_TRUE(store->put(record("a9", 2)));  // replaces
    EXPECT_EQ(store->get("a9"), record("a9", 2));
    EXPECT_EQ(ids(store->all()), (std::vector<std::string>{"a10", "a9"}));  // byte order

    store->remove("a9");
    store->remove("never-stored");
    EXPECT_EQ(ids(store->all()), std::vector<std::string>{"a10"});
    store->removeAll();
    EXPECT_TRUE(store->all().empty());
}

TEST_P(PendingAckStores, ReplaceComparesEveryField) {
    EXPECT_TRUE(store->replace("a", std::nullopt, record("a")));  // nothing stored, nothing expected
    EXPECT_FALSE(store->replace("a", std::nullopt, record("a", 9)));
    EXPECT_FALSE(store->replace("a", record("a", 2), record("a", 9)));
    EXPECT_FALSE(store->replace("a", record("a", 1, "other"), record("a", 9)));
    EXPECT_EQ(store->get("a"), record("a"));

    EXPECT_TRUE(store->replace("a", record("a"), record("a", 2)));
    EXPECT_EQ(store->get("a"), record("a", 2));
    EXPECT_FALSE(store->replace("b", record("b"), record("b")));  // expected, nothing stored
    EXPECT_EQ(store->get("b"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(, PendingAckStores, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "Defaults" : "Memory"; });

// ---- the defaults store ----

class PendingAckDefaults : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path file = dir / "defaults.json";
    PendingAckStore store = PendingAckStore::inFile(file);

    void storeText(std::string_view text) {
        Defaults(file).set(PendingAckStore::key, Bytes(text.begin(), text.end()));
    }
    json::Object storedObject() const {
        const auto bytes = Defaults(file).bytes(PendingAckStore::key);
        if (!bytes) return {};
        return *json::parse(std::string(bytes->begin(), bytes->end())).get<json::Object>();
    }
};

TEST_F(PendingAckDefaults, RemoveWithNothingStoredWritesAnEmptyObject) {
    store.remove("x");
    EXPECT_EQ(Defaults(file).bytes(PendingAckStore::key), Bytes({'{', '}'}));
}

TEST_F(PendingAckDefaults, MembersThatDoNotDecodeAreInvisibleButSurviveWrites) {
    storeText(R"({"bad":{"alertId":"bad"},"worse":7,)"
              R"("a":{"alertId":"a","tenantId":"t-1","title":"Disk full","attempts":1,"lastError":"E","verdict":{"retryable":{}}}})");
    EXPECT_EQ(store.all(), std::vector<PendingAck>{record("a")});
    EXPECT_EQ(store.get("bad"), std::nullopt);

    store.put(record("b"));
    EXPECT_TRUE(store.replace("a", record("a"), record("a", 2)));
    store.remove("a");
    auto object = storedObject();
    EXPECT_EQ(object.at("bad"), json::parse(R"({"alertId":"bad"})"));
    EXPECT_EQ(object.at("worse"), json::Value(7));
    EXPECT_EQ(object.count("a"), 0u);

    store.remove("bad");
    EXPECT_EQ(storedObject().count("bad"), 0u);
    EXPECT_EQ(ids(store.all()), std::vector<std::string>{"b"});
}

TEST_F(PendingAckDefaults, UnreadableValuesReadAsEmptyAndAreReplaced) {
    for (std::string_view text : {"not json", "[1,2]", "\"text\""}) {
        storeText(text);
        EXPECT_TRUE(store.all().empty()) << text;
    }
    Defaults(file).set(PendingAckStore::key, "a string, not data");
    EXPECT_TRUE(store.all().empty());
    EXPECT_TRUE(store.put(record("a")));
    EXPECT_EQ(store.all(), std::vector<PendingAck>{record("a")});
}

TEST_F(PendingAckDefaults, MemberNameIsTheKey) {
    storeText(R"({"m":{"alertId":"other","tenantId":"","title":"T","attempts":1,"lastError":"E","verdict":{"gone":{}}}})");
    ASSERT_TRUE(store.get("m"));
    EXPECT_EQ(store.get("m")->alertId, "other");
    EXPECT_EQ(store.get("other"), std::nullopt);
}

TEST_F(PendingAckDefaults, KeepsOtherDefaultsAndRemovesOnlyItsKey) {
    Defaults(file).set("brisalune.device-token", "abc");
    store.put(record("a"));
    EXPECT_EQ(PendingAckStore::inFile(file).get("a"), record("a"));  // nothing cached

    store.removeAll();
    EXPECT_EQ(Defaults(file).value(PendingAckStore::key), std::nullopt);
    EXPECT_EQ(Defaults(file).string("brisalune.device-token"), "abc");
}

TEST_F(PendingAckDefaults, RecordsThatCannotBeEncodedAreNotWritten) {
    store.put(record("a"));
    const PendingAck broken = record("a", 5, "\xff\xfe not UTF-8");
    EXPECT_FALSE(store.put(broken));
    EXPECT_FALSE(store.replace("a", record("a"), broken));
    EXPECT_EQ(store.get("a"), record("a"));
}

TEST_F(PendingAckDefaults, AFailedWriteIsReportedAndLeavesTheFile) {
    store.put(record("a"));
    // A folder where the file should be: nothing can be read or written there.
    PendingAckStore blocked = PendingAckStore::inFile(dir.path());
    EXPECT_FALSE(blocked.put(record("b")));
    EXPECT_FALSE(blocked.replace("b", std::nullopt, record("b")));
    blocked.remove("b");
    blocked.removeAll();
    EXPECT_TRUE(blocked.all().empty());
    EXPECT_EQ(store.get("a"), record("a"));
}

TEST_F(PendingAckDefaults, SuitesKeepTheirOwnFileBesideTheStandardOne) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);

    PendingAckStore standard;
    PendingAckStore suite("group.test");
    PendingAckStore unusable("a/b");
    EXPECT_EQ(suite.suiteName(), "group.test");
    suite.put(record("s"));
    standard.put(record("d"));
    EXPECT_EQ(ids(suite.all()), std::vector<std::string>{"s"});
    EXPECT_EQ(ids(unusable.all()), std::vector<std::string>{"d"});
    EXPECT_TRUE(std::filesystem::exists(dir / "brisalune" / "group.test.json"));

    if (previous) {
        ::setenv("XDG_CONFIG_HOME", previous->c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace brisalune
