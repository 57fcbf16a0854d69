#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/logs/endpoints.hpp>

namespace brisalune {

namespace {

struct DeletedCountResponse {
    std::int64_t deleted = 0;
};

std::string linePath(std::int64_t id) { return "/v1/logs/" + escapedPathSegment(std::to_string(id)); }

}  // namespace

template <>
inline constexpr auto json::keys<DeletedCountResponse> =
    json::object(json::field("deleted", &DeletedCountResponse::deleted));

void deleteLogLine(const BrisaluneClient& client, std::int64_t id) {
    perform(client, {.method = "DELETE", .path = linePath(id), .plane = AuthPlane::data});
}

std::int64_t deleteSourceLogs(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view source,
    std::int64_t since,
    std::int64_t until) {
    return fetch<DeletedCountResponse>(
               client,
               {.method = "DELETE",
                .path =
                    "/v1/projects/" + escapedPathSegment(project) + "/sources/" + escapedPathSegment(source) + "/logs",
                .query = {{"since", std::to_string(since)}, {"until", std::to_string(until)}},
                .plane = AuthPlane::data})
        .deleted;
}

LogLineContext logLineContext(const BrisaluneClient& client, std::int64_t id, std::int64_t before, std::int64_t after) {
    return fetch<LogLineContext>(
        client,
        {.method = "GET",
         .path = linePath(id),
         .query = {{"before", std::to_string(before)}, {"after", std::to_string(after)}},
         .plane = AuthPlane::data});
}

}  // namespace brisalune
