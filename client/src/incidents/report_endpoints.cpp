#include <brisalune/client/incidents/report_endpoints.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/incident_calls.hpp>

#include <string>

namespace brisalune {

namespace {

struct ReportsResponse {
    std::vector<Report> reports;
};

struct RotatedResponse {
    std::string publicUuid;
};

std::string reportsPath(std::string_view project) { return "/v1/projects/" + escapedPathSegment(project) + "/reports"; }

std::string reportPath(std::string_view project, std::string_view reportId, std::string_view rest = {}) {
    std::string path = reportsPath(project) + "/" + escapedPathSegment(reportId);
    path += rest;
    return path;
}

std::string entryPath(std::string_view project, std::string_view reportId, std::string_view entryId) {
    return reportPath(project, reportId, "/entries/" + escapedPathSegment(entryId));
}

}  // namespace

// clang-format off
template <>
inline constexpr auto json::keys<ReportsResponse> = json::object(json::field("reports", &ReportsResponse::reports));
template <>
inline constexpr auto json::keys<RotatedResponse> = json::object(
    json::field("public_uuid", &RotatedResponse::publicUuid));
// clang-format on

std::vector<Report> listReports(const BrisaluneClient& client, std::string_view project) {
    return fetch<ReportsResponse>(client, dataCall("GET", reportsPath(project))).reports;
}

ReportDetail reportDetail(const BrisaluneClient& client, std::string_view project, std::string_view reportId) {
    return fetch<ReportDetail>(client, dataCall("GET", reportPath(project, reportId)));
}

CreatedReport createReport(const BrisaluneClient& client, std::string_view project, const ReportBody& body) {
    return fetch<CreatedReport>(client, dataCall("POST", reportsPath(project)), body);
}

void updateReport(
    const BrisaluneClient& client, std::string_view project, std::string_view reportId, const ReportUpdateBody& body) {
    fetch<UpdatedResponse>(client, dataCall("PUT", reportPath(project, reportId)), body);
}

void deleteReport(const BrisaluneClient& client, std::string_view project, std::string_view reportId) {
    fetch<DeletedResponse>(client, dataCall("DELETE", reportPath(project, reportId)));
}

std::string rotateReportUUID(const BrisaluneClient& client, std::string_view project, std::string_view reportId) {
    return fetch<RotatedResponse>(client, dataCall("POST", reportPath(project, reportId, "/rotate-uuid"))).publicUuid;
}

std::string addReportEntry(
    const BrisaluneClient& client, std::string_view project, std::string_view reportId, const EntryBody& body) {
    return fetch<CreatedIdResponse>(client, dataCall("POST", reportPath(project, reportId, "/entries")), body).id;
}

void updateReportEntry(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view reportId,
    std::string_view entryId,
    const EntryBody& body) {
    fetch<UpdatedResponse>(client, dataCall("PUT", entryPath(project, reportId, entryId)), body);
}

void deleteReportEntry(
    const BrisaluneClient& client, std::string_view project, std::string_view reportId, std::string_view entryId) {
    fetch<DeletedResponse>(client, dataCall("DELETE", entryPath(project, reportId, entryId)));
}

std::optional<platform::Url> publicReportURL(const BrisaluneClient& client, std::string_view publicUuid) {
    return client.url("/public/reports/" + escapedPathSegment(publicUuid));
}

}  // namespace brisalune
