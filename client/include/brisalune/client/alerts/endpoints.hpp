#pragma once

// The team's alerts and a project's log tail. Plane data.

#include <brisalune/client/alerts/alerts.hpp>
#include <brisalune/client/alerts/log_tail.hpp>
#include <brisalune/client/core/client.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// The team's alerts after `cursor`; a `wait` of at least 1 asks the server to hold the answer up
// to that many seconds. Waits `wait` + 15 seconds for the answer. A stop request on `cancel`
// abandons a long poll at once.
PullResponse pull(const BrisaluneClient& client, std::int64_t cursor, std::int64_t wait, std::stop_token cancel = {});
// `wait` + 15 seconds; std::invalid_argument when that is not a positive time that fits.
std::chrono::milliseconds pullTimeout(std::int64_t wait);
// The alert as it stands afterwards. `wholeTimeout` bounds the whole exchange (see Call).
AlertSnapshot acknowledge(
    const BrisaluneClient& client,
    std::string_view alertId,
    std::optional<std::chrono::milliseconds> wholeTimeout = std::nullopt);
AlertSnapshot resolve(
    const BrisaluneClient& client,
    std::string_view alertId,
    std::optional<std::string> cause = std::nullopt,
    std::optional<std::string> fix = std::nullopt);
// The latest lines of a project's log for one message template.
std::vector<LogLine> logTail(
    const BrisaluneClient& client, std::string_view project, std::string_view messageTemplate, std::int64_t limit);
std::vector<std::string> logTailMessages(
    const BrisaluneClient& client, std::string_view project, std::string_view messageTemplate, std::int64_t limit);

}  // namespace brisalune
