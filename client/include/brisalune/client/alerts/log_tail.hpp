#pragma once

// Log lines as the service reports them, with their metadata, and the log-tail answer.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// The metadata of one log line. Inside a line its keys stand in the line's own object.
struct LogLineMeta {
    std::string env;
    std::string host;
    std::string run;
    std::string traceId;
    std::map<std::string, std::string> keys;
    std::vector<std::string> tags;

    bool isEmpty() const;

    friend bool operator==(const LogLineMeta&, const LogLineMeta&) = default;
};

// One log line. `meta` is present when the line's object holds any metadata key, even as null.
struct LogLine {
    std::optional<std::int64_t> id;
    std::string message;
    std::optional<std::int64_t> level;
    std::optional<std::string> source;
    std::optional<std::string> templateSHA256;
    std::optional<std::int64_t> createdAt;
    std::optional<LogLineMeta> meta;
    bool secretWarning = false;  // written only when true

    friend bool operator==(const LogLine&, const LogLine&) = default;
};

// The answer of the log-tail endpoint.
struct LogTailResponse {
    std::vector<std::string> messages;
    std::optional<std::vector<LogLine>> lines;
};

template <>
inline constexpr auto json::keys<LogLineMeta> = json::object(
    json::field("env", &LogLineMeta::env, json::orEmpty),
    json::field("host", &LogLineMeta::host, json::orEmpty),
    json::field("run", &LogLineMeta::run, json::orEmpty),
    json::field("trace_id", &LogLineMeta::traceId, json::orEmpty),
    json::field("keys", &LogLineMeta::keys, json::orEmpty),
    json::field("tags", &LogLineMeta::tags, json::orEmpty));

// The line's own keys; `meta` is read from and written into the same object.
template <>
inline constexpr auto json::keys<LogLine> = json::object(
    json::field("id", &LogLine::id),
    json::field("message", &LogLine::message),
    json::field("level", &LogLine::level),
    json::field("source", &LogLine::source),
    json::field("template_sha256", &LogLine::templateSHA256),
    json::field("created_at", &LogLine::createdAt),
    json::flattened(&LogLine::meta),
    json::field("secret_warning", &LogLine::secretWarning, json::omitEmpty));

template <>
inline constexpr auto json::keys<LogTailResponse> =
    json::object(json::field("messages", &LogTailResponse::messages), json::field("lines", &LogTailResponse::lines));

}  // namespace brisalune

template <>
struct std::hash<brisalune::LogLineMeta> : brisalune::RecordHash<brisalune::LogLineMeta> {};

template <>
struct std::hash<brisalune::LogLine> : brisalune::RecordHash<brisalune::LogLine> {};
