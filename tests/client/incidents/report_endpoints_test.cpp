#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/report_endpoints.hpp>

#include <support/endpoint_fixture.hpp>
#include <support/incident_samples.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class ReportEndpoints : public testkit::EndpointTest {};

TEST_F(ReportEndpoints, CreatingSendsEveryKeyAndChangingOnlyTheKeysGiven) {
    server.on("POST", "/v1/projects/web/reports", Reply::json(R"({"id":"r1","public_uuid":"u1"})", 201));
    auto created =
        createReport(client(), "web", {.title = "Down", .description = "", .alertId = "", .viewPassword = ""});
    EXPECT_EQ(created, (CreatedReport{"r1", "u1"}));
    EXPECT_EQ(
        last().body,
        R"({"title":"Down","description":"","alert_id":"","view_password":"","status_page":false,"components":[]})");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    server.on("PUT", "/v1/projects/web/reports/r1", Reply::json(R"({"updated":false})"));
    updateReport(client(), "web", "r1", {.title = "T", .description = "D"});
    EXPECT_EQ(last().body, R"({"title":"T","description":"D"})");

    server.on("POST", "/v1/projects/web/reports/r1/entries", Reply::json(R"({"id":"e1"})"));
    EXPECT_EQ(addReportEntry(client(), "web", "r1", {.title = "t", .contentMd = "m", .entryType = "update"}), "e1");
    server.on("PUT", "/v1/projects/web/reports/r1/entries/e1", Reply::json(R"({"updated":true})"));
    updateReportEntry(
        client(), "web", "r1", "e1", {.title = "t", .contentMd = "m", .entryType = "update", .stage = ""});
    EXPECT_EQ(last().body, R"({"title":"t","content_md":"m","entry_type":"update","stage":""})");
}

TEST_F(ReportEndpoints, AnswersMustCarryTheirKeyEvenWhenItIsNotExamined) {
    server.on("DELETE", "/v1/projects/web/reports/r1", Reply::json(R"({"deleted":false})"));
    deleteReport(client(), "web", "r1");
    server.on("DELETE", "/v1/projects/web/reports/r1", Reply{204, {}, ""});
    EXPECT_TRUE(errorOf([&] { deleteReport(client(), "web", "r1"); }).is(Case::invalidResponse));
    server.on("GET", "/v1/projects/web/reports", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { listReports(client(), "web"); }).is(Case::invalidResponse));
    server.on("POST", "/v1/projects/web/reports/r1/rotate-uuid", Reply::json(R"({"uuid":"u2"})"));
    EXPECT_TRUE(errorOf([&] { rotateReportUUID(client(), "web", "r1"); }).is(Case::invalidResponse));

    server.on("GET", "/v1/projects/web/reports/r1", Reply::json(R"({"error":"no such report"})", 404));
    EXPECT_TRUE(errorOf([&] { reportDetail(client(), "web", "r1"); }).is(Case::notFound));
}

TEST_F(ReportEndpoints, IdsStayOnePathSegmentAndThePublicLinkHangsFromTheBaseWithOneSlash) {
    server.on("DELETE", "/v1/projects/%2E%2E/reports/a%2Fb/entries/%3F", Reply::json(R"({"deleted":true})"));
    deleteReportEntry(client(), "..", "a/b", "?");
    EXPECT_EQ(last().query, "");

    for (const char* base : {"https://api.example.com", "https://api.example.com///"}) {
        BrisaluneClient hosted(*platform::Url::parse(base));
        EXPECT_EQ(publicReportURL(hosted, ".")->text(), "https://api.example.com/public/reports/%2E") << base;
    }
}

}  // namespace
}  // namespace brisalune
