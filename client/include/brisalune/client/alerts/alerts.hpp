#pragma once

// Alerts as the service reports them: one snapshot per alert and moment, the pull answer that
// carries them, and the text rules under which two snapshots are the same.

#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}
namespace platform {
class Defaults;
}

// ---- text under canonical equivalence -------------------------------------------------------

// The NFC form of a text; a text that is not valid UTF-8 stands for itself.
std::string canonicalText(std::string_view text);
// Whether the text is already its own canonical form (every ASCII text is).
bool isCanonicalText(std::string_view text);
// Equal under Unicode canonical equivalence ("é" precomposed equals "e" + U+0301).
bool canonicallyEqual(std::string_view a, std::string_view b);
// Agrees with canonicallyEqual: canonically equal texts hash alike.
std::size_t canonicalHash(std::string_view text);

// ---- records --------------------------------------------------------------------------------

enum class AlertState { firing, acked, resolved };

// "firing", "acked" or "resolved", matched exactly; any other text (other case included) is none.
std::optional<AlertState> alertState(std::string_view text);
std::string_view rawValue(AlertState state);

// The kind texts the client tells apart; `AlertSnapshot::kind` stays free text.
namespace AlertKind {
inline constexpr std::string_view event = "event";
inline constexpr std::string_view sourceHealth = "source_health";
inline constexpr std::string_view secretWarning = "secret_warning";
}  // namespace AlertKind

// One source that reported an alert.
struct AlertReporter {
    std::string source;
    std::int64_t count = 0;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;

    friend bool operator==(const AlertReporter& a, const AlertReporter& b);
};

// The incident an alert is attached to.
struct AlertIncidentRef {
    std::int64_t number = 0;
    std::string reference;
    std::string title;
    std::string state;

    friend bool operator==(const AlertIncidentRef& a, const AlertIncidentRef& b);
};

// One alert at one moment. Identified by `id`; equal when every field is, texts compared under
// canonical equivalence and `identifiers` as a map.
struct AlertSnapshot {
    std::string id;
    std::string project;
    std::string rule;
    std::string state;  // as sent; see alertState()
    std::int64_t level = 0;
    std::int64_t count = 0;
    std::int64_t escalationLevel = 0;
    bool investigate = false;
    std::string messageTemplate;  // "template" on the wire
    std::string lastMessage;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    std::int64_t updatedSeq = 0;
    std::map<std::string, std::string> identifiers;
    std::vector<std::string> pageAccounts;
    std::string kind{AlertKind::event};
    std::string source;
    std::vector<AlertReporter> reportedBy;
    std::vector<std::int64_t> recentCounts;
    std::optional<std::int64_t> lastNotifiedAt;    // read as none when below 1
    std::optional<std::int64_t> nextEscalationAt;  // read as none when below 1
    std::optional<AlertIncidentRef> incident;

    std::optional<AlertState> alertState() const { return brisalune::alertState(state); }
    bool isSourceHealth() const { return kind == AlertKind::sourceHealth; }
    bool isSecretWarning() const { return kind == AlertKind::secretWarning; }
    // The finding behind a secret warning ("finding_id"); none for every other kind.
    std::optional<std::string> secretFindingId() const;
    // SHA-256 of the template's UTF-8 bytes, 64 lowercase hex digits; computed on each call.
    std::string templateDigest() const;

    friend bool operator==(const AlertSnapshot& a, const AlertSnapshot& b);
};

// The answer of a pull: the position reached, the configuration versions and the alerts.
struct PullResponse {
    std::int64_t cursor = 0;
    std::map<std::string, std::int64_t> configVersions;
    std::vector<AlertSnapshot> alerts;

    friend bool operator==(const PullResponse&, const PullResponse&) = default;
};

// Pull cursors once kept in the user defaults; they live only in memory now.
namespace LegacyPullCursorSweep {
// Removes every key that begins with "brisalune.pull-cursor." and nothing else.
void run(platform::Defaults& defaults);
}  // namespace LegacyPullCursorSweep

// The body of a resolve request; absent fields are left out.
struct AlertResolveBody {
    std::optional<std::string> cause;
    std::optional<std::string> fix;
};

template <>
inline constexpr auto json::keys<AlertReporter> = json::object(
    json::field("source", &AlertReporter::source),
    json::field("count", &AlertReporter::count),
    json::field("first_seen", &AlertReporter::firstSeen),
    json::field("last_seen", &AlertReporter::lastSeen));

template <>
inline constexpr auto json::keys<AlertIncidentRef> = json::object(
    json::field("number", &AlertIncidentRef::number),
    json::field("reference", &AlertIncidentRef::reference),
    json::field("title", &AlertIncidentRef::title),
    json::field("state", &AlertIncidentRef::state));

template <>
inline constexpr auto json::keys<AlertSnapshot> = json::object(
    json::field("id", &AlertSnapshot::id),
    json::field("project", &AlertSnapshot::project),
    json::field("rule", &AlertSnapshot::rule),
    json::field("state", &AlertSnapshot::state),
    json::field("level", &AlertSnapshot::level),
    json::field("count", &AlertSnapshot::count),
    json::field("escalation_level", &AlertSnapshot::escalationLevel),
    json::field("investigate", &AlertSnapshot::investigate),
    json::field("template", &AlertSnapshot::messageTemplate),
    json::field("last_message", &AlertSnapshot::lastMessage),
    json::field("first_seen", &AlertSnapshot::firstSeen),
    json::field("last_seen", &AlertSnapshot::lastSeen),
    json::field("updated_seq", &AlertSnapshot::updatedSeq),
    json::field("identifiers", &AlertSnapshot::identifiers, json::orEmpty),
    json::field("page_accounts", &AlertSnapshot::pageAccounts, json::orEmpty),
    json::field("kind", &AlertSnapshot::kind, json::orDefault(std::string_view(AlertKind::event))),
    json::field("source", &AlertSnapshot::source, json::orEmpty),
    json::field("reported_by", &AlertSnapshot::reportedBy, json::orEmpty),
    json::field("recent_counts", &AlertSnapshot::recentCounts, json::orEmpty),
    json::field("last_notified_at", &AlertSnapshot::lastNotifiedAt),
    json::field("next_escalation_at", &AlertSnapshot::nextEscalationAt),
    json::field("incident", &AlertSnapshot::incident));

// Instants below 1 read as none; writing is the table's own.
template <>
struct json::Rules<AlertSnapshot> {
    static void afterRead(const json::Node& object, AlertSnapshot& out);
};

template <>
inline constexpr auto json::keys<PullResponse> = json::object(
    json::field("cursor", &PullResponse::cursor),
    json::field("config_versions", &PullResponse::configVersions),
    json::field("alerts", &PullResponse::alerts));

template <>
inline constexpr auto json::keys<AlertResolveBody> =
    json::object(json::field("cause", &AlertResolveBody::cause), json::field("fix", &AlertResolveBody::fix));

}  // namespace brisalune

template <>
struct std::hash<brisalune::AlertReporter> {
    std::size_t operator()(const brisalune::AlertReporter& reporter) const;
};

template <>
struct std::hash<brisalune::AlertIncidentRef> {
    std::size_t operator()(const brisalune::AlertIncidentRef& incident) const;
};

template <>
struct std::hash<brisalune::AlertSnapshot> {
    std::size_t operator()(const brisalune::AlertSnapshot& alert) const;
};
