#include <brisalune/client/boxes/endpoints.hpp>
#include <brisalune/client/boxes/pairing.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

TEST(PairingRecords, OptionalFieldsAreNoneWhenMissingOrNull) {
    auto pairing = json::decode<TenantPairing>(R"({"paired":true,"box_account_id":"ba","relay_key_id":null})");
    EXPECT_TRUE(pairing.paired);
    EXPECT_FALSE(pairing.relayKeyId || pairing.relaySecret);

    auto link = json::decode<Pairing>(R"({"account_id":"a","box_account_id":"b","created_at":"2026-03-01T10:00:00Z"})");
    EXPECT_TRUE(link.isActive());
    EXPECT_EQ(json::decode<Pairing>(json::encode(link)), link);
    auto revoked = json::decode<Pairing>(
        R"({"account_id":"a","box_account_id":"b","created_at":"2026-03-01T10:00:00Z","revoked_at":"2026-03-02T00:00:00Z"})");
    EXPECT_FALSE(revoked.isActive());
    EXPECT_NE(revoked, link);

    EXPECT_THROW(json::decode<Pairing>(R"({"account_id":"a","box_account_id":"b"})"), json::DecodeError);
    EXPECT_THROW(
        json::decode<Pairing>(R"({"account_id":"a","box_account_id":"b","created_at":"2026-03-01T10:00:00.5Z"})"),
        json::DecodeError);
}

TEST(RelayStatusRecord, DisabledOnlyWhenConfiguredAndSwitchedOff) {
    auto bare = json::decode<RelayStatus>(R"({"configured":true})");
    EXPECT_FALSE(bare.enabled || bare.projects);
    EXPECT_FALSE(bare.isDisabled());
    EXPECT_TRUE(bare.driftedProjects().empty());
    EXPECT_FALSE(json::decode<RelayStatus>(R"({"configured":false,"enabled":false})").isDisabled());
    EXPECT_TRUE(json::decode<RelayStatus>(R"({"configured":true,"enabled":false})").isDisabled());
    EXPECT_FALSE(json::decode<RelayStatus>(R"({"configured":true,"enabled":true})").isDisabled());
    EXPECT_THROW(
        json::decode<RelayStatus>(R"({"configured":true,"projects":[{"project":"p","relay_url":"r","enabled":true}]})"),
        json::DecodeError);
}

TEST(RelayStatusRecord, DriftedProjectsAreOffOrPointElsewhere) {
    const std::string projects = R"("projects":[
        {"project":"a","relay_url":"r","enabled":true,"consecutive_failures":0},
        {"project":"b","relay_url":"s","enabled":true,"consecutive_failures":0},
        {"project":"c","relay_url":"r","enabled":false,"last_error":"refused","consecutive_failures":4}])";
    auto status = json::decode<RelayStatus>(R"({"configured":true,"relay_url":"r",)" + projects + "}");
    auto drifted = status.driftedProjects();
    ASSERT_EQ(drifted.size(), 2u);
    EXPECT_EQ(drifted[0].project, "b");
    EXPECT_EQ(drifted[1], (*status.projects)[2]);
    EXPECT_EQ(json::decode<RelayStatus>(R"({"configured":true,)" + projects + "}").driftedProjects(), *status.projects);
}

class PairingEndpoints : public testkit::EndpointTest {};

TEST_F(PairingEndpoints, RedeemSendsNoCredentialAndOnlyTheGivenFields) {
    server.on(
        "POST",
        "/v1/pair",
        Reply::json(R"({"api_key":"k","api_key_id":"kid","tenant_id":"t","box_account_id":"b","receipt":"r"})"));
    auto pairing = redeemPairingCode(client(), "pc", std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(pairing.receipt, "r");
    EXPECT_EQ(last().body, R"({"code":"pc"})");
    EXPECT_FALSE(last().header("Authorization"));
}

TEST_F(PairingEndpoints, TenantRoutesTravelOnTheSession) {
    server.on("POST", "/v1/tenants/%2E%2E/pair", Reply::json(R"({"paired":true,"box_account_id":"b"})"));
    pairTenant(client(), "..", "b", "r");
    EXPECT_EQ(last().rawTarget, "/v1/tenants/%2E%2E/pair");
    EXPECT_EQ(last().body, R"({"box_account_id":"b","receipt":"r"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("DELETE", "/v1/tenants/t%2F1/pairings/%2E%2E", Reply{204, {}, ""});
    deletePairing(client(), "t/1", "..");
    EXPECT_EQ(last().method, "DELETE");
    EXPECT_EQ(last().body, "");

    server.on("POST", "/v1/tenants/t1/relay-key", Reply::json(R"({"relay_key_id":"rk","relay_secret":"s"})"));
    EXPECT_EQ(rotateRelayKey(client(), "t1"), (RotatedRelayKey{"rk", "s"}));
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("GET", "/v1/tenants/t1/pairings", Reply::json(R"({"pairings":[]})"));
    EXPECT_TRUE(listPairings(client(), "t1").empty());
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");
    server.on("GET", "/v1/tenants/t1/pairings", Reply::json(R"({})"));
    EXPECT_TRUE(errorOf([&] { listPairings(client(), "t1"); }).is(Case::invalidResponse));
}

TEST_F(PairingEndpoints, RelayAndCodesOnTheDataPlane) {
    server.on("PUT", "/v1/relay", Reply::json(R"({"relay_url":"https://hosted/v1/relay/rk"})"));
    setRelay(client(), *platform::Url::parse("https://hosted/v1/relay/rk"), "s", std::nullopt, std::nullopt);
    EXPECT_EQ(last().body, R"({"relay_url":"https://hosted/v1/relay/rk","relay_secret":"s"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    server.on("PUT", "/v1/relay", Reply::json(R"({"ok":true})"));
    EXPECT_TRUE(errorOf([&] {
                    setRelay(client(), *platform::Url::parse("https://h/"), "s", std::nullopt, std::nullopt);
                }).is(Case::invalidResponse));

    server.on("POST", "/v1/pair/codes", Reply::json(R"({"code":"c","role":"member","expires_at":17})"));
    EXPECT_EQ(mintPairingCode(client(), "member", std::nullopt, std::nullopt, std::nullopt).expiresAt, 17);
    EXPECT_EQ(last().body, R"({"role":"member"})");
    mintPairingCode(client(), "member", "a@b", 0, "pw");
    EXPECT_EQ(last().body, R"({"role":"member","email":"a@b","ttl_seconds":0,"current_password":"pw"})");

    server.on("GET", "/v1/relay", Reply::json(R"({"configured":false})"));
    EXPECT_FALSE(relayStatus(client()).configured);
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
}

}  // namespace
}  // namespace brisalune
