#pragma once

// Status reports: a project's public statement about its service, with the status-page
// components it concerns and the entries written over its life. The same `Report` record
// carries the team's incidents, whose own fields stand in the report's object.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/incidents/incident_alert.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// A status-page component named by a report or a publication, with the impact given to it.
struct ReportComponent {
    std::string componentId;
    std::string impact;

    friend bool operator==(const ReportComponent&, const ReportComponent&) = default;
};

// The incident side of a report; every field is absent on a plain status report. `groupAlerts`
// and `projects` keep absent apart from false and the empty list.
struct IncidentFields {
    std::optional<std::int64_t> number;
    std::optional<std::string> reference;
    std::optional<std::string> state;
    std::optional<std::string> closeReason;
    std::optional<std::int64_t> duplicateOf;
    std::optional<std::string> severity;
    std::optional<std::string> cause;
    std::optional<std::string> fix;
    std::optional<std::string> draftCause;
    std::optional<std::string> draftFix;
    std::optional<std::string> lead;
    bool openedByAI = false;
    std::optional<std::int64_t> startedAt;
    std::optional<std::int64_t> resolvedAt;
    std::optional<bool> groupAlerts;
    std::optional<std::int64_t> groupingUntil;
    std::optional<std::vector<std::string>> projects;

    friend bool operator==(const IncidentFields&, const IncidentFields&) = default;
};

// A status report or an incident. Identified by `id`. Read only.
struct Report {
    std::string id;
    std::string project;
    std::optional<std::string> alertId;
    std::string title;
    std::optional<std::string> description;
    std::string publicUuid;
    bool passwordProtected = false;
    std::optional<std::string> createdBy;
    std::int64_t createdAt = 0;
    std::int64_t updatedAt = 0;
    bool statusPage = false;
    std::vector<ReportComponent> components;
    std::optional<std::string> stage;
    IncidentFields incident;  // its keys stand in the report's own object

    friend bool operator==(const Report&, const Report&) = default;
};

// One entry (update) of a report's or an incident's timeline. Identified by `id`.
struct ReportEntry {
    std::string id;
    std::string reportId;
    std::optional<std::string> title;
    std::string contentMd;
    std::string contentHtml;
    std::string entryType;
    std::optional<std::string> createdBy;
    std::int64_t createdAt = 0;
    std::optional<std::string> stage;
    std::optional<std::string> visibility;
    std::optional<std::string> actorType;
    std::optional<std::int64_t> occurredAt;

    // Exactly "internal", case and all.
    bool isInternal() const noexcept { return visibility && *visibility == "internal"; }

    friend bool operator==(const ReportEntry&, const ReportEntry&) = default;
};

// One report with its entries and the alerts attached to it. Read only.
struct ReportDetail {
    Report report;
    std::vector<ReportEntry> entries;
    std::vector<IncidentAlert> alerts;
};

// The body of a new report; every key is sent, empty texts included.
struct ReportBody {
    std::string title{};
    std::string description{};
    std::string alertId{};
    std::string viewPassword{};
    bool statusPage = false;
    std::vector<ReportComponent> components{};
};

// The body of a report change; an absent optional is left out (and so left unchanged).
struct ReportUpdateBody {
    std::string title{};
    std::string description{};
    std::optional<std::string> viewPassword{};
    std::optional<bool> statusPage{};
    std::optional<std::vector<ReportComponent>> components{};
};

// The body of a new or changed report entry.
struct EntryBody {
    std::string title{};
    std::string contentMd{};
    std::string entryType{};
    std::optional<std::string> stage{};
};

// The answer of a report creation.
struct CreatedReport {
    std::string id;
    std::string publicUuid;

    friend bool operator==(const CreatedReport&, const CreatedReport&) = default;
};

// ---- key tables ---------------------------------------------------------------------------

// clang-format off
template <>
inline constexpr auto json::keys<ReportComponent> = json::object(
    json::field("component_id", &ReportComponent::componentId),
    json::field("impact", &ReportComponent::impact));

