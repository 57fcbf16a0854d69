#pragma once

// Runbook actions: HTTP requests the service sends on a project's behalf when events occur or
// when a person runs one. The action as the service reports it (header names only, no values,
// no body), the body that creates or changes one, one execution, and the answer to a test run
// or a run by hand. Event names are those of DeliveryEvent, kept as plain text.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/routing/secret_text.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// One action; identified by `id`. Written with every key, the defaulted ones included.
struct RunbookAction {
    std::string id{};
    std::string project{};
    std::string name{};
    std::string method{};  // as the service stores it
    std::string url{};
    std::vector<std::string> headerKeys{};  // names of the headers sent; missing reads as empty
    bool hasBody = false;                   // missing reads as false
    std::int64_t timeoutSeconds = 0;
    std::string eventFilter{};  // the service's own text form; never parsed
    bool enabled = false;
    std::int64_t createdAt = 0;
    bool pointerReview = false;  // missing reads as false

    friend bool operator==(const RunbookAction&, const RunbookAction&) = default;
};

// The body that creates or changes an action. Absent headers or body are left out; an empty
// header map is sent as {}; "events" is always sent. Header values and the body are secrets.
struct ActionDraft {
    std::string name{};
    std::string method{};
    std::string url{};
    std::optional<std::map<std::string, SecretText>> headers{};
    std::optional<SecretText> body{};
    std::int64_t timeoutSeconds = 0;
    bool enabled = false;
    std::vector<std::string> events{};  // event names

    // The secrets the draft carries, for keeping them out of error texts.
    std::vector<const SecretText*> secrets() const;

    friend bool operator==(const ActionDraft&, const ActionDraft&) = default;
};

// One run of an action; identified by `id`. What has not happened yet is absent.
struct ActionExecution {
    std::string id{};
    std::string actionId{};
    std::string alertId{};
    std::string event{};   // an event name, unknown names kept
    std::string status{};  // the service's words
    std::optional<std::int64_t> statusCode{};
    std::optional<std::string> responsePrefix{};  // the beginning of the target's answer
    std::optional<std::string> error{};
    std::int64_t attempts = 0;
    std::optional<std::int64_t> durationMs{};
    std::optional<std::int64_t> executedAt{};
    std::int64_t createdAt = 0;
    std::optional<std::string> trigger{};  // the service's word for what started the run
    std::optional<std::string> runBy{};

    friend bool operator==(const ActionExecution&, const ActionExecution&) = default;
};

// The answer to a test run and to a run for an alert; it always carries the target's status.
struct ActionTestResult {
    bool succeeded = false;  // "ok" on the wire
    std::int64_t statusCode = 0;
    std::optional<std::string> error{};

    friend bool operator==(const ActionTestResult&, const ActionTestResult&) = default;
};

struct ActionsResponse {
    std::vector<RunbookAction> actions{};
};

struct ExecutionsResponse {
    std::vector<ActionExecution> executions{};
};

// The body of a run by hand: always exactly this one key.
struct RunActionBody {
    std::string alertId{};
};

// ---- wire -----------------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<RunbookAction> = json::object(
    json::field("id", &RunbookAction::id),
    json::field("project", &RunbookAction::project),
    json::field("name", &RunbookAction::name),
    json::field("method", &RunbookAction::method),
    json::field("url", &RunbookAction::url),
    json::field("header_keys", &RunbookAction::headerKeys, json::orEmpty),
    json::field("has_body", &RunbookAction::hasBody, json::orEmpty),
    json::field("timeout_seconds", &RunbookAction::timeoutSeconds),
    json::field("event_filter", &RunbookAction::eventFilter),
    json::field("enabled", &RunbookAction::enabled),
    json::field("created_at", &RunbookAction::createdAt),
    json::field("pointer_review", &RunbookAction::pointerReview, json::orEmpty));

template <>
inline constexpr auto json::keys<ActionDraft> = json::object(
    json::field("name", &ActionDraft::name),
    json::field("method", &ActionDraft::method),
    json::field("url", &ActionDraft::url),
    json::field("headers", &ActionDraft::headers),
    json::field("body", &ActionDraft::body),
    json::field("timeout_seconds", &ActionDraft::timeoutSeconds),
    json::field("enabled", &ActionDraft::enabled),
    json::field("events", &ActionDraft::events));

template <>
inline constexpr auto json::keys<ActionExecution> = json::object(
    json::field("id", &ActionExecution::id),
    json::field("action_id", &ActionExecution::actionId),
    json::field("alert_id", &ActionExecution::alertId),
    json::field("event", &ActionExecution::event),
    json::field("status", &ActionExecution::status),
    json::field("status_code", &ActionExecution::statusCode),
    json::field("response_prefix", &ActionExecution::responsePrefix),
    json::field("error", &ActionExecution::error),
    json::field("attempts", &ActionExecution::attempts),
    json::field("duration_ms", &ActionExecution::durationMs),
    json::field("executed_at", &ActionExecution::executedAt),
    json::field("created_at", &ActionExecution::createdAt),
    json::field("trigger", &ActionExecution::trigger),
    json::field("run_by", &ActionExecution::runBy));

template <>
inline constexpr auto json::keys<ActionTestResult> = json::object(
    json::field("ok", &ActionTestResult::succeeded),
    json::field("status_code", &ActionTestResult::statusCode),
    json::field("error", &ActionTestResult::error));

template <>
inline constexpr auto json::keys<ActionsResponse> = json::object(json::field("actions", &ActionsResponse::actions));
template <>
inline constexpr auto json::keys<ExecutionsResponse> =
    json::object(json::field("executions", &ExecutionsResponse::executions));
template <>
inline constexpr auto json::keys<RunActionBody> = json::object(json::field("alert_id", &RunActionBody::alertId));

}  // namespace brisalune

template <>
struct std::hash<brisalune::RunbookAction> : brisalune::RecordHash<brisalune::RunbookAction> {};
template <>
struct std::hash<brisalune::ActionExecution> : brisalune::RecordHash<brisalune::ActionExecution> {};
template <>
struct std::hash<brisalune::ActionTestResult> : brisalune::RecordHash<brisalune::ActionTestResult> {};
