#include <brisalune/client/monitoring/check_status.hpp>
#include <brisalune/client/monitoring/checks.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

TEST(CheckRecords, SpecDefaultsAndWhatItWrites) {
    const auto bare = json::decode<MonitorCheckSpec>(
        R"({"name":"a","addon":"b","interval_seconds":60,"with":null,"enabled":null,"sources":null,"env":null})");
    EXPECT_TRUE(bare.isEnabled());
    EXPECT_EQ(bare.downTitle(), "a is down");
    EXPECT_EQ(json::encode(bare), R"({"name":"a","addon":"b","with":{},"interval_seconds":60})");
    EXPECT_THROW(
        json::decode<MonitorCheckSpec>(R"({"name":"a","addon":"b","interval_seconds":60,"with":[]})"),
        json::DecodeError);

    MonitorCheckSpec full = bare;
    full.enabled = false;
    full.env = std::map<std::string, std::string>{};
    full.with = {{"url", JSONValue("https://example.com")}, {"retries", JSONValue(2)}};
    full.alertIf = AlertIf{3};
    EXPECT_EQ(
        json::encode(full),
        R"({"name":"a","addon":"b","with":{"retries":2,"url":"https://example.com"},"interval_seconds":60,)"
        R"("enabled":false,"alert_if":{"down_from":3},"env":{}})");
    EXPECT_EQ(json::decode<MonitorCheckSpec>(json::encode(full)), full);
}

TEST(CheckRecords, StoredCheckIsFlatWithDefaultedServiceFields) {
    const auto info = json::decode<MonitorCheckInfo>(R"({"name":"api","addon":"http","interval_seconds":30})");
    EXPECT_EQ(info.createdAt, 0);
    const std::string written = json::encode(info);
    EXPECT_NE(written.find(R"("created_at":0)"), std::string::npos);
    EXPECT_EQ(written.find("env_keys"), std::string::npos);
    EXPECT_EQ(written.find("spec"), std::string::npos);
    EXPECT_EQ(json::decode<MonitorCheckInfo>(written), info);

    // The definition is never nested.
    EXPECT_THROW(
        json::decode<MonitorCheckInfo>(R"({"spec":{"name":"api","addon":"http","interval_seconds":30}})"),
        json::DecodeError);

    const auto paused = json::decode<MonitorCheckInfo>(
        R"({"name":"api","addon":"http","interval_seconds":30,"paused":{"reason":"local_only","message":"m","resumes_at":5}})");
    EXPECT_TRUE(paused.paused->isLocalOnly());
    EXPECT_FALSE((CheckPause{"Local_Only", "m", 5}).isLocalOnly());
}

TEST(CheckRecords, StatusDefaultsAndStrictKeys) {
    const auto status = json::decode<MonitorCheckStatus>(
        R"({"check":"api","sources":[{"source":"eu","status":"up","last_run":null,"stale":null},)"
        R"({"source":"us","status":"down","last_result":{}}]})");
    EXPECT_EQ(status.sources.at(0), (MonitorCheckSourceState{"eu", "up", 0, false, std::nullopt}));
    EXPECT_EQ(status.sources.at(1).lastResult, MonitorCheckLastResult{});
    EXPECT_THROW(
        json::decode<MonitorCheckStatus>(R"({"check":"api","sources":[{"source":"eu","status":"up","stale":1}]})"),
        json::DecodeError);
}

}  // namespace
}  // namespace brisalune
