#pragma once

// The pending acknowledgement: written down before an acknowledgement is sent, kept until the
// service confirms it, the alert turns out gone, or the user has been told it failed. Also the
// outcome of one attempt and the attempt itself.

#include <brisalune/client/alerts/alerts.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace brisalune {

class BrisaluneClient;
class PendingAckStoring;

// How the last failure of an acknowledgement is judged.
enum class AckFailureVerdict {
    gone,       // the alert no longer exists on the service: nothing left to do
    final,      // retrying will not change the answer: the user must act
    retryable,  // a later attempt may succeed; also while the first attempt is in flight
};

// The stored names of the verdicts.
inline constexpr std::array<std::pair<std::string_view, AckFailureVerdict>, 3> ackFailureVerdictNames{{
    {"gone", AckFailureVerdict::gone},
    {"final", AckFailureVerdict::final},
    {"retryable", AckFailureVerdict::retryable},
}};

std::string_view name(AckFailureVerdict verdict) noexcept;

// The verdict of each case of the client error.
AckFailureVerdict ackVerdict(const BrisaluneError& error) noexcept;

struct PendingAck {
    // Texts kept in a record are cut to this length: a server's error body must not grow the
    // local state.
    static constexpr std::size_t maxTextBytes = 1000;
    // A report is shown in a notification: cut to what a person reads there.
    static constexpr std::size_t maxReportBytes = 400;

    // What a drain does with a stored record.
    enum class DrainAction { retry, report };

    std::string alertId;        // also the key under which the store keeps the record
    std::string tenantId;       // may be empty
    std::string title;          // shown in failure reports
    std::int64_t attempts = 0;  // attempts started, the one in flight included
    std::string lastError;      // user-facing text of the last failure
    AckFailureVerdict verdict = AckFailureVerdict::retryable;

    // The title; for a final failure the title, a newline and the failure text. At most
    // maxReportBytes, valid UTF-8.
    std::string reportBody() const;
    // The user hears of a held acknowledgement once, not at every attempt.
    bool isFirstFailure() const noexcept { return attempts < 2; }
    DrainAction drainAction(std::string_view currentTenantId, bool retryAll) const noexcept;

    friend bool operator==(const PendingAck&, const PendingAck&) = default;
};

// The result of one acknowledgement attempt.
struct AckAttemptOutcome {
    struct Acknowledged {  // the service acknowledged; the stored record is removed
        AlertSnapshot alert;
        friend bool operator==(const Acknowledged&, const Acknowledged&) = default;
    };
    struct Held {  // the attempt failed and this record is now stored
        PendingAck record;
        friend bool operator==(const Held&, const Held&) = default;
    };
    struct Overtaken {  // someone else changed the record meanwhile; what is stored now, if anything
        std::optional<PendingAck> current;
        friend bool operator==(const Overtaken&, const Overtaken&) = default;
    };
    struct Gone {  // the service does not know the alert; the record is removed
        friend bool operator==(const Gone&, const Gone&) = default;
    };
    // The acknowledgement was not sent, or not confirmed, and could not be written down either:
    // nothing will retry it. The record is not stored anywhere; it is a final failure whose text
    // says so in plain words, for the user, who must acknowledge again.
    struct NotKept {
        PendingAck record;
        friend bool operator==(const NotKept&, const NotKept&) = default;
    };
    // The attempt failed and its result could not be written (a full disk, say): the record it
    // began with still stands, to be retried. The record is the result that was not saved, as a
    // final failure whose text says so, for the user.
    struct NotSaved {
        PendingAck record;
        friend bool operator==(const NotSaved&, const NotSaved&) = default;
    };

    std::variant<Acknowledged, Held, Overtaken, Gone, NotKept, NotSaved> value;

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }

    friend bool operator==(const AckAttemptOutcome&, const AckAttemptOutcome&) = default;
};

// How far a failed acknowledgement got, for the words it is told in.
enum class AckDelivery {
    unsent,       // it never left: no client, no key, or refused before sending
    refused,      // the service answered, and not with an acknowledgement
    unconfirmed,  // no answer that could be read: it may or may not have reached the service
};

