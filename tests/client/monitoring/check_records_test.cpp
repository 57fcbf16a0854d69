#include <brisalune/client/monitoring/check_status.hpp>
#include <brisalune/client/monitoring/checks.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace brisalune {
namespace {

TEST(CheckRecords, SpecDefaultsAndWhatItWrites) {
    const auto bare = json::decode<MonitorCheckSpec>(R"({"name":"a","addon":"b","interval_seconds":60})");
    MonitorCheckSpec expected;
    expected.name = "a";
    expected.addon = "b";
    expected.intervalSeconds = 60;
    EXPECT_EQ(bare, expected);
    EXPECT_TRUE(bare.isEnabled());
    EXPECT_EQ(bare.downTitle(), "a is down");
    EXPECT_EQ(json::encode(bare), R"({"name":"a","addon":"b","with":{},"interval_seconds":60})");

    const auto nulls = json::decode<MonitorCheckSpec>(
        R"({"name":"a","addon":"b","interval_seconds":60,"with":null,"enabled":null,"sources":null,"env":null})");
    EXPECT_EQ(nulls, bare);
    EXPECT_THROW(
        json::decode<MonitorCheckSpec>(R"({"name":"a","addon":"b","interval_seconds":60,"with":[]})"),
        json::DecodeError);
    EXPECT_THROW(
        json::decode<MonitorCheckSpec>(R"({"name":"a","addon":"b","interval_seconds":"60"})"), json::DecodeError);

    MonitorCheckSpec full = bare;
    full.sources = {"eu"};
    full.enabled = false;
    full.env = std::map<std::string, std::string>{};
    full.with = {{"url", JSONValue("https://example.com")}, {"retries", JSONValue(2)}};
    full.alertIf = AlertIf{3};
    EXPECT_FALSE(full.isEnabled());
    EXPECT_EQ(
        json::encode(full),
        R"({"name":"a","addon":"b","with":{"retries":2,"url":"https://example.com"},"interval_seconds":60,)"
        R"("sources":["eu"],"enabled":false,"alert_if":{"down_from":3},"env":{}})");
    EXPECT_EQ(json::decode<MonitorCheckSpec>(json::encode(full)), full);
    EXPECT_EQ(
        std::hash<MonitorCheckSpec>{}(json::decode<MonitorCheckSpec>(json::encode(full))),
        std::hash<MonitorCheckSpec>{}(full));
}

TEST(CheckRecords, StoredCheckIsFlatWithDefaultedServiceFields) {
    const auto info = json::decode<MonitorCheckInfo>(R"({"name":"api","addon":"http","interval_seconds":30})");
    EXPECT_EQ(info.id(), "api");
    EXPECT_EQ(info.createdAt, 0);
    EXPECT_EQ(info.placementNote, "");
    EXPECT_TRUE(info.envKeys.empty());
    EXPECT_FALSE(info.paused);
    const std::string written = json::encode(info);
    EXPECT_NE(written.find(R"("created_at":0)"), std::string::npos);
    EXPECT_NE(written.find(R"("updated_at":0)"), std::string::npos);
    EXPECT_EQ(written.find("placement_note"), std::string::npos);
    EXPECT_EQ(written.find("env_keys"), std::string::npos);
    EXPECT_EQ(written.find("spec"), std::string::npos);
    EXPECT_EQ(json::decode<MonitorCheckInfo>(written), info);

    // The definition is never nested.
    EXPECT_THROW(
        json::decode<MonitorCheckInfo>(R"({"spec":{"name":"api","addon":"http","interval_seconds":30}})"),
        json::DecodeError);

    const auto paused =
        json::decode<MonitorCheckInfo>(R"({"name":"api","addon":"http","interval_seconds":30,"env_keys":["A","B"],)"
                                       R"("paused":{"reason":"local_only","message":"m","resumes_at":5}})");
    EXPECT_TRUE(paused.paused->isLocalOnly());
    auto reordered = paused;
    reordered.envKeys = {"B", "A"};
    EXPECT_NE(reordered, paused);
    EXPECT_FALSE((CheckPause{"Local_Only", "m", 5}).isLocalOnly());

    EXPECT_EQ(
        json::decode<MonitorCheckDeleteResult>(R"({"deleted":true})"), (MonitorCheckDeleteResult{true, std::nullopt}));
    EXPECT_THROW(json::decode<MonitorCheckDeleteResult>(R"({"detached_rule":"r"})"), json::DecodeError);
}

TEST(CheckRecords, StatusDefaultsAndStrictKeys) {
    EXPECT_EQ(json::decode<MonitorCheckStatus>(R"({"check":"api"})"), (MonitorCheckStatus{"api", {}}));
    const auto status = json::decode<MonitorCheckStatus>(
        R"({"check":"api","sources":[{"source":"eu","status":"up","last_run":null,"stale":null},)"
        R"({"source":"us","status":"down","last_result":{}},{"source":"ap","status":"up","last_result":null}]})");
    ASSERT_EQ(status.sources.size(), 3u);
    EXPECT_EQ(status.sources[0], (MonitorCheckSourceState{"eu", "up", 0, false, std::nullopt}));
    EXPECT_EQ(status.sources[1].lastResult, MonitorCheckLastResult{});
    EXPECT_FALSE(status.sources[2].lastResult);
    EXPECT_EQ(json::encode(status.sources[0]), R"({"source":"eu","status":"up","last_run":0,"stale":false})");

    EXPECT_THROW(json::decode<MonitorCheckStatus>(R"({"check":"api","sources":[{"source":"eu"}]})"), json::DecodeError);
    EXPECT_THROW(
        json::decode<MonitorCheckStatus>(R"({"check":"api","sources":[{"source":"eu","status":"up","stale":1}]})"),
        json::DecodeError);
}

}  // namespace
}  // namespace brisalune
