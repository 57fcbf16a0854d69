#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/logs/endpoints.hpp>

namespace brisalune {

namespace {

struct FindingsResponse {
    std::vector<SecretFinding> findings;
};

struct BlocksResponse {
    std::vector<SecretBlock> blocks;
};

struct BlockBody {
    std::string value;
    std::optional<std::string> source;
};

}  // namespace

template <>
inline constexpr auto json::keys<FindingsResponse> = json::object(json::field("findings", &FindingsResponse::findings));
template <>
inline constexpr auto json::keys<BlocksResponse> = json::object(json::field("blocks", &BlocksResponse::blocks));
template <>
inline constexpr auto json::keys<BlockBody> = json::object(json::field("value", &BlockBody::value),
                                                           json::field("source", &BlockBody::source));

std::vector<SecretFinding> listSecretFindings(const BrisaluneClient& client, std::string_view project) {
    return fetch<FindingsResponse>(
               client, {.method = "GET", .path = projectPath(project, "/secret-findings"), .plane = AuthPlane::data})
        .findings;
}

std::vector<SecretFinding> listAllSecretFindings(const BrisaluneClient& client) {
    return fetch<FindingsResponse>(client, {.method = "GET", .path = "/v1/secret-findings", .plane = AuthPlane::data})
        .findings;
}

void dismissSecretFinding(const BrisaluneClient& client, std::string_view project, std::int64_t findingId) {
    const std::string rest = "/secret-findings/" + escapedPathSegment(std::to_string(findingId)) + "/dismiss";
    perform(client, {.method = "POST", .path = projectPath(project, rest), .plane = AuthPlane::data});
}

std::vector<SecretBlock> listSecretBlocks(const BrisaluneClient& client, std::string_view project) {
    return fetch<BlocksResponse>(
               client, {.method = "GET", .path = projectPath(project, "/secret-blocks"), .plane = AuthPlane::data})
        .blocks;
}

SecretBlockResult createSecretBlock(const BrisaluneClient& client, std::string_view project, std::string_view value,
                                    std::optional<std::string_view> source) {
    const BlockBody body{std::string(value), source ? std::optional<std::string>(*source) : std::nullopt};
    return fetch<SecretBlockResult>(
        client, {.method = "POST", .path = projectPath(project, "/secret-blocks"), .plane = AuthPlane::data}, body);
}

void deleteSecretBlock(const BrisaluneClient& client, std::string_view project, std::string_view blockId) {
    perform(client, {.method = "DELETE",
                     .path = projectPath(project, "/secret-blocks/" + escapedPathSegment(blockId)),
                     .plane = AuthPlane::data});
}

}  // namespace brisalune