// One acknowledgement made durable by the pending record. Stateless.
namespace PendingAckCoordinator {

inline constexpr std::string_view inProgressText = "Acknowledgement in progress.";
inline constexpr std::string_view notSignedInText = "Not signed in.";
inline constexpr std::string_view noTenantKeyText = "Tenant key not loaded yet.";
// The longest an acknowledgement request may take as a whole: an answer that keeps trickling in
// never idles out, and the drain waits for each attempt before the next.
inline constexpr std::chrono::seconds requestDeadline{180};

// What the user is told of an acknowledgement that nothing keeps, and of one whose failure could
// not be saved over the record that still stands.
std::string notKeptText(AckDelivery delivery);
std::string notSavedText(AckDelivery delivery);

// The tenant of the record stored for the alert when it names one, else the fallback.
std::optional<std::string> tenantId(
    std::string_view alertId, std::optional<std::string> fallback, const PendingAckStoring& store);

// The record written before an acknowledgement leaves, and what was stored before it.
struct Preflight {
    std::optional<PendingAck> held;  // the record an earlier attempt left, if any
    PendingAck record;               // the preflight record itself
    bool written = false;            // whether it reached the store (the disk, for the defaults store)

    friend bool operator==(const Preflight&, const Preflight&) = default;
};

// Writes the preflight record: the first step of an attempt, before any network step of its
// own (a caller that must first fetch a key writes it, then fetches). Blocks.
Preflight begin(std::string_view alertId, std::string_view tenantId, std::string_view title, PendingAckStoring& store);

// Sends the acknowledgement begun by `preflight` and settles its record by the answer. Blocks;
// `client` may be null (not signed in). When the preflight could not be written, the
// acknowledgement is still sent once; a failure then ends in NotKept unless a record for the
// alert does stand in the store. A failure whose result cannot be written over the preflight
// ends in NotSaved, never Overtaken. A request still running at `deadline` is abandoned as a
// transport failure.
AckAttemptOutcome finish(
    const Preflight& preflight,
    const BrisaluneClient* client,
    PendingAckStoring& store,
    std::chrono::milliseconds deadline = requestDeadline) noexcept;

// What the user is told of a record that could not be written: the record as a final failure
// whose text says how far it got and that nothing keeps it.
AckAttemptOutcome::NotKept notKept(PendingAck record, AckDelivery delivery = AckDelivery::unsent);

// begin, then finish. Blocks; any thread may call it. Every failure ends in an outcome.
AckAttemptOutcome attempt(
    std::string_view alertId,
    std::string_view tenantId,
    std::string_view title,
    const BrisaluneClient* client,
    PendingAckStoring& store) noexcept;

}  // namespace PendingAckCoordinator

// ---- stored form --------------------------------------------------------------------------

// A verdict is an object holding only its name, with an empty object as its value; keys that
// name no verdict are ignored.
template <>
struct json::Codec<AckFailureVerdict> {
    static void write(Writer& w, AckFailureVerdict v) {
        w.beginObject();
        w.key(name(v));
        w.beginObject();
        w.endObject();
        w.endObject();
    }

    template <class Node>
    static void read(const Node& n, AckFailureVerdict& out) {
        std::optional<AckFailureVerdict> found;
        int named = 0;
        n.forEachMember([&](std::string_view key, const Node&) {
            for (const auto& [text, verdict] : ackFailureVerdictNames) {
                if (text != key) continue;
                ++named;
                found = verdict;
            }
        });
        if (named != 1) Node::corrupted("Invalid number of keys found, expected one.");
        n.forEachMember([&](std::string_view key, const Node& value) {
            if (key == name(*found) && value.kind() != Node::Kind::object) value.mismatch("object");
        });
        out = *found;
    }
};

template <>
inline constexpr auto json::keys<PendingAck> = json::object(
    json::field("alertId", &PendingAck::alertId),
    json::field("tenantId", &PendingAck::tenantId),
    json::field("title", &PendingAck::title),
    json::field("attempts", &PendingAck::attempts),
    json::field("lastError", &PendingAck::lastError),
    json::field("verdict", &PendingAck::verdict));

}  // namespace brisalune