template <>
inline constexpr auto json::keys<IncidentFields> = json::object(
    json::field("number", &IncidentFields::number),
    json::field("reference", &IncidentFields::reference),
    json::field("state", &IncidentFields::state),
    json::field("close_reason", &IncidentFields::closeReason),
    json::field("duplicate_of", &IncidentFields::duplicateOf),
    json::field("severity", &IncidentFields::severity),
    json::field("cause", &IncidentFields::cause),
    json::field("fix", &IncidentFields::fix),
    json::field("draft_cause", &IncidentFields::draftCause),
    json::field("draft_fix", &IncidentFields::draftFix),
    json::field("lead", &IncidentFields::lead),
    json::field("opened_by_ai", &IncidentFields::openedByAI, json::orEmpty),
    json::field("started_at", &IncidentFields::startedAt),
    json::field("resolved_at", &IncidentFields::resolvedAt),
    json::field("group_alerts", &IncidentFields::groupAlerts),
    json::field("grouping_until", &IncidentFields::groupingUntil),
    json::field("projects", &IncidentFields::projects));

template <>
inline constexpr auto json::keys<Report> = json::object(
    json::field("id", &Report::id),
    json::field("project", &Report::project),
    json::field("alert_id", &Report::alertId),
    json::field("title", &Report::title),
    json::field("description", &Report::description),
    json::field("public_uuid", &Report::publicUuid),
    json::field("password_protected", &Report::passwordProtected),
    json::field("created_by", &Report::createdBy),
    json::field("created_at", &Report::createdAt),
    json::field("updated_at", &Report::updatedAt),
    json::field("status_page", &Report::statusPage, json::orEmpty),
    json::field("components", &Report::components, json::orEmpty),
    json::field("stage", &Report::stage),
    json::byRules(&Report::incident));

// The incident fields are read from, and written into, the report's own object.
template <>
struct json::Rules<Report> {
    static void afterRead(const json::Node& object, Report& out);
    static void afterWrite(json::Writer& w, const Report& report) { json::writeMembers(w, report.incident); }
};

template <>
inline constexpr auto json::keys<ReportEntry> = json::object(
    json::field("id", &ReportEntry::id),
    json::field("report_id", &ReportEntry::reportId),
    json::field("title", &ReportEntry::title),
    json::field("content_md", &ReportEntry::contentMd),
    json::field("content_html", &ReportEntry::contentHtml),
    json::field("entry_type", &ReportEntry::entryType),
    json::field("created_by", &ReportEntry::createdBy),
    json::field("created_at", &ReportEntry::createdAt),
    json::field("stage", &ReportEntry::stage),
    json::field("visibility", &ReportEntry::visibility),
    json::field("actor_type", &ReportEntry::actorType),
    json::field("occurred_at", &ReportEntry::occurredAt));

template <>
inline constexpr auto json::keys<ReportDetail> = json::object(
    json::field("report", &ReportDetail::report),
    json::field("entries", &ReportDetail::entries),
    json::field("alerts", &ReportDetail::alerts, json::orEmpty));

template <>
inline constexpr auto json::keys<ReportBody> = json::object(
    json::field("title", &ReportBody::title),
    json::field("description", &ReportBody::description),
    json::field("alert_id", &ReportBody::alertId),
    json::field("view_password", &ReportBody::viewPassword),
    json::field("status_page", &ReportBody::statusPage),
    json::field("components", &ReportBody::components));

template <>
inline constexpr auto json::keys<ReportUpdateBody> = json::object(
    json::field("title", &ReportUpdateBody::title),
    json::field("description", &ReportUpdateBody::description),
    json::field("view_password", &ReportUpdateBody::viewPassword),
    json::field("status_page", &ReportUpdateBody::statusPage),
    json::field("components", &ReportUpdateBody::components));

template <>
inline constexpr auto json::keys<EntryBody> = json::object(
    json::field("title", &EntryBody::title),
    json::field("content_md", &EntryBody::contentMd),
    json::field("entry_type", &EntryBody::entryType),
    json::field("stage", &EntryBody::stage));

template <>
inline constexpr auto json::keys<CreatedReport> = json::object(
    json::field("id", &CreatedReport::id),
    json::field("public_uuid", &CreatedReport::publicUuid));

// clang-format on

}  // namespace brisalune

template <>
struct std::hash<brisalune::ReportComponent> : brisalune::RecordHash<brisalune::ReportComponent> {};
template <>
struct std::hash<brisalune::IncidentFields> : brisalune::RecordHash<brisalune::IncidentFields> {};
template <>
struct std::hash<brisalune::Report> : brisalune::RecordHash<brisalune::Report> {};
template <>
struct std::hash<brisalune::ReportEntry> : brisalune::RecordHash<brisalune::ReportEntry> {};
