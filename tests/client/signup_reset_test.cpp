#include <brisalune/client/accounts.hpp>
#include <brisalune/client/client.hpp>
#include <brisalune/client/one_time_token.hpp>

#include "support/endpoint_fixture.hpp"

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

TEST(TokenWord, MatchesWholeWordsInAnyCase) {
    for (const char* text : {"token expired", "Tokens are single-use", "bad TOKEN.", "(token)", "reset token",
                             "a token:", "to\u212Aen expired", "token\u017F"}) {
        EXPECT_TRUE(mentionsTokenWord(text)) << text;
    }
    for (const char* text : {"tokenized", "mytoken", "bad_token", "token_", "tokens2", "2token", "t o k e n", "toke",
                             "\u00e9token", "token\u0301", ""}) {
        EXPECT_FALSE(mentionsTokenWord(text)) << text;
    }
    EXPECT_TRUE(mentionsTokenWord("mytoken or token"));
    EXPECT_TRUE(mentionsTokenWord("\xff token"));
}

class TokenRefusals : public testing::EndpointTest {
protected:
    // The error of a token-carrying call answered with status and body.
    template <class F>
    BrisaluneError refusal(const char* path, int status, const std::string& body, F&& call) {
        server.on("POST", path, Reply::json(body, status));
        return errorOf(std::forward<F>(call));
    }
};

TEST_F(TokenRefusals, OneRuleRefusesTheTokenOfEveryFlow) {
    auto verify = [&] { client().verifySignup("t0k", "secret"); };
    auto confirm = [&] { client().verifyEmailChange("t0k"); };
    auto reset = [&] { client().resetPassword("t0k", "new secret"); };
    for (int status : {400, 404, 409, 410, 422}) {
        EXPECT_TRUE(refusal("/v1/signup/verify", status, R"({"error":"Token expired"})", verify)
                        .is(Case::invalidVerificationToken))
            << status;
        EXPECT_TRUE(refusal("/v1/account/email/verify", status, R"({"error":"tokens are single-use"})", confirm)
                        .is(Case::invalidVerificationToken))
            << status;
        EXPECT_TRUE(
            refusal("/v1/account/password/reset", status, R"({"error":"reset token expired"})", reset)
                .is(Case::invalidResetToken))
            << status;
    }
    EXPECT_EQ(refusal("/v1/account/password/reset", 410, R"({"error":"token expired"})", reset).errorDescription(),
              "Invalid or expired reset token.");
    EXPECT_EQ(refusal("/v1/signup/verify", 410, R"({"error":"token expired"})", verify).errorDescription(),
              "Invalid or expired verification token.");
}

TEST_F(TokenRefusals, OtherAnswersKeepTheOrdinaryMapping) {
    auto reset = [&] { client().resetPassword("t0k", "new secret"); };
    const char* path = "/v1/account/password/reset";
    EXPECT_TRUE(refusal(path, 401, R"({"error":"token expired"})", reset).is(Case::unauthorized));
    EXPECT_TRUE(refusal(path, 403, R"({"error":"token expired"})", reset).is(Case::forbidden));
    EXPECT_TRUE(refusal(path, 429, R"({"error":"token expired"})", reset).is(Case::rateLimited));
    EXPECT_TRUE(refusal(path, 400, R"({"error":"bad_token"})", reset).is(Case::validation));
    EXPECT_TRUE(refusal(path, 400, R"({"error":"tokenized"})", reset).is(Case::validation));
    EXPECT_TRUE(refusal(path, 400, R"({"error":" ,;:-() "})", reset).is(Case::validation));
    EXPECT_TRUE(refusal(path, 400, R"({"error":""})", reset).is(Case::validation));
    EXPECT_TRUE(refusal(path, 400, R"({"message":"token expired"})", reset).is(Case::validation));
    EXPECT_TRUE(refusal(path, 404, "token expired", reset).is(Case::notFound));
    auto named = refusal(path, 422,
                         R"({"error":"token too weak","fields":[{"field":"new_password","message":"too weak"}]})", reset);
    EXPECT_TRUE(named.is(Case::validation));
    EXPECT_EQ(named.fieldErrors()[0].field, "new_password");
    EXPECT_TRUE(refusal("/v1/signup/verify", 422,
                        R"({"error":"token invalid","fields":[{"field":"token","message":"token invalid"}]})",
                        [&] { client().verifySignup("t0k", "secret"); })
                    .is(Case::validation));
}

TEST_F(TokenRefusals, NeitherTokenNorPasswordReachesTheErrorText) {
    auto error = refusal("/v1/account/password/reset", 500, R"({"error":"boom"})",
                         [&] { client().resetPassword("sekrit-token", "sekrit-password"); });
    EXPECT_EQ(std::string(error.what()).find("sekrit"), std::string::npos);
}

