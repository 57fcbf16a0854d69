#include <brisalune/client/core/errors.hpp>
#include <brisalune/platform/text.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;

TEST(ErrorMapping, MessagesAndDefaults) {
    EXPECT_EQ(errorForStatus(401, R"({"error":"token expired"})").errorDescription(), "Not signed in: token expired");
    EXPECT_EQ(
        errorForStatus(401, "<html>nope</html>").errorDescription(),
        "Not signed in: the server gave no reason. Sign in again.");
    EXPECT_EQ(
        errorForStatus(404, R"({"error":" - : ( ) ; ,"})").errorDescription(),
        "Not found: the server gave no details.");
    EXPECT_EQ(
        errorForStatus(429, "").errorDescription(),
        "Rate limited: too many requests. Wait a few minutes, then try again.");

    auto server = errorForStatus(502, "Bad gateway");
    EXPECT_EQ(server.kind(), Case::server);
    EXPECT_EQ(server.status(), 502);
    EXPECT_EQ(server.message(), "");
    EXPECT_EQ(server.errorDescription(), "Server error 502: the server gave no details.");

    // The message is used exactly as sent, and a wrong type empties it.
    EXPECT_EQ(errorForStatus(404, R"({"error":"  spaced  "})").message(), "  spaced  ");
    EXPECT_EQ(errorForStatus(404, R"({"error":5})").message(), "");
    EXPECT_EQ(errorForStatus(404, R"({"error":"trunc)").message(), "");
}

TEST(ErrorMapping, ForbiddenNamesTheNeededRole) {
    EXPECT_EQ(
        errorForStatus(403, R"({"error":"admin role required"})").errorDescription(),
        "Not allowed: your role can't do this; it needs admin or above.");
    EXPECT_EQ(errorForStatus(403, R"({"error":"nope"})").errorDescription(), "Not allowed: nope");
    EXPECT_EQ(neededRole(BrisaluneError::forbidden("member role or above required")), "member");
    EXPECT_EQ(neededRole(BrisaluneError::forbidden("admin  role   required")), "admin");
    EXPECT_EQ(neededRole(BrisaluneError::forbidden("admin role is required")), std::nullopt);
    EXPECT_EQ(neededRole(BrisaluneError::forbidden("admin role required.")), std::nullopt);
    EXPECT_EQ(neededRole(BrisaluneError::forbidden("admin Role required")), std::nullopt);
    EXPECT_EQ(neededRole(BrisaluneError::unauthorized("admin role required")), std::nullopt);
}

TEST(ErrorMapping, ConflictAndReferences) {
    auto referenced = errorForStatus(409, R"({"error":"in use","rules":["r1","r2"]})");
    EXPECT_EQ(referenced.kind(), Case::referenced);
    EXPECT_EQ(referenced.errorDescription(), "Still referenced by rules: r1, r2");
    EXPECT_EQ(
        errorForStatus(409, R"({"error":"in use","rules":[]})").errorDescription(),
        "Still referenced by rules, but the server did not name them.");
    auto conflict = errorForStatus(409, R"({"error":"in use"})");
    EXPECT_EQ(conflict.kind(), Case::conflict);
    EXPECT_EQ(conflict.message(), "in use");
    auto noError = errorForStatus(409, R"({"rules":["r1"]})");
    EXPECT_EQ(noError.kind(), Case::conflict);
    EXPECT_EQ(noError.errorDescription(), "Conflict: something changed on the server. Reload, then try again.");
}

TEST(ErrorMapping, ValidationBodies) {
    auto fields = errorForStatus(
        422,
        R"({"fields":[{"field":"name","message":"too long"},{"rule":"required"},{"field":"x","message":"","rule":""}]})");
    ASSERT_EQ(fields.kind(), Case::validation);
    EXPECT_EQ(fields.fieldErrors(), (std::vector<FieldError>{{"name", "too long"}, {"", "required"}, {"x", ""}}));
    EXPECT_EQ(fields.errorDescription(), "Invalid: name (too long), required, x ()");

    auto map = errorForStatus(400, R"({"fields":[],"errors":{"b":"bad","a":{"min":3}}})");
    ASSERT_EQ(map.fieldErrors().size(), 2u);
    EXPECT_EQ(map.fieldErrors()[0].field, "a");
    EXPECT_NE(map.fieldErrors()[0].reason.find("\"min\""), std::string::npos);
    EXPECT_EQ(map.fieldErrors()[1], (FieldError{"b", "bad"}));

    EXPECT_EQ(
        errorForStatus(400, R"({"errors":["one",2]})").fieldErrors(),
        (std::vector<FieldError>{{"", "one"}, {"", "2"}}));
    auto emptyArray = errorForStatus(400, R"({"error":"bad input","errors":[]})");
    EXPECT_TRUE(emptyArray.fieldErrors().empty());
    EXPECT_EQ(
        emptyArray.errorDescription(),
        "Invalid: the server did not say what was wrong. Check what you entered, then try again.");
    EXPECT_EQ(
        errorForStatus(400, R"({"error":"bad input"})").fieldErrors(), (std::vector<FieldError>{{"", "bad input"}}));
    EXPECT_EQ(
        errorForStatus(400, R"({"error":"  ","errors":null})").fieldErrors(), (std::vector<FieldError>{{"", "  "}}));
    // One element that does not decode fails the envelope; the message stands in.
    EXPECT_EQ(
        errorForStatus(400, R"({"error":"m","fields":[{"field":1}]})").fieldErrors(),
        (std::vector<FieldError>{{"", "m"}}));
    EXPECT_TRUE(errorForStatus(422, "").fieldErrors().empty());
}

TEST(ErrorMapping, ClientOutdatedComesFirst) {
    auto outdated = errorForStatus(426, "");
    ASSERT_EQ(outdated.kind(), Case::clientOutdated);
    EXPECT_EQ(outdated.outdated()->client, "macos");
    EXPECT_EQ(outdated.outdated()->minVersion, std::nullopt);
    EXPECT_EQ(outdated.errorDescription(), "This version of Brisalune is no longer supported. Update to keep going.");

    auto named = errorForStatus(403, R"({"code":"client_outdated","client":"ios","min_version":"2.0.0"})");
    ASSERT_EQ(named.kind(), Case::clientOutdated);
    EXPECT_EQ(named.outdated(), (ClientOutdated{"ios", "2.0.0"}));

    EXPECT_EQ(
        errorForStatus(400, R"({"code":"client_outdated","min_version":""})").outdated(),
        (ClientOutdated{"macos", std::nullopt}));
    EXPECT_EQ(errorForStatus(426, R"({"code":5})").outdated(), (ClientOutdated{"macos", std::nullopt}));
    EXPECT_EQ(errorForStatus(403, R"({"code":"Client_Outdated"})").kind(), Case::forbidden);
}

TEST(ErrorTexts, FixedAndComposedCases) {
    EXPECT_EQ(BrisaluneError::quota("monitors", "").errorDescription(), "A plan limit stops this: monitors.");
    EXPECT_EQ(BrisaluneError::quota("", "").errorDescription(), "A plan limit stops this.");
    EXPECT_EQ(BrisaluneError::quota("x", "Upgrade first").errorDescription(), "Upgrade first");
    EXPECT_EQ(BrisaluneError::refused({"a", "b"}).errorDescription(), "Refused: a; b");
    EXPECT_EQ(BrisaluneError::refused({}).errorDescription(), "Refused: the server gave no details.");
    EXPECT_EQ(
        BrisaluneError::transport("").errorDescription(), "Connection failed: check your network, then try again.");
    EXPECT_EQ(
        BrisaluneError::invalidResponse("keyNotFound: id").errorDescription(), "Unexpected response: keyNotFound: id");
    EXPECT_EQ(
        BrisaluneError::serverOutdated(*platform::Url::parse("https://box.example"), "1.0").errorDescription(),
        "Ask whoever runs this server to update Brisalune. Your other workspaces still work.");
    EXPECT_STREQ(BrisaluneError::invalidResetToken().what(), "Invalid or expired reset token.");
    EXPECT_STREQ(BrisaluneError::invalidVerificationToken().what(), "Invalid or expired verification token.");
    EXPECT_STREQ(
        BrisaluneError::emailNotVerified().what(),
        "Email not verified. Paste the token mailed to that address to finish signing up.");
}

TEST(ErrorTexts, ALongStoryIsCutToValidText) {
    // "x" first, so that a cut at an even byte count would split an "é".
    std::string story = "x";
    for (int i = 0; i < 20000; ++i) story += "é";
    const auto expectShort = [](const std::string& text) {
        EXPECT_LE(text.size(), 1024U);
        EXPECT_GT(text.size(), 900U);
        EXPECT_TRUE(text.ends_with("…"));
        EXPECT_TRUE(platform::isValidUtf8(text));
    };
    auto forbidden = errorForStatus(403, R"({"error":")" + story + R"("})");
    EXPECT_EQ(forbidden.kind(), Case::forbidden);
    expectShort(forbidden.message());
    expectShort(forbidden.errorDescription());
    EXPECT_TRUE(forbidden.errorDescription().starts_with("Not allowed: xéé"));

    std::string fields = R"({"fields":[)";
    for (int i = 0; i < 500; ++i) fields += std::string(i == 0 ? "" : ",") + R"({"field":"f","message":"too long"})";
    auto validation = errorForStatus(422, fields + "]}");
    EXPECT_EQ(validation.fieldErrors().size(), 500U);
    expectShort(validation.errorDescription());

    // A transport's text is kept whole when short, and bounded when not.
    EXPECT_EQ(BrisaluneError::transport("The request timed out.").message(), "The request timed out.");
    expectShort(BrisaluneError::transport(story).errorDescription());
}

TEST(ErrorQuestions, EmailNotVerifiedAndWrongPassword) {
    EXPECT_TRUE(BrisaluneError::forbidden("Email Not Verified yet").isEmailNotVerified());
    EXPECT_FALSE(BrisaluneError::unauthorized("email not verified").isEmailNotVerified());
    EXPECT_TRUE(BrisaluneError::validation({{"x", "a"}, {"current_password", "wrong"}}).isWrongCurrentPassword());
    EXPECT_FALSE(BrisaluneError::validation({{"Current_password", "wrong"}}).isWrongCurrentPassword());
}

TEST(ErrorQuestions, BlankText) {
    EXPECT_FALSE(isMeaningful(""));
    EXPECT_FALSE(isMeaningful(" \t\n,;:-()\u2028\u00a0"));
    EXPECT_TRUE(isMeaningful("-a-"));
    EXPECT_TRUE(isMeaningful("é"));
}

}  // namespace
}  // namespace brisalune
