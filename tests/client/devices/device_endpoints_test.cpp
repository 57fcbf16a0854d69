#include <brisalune/client/devices/endpoints.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <chrono>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class DeviceEndpoints : public testkit::EndpointTest {};

TEST_F(DeviceEndpoints, RegisterWritesEveryKeyAndNeedsTheAnswer) {
    server.on("POST", "/v1/account/devices", Reply::json(R"({"registered":true})"));
    EXPECT_TRUE(registerDevice(client(), "ab01", "macos", false));
    EXPECT_EQ(last().body, R"({"token":"ab01","platform":"macos","critical_alerts":false})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("POST", "/v1/account/devices", Reply::json(R"({"registered":false})"));
    EXPECT_FALSE(registerDevice(client(), "ab01", "macos", true));
    server.on("POST", "/v1/account/devices", Reply::json(R"({"ok":true})"));
    EXPECT_TRUE(errorOf([&] { registerDevice(client(), "ab01", "macos", true); }).is(Case::invalidResponse));
    server.on("POST", "/v1/account/devices", Reply::json(R"({"error":"device limit reached"})", 422));
    EXPECT_TRUE(errorOf([&] { registerDevice(client(), "ab01", "macos", true); }).is(Case::validation));
}

TEST_F(DeviceEndpoints, RosterNeedsEveryKeyOfEveryDevice) {
    server.on(
        "GET",
        "/v1/account/devices",
        Reply::json(R"({"devices":[{"token":"AB01","platform":"macos","created_at":"2024-05-01T10:00:00Z",)"
                    R"("last_seen_at":"2024-05-02T10:00:00Z"}]})"));
    const auto roster = devices(client());
    ASSERT_EQ(roster.size(), 1u);
    EXPECT_EQ(roster[0].token, "AB01");
    EXPECT_EQ(roster[0].lastSeenAt - roster[0].createdAt, std::chrono::hours(24));
    EXPECT_EQ(last().body, "");

    server.on(
        "GET",
        "/v1/account/devices",
        Reply::json(R"({"devices":[{"token":"AB01","platform":"macos","created_at":"2024-05-01T10:00:00Z"}]})"));
    EXPECT_TRUE(errorOf([&] { devices(client()); }).is(Case::invalidResponse));
}

TEST_F(DeviceEndpoints, DeleteEscapesTheTokenAndMapsNotFound) {
    server.on("DELETE", "/v1/account/devices/%2E%2E", Reply{204, {}, ""});
    deleteDevice(client(), "..");
    EXPECT_EQ(last().rawTarget, "/v1/account/devices/%2E%2E");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("DELETE", "/v1/account/devices/ab01", Reply::json(R"({"error":"no such device"})", 404));
    EXPECT_TRUE(errorOf([&] { deleteDevice(client(), "ab01"); }).is(Case::notFound));
}

}  // namespace
}  // namespace brisalune
