#include <brisalune/client/core/server_compatibility.hpp>

#include <gtest/gtest.h>

#include <stop_token>
#include <string>
#include <thread>

namespace brisalune {
namespace {

using http::Headers;

platform::Url url(std::string_view text) { return platform::Url::parse(text).value(); }
Headers versionHeader(std::string version) { return Headers{{"X-Brisalune-Version", std::move(version)}}; }

const ServerMinimums strict{.supported = {1, 5, 0}, .required = {1, 2, 0}};
const platform::Url server = url("https://a.example/base");

TEST(ReleaseVersion, ParsesTwoOrThreeDigitPiecesOnly) {
    EXPECT_EQ(ReleaseVersion::parse("2.3"), (ReleaseVersion{2, 3, 0}));
    EXPECT_EQ(ReleaseVersion::parse("007.1.02"), (ReleaseVersion{7, 1, 2}));
    EXPECT_EQ(ReleaseVersion::parse("9223372036854775807.0"), (ReleaseVersion{9223372036854775807, 0, 0}));
    for (const auto* text :
         {"",
          "1",
          "1.2.3.4",
          "1..2",
          "1.2.",
          "v1.2",
          "1.2-beta",
          "+1.2",
          " 1.2",
          "1.\xd9\xa2",
          "9223372036854775808.0"}) {
        EXPECT_EQ(ReleaseVersion::parse(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(ServerCompatibility, KeysServersBySchemeHostAndExplicitPortOnly) {
    EXPECT_EQ(ServerCompatibility::serverKey(url("https://user:pw@a.example/x?q=1#f")), "https://a.example:");
    EXPECT_EQ(ServerCompatibility::serverKey(url("https://a.example:443/")), "https://a.example:443");
    EXPECT_EQ(ServerCompatibility::serverKey(url("http://[::1]:8080")), "http://[::1]:8080");
    EXPECT_EQ(ServerCompatibility::serverKey(url("/v1/me")), "");
    for (const auto* path : {"/v10", "/v1x", "v1/me", "", "/V1/me"}) EXPECT_FALSE(isV1Path(path)) << path;
}

TEST(ServerCompatibility, JudgesAnyAnsweredVersionAgainstMinimums) {
    ServerCompatibility record(strict);
    EXPECT_EQ(record.record(200, versionHeader("1.1.9"), "/v1/me", server), ServerStanding::outdated("1.1.9"));
    EXPECT_EQ(record.current().standing(url("https://a.example/other")), ServerStanding::outdated("1.1.9"));
    for (const auto* old : {"1.2.0", "1.4.9"})
        EXPECT_EQ(record.record(500, versionHeader(old), "/healthz", server), ServerStanding::unsupported(old));
    for (const auto* fine : {"1.5.0", "1.0.0-beta"})  // one that does not parse is no reason to complain
        EXPECT_EQ(record.record(404, versionHeader(fine), "/v1/me", server), ServerStanding::supported()) << fine;
    EXPECT_TRUE(record.current().servers.empty());
    EXPECT_EQ(record.current().serverVersion, "1.0.0-beta");
}

TEST(ServerCompatibility, MissingVersionCountsOnlyOnSuccessfulV1Answers) {
    ServerCompatibility record(strict);
    EXPECT_EQ(record.record(404, {}, "/v1/me", server), ServerStanding::supported());
    EXPECT_EQ(record.record(200, {}, "/healthz", server), ServerStanding::supported());
    EXPECT_EQ(record.record(200, versionHeader(""), "/v1/me", server), ServerStanding::unsupported());
    EXPECT_EQ(record.record(404, {}, "/v1/me", server), ServerStanding::unsupported());  // the verdict stands
    EXPECT_EQ(record.current().serverVersion, std::nullopt);  // an empty header names no version
    EXPECT_EQ(ServerCompatibility().record(200, {}, "/v1/me", server), ServerStanding::supported());  // no minimums
}

TEST(ServerCompatibility, SupportedMinimumFollowsV1AnswersAndLowestKey) {
    ServerCompatibility record;
    record.record(200, Headers{{"x-brisalune-client-unsupported", "1.6.0"}}, "/v1/me", server);
    EXPECT_EQ(record.current().supportedMinimum, "1.6.0");
    record.record(500, {}, "/v1/me", server);
    EXPECT_EQ(record.current().supportedMinimum, std::nullopt);
    record.record(200, Headers{{"X-Brisalune-Client-Unsupported", "2.0.0"}}, "/v1", url("https://b.example"));
    record.record(200, Headers{{"X-Brisalune-Client-Unsupported", "1.0.0"}}, "/v1", url("https://a.example:1"));
    EXPECT_EQ(record.current().supportedMinimum, "1.0.0");
    record.record(200, Headers{{"X-Brisalune-Client-Unsupported", ""}}, "/v1", url("https://a.example:1"));
    EXPECT_EQ(record.current().supportedMinimum, "2.0.0");
}

TEST(ServerCompatibility, OutdatedMarkLastsUntilANon426V1AnswerOfThatServerOrAClear) {
    ServerCompatibility record;
    const ClientOutdated refusal{"macos", "2.0.0"};
    record.recordClientOutdated(refusal, server);
    record.record(426, {}, "/v1/me", server);
    record.record(200, {}, "/healthz", server);
    record.record(403, {}, "/v1/me", url("https://other.example"));
    EXPECT_EQ(record.current().outdated, refusal);
    record.record(403, {}, "/v1/me", server);
    EXPECT_EQ(record.current().outdated, std::nullopt);
    record.recordClientOutdated({"ios", std::nullopt}, url("https://b.example"));
    record.recordClientOutdated(refusal, server);
    record.clearClientOutdated();
    EXPECT_EQ(record.current().outdated, std::nullopt);
}

TEST(ServerCompatibility, PublishesOnlyAnswersThatChangeTheState) {
    ServerCompatibility record(strict);
    const auto updates = record.updates();
    ASSERT_TRUE(updates->tryNext());
    const auto published = [&](int status, const Headers& headers, std::string_view path, const platform::Url& at) {
        const auto standing = record.record(status, headers, path, at);
        EXPECT_EQ(record.current().standing(at), standing) << path;
        return updates->tryNext().has_value();
    };
    const Headers minimum{{"X-Brisalune-Client-Unsupported", "1.6.0"}};
    EXPECT_TRUE(published(200, versionHeader("1.4.0"), "/v1/me", server));
    EXPECT_FALSE(published(200, versionHeader("1.4.0"), "/v1/me", server));
    EXPECT_FALSE(published(500, {}, "/healthz", url("https://b.example")));
    EXPECT_TRUE(published(200, versionHeader("1.5.0"), "/v1/me", server));
    EXPECT_TRUE(published(200, minimum, "/v1/me", server));
    EXPECT_FALSE(published(200, minimum, "/v1/me", server));
    EXPECT_TRUE(published(200, {}, "/v1/me", server));  // no minimum now, and no version: unsupported
    EXPECT_EQ(record.current().supportedMinimum, std::nullopt);
    record.recordClientOutdated({"macos", "2.0.0"}, server);
    EXPECT_TRUE(updates->tryNext());
    EXPECT_FALSE(published(426, {}, "/v1/me", server));
    EXPECT_TRUE(published(404, {}, "/v1/me", server));
    EXPECT_EQ(record.current().outdated, std::nullopt);
}

TEST(CompatibilityUpdates, HoldOnlyTheNewestStateAndNextWaitsForOneOrAStop) {
    ServerCompatibility record;
    record.record(200, versionHeader("1.0.0"), "/v1", server);
    const auto updates = record.updates();
    EXPECT_EQ(updates->tryNext()->serverVersion, "1.0.0");
    record.record(200, versionHeader("1.0.0"), "/v1", server);  // nothing changes
    EXPECT_EQ(updates->tryNext(), std::nullopt);
    for (int i = 1; i <= 5; ++i) record.record(200, versionHeader("1.0." + std::to_string(i)), "/v1", server);
    EXPECT_EQ(updates->tryNext()->serverVersion, "1.0.5");
    std::optional<CompatibilityState> received;
    std::jthread reader([&](std::stop_token stop) { received = updates->next(stop); });
    record.record(200, versionHeader("3.1"), "/v1", server);
    reader.join();
    EXPECT_EQ(received->serverVersion, "3.1");
    std::jthread([&](std::stop_token stop) { received = updates->next(stop); });  // asks to stop as it goes
    EXPECT_EQ(received, std::nullopt);
}

TEST(CompatibilityUpdates, WakeUpRunsOutsideTheLockAndEndsWithTheSubscription) {
    ServerCompatibility record;
    auto updates = record.updates();
    int wakes = 0;
    updates->onValue([&] {
        ++wakes;
        updates->tryNext();
        record.current();  // would deadlock under the record's lock
    });
    EXPECT_EQ(wakes, 1);  // the current state was already waiting
    record.record(200, versionHeader("1.2"), "/v1", server);
    EXPECT_EQ(wakes, 2);
    updates.reset();
    record.record(200, versionHeader("1.3"), "/v1", server);
    EXPECT_EQ(wakes, 2);
}

}  // namespace
}  // namespace brisalune
