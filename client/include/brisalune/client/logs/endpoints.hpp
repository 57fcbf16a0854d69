#pragma once

// A team's logs: search and its summaries, the filtered tail, stored lines, secret findings and
// blocks, saved views. Plane data. Failures are BrisaluneError, except where LogQueryError is named.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/logs/facets.hpp>
#include <brisalune/client/logs/filtered_tail.hpp>
#include <brisalune/client/logs/line_context.hpp>
#include <brisalune/client/logs/saved_views.hpp>
#include <brisalune/client/logs/search.hpp>
#include <brisalune/client/logs/secrets.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// ---- search (LogQueryError when the service cannot parse the query) ----

LogSearchPage searchLogs(const BrisaluneClient& client, const LogSearchQuery& query);
// Values per field, `fields` in order (repeats included), at most `size` per field as the service reads it.
LogFacets logFacets(
    const BrisaluneClient& client,
    const LogSearchQuery& query,
    const std::vector<LogFacetField>& fields,
    std::int64_t size);
// Line counts per level over time.
LogHistogram logHistogram(const BrisaluneClient& client, const LogSearchQuery& query);

// ---- the filtered tail ----

// The project's lines after `after`; a `wait` of at least 1 asks the service to hold the answer
// up to that many seconds. A stop request on `cancel` abandons a long poll at once.
LogTailPage tailLogs(
    const BrisaluneClient& client,
    std::string_view project,
    const LogTailFilter& filter,
    std::optional<std::int64_t> after,
    std::int64_t wait,
    std::int64_t limit,
    std::stop_token cancel = {});
// `wait` + 15 seconds, a negative wait counting as 0 and a huge one saturating: never zero,
// which the transport would read as no limit at all.
std::chrono::milliseconds tailTimeout(std::int64_t wait);

// ---- stored lines ----

void deleteLogLine(const BrisaluneClient& client, std::int64_t id);
// The lines of one source between two instants; the number deleted.
std::int64_t deleteSourceLogs(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view source,
    std::int64_t since,
    std::int64_t until);
LogLineContext logLineContext(const BrisaluneClient& client, std::int64_t id, std::int64_t before, std::int64_t after);

// ---- secret findings and blocks ----

std::vector<SecretFinding> listSecretFindings(const BrisaluneClient& client, std::string_view project);
// Every project of the key's team.
std::vector<SecretFinding> listAllSecretFindings(const BrisaluneClient& client);
void dismissSecretFinding(const BrisaluneClient& client, std::string_view project, std::int64_t findingId);

std::vector<SecretBlock> listSecretBlocks(const BrisaluneClient& client, std::string_view project);
// `value` travels in the body of this one request only; `source` is sent when given, even empty.
SecretBlockResult createSecretBlock(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view value,
    std::optional<std::string_view> source = std::nullopt);
void deleteSecretBlock(const BrisaluneClient& client, std::string_view project, std::string_view blockId);

// ---- saved views ----

std::vector<SavedView> listSavedViews(const BrisaluneClient& client);
// The stored view. A refused search text with an offset is LogQueryError; a plan limit is quota.
SavedView createSavedView(const BrisaluneClient& client, const SavedViewDraft& draft);
SavedView updateSavedView(const BrisaluneClient& client, std::string_view id, const SavedViewDraft& draft);
void deleteSavedView(const BrisaluneClient& client, std::string_view id);

}  // namespace brisalune
