#pragma once

// An incident's links to issues in a repository's issue tracker, the service's background work
// on those issues, and the team's configured trackers. Read only.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

namespace json {
class Node;
}

// One outward link of an incident. Identified by `id`.
struct IncidentLink {
    std::string id;
    std::optional<std::string> trackerId;
    std::string provider;
    std::string repo;
    std::string kind{"issue"};
    std::int64_t number = 0;
    std::optional<platform::Url> url;  // none too when the text is no address
    std::optional<std::string> actorType;
    std::int64_t createdAt = 0;

    // A link to an issue outside every configured tracker.
    bool isUntracked() const noexcept { return !trackerId.has_value(); }

    friend bool operator==(const IncidentLink&, const IncidentLink&) = default;
};

// One unit of the service's work on an incident's issue in one tracker.
struct IncidentIssueJob {
    std::string id;
    std::string trackerId;
    std::string action;
    std::string status;
    std::int64_t attempts = 0;
    std::optional<std::string> lastError;

    friend bool operator==(const IncidentIssueJob&, const IncidentIssueJob&) = default;
};

// An issue tracker configured for the team.
struct IssueTracker {
    std::string id;
    std::string provider;
    std::string repo;
    std::optional<std::string> lastError;

    friend bool operator==(const IssueTracker&, const IssueTracker&) = default;
};

// clang-format off
template <>
inline constexpr auto json::keys<IncidentLink> = json::object(
    json::field("id", &IncidentLink::id),
    json::field("tracker_id", &IncidentLink::trackerId),
    json::field("provider", &IncidentLink::provider),
    json::field("repo", &IncidentLink::repo),
    json::field("kind", &IncidentLink::kind, json::orDefault(std::string_view("issue"))),
    json::field("number", &IncidentLink::number),
    json::byRules(&IncidentLink::url),
    json::field("actor_type", &IncidentLink::actorType),
    json::field("created_at", &IncidentLink::createdAt, json::orEmpty));

// "url" must be text when present; text that is no address reads as none.
template <>
struct json::Rules<IncidentLink> {
    static void afterRead(const json::Node& object, IncidentLink& out);
};

template <>
inline constexpr auto json::keys<IncidentIssueJob> = json::object(
    json::field("id", &IncidentIssueJob::id),
    json::field("tracker_id", &IncidentIssueJob::trackerId),
    json::field("action", &IncidentIssueJob::action),
    json::field("status", &IncidentIssueJob::status),
    json::field("attempts", &IncidentIssueJob::attempts),
    json::field("last_error", &IncidentIssueJob::lastError));

template <>
inline constexpr auto json::keys<IssueTracker> = json::object(
    json::field("id", &IssueTracker::id),
    json::field("provider", &IssueTracker::provider),
    json::field("repo", &IssueTracker::repo),
    json::field("last_error", &IssueTracker::lastError));

// clang-format on

}  // namespace brisalune

template <>
struct std::hash<brisalune::IncidentLink> : brisalune::RecordHash<brisalune::IncidentLink> {};
template <>
struct std::hash<brisalune::IncidentIssueJob> : brisalune::RecordHash<brisalune::IncidentIssueJob> {};
template <>
struct std::hash<brisalune::IssueTracker> : brisalune::RecordHash<brisalune::IssueTracker> {};