class SignupVerification : public testing::EndpointTest {};

TEST_F(SignupVerification, SendsTokenAndPasswordWithoutTheHeldSession) {
    server.on("POST", "/v1/signup/verify",
              Reply::json(R"({"account":{"id":"a1","email":"ann@example.com"},"token":"fresh"})"));
    auto auth = client().verifySignup("t0k", "secret");
    EXPECT_EQ(auth.token, "fresh");
    EXPECT_EQ(last().body, R"({"token":"t0k","password":"secret"})");
    EXPECT_FALSE(last().header("Authorization"));

    server.on("POST", "/v1/signup/verify", Reply::json(R"({"account":{"id":"a1","email":"x"}})"));
    EXPECT_TRUE(errorOf([&] { client().verifySignup("t", "p"); }).is(Case::invalidResponse));
}

TEST_F(SignupVerification, EmailChangeConfirmationNeedsChangedNotFalse) {
    const std::string account = R"("account":{"id":"a1","email":"new@example.com"})";
    server.on("POST", "/v1/account/email/verify", Reply::json("{" + account + "}"));
    EXPECT_EQ(client().verifyEmailChange("t0k").email, "new@example.com");
    EXPECT_EQ(last().body, R"({"token":"t0k"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("POST", "/v1/account/email/verify", Reply::json(R"({"changed":true,)" + account + "}"));
    EXPECT_NO_THROW(client().verifyEmailChange("t0k"));

    server.on("POST", "/v1/account/email/verify", Reply::json(R"({"changed":false,)" + account + "}"));
    auto refused = errorOf([&] { client().verifyEmailChange("t0k"); });
    EXPECT_TRUE(refused.is(Case::invalidResponse));
    EXPECT_EQ(refused.message(), "The email-change route answered changed: false.");

    server.on("POST", "/v1/account/email/verify", Reply::json(R"({"changed":true})"));
    EXPECT_TRUE(errorOf([&] { client().verifyEmailChange("t0k"); }).is(Case::invalidResponse));

    server.clearRequests();
    EXPECT_TRUE(errorOf([&] { client(std::nullopt).verifyEmailChange("t0k"); }).is(Case::unauthorized));
    EXPECT_TRUE(server.requests().empty());
}

class PasswordReset : public testing::EndpointTest {
protected:
    void answerReset(const std::string& body) { server.on("POST", "/v1/account/password/reset", Reply::json(body)); }
    BrisaluneError resetError() { return errorOf([&] { client().resetPassword("t0k", "new secret"); }); }
};

TEST_F(PasswordReset, RequestTravelsWithoutCredentialAndNeedsRequested) {
    server.on("POST", "/v1/account/password/reset-request", Reply::json(R"({"requested":false})"));
    client().requestPasswordReset("ann@example.com");
    EXPECT_EQ(last().body, R"({"email":"ann@example.com"})");
    EXPECT_FALSE(last().header("Authorization"));

    server.on("POST", "/v1/account/password/reset-request", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { client().requestPasswordReset("a"); }).is(Case::invalidResponse));
    server.on("POST", "/v1/account/password/reset-request", Reply::json(R"({"error":"token expired"})", 410));
    EXPECT_TRUE(errorOf([&] { client().requestPasswordReset("a"); }).is(Case::server));
}

TEST_F(PasswordReset, SucceedsOnlyWhenTheAnswerDoesNotDenyIt) {
    for (const char* body : {R"({"reset":true})", "{}", R"({"reset":null})", R"({"reset":null,"error":" - "})"}) {
        answerReset(body);
        EXPECT_NO_THROW(client().resetPassword("t0k", "new secret")) << body;
    }
    EXPECT_EQ(last().body, R"({"token":"t0k","new_password":"new secret"})");
    EXPECT_FALSE(last().header("Authorization"));

    answerReset(R"({"reset":false,"error":"nope"})");
    EXPECT_EQ(resetError().message(), "The password-reset route answered reset: false.");
    answerReset(R"({"error":"password too weak"})");
    auto weak = resetError();
    EXPECT_TRUE(weak.is(Case::invalidResponse));
    EXPECT_EQ(weak.message(), R"(the server reported success but said "password too weak", so the password was not changed.)");
    answerReset("[]");
    EXPECT_TRUE(resetError().is(Case::invalidResponse));
    answerReset(R"({"reset":"yes"})");
    EXPECT_TRUE(resetError().is(Case::invalidResponse));
}

}  // namespace
}  // namespace brisalune
