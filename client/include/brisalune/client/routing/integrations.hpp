#pragma once

// Integrations: a project's outbound channels for alert traffic (webhooks, chats, push targets),
// the body that creates or changes one, the answers to a creation and to a test delivery, one
// entry of the delivery history, and the names of the events delivered. Team administration's
// view of all integrations reads the same `Integration` record.
//
// Nothing here applies defaults on reading: what may be missing is optional and stays empty.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/routing/secret_text.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// The event names drafts list in "events" and deliveries and executions carry in "event".
// Records hold them as plain text, so names not listed here pass through unchanged.
namespace DeliveryEvent {
inline constexpr std::string_view opened = "alert.opened";
inline constexpr std::string_view bumped = "alert.bumped";
inline constexpr std::string_view escalated = "alert.escalated";
inline constexpr std::string_view acked = "alert.acked";
inline constexpr std::string_view resolved = "alert.resolved";
inline constexpr std::string_view ruleMuted = "rule.muted";
inline constexpr std::string_view ruleUnmuted = "rule.unmuted";

inline constexpr std::array all{opened, bumped, escalated, acked, resolved, ruleMuted, ruleUnmuted};

// The listed name equal to `text` exactly (case included); none for any other text.
std::optional<std::string_view> named(std::string_view text);
}  // namespace DeliveryEvent

// Why a disabled integration is not delivering.
enum class IntegrationDisabledCause {
    silenced,     // switched off with no failure on record
    circuitOpen,  // switched off while failures and an error are on record
};

// One integration; identified by `id`.
struct Integration {
    // The name under which the hosted service registers its own relay as a webhook integration.
    static constexpr std::string_view relayName = "Brisalune Relay";

    std::string id{};
    std::string project{};
    std::string type{};  // "webhook" or any other kind the service names; kept as sent
    std::optional<std::string> name{};
    std::optional<std::string> url{};
    std::optional<std::string> chatId{};
    std::optional<std::string> apnsTopic{};
    std::optional<std::int64_t> devices{};  // "device_count" on the wire
    bool enabled = false;
    std::optional<std::string> eventFilter{};  // the service's own text form; never parsed
    std::optional<std::string> lastError{};
    std::int64_t consecutiveFailures = 0;
    std::int64_t createdAt = 0;
    std::optional<bool> pointerReview{};  // set by the service; absent is not false

    // None while enabled.
    std::optional<IntegrationDisabledCause> disabledCause() const;
    // A "webhook" (exactly) named `relayName` (exactly).
    bool isRelay() const;
    // Whether a typed name denotes the relay: surrounding white space dropped, letter case ignored.
    static bool isRelayName(std::string_view text);

    friend bool operator==(const Integration&, const Integration&) = default;
};

// The body that creates or changes an integration. Absent fields are left out; "events" is
// always sent. Switching on and off has endpoints of its own.
struct IntegrationDraft {
    std::string type{};
    std::optional<std::string> name{};
    std::optional<std::string> url{};
    std::optional<SecretText> secret{};
    std::optional<SecretText> token{};
    std::optional<std::string> chatId{};
    std::optional<SecretText> webhookUrl{};  // a chat webhook address carries its key
    std::vector<std::string> events{};       // event names

    // The secrets the draft carries, for keeping them out of error texts.
    std::vector<const SecretText*> secrets() const;

    friend bool operator==(const IntegrationDraft&, const IntegrationDraft&) = default;
};

// The answer to a creation; `secret` is handed out once, at creation, when at all.
struct CreatedIntegration {
    std::string id{};
    std::string type{};
    std::optional<SecretText> secret{};

    friend bool operator==(const CreatedIntegration&, const CreatedIntegration&) = default;
};

// The answer to a test delivery.
struct IntegrationTestResult {
    bool succeeded = false;  // "ok" on the wire
    std::optional<std::string> error{};

    friend bool operator==(const IntegrationTestResult&, const IntegrationTestResult&) = default;
};

// One entry of an integration's delivery history; identified by `id`.
struct DeliveryInfo {
    std::string id{};
    std::optional<std::string> alertId{};
    std::string event{};   // an event name, unknown names kept
    std::string status{};  // the service's words
    std::int64_t attempts = 0;
    std::optional<std::string> lastError{};
    std::optional<std::int64_t> nextAttemptAt{};
    std::int64_t createdAt = 0;

    friend bool operator==(const DeliveryInfo&, const DeliveryInfo&) = default;
};

struct IntegrationsResponse {
    std::vector<Integration> integrations{};
};

struct DeliveriesResponse {
    std::vector<DeliveryInfo> deliveries{};
};

// ---- wire -----------------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<Integration> = json::object(
    json::field("id", &Integration::id),
    json::field("project", &Integration::project),
    json::field("type", &Integration::type),
    json::field("name", &Integration::name),
    json::field("url", &Integration::url),
    json::field("chat_id", &Integration::chatId),
    json::field("apns_topic", &Integration::apnsTopic),
    json::field("device_count", &Integration::devices),
    json::field("enabled", &Integration::enabled),
    json::field("event_filter", &Integration::eventFilter),
    json::field("last_error", &Integration::lastError),
    json::field("consecutive_failures", &Integration::consecutiveFailures),
    json::field("created_at", &Integration::createdAt),
    json::field("pointer_review", &Integration::pointerReview));

template <>
inline constexpr auto json::keys<IntegrationDraft> = json::object(
    json::field("type", &IntegrationDraft::type),
    json::field("name", &IntegrationDraft::name),
    json::field("url", &IntegrationDraft::url),
    json::field("secret", &IntegrationDraft::secret),
    json::field("token", &IntegrationDraft::token),
    json::field("chat_id", &IntegrationDraft::chatId),
    json::field("webhook_url", &IntegrationDraft::webhookUrl),
    json::field("events", &IntegrationDraft::events));

template <>
inline constexpr auto json::keys<CreatedIntegration> = json::object(
    json::field("id", &CreatedIntegration::id),
    json::field("type", &CreatedIntegration::type),
    json::field("secret", &CreatedIntegration::secret));

template <>
inline constexpr auto json::keys<IntegrationTestResult> = json::object(
    json::field("ok", &IntegrationTestResult::succeeded), json::field("error", &IntegrationTestResult::error));

template <>
inline constexpr auto json::keys<DeliveryInfo> = json::object(
    json::field("id", &DeliveryInfo::id),
    json::field("alert_id", &DeliveryInfo::alertId),
    json::field("event", &DeliveryInfo::event),
    json::field("status", &DeliveryInfo::status),
    json::field("attempts", &DeliveryInfo::attempts),
    json::field("last_error", &DeliveryInfo::lastError),
    json::field("next_attempt_at", &DeliveryInfo::nextAttemptAt),
    json::field("created_at", &DeliveryInfo::createdAt));

template <>
inline constexpr auto json::keys<IntegrationsResponse> =
    json::object(json::field("integrations", &IntegrationsResponse::integrations));
template <>
inline constexpr auto json::keys<DeliveriesResponse> =
    json::object(json::field("deliveries", &DeliveriesResponse::deliveries));

}  // namespace brisalune

template <>
struct std::hash<brisalune::Integration> : brisalune::RecordHash<brisalune::Integration> {};
template <>
struct std::hash<brisalune::CreatedIntegration> : brisalune::RecordHash<brisalune::CreatedIntegration> {};
template <>
struct std::hash<brisalune::IntegrationTestResult> : brisalune::RecordHash<brisalune::IntegrationTestResult> {};
template <>
struct std::hash<brisalune::DeliveryInfo> : brisalune::RecordHash<brisalune::DeliveryInfo> {};
