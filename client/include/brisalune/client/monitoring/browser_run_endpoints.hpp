#pragma once

// A browser check's recent runs, and the content of one file of one run. Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/monitoring/browser_runs.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// In the order sent. A given limit is sent unchanged; none leaves the count to the service.
// A failed answer goes through checkError.
std::vector<BrowserRun> browserRuns(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view check,
    std::optional<std::int64_t> limit = std::nullopt);

// The file's bytes exactly as received, held in memory; waits up to 90 seconds. A refusal the
// service names is thrown as BrowserArtifactRefusal, any other failure as the client's error.
std::string browserArtifact(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view check,
    std::string_view run,
    std::string_view name);

}  // namespace brisalune
