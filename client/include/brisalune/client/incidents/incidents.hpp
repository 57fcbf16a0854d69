#pragma once

// Incidents: a page of the list, the full detail of one incident with its alerts, timeline and
// issue links, the bodies that open, change, resolve and publish one or write a timeline entry,
// the team's incident settings, and the two conflicts the service answers with 409. An incident
// itself is a `Report` (reports.hpp) whose incident fields are set.

#include <brisalune/client/core/json_value.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/incidents/incident_alert.hpp>
#include <brisalune/client/incidents/links.hpp>
#include <brisalune/client/incidents/reports.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brisalune {

// One event of an incident's timeline. `kind` and `actorType` are the service's words.
struct IncidentTimelineItem {
    std::int64_t time = 0;  // "at" on the wire
    std::string kind;
    std::optional<std::string> actor;
    std::optional<std::string> actorType;
    std::optional<std::string> entryId;
    std::optional<std::string> alertId;
    JSONValue::Object data;

    friend bool operator==(const IncidentTimelineItem&, const IncidentTimelineItem&) = default;
};

// One page of the incident list; `next` is the cursor of the following page.
struct IncidentPage {
    std::vector<Report> incidents;
    std::optional<std::string> next;
};

// One incident with everything hanging from it. `shareLink` keeps absent apart from false.
struct IncidentDetail {
    Report incident;
    std::vector<ReportEntry> entries;
    std::vector<IncidentAlert> alerts;
    std::vector<IncidentTimelineItem> timeline;
    std::optional<bool> shareLink;
    std::vector<IncidentLink> links;
    std::vector<IncidentIssueJob> issueJobs;
};

// The body that opens an incident; absent optionals are left out.
struct IncidentDraft {
    std::string title{};
    std::optional<std::string> description{};
    std::optional<std::string> severity{};
    std::optional<std::string> lead{};
    std::optional<std::string> project{};
    std::optional<std::string> alertId{};
};

// A partial change of an incident: absent leaves a field unchanged; nothing can be cleared.
struct IncidentEdit {
    std::optional<std::string> title{};
    std::optional<std::string> description{};
    std::optional<std::string> severity{};
    std::optional<std::string> lead{};
    std::optional<std::string> cause{};
    std::optional<std::string> fix{};
    std::optional<bool> groupAlerts{};
};

// A new or rewritten timeline entry.
struct IncidentEntryDraft {
    std::string title{};
    std::string contentMd{};
    std::string entryType{};
    std::optional<std::string> stage{};
    std::optional<std::string> visibility{};
    std::optional<std::int64_t> occurredAt{};
};

struct IncidentSettings {
    std::int64_t groupWindowMinutes = 0;

    friend bool operator==(const IncidentSettings&, const IncidentSettings&) = default;
};

// The body of a resolve request; an empty one resolves without saying more.
struct IncidentResolution {
    std::optional<std::string> reason{};
    std::optional<std::string> cause{};
    std::optional<std::string> fix{};
    std::optional<std::int64_t> duplicateOf{};  // an incident number; 0 is sent like any other
};

// The body of a publish request: exactly the keys set are sent (an empty list included).
struct IncidentPublication {
    std::optional<bool> statusPage{};
    std::optional<std::vector<ReportComponent>> components{};
    std::optional<bool> shareLink{};
    std::optional<std::string> viewPassword{};
};

// The answer of rotating an incident's public link.
struct RotatedIncidentLink {
    std::string publicUuid;
    bool shareLink = false;
};

// Opening an incident was refused: the alert is already held by another incident. No user text
// of its own.
struct IncidentOpenedAlertElsewhere : std::exception {
    std::int64_t number = 0;
    std::string alertId;
    std::int64_t incident = 0;  // the number of the incident holding the alert

    IncidentOpenedAlertElsewhere(std::int64_t answeredNumber, std::string alert, std::int64_t holder)
        : number(answeredNumber), alertId(std::move(alert)), incident(holder) {}
    const char* what() const noexcept override { return "IncidentOpenedAlertElsewhere"; }
};

// Attaching alerts was refused: one of them is held by another incident. No user text of its own.
struct IncidentAlertConflict : std::exception {
    std::string alertId;
    std::int64_t incident = 0;  // the number of the incident holding the alert

