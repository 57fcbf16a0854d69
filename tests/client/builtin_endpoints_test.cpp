#include <brisalune/client/accounts.hpp>
#include <brisalune/client/client.hpp>
#include <brisalune/platform/json.hpp>

#include "support/endpoint_fixture.hpp"

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

constexpr const char* authBody =
    R"({"account":{"id":"a1","email":"ann@example.com","display_name":"Ann"},"token":"new-session"})";

class BuiltinEndpoints : public testing::EndpointTest {};

TEST_F(BuiltinEndpoints, HealthProbeTravelsWithoutCredentialAndMapsFailures) {
    server.on("GET", "/healthz", Reply::json(R"({"ok":true,"version":"1.4.0","role":"self-host","tenants":3})"));
    auto health = client().healthz();
    EXPECT_TRUE(health.healthy);
    EXPECT_EQ(health.version, "1.4.0");
    EXPECT_EQ(health.role, std::string(DaemonRole::selfHost));
    EXPECT_EQ(health.tenants, 3);
    EXPECT_EQ(last().method, "GET");
    EXPECT_EQ(last().rawTarget, "/healthz");
    EXPECT_FALSE(last().header("Authorization"));

    server.on("GET", "/healthz", Reply::json(R"({"error":"warming up"})", 503));
    auto error = errorOf([&] { client().healthz(); });
    EXPECT_TRUE(error.is(Case::server));
    EXPECT_EQ(error.status(), 503);
}

TEST_F(BuiltinEndpoints, SignupSendsCredentialsAsGivenWithoutCredential) {
    server.on("POST", "/v1/signup", Reply::json(authBody));
    auto outcome = client().signup(" Ann@Example.com ", "pa ss");
    ASSERT_TRUE(outcome.is(SignupOutcome::Kind::authenticated));
    EXPECT_EQ(outcome.authResponse()->token, "new-session");
    EXPECT_EQ(outcome.authResponse()->account.shownName(), "Ann");
    EXPECT_EQ(last().body, R"({"email":" Ann@Example.com ","password":"pa ss"})");
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    EXPECT_FALSE(last().header("Authorization"));
}

TEST_F(BuiltinEndpoints, SignupTellsAMailedTokenFromASignIn) {
    auto signup = [&](Reply reply) {
        server.on("POST", "/v1/signup", std::move(reply));
        return client().signup("ann@example.com", "secret");
    };
    EXPECT_TRUE(signup(Reply{202, {}, "not json at all"}).is(SignupOutcome::Kind::verificationSent));
    EXPECT_TRUE(signup(Reply::json(R"({"verification":""})", 201)).is(SignupOutcome::Kind::verificationSent));
    EXPECT_TRUE(signup(Reply::json(R"({"verification":"mailed"})")).is(SignupOutcome::Kind::verificationSent));
    auto withNull = signup(Reply::json(
        R"({"verification":null,"account":{"id":"a1","email":"ann@example.com"},"token":"t"})"));
    ASSERT_TRUE(withNull.is(SignupOutcome::Kind::authenticated));
    EXPECT_EQ(withNull.authResponse()->account.shownName(), "ann@example.com");

    EXPECT_TRUE(errorOf([&] { signup(Reply::json("{}")); }).is(Case::invalidResponse));
    EXPECT_TRUE(errorOf([&] { signup(Reply::json(R"({"error":"taken"})", 409)); }).is(Case::conflict));
}

TEST_F(BuiltinEndpoints, LoginReturnsTheRecordForAny2xx) {
    server.on("POST", "/v1/login", Reply::json(authBody, 202));
    auto auth = client().login("ann@example.com", "secret");
    EXPECT_EQ(auth.token, "new-session");
    EXPECT_EQ(auth.account.id, "a1");
    EXPECT_EQ(last().rawTarget, "/v1/login");
    EXPECT_EQ(last().body, R"({"email":"ann@example.com","password":"secret"})");
    EXPECT_FALSE(last().header("Authorization"));
    EXPECT_EQ(client().sessionToken(), "session-token");  // the new token is not kept
}

TEST_F(BuiltinEndpoints, LoginTurnsA403AboutVerificationIntoEmailNotVerified) {
    auto loginError = [&](Reply reply) {
        server.on("POST", "/v1/login", std::move(reply));
        return errorOf([&] { client().login("ann@example.com", "secret"); });
    };
    EXPECT_TRUE(loginError(Reply::json(R"({"error":"email not verified"})", 403)).is(Case::emailNotVerified));
    EXPECT_TRUE(loginError(Reply::json(R"({"error":"Unverified account"})", 403)).is(Case::emailNotVerified));
    EXPECT_TRUE(loginError(Reply::json(R"({"error":"EMAIL NOT VERIFIED"})", 403)).is(Case::emailNotVerified));

    auto forbidden = loginError(Reply::json(R"({"error":"forbidden"})", 403));
    EXPECT_TRUE(forbidden.is(Case::forbidden));
    EXPECT_EQ(forbidden.message(), "forbidden");
    EXPECT_TRUE(loginError(Reply{403, {}, "verified"}).is(Case::forbidden));  // not an error body
    EXPECT_TRUE(loginError(Reply::json(R"({"error":"not verified"})", 401)).is(Case::unauthorized));
}

TEST_F(BuiltinEndpoints, PasswordChangeNeedsTheSessionAndAChangedAnswer) {
    server.on("POST", "/v1/account/password", Reply::json(R"({"changed":false})"));
    client().changePassword("ann@example.com", "old secret", "new secret");
    EXPECT_EQ(last().body, R"({"email":"ann@example.com","current_password":"old secret","new_password":"new secret"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("POST", "/v1/account/password", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { client().changePassword("a", "b", "c"); }).is(Case::invalidResponse));
    server.on("POST", "/v1/account/password", Reply{204, {}, ""});
    EXPECT_TRUE(errorOf([&] { client().changePassword("a", "b", "c"); }).is(Case::invalidResponse));

    server.on("POST", "/v1/account/password",
              Reply::json(R"({"fields":[{"field":"current_password","message":"is wrong"}]})", 422));
    auto wrong = errorOf([&] { client().changePassword("a", "b", "c"); });
    EXPECT_TRUE(wrong.isWrongCurrentPassword());

    server.clearRequests();
    auto unsigned_ = errorOf([&] { client(std::nullopt).changePassword("a", "b", "c"); });
    EXPECT_TRUE(unsigned_.is(Case::unauthorized));
    EXPECT_EQ(unsigned_.message(), "not signed in");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(BuiltinEndpoints, APasswordTheEncoderRefusesIsNeitherSentNorQuoted) {
    server.on("POST", "/v1/login", Reply::json(authBody));
    const std::string password = "hunter2\xff";
    try {
        client().login("ann@example.com", password);
        FAIL() << "an invalid UTF-8 password was sent";
    } catch (const json::EncodeError& error) {
        EXPECT_EQ(std::string(error.what()).find("hunter2"), std::string::npos);
    }
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace brisalune
