#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/accounts/one_time_token.hpp>
#include <brisalune/client/core/client.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

TEST(TokenWord, MatchesWholeWordsInAnyCase) {
    for (const char* text :
         {"token expired",
          "Tokens are single-use",
          "(TOKEN)",
          "to\u212Aen expired",
          "token\u017F",
          "mytoken or token",
          "\xff token"}) {
        EXPECT_TRUE(mentionsTokenWord(text)) << text;
    }
    for (const char* text :
         {"tokenized", "mytoken", "bad_token", "tokens2", "t o k e n", "\u00e9token", "token\u0301", ""}) {
        EXPECT_FALSE(mentionsTokenWord(text)) << text;
    }
}

class TokenFlows : public testkit::EndpointTest {
protected:
    // The error of a token-carrying call answered with status and body.
    template <class F>
    BrisaluneError refusal(const char* path, int status, const std::string& body, F&& call) {
        server.on("POST", path, Reply::json(body, status));
        return errorOf(std::forward<F>(call));
    }
    BrisaluneError resetRefusal(int status, const std::string& body) {
        return refusal("/v1/account/password/reset", status, body, [&] {
            resetPassword(client(), "sekrit-token", "sekrit-password");
        });
    }
};

TEST_F(TokenFlows, OneRuleRefusesTheTokenOfEveryFlow) {
    for (int status : {400, 404, 409, 410, 422}) {
        EXPECT_TRUE(resetRefusal(status, R"({"error":"reset token expired"})").is(Case::invalidResetToken)) << status;
    }
    EXPECT_TRUE(refusal("/v1/signup/verify", 410, R"({"error":"Token expired"})", [&] {
                    verifySignup(client(), "t0k", "secret");
                }).is(Case::invalidVerificationToken));
    EXPECT_TRUE(refusal("/v1/account/email/verify", 409, R"({"error":"tokens are single-use"})", [&] {
                    verifyEmailChange(client(), "t0k");
                }).is(Case::invalidVerificationToken));
}

TEST_F(TokenFlows, OtherAnswersKeepTheOrdinaryMappingAndNoSecretIsQuoted) {
    EXPECT_TRUE(resetRefusal(401, R"({"error":"token expired"})").is(Case::unauthorized));
    EXPECT_TRUE(resetRefusal(400, R"({"error":"bad_token"})").is(Case::validation));
    EXPECT_TRUE(resetRefusal(400, R"({"error":" ,;:-() "})").is(Case::validation));
    EXPECT_TRUE(resetRefusal(400, R"({"message":"token expired"})").is(Case::validation));
    EXPECT_TRUE(resetRefusal(404, "token expired").is(Case::notFound));
    // A token message that names a field is about that field.
    auto named = resetRefusal(422, R"({"error":"token too weak","fields":[{"field":"new_password","message":"x"}]})");
    EXPECT_TRUE(named.is(Case::validation));
    EXPECT_EQ(named.fieldErrors()[0].field, "new_password");

    EXPECT_EQ(std::string(resetRefusal(500, R"({"error":"boom"})").what()).find("sekrit"), std::string::npos);
}

TEST_F(TokenFlows, SignupVerificationSendsTokenAndPasswordWithoutTheHeldSession) {
    server.on(
        "POST",
        "/v1/signup/verify",
        Reply::json(R"({"account":{"id":"a1","email":"ann@example.com"},"token":"fresh"})"));
    EXPECT_EQ(verifySignup(client(), "t0k", "secret").token, "fresh");
    EXPECT_EQ(last().body, R"({"token":"t0k","password":"secret"})");
    EXPECT_FALSE(last().header("Authorization"));
}

TEST_F(TokenFlows, EmailChangeConfirmationNeedsChangedNotFalse) {
    const std::string account = R"("account":{"id":"a1","email":"new@example.com"})";
    for (const std::string changed : {"", R"("changed":true,)"}) {
        server.on("POST", "/v1/account/email/verify", Reply::json("{" + changed + account + "}"));
        EXPECT_EQ(verifyEmailChange(client(), "t0k").email, "new@example.com");
    }
    EXPECT_EQ(last().body, R"({"token":"t0k"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("POST", "/v1/account/email/verify", Reply::json(R"({"changed":false,)" + account + "}"));
    EXPECT_EQ(
        errorOf([&] { verifyEmailChange(client(), "t0k"); }).message(),
        "The email-change route answered changed: false.");
    server.on("POST", "/v1/account/email/verify", Reply::json(R"({"changed":true})"));
    EXPECT_TRUE(errorOf([&] { verifyEmailChange(client(), "t0k"); }).is(Case::invalidResponse));
}

TEST_F(TokenFlows, ResetRequestTravelsWithoutCredentialAndNeedsRequested) {
    server.on("POST", "/v1/account/password/reset-request", Reply::json(R"({"requested":false})"));
    requestPasswordReset(client(), "ann@example.com");
    EXPECT_EQ(last().body, R"({"email":"ann@example.com"})");
    EXPECT_FALSE(last().header("Authorization"));

    server.on("POST", "/v1/account/password/reset-request", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { requestPasswordReset(client(), "a"); }).is(Case::invalidResponse));
}

TEST_F(TokenFlows, ResetSucceedsOnlyWhenTheAnswerDoesNotDenyIt) {
    auto answerReset = [&](const char* body) { server.on("POST", "/v1/account/password/reset", Reply::json(body)); };
    auto resetError = [&] { return errorOf([&] { resetPassword(client(), "t0k", "new secret"); }); };
    for (const char* body : {R"({"reset":true})", "{}", R"({"reset":null,"error":" - "})"}) {
        answerReset(body);
        EXPECT_NO_THROW(resetPassword(client(), "t0k", "new secret")) << body;
    }
    EXPECT_EQ(last().body, R"({"token":"t0k","new_password":"new secret"})");
    EXPECT_FALSE(last().header("Authorization"));

    answerReset(R"({"reset":false,"error":"nope"})");
    EXPECT_EQ(resetError().message(), "The password-reset route answered reset: false.");
    answerReset(R"({"error":"password too weak"})");
    EXPECT_EQ(
        resetError().message(),
        R"(the server reported success but said "password too weak", so the password was not changed.)");
}

}  // namespace
}  // namespace brisalune