    IncidentAlertConflict(std::string alert, std::int64_t holder) : alertId(std::move(alert)), incident(holder) {}
    const char* what() const noexcept override { return "IncidentAlertConflict"; }
};

// ---- key tables ---------------------------------------------------------------------------

// clang-format off
template <>
inline constexpr auto json::keys<IncidentTimelineItem> = json::object(
    json::field("at", &IncidentTimelineItem::time),
    json::field("kind", &IncidentTimelineItem::kind),
    json::field("actor", &IncidentTimelineItem::actor),
    json::field("actor_type", &IncidentTimelineItem::actorType),
    json::field("entry_id", &IncidentTimelineItem::entryId),
    json::field("alert_id", &IncidentTimelineItem::alertId),
    json::field("data", &IncidentTimelineItem::data, json::orEmpty));

template <>
inline constexpr auto json::keys<IncidentPage> = json::object(
    json::field("incidents", &IncidentPage::incidents, json::orEmpty),
    json::field("next", &IncidentPage::next));

template <>
inline constexpr auto json::keys<IncidentDetail> = json::object(
    json::field("incident", &IncidentDetail::incident),
    json::field("entries", &IncidentDetail::entries, json::orEmpty),
    json::field("alerts", &IncidentDetail::alerts, json::orEmpty),
    json::field("timeline", &IncidentDetail::timeline, json::orEmpty),
    json::field("share_link", &IncidentDetail::shareLink),
    json::field("links", &IncidentDetail::links, json::orEmpty),
    json::field("issue_jobs", &IncidentDetail::issueJobs, json::orEmpty));

template <>
inline constexpr auto json::keys<IncidentDraft> = json::object(
    json::field("title", &IncidentDraft::title),
    json::field("description", &IncidentDraft::description),
    json::field("severity", &IncidentDraft::severity),
    json::field("lead", &IncidentDraft::lead),
    json::field("project", &IncidentDraft::project),
    json::field("alert_id", &IncidentDraft::alertId));

template <>
inline constexpr auto json::keys<IncidentEdit> = json::object(
    json::field("title", &IncidentEdit::title),
    json::field("description", &IncidentEdit::description),
    json::field("severity", &IncidentEdit::severity),
    json::field("lead", &IncidentEdit::lead),
    json::field("cause", &IncidentEdit::cause),
    json::field("fix", &IncidentEdit::fix),
    json::field("group_alerts", &IncidentEdit::groupAlerts));

template <>
inline constexpr auto json::keys<IncidentEntryDraft> = json::object(
    json::field("title", &IncidentEntryDraft::title),
    json::field("content_md", &IncidentEntryDraft::contentMd),
    json::field("entry_type", &IncidentEntryDraft::entryType),
    json::field("stage", &IncidentEntryDraft::stage),
    json::field("visibility", &IncidentEntryDraft::visibility),
    json::field("occurred_at", &IncidentEntryDraft::occurredAt));

template <>
inline constexpr auto json::keys<IncidentSettings> =
    json::object(json::field("group_window_minutes", &IncidentSettings::groupWindowMinutes));

template <>
inline constexpr auto json::keys<IncidentResolution> = json::object(
    json::field("reason", &IncidentResolution::reason),
    json::field("cause", &IncidentResolution::cause),
    json::field("fix", &IncidentResolution::fix),
    json::field("duplicate_of", &IncidentResolution::duplicateOf));

template <>
inline constexpr auto json::keys<IncidentPublication> = json::object(
    json::field("status_page", &IncidentPublication::statusPage),
    json::field("components", &IncidentPublication::components),
    json::field("share_link", &IncidentPublication::shareLink),
    json::field("view_password", &IncidentPublication::viewPassword));

template <>
inline constexpr auto json::keys<RotatedIncidentLink> = json::object(
    json::field("public_uuid", &RotatedIncidentLink::publicUuid),
    json::field("share_link", &RotatedIncidentLink::shareLink));

// clang-format on

}  // namespace brisalune

template <>
struct std::hash<brisalune::IncidentTimelineItem> : brisalune::RecordHash<brisalune::IncidentTimelineItem> {};
template <>
struct std::hash<brisalune::IncidentSettings> : brisalune::RecordHash<brisalune::IncidentSettings> {};
