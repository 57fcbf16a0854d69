#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/json.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

constexpr const char* authBody =
    R"({"account":{"id":"a1","email":"ann@example.com","display_name":"Ann"},"token":"new-session"})";

class BuiltinEndpoints : public testkit::EndpointTest {};

TEST_F(BuiltinEndpoints, HealthProbeTravelsWithoutCredential) {
    server.on("GET", "/healthz", Reply::json(R"({"ok":true,"version":"1.4.0","role":"self-host","tenants":3})"));
    EXPECT_EQ(healthz(client()).role, std::string(DaemonRole::selfHost));
    EXPECT_EQ(last().rawTarget, "/healthz");
    EXPECT_FALSE(last().header("Authorization"));

    server.on("GET", "/healthz", Reply::json(R"({"error":"warming up"})", 503));
    EXPECT_EQ(errorOf([&] { healthz(client()); }).status(), 503);
}

TEST_F(BuiltinEndpoints, SignupSendsCredentialsAsGivenAndTellsAMailedTokenFromASignIn) {
    auto signUp = [&](Reply reply) {
        server.on("POST", "/v1/signup", std::move(reply));
        return signup(client(), " Ann@Example.com ", "pa ss");
    };
    auto signedIn = signUp(Reply::json(authBody));
    ASSERT_TRUE(signedIn.get<SignupOutcome::Authenticated>());
    EXPECT_EQ(signedIn.get<SignupOutcome::Authenticated>()->response.token, "new-session");
    EXPECT_EQ(last().body, R"({"email":" Ann@Example.com ","password":"pa ss"})");
    EXPECT_FALSE(last().header("Authorization"));

    EXPECT_TRUE(signUp(Reply{202, {}, "not json at all"}).get<SignupOutcome::VerificationSent>());
    EXPECT_TRUE(signUp(Reply::json(R"({"verification":""})", 201)).get<SignupOutcome::VerificationSent>());
    EXPECT_TRUE(errorOf([&] { signUp(Reply::json("{}")); }).is(Case::invalidResponse));
}

TEST_F(BuiltinEndpoints, LoginReturnsTheRecordForAny2xxWithoutKeepingIt) {
    server.on("POST", "/v1/login", Reply::json(authBody, 202));
    EXPECT_EQ(login(client(), "ann@example.com", "secret").token, "new-session");
    EXPECT_EQ(last().body, R"({"email":"ann@example.com","password":"secret"})");
    EXPECT_FALSE(last().header("Authorization"));
    EXPECT_EQ(client().sessionToken(), "session-token");
}

TEST_F(BuiltinEndpoints, LoginTurnsA403AboutVerificationIntoEmailNotVerified) {
    auto loginError = [&](Reply reply) {
        server.on("POST", "/v1/login", std::move(reply));
        return errorOf([&] { login(client(), "ann@example.com", "secret"); });
    };
    EXPECT_TRUE(loginError(Reply::json(R"({"error":"Unverified account"})", 403)).is(Case::emailNotVerified));
    EXPECT_TRUE(loginError(Reply::json(R"({"error":"EMAIL NOT VERIFIED"})", 403)).is(Case::emailNotVerified));
    EXPECT_EQ(loginError(Reply::json(R"({"error":"forbidden"})", 403)).message(), "forbidden");
    EXPECT_TRUE(loginError(Reply{403, {}, "verified"}).is(Case::forbidden));  // not an error body
    EXPECT_TRUE(loginError(Reply::json(R"({"error":"not verified"})", 401)).is(Case::unauthorized));
}

// A 2xx without a usable token is no sign-in, whatever else it says; a finished sign-up neither.
TEST_F(BuiltinEndpoints, ASignInAnswerWithoutATokenIsInvalid) {
    for (const char* body :
         {R"({"account":{"id":"acc1","email":"ann@example.com"},"token":""})",
          R"({"account":{"id":"acc1","email":"ann@example.com"}})"}) {
        server.on("POST", "/v1/login", Reply::json(body));
        EXPECT_TRUE(errorOf([&] { login(client(), "ann@example.com", "secret"); }).is(Case::invalidResponse)) << body;
        server.on("POST", "/v1/signup", Reply::json(body, 201));
        EXPECT_TRUE(errorOf([&] { signup(client(), "ann@example.com", "secret"); }).is(Case::invalidResponse)) << body;
        server.on("POST", "/v1/signup/verify", Reply::json(body));
        EXPECT_TRUE(errorOf([&] { verifySignup(client(), "t0k", "secret"); }).is(Case::invalidResponse)) << body;
    }
}

TEST_F(BuiltinEndpoints, PasswordChangeNeedsTheSessionAndAChangedAnswer) {
    server.on("POST", "/v1/account/password", Reply::json(R"({"changed":false})"));
    changePassword(client(), "ann@example.com", "old secret", "new secret");
    EXPECT_EQ(
        last().body, R"({"email":"ann@example.com","current_password":"old secret","new_password":"new secret"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("POST", "/v1/account/password", Reply{204, {}, ""});  // "changed" is required
    EXPECT_TRUE(errorOf([&] { changePassword(client(), "a", "b", "c"); }).is(Case::invalidResponse));
}

TEST_F(BuiltinEndpoints, APasswordTheEncoderRefusesIsNeitherSentNorQuoted) {
    server.on("POST", "/v1/login", Reply::json(authBody));
    try {
        login(client(), "ann@example.com", "hunter2\xff");
        FAIL() << "an invalid UTF-8 password was sent";
    } catch (const json::EncodeError& error) {
        EXPECT_EQ(std::string(error.what()).find("hunter2"), std::string::npos);
    }
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace brisalune
