#pragma once

// A project's status reports and their entries, and a report's public link. Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/reports.hpp>
#include <brisalune/platform/url.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

std::vector<Report> listReports(const BrisaluneClient& client, std::string_view project);
ReportDetail reportDetail(const BrisaluneClient& client, std::string_view project, std::string_view reportId);
CreatedReport createReport(const BrisaluneClient& client, std::string_view project, const ReportBody& body);
void updateReport(
    const BrisaluneClient& client, std::string_view project, std::string_view reportId, const ReportUpdateBody& body);
void deleteReport(const BrisaluneClient& client, std::string_view project, std::string_view reportId);
// The report's new public identifier; links built from the old one stop working.
std::string rotateReportUUID(const BrisaluneClient& client, std::string_view project, std::string_view reportId);
// The new entry's id.
std::string addReportEntry(
    const BrisaluneClient& client, std::string_view project, std::string_view reportId, const EntryBody& body);
void updateReportEntry(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view reportId,
    std::string_view entryId,
    const EntryBody& body);
void deleteReportEntry(
    const BrisaluneClient& client, std::string_view project, std::string_view reportId, std::string_view entryId);

// The report's public page under the client's base address, for anyone holding the link (no
// credential). Sends nothing; none only for an identifier too long for any address.
std::optional<platform::Url> publicReportURL(const BrisaluneClient& client, std::string_view publicUuid);

}  // namespace brisalune
