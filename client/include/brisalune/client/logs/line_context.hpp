#pragma once

// A stored log line with the lines around it, in the service's order.

#include <brisalune/client/alerts/log_tail.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <functional>
#include <vector>

namespace brisalune {

struct LogLineContext {
    LogLine line;
    std::vector<LogLine> before;
    std::vector<LogLine> after;

    friend bool operator==(const LogLineContext&, const LogLineContext&) = default;
};

template <>
inline constexpr auto json::keys<LogLineContext> = json::object(
    json::field("line", &LogLineContext::line),
    json::field("before", &LogLineContext::before),
    json::field("after", &LogLineContext::after));

}  // namespace brisalune

template <>
struct std::hash<brisalune::LogLineContext> : brisalune::RecordHash<brisalune::LogLineContext> {};
