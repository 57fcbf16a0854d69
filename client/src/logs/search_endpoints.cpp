#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/log_text.hpp>
#include <brisalune/client/logs/endpoints.hpp>

#include <algorithm>
#include <limits>

namespace brisalune {

namespace {

// A 422 that carries a refusal is LogQueryError; everything else as every endpoint reads it.
template <class T>
T fetchLogQuery(const BrisaluneClient& client, const Call& call) {
    Answer answer = client.send(call);
    if (answer.status == 422) {
        if (auto refusal = logQueryRefusal(answer.body)) throw std::move(*refusal);
    }
    return decodeAnswer<T>(requireSuccess(std::move(answer)).body);
}

Call logQueryCall(std::string path, std::vector<platform::QueryItem> query) {
    return {.method = "GET", .path = std::move(path), .query = std::move(query), .plane = AuthPlane::data};
}

}  // namespace

LogSearchPage searchLogs(const BrisaluneClient& client, const LogSearchQuery& query) {
    return fetchLogQuery<LogSearchPage>(client, logQueryCall("/v1/logs", query.queryItems()));
}

LogFacets logFacets(
    const BrisaluneClient& client,
    const LogSearchQuery& query,
    const std::vector<LogFacetField>& fields,
    std::int64_t size) {
    auto items = query.filterItems();
    for (LogFacetField field : fields) items.push_back({"field", std::string(rawValue(field))});
    items.push_back({"size", std::to_string(size)});
    return fetchLogQuery<LogFacets>(client, logQueryCall("/v1/logs/facets", std::move(items)));
}

LogHistogram logHistogram(const BrisaluneClient& client, const LogSearchQuery& query) {
    auto items = query.filterItems();
    items.push_back({"group", "level"});
    return fetchLogQuery<LogHistogram>(client, logQueryCall("/v1/logs/histogram", std::move(items)));
}

std::chrono::milliseconds tailTimeout(std::int64_t wait) {
    constexpr std::int64_t grace = 15;
    constexpr std::int64_t longest = std::numeric_limits<std::int64_t>::max() / 1000 - grace;
    return std::chrono::seconds(std::clamp<std::int64_t>(wait, 0, longest) + grace);
}

LogTailPage tailLogs(
    const BrisaluneClient& client,
    std::string_view project,
    const LogTailFilter& filter,
    std::optional<std::int64_t> after,
    std::int64_t wait,
    std::int64_t limit,
    std::stop_token cancel) {
    Call call{
        .method = "GET",
        .path = "/v1/projects/" + escapedPathSegment(project) + "/logtail",
        .query = filter.queryItems(),
        .plane = AuthPlane::data,
        .timeout = tailTimeout(wait),
        .cancel = std::move(cancel)};
    call.query.push_back({"limit", std::to_string(limit)});
    if (after) call.query.push_back({"after", std::to_string(*after)});
    if (wait >= 1) call.query.push_back({"wait", std::to_string(wait)});
    return fetch<LogTailPage>(client, call);
}

}  // namespace brisalune
