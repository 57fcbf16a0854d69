#pragma once

// The ingest sources of a project as the service reports them, and a newly created source with
// its ingest token. Instants are integers as sent.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

struct SourceInfo {
    std::string name;
    bool retainLogs = false;
    std::int64_t createdAt = 0;
    std::optional<std::int64_t> lastSeenAt;
    std::optional<std::int64_t> monitoringAckAt;
    std::optional<std::int64_t> oldestKeptAt;  // the oldest retained log
    std::optional<std::int64_t> heartbeatMintedAt;
    bool heartbeatPending = false;
    std::optional<std::int64_t> heartbeatStartedAt;
    std::optional<std::int64_t> heartbeatLastDurationMs;
    std::int64_t openSecretFindings = 0;
    std::vector<std::string> addons;  // free text, in the order received
    std::optional<std::string> agentVersion;

    friend bool operator==(const SourceInfo&, const SourceInfo&) = default;
};

// A new source; `token` is its ingest token.
struct CreatedSource {
    std::string name;
    std::string token;

    friend bool operator==(const CreatedSource&, const CreatedSource&) = default;
};

// ---- key tables ---------------------------------------------------------------------------

// The service's key order, which differs from the members'.
template <>
inline constexpr auto json::keys<SourceInfo> = json::object(
    json::field("name", &SourceInfo::name),
    json::field("retain_logs", &SourceInfo::retainLogs),
    json::field("created_at", &SourceInfo::createdAt),
    json::field("last_seen_at", &SourceInfo::lastSeenAt),
    json::field("monitoring_ack_at", &SourceInfo::monitoringAckAt),
    json::field("open_secret_findings", &SourceInfo::openSecretFindings, json::orEmpty),
    json::field("oldest_kept_at", &SourceInfo::oldestKeptAt),
    json::field("heartbeat_minted_at", &SourceInfo::heartbeatMintedAt),
    json::field("heartbeat_pending", &SourceInfo::heartbeatPending, json::orEmpty),
    json::field("heartbeat_started_at", &SourceInfo::heartbeatStartedAt),
    json::field("heartbeat_last_duration_ms", &SourceInfo::heartbeatLastDurationMs),
    json::field("addons", &SourceInfo::addons, json::orEmpty),
    json::field("agent_version", &SourceInfo::agentVersion));

template <>
inline constexpr auto json::keys<CreatedSource> =
    json::object(json::field("name", &CreatedSource::name), json::field("token", &CreatedSource::token));

// The answer listing a project's sources.
struct SourcesResponse {
    std::vector<SourceInfo> sources;
};

template <>
inline constexpr auto json::keys<SourcesResponse> = json::object(json::field("sources", &SourcesResponse::sources));

}  // namespace brisalune

template <>
struct std::hash<brisalune::CreatedSource> : brisalune::RecordHash<brisalune::CreatedSource> {};

template <>
struct std::hash<brisalune::SourceInfo> : brisalune::RecordHash<brisalune::SourceInfo> {};
