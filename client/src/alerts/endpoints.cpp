#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/detail/answers.hpp>

#include <limits>
#include <stdexcept>

namespace brisalune {

std::chrono::milliseconds pullTimeout(std::int64_t wait) {
    constexpr std::int64_t grace = 15;
    constexpr std::int64_t longest = std::numeric_limits<std::int64_t>::max() / 1000 - grace;
    if (wait <= -grace || wait > longest) {
        throw std::invalid_argument("pull wait of " + std::to_string(wait) + " seconds is out of range");
    }
    return std::chrono::seconds(wait + grace);
}

PullResponse pull(const BrisaluneClient& client, std::int64_t cursor, std::int64_t wait, std::stop_token cancel) {
    Call call{
        .method = "GET",
        .path = "/v1/pull",
        .query = {{"cursor", std::to_string(cursor)}},
        .plane = AuthPlane::data,
        .timeout = pullTimeout(wait),
        .cancel = std::move(cancel)};
    if (wait >= 1) call.query.push_back({"wait", std::to_string(wait)});
    return fetch<PullResponse>(client, call);
}

AlertSnapshot acknowledge(
    const BrisaluneClient& client, std::string_view alertId, std::optional<std::chrono::milliseconds> wholeTimeout) {
    return fetch<AlertSnapshot>(
        client,
        {.method = "POST",
         .path = "/v1/alerts/" + escapedPathSegment(alertId) + "/ack",
         .plane = AuthPlane::data,
         .wholeTimeout = wholeTimeout});
}

AlertSnapshot resolve(
    const BrisaluneClient& client,
    std::string_view alertId,
    std::optional<std::string> cause,
    std::optional<std::string> fix) {
    const Call call{
        .method = "POST", .path = "/v1/alerts/" + escapedPathSegment(alertId) + "/resolve", .plane = AuthPlane::data};
    if (!cause && !fix) return fetch<AlertSnapshot>(client, call);
    return fetch<AlertSnapshot>(client, call, AlertResolveBody{std::move(cause), std::move(fix)});
}

std::vector<LogLine> logTail(
    const BrisaluneClient& client, std::string_view project, std::string_view messageTemplate, std::int64_t limit) {
    auto answer = fetch<LogTailResponse>(
        client,
        {.method = "GET",
         .path = "/v1/projects/" + escapedPathSegment(project) + "/logtail",
         .query = {{"template", std::string(messageTemplate)}, {"limit", std::to_string(limit)}},
         .plane = AuthPlane::data});
    if (answer.lines) return std::move(*answer.lines);
    std::vector<LogLine> lines;
    lines.reserve(answer.messages.size());
    for (auto& message : answer.messages)
        lines.push_back(LogLine{
            .id = std::nullopt,
            .message = std::move(message),
            .level = std::nullopt,
            .source = std::nullopt,
            .templateSHA256 = std::nullopt,
            .createdAt = std::nullopt,
            .meta = std::nullopt,
            .secretWarning = false});
    return lines;
}

std::vector<std::string> logTailMessages(
    const BrisaluneClient& client, std::string_view project, std::string_view messageTemplate, std::int64_t limit) {
    std::vector<std::string> messages;
    for (auto& line : logTail(client, project, messageTemplate, limit)) messages.push_back(std::move(line.message));
    return messages;
}

}  // namespace brisalune
