#include <brisalune/client/logs/endpoints.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

constexpr const char* finding = R"({"id":42,"project":"web","source":"nginx","pattern":"aws_key","state":"open",)"
                                R"("first_seen":1,"last_seen":2,"count":3})";
constexpr const char* block = R"({"id":"b1","project":"web","length":40,"created_at":5})";

using SecretEndpoints = testkit::EndpointTest;

TEST_F(SecretEndpoints, FindingsAreListedPerProjectOrTeamWideAndDismissedWithoutABody) {
    server.on(
        "GET", "/v1/projects/a%2Fb/secret-findings", Reply::json(std::string(R"({"findings":[)") + finding + "]}"));
    const auto findings = listSecretFindings(client(), "a/b");
    ASSERT_EQ(findings.size(), 1U);
    EXPECT_EQ(findings[0].latestLineId, std::nullopt);
    EXPECT_EQ(json::encode(findings[0]), finding);  // an absent line id stays out
    EXPECT_TRUE(findings[0].isOpen());

    server.on("GET", "/v1/secret-findings", Reply::json(R"({"findings":[]})"));
    EXPECT_TRUE(listAllSecretFindings(client()).empty());
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    for (const char* broken : {"{}", R"({"findings":[{"id":1,"project":"web"}]})"}) {
        server.on("GET", "/v1/secret-findings", Reply::json(broken));
        EXPECT_EQ(errorOf([&] { listAllSecretFindings(client()); }).kind(), Case::invalidResponse) << broken;
    }

    server.on("POST", "/v1/projects/%2E/secret-findings/-5/dismiss", Reply{204, {}, ""});
    dismissSecretFinding(client(), ".", -5);
    EXPECT_EQ(last().body, "");
    EXPECT_EQ(last().header("Content-Type"), std::nullopt);
    server.on("POST", "/v1/projects/web/secret-findings/0/dismiss", Reply::json(R"({"error":"gone"})", 404));
    EXPECT_EQ(errorOf([&] { dismissSecretFinding(client(), "web", 0); }).kind(), Case::notFound);
}

TEST(SecretFindingRecord, MatchesOnlyAWholeSignedDecimalOfItsId) {
    const auto withId = [](std::int64_t id) {
        return SecretFinding{id, "web", "nginx", "aws_key", "Open", 1, 2, 3, 9};
    };
    const SecretFinding f42 = withId(42);
    for (const char* yes : {"42", "+42", "0042"}) EXPECT_TRUE(f42.matches(yes)) << yes;
    for (const char* no :
         {"", "+", "-", " 42", "42 ", "4 2", "42.0", "0x2A", "43", "+-42", "--42", "9223372036854775808"}) {
        EXPECT_FALSE(f42.matches(no)) << no;
    }
    EXPECT_TRUE(withId(-7).matches("-7"));
    EXPECT_TRUE(withId(std::numeric_limits<std::int64_t>::min()).matches("-9223372036854775808"));
    EXPECT_FALSE(f42.isOpen());  // "Open" is not "open"
}

TEST_F(SecretEndpoints, BlockingSendsTheValueInTheBodyOnlyAndSourceWhenGiven) {
    const std::string result = std::string(R"({"block":)") + block + R"(,"lines_rewritten":0,"findings_resolved":2})";
    server.on("POST", "/v1/projects/web/secret-blocks", Reply::json(result, 201));
    const SecretBlockResult made = createSecretBlock(client(), "web", " s3cret ");
    EXPECT_EQ(last().body, R"({"value":" s3cret "})");
    EXPECT_EQ(last().query, "");
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    EXPECT_EQ(made.findingsResolved, 2);
    EXPECT_EQ(made.block.source, "");
    createSecretBlock(client(), "web", "v", "");
    EXPECT_EQ(last().body, R"({"value":"v","source":""})");

    server.on(
        "POST",
        "/v1/projects/web/secret-blocks",
        Reply::json(std::string(R"({"block":)") + block + R"(,"lines_rewritten":1})"));
    EXPECT_EQ(errorOf([&] { createSecretBlock(client(), "web", "v"); }).kind(), Case::invalidResponse);
    server.on(
        "POST",
        "/v1/projects/web/secret-blocks",
        Reply::json(R"({"fields":[{"field":"value","message":"empty"}]})", 422));
    EXPECT_EQ(errorOf([&] { createSecretBlock(client(), "web", ""); }).kind(), Case::validation);
}

TEST_F(SecretEndpoints, BlocksListLenientlyOnlyForSourceAndAuthorAndDeleteByEscapedId) {
    server.on(
        "GET",
        "/v1/projects/web/secret-blocks",
        Reply::json(std::string(R"({"blocks":[)") + block + R"(,{"id":"b2","project":"web","source":null,
                  "length":1,"created_at":6,"created_by":null}]})"));
    const auto blocks = listSecretBlocks(client(), "web");
    ASSERT_EQ(blocks.size(), 2U);
    EXPECT_EQ(blocks[1].createdBy, "");
    EXPECT_EQ(
        json::encode(blocks[0]),
        R"({"id":"b1","project":"web","source":"","length":40,"created_at":5,"created_by":""})");
    for (const char* broken : {"{}", R"({"blocks":[{"id":"b","project":"p","created_at":1}]})"}) {
        server.on("GET", "/v1/projects/web/secret-blocks", Reply::json(broken));
        EXPECT_EQ(errorOf([&] { listSecretBlocks(client(), "web"); }).kind(), Case::invalidResponse) << broken;
    }

    server.on("DELETE", "/v1/projects/web/secret-blocks/%2E%2E", Reply::json("not json"));
    deleteSecretBlock(client(), "web", "..");
    server.on("DELETE", "/v1/projects/web/secret-blocks/x%2Fy", Reply{204, {}, ""});
    deleteSecretBlock(client(), "web", "x/y");
    EXPECT_EQ(last().path, "/v1/projects/web/secret-blocks/x%2Fy");
    EXPECT_EQ(errorOf([&] { deleteSecretBlock(client("s", std::nullopt), "web", "b"); }).kind(), Case::unauthorized);
}

}  // namespace
}  // namespace brisalune
