#pragma once

// Secrets the service found in a team's logs, and the blocks that keep a secret value out of them.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

// One secret detected in a project's log source. Identified by `id`.
struct SecretFinding {
    std::int64_t id = 0;
    std::string project;
    std::string source;
    std::string pattern;  // the pattern that matched
    std::string state;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    std::int64_t count = 0;
    std::optional<std::int64_t> latestLineId;  // the stored line that carried it last

    // The one state the client tells apart; `state` stays free text.
    static constexpr std::string_view openState = "open";

    bool isOpen() const { return state == openState; }
    // Whether `findingId` (an alert's "finding_id") names this finding: a decimal integer with an
    // optional sign ("+42", "0042"), nothing around it.
    bool matches(std::string_view findingId) const;

    friend bool operator==(const SecretFinding&, const SecretFinding&) = default;
};

// A blocked secret value; only its length is kept. Identified by `id`.
struct SecretBlock {
    std::string id;
    std::string project;
    std::string source;
    std::int64_t length = 0;
    std::int64_t createdAt = 0;
    std::string createdBy;

    friend bool operator==(const SecretBlock&, const SecretBlock&) = default;
};

// The answer to blocking a value: the block and what the service rewrote and resolved for it.
struct SecretBlockResult {
    SecretBlock block;
    std::int64_t linesRewritten = 0;
    std::int64_t findingsResolved = 0;

    friend bool operator==(const SecretBlockResult&, const SecretBlockResult&) = default;
};

template <>
inline constexpr auto json::keys<SecretFinding> = json::object(
    json::field("id", &SecretFinding::id),
    json::field("project", &SecretFinding::project),
    json::field("source", &SecretFinding::source),
    json::field("pattern", &SecretFinding::pattern),
    json::field("state", &SecretFinding::state),
    json::field("first_seen", &SecretFinding::firstSeen),
    json::field("last_seen", &SecretFinding::lastSeen),
    json::field("count", &SecretFinding::count),
    json::field("latest_line_id", &SecretFinding::latestLineId));

template <>
inline constexpr auto json::keys<SecretBlock> = json::object(
    json::field("id", &SecretBlock::id),
    json::field("project", &SecretBlock::project),
    json::field("source", &SecretBlock::source, json::orEmpty),
    json::field("length", &SecretBlock::length),
    json::field("created_at", &SecretBlock::createdAt),
    json::field("created_by", &SecretBlock::createdBy, json::orEmpty));

template <>
inline constexpr auto json::keys<SecretBlockResult> = json::object(
    json::field("block", &SecretBlockResult::block),
    json::field("lines_rewritten", &SecretBlockResult::linesRewritten),
    json::field("findings_resolved", &SecretBlockResult::findingsResolved));

}  // namespace brisalune

template <>
struct std::hash<brisalune::SecretFinding> : brisalune::RecordHash<brisalune::SecretFinding> {};
template <>
struct std::hash<brisalune::SecretBlock> : brisalune::RecordHash<brisalune::SecretBlock> {};
template <>
struct std::hash<brisalune::SecretBlockResult> : brisalune::RecordHash<brisalune::SecretBlockResult> {};
