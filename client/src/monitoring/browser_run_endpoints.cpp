#include <brisalune/client/detail/check_answers.hpp>
#include <brisalune/client/monitoring/browser_run_endpoints.hpp>

#include <chrono>
#include <utility>

namespace brisalune {

namespace {

struct BrowserRunsResponse {
    std::vector<BrowserRun> runs;
};

struct RefusalBody {
    std::string reason;
};

}  // namespace

template <>
inline constexpr auto json::keys<BrowserRunsResponse> = json::object(json::field("runs", &BrowserRunsResponse::runs));
template <>
inline constexpr auto json::keys<RefusalBody> = json::object(json::field("reason", &RefusalBody::reason));

namespace {

constexpr std::chrono::seconds artifactTimeout{90};

std::string runsPath(std::string_view project, std::string_view check) {
    return "/v1/projects/" + escapedPathSegment(project) + "/checks/" + escapedPathSegment(check) + "/runs";
}

// The refusal a failed download names, if it names one of ours.
std::optional<BrowserArtifactRefusal> refusalOf(const json::Document& body) {
    try {
        return BrowserArtifactRefusal::fromCode(json::decode<RefusalBody>(body).reason);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

}  // namespace

std::vector<BrowserRun> browserRuns(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view check,
    std::optional<std::int64_t> limit) {
    Call call{.method = "GET", .path = runsPath(project, check), .plane = AuthPlane::data};
    if (limit) call.query.push_back({"limit", std::to_string(*limit)});
    return fetchChecked<BrowserRunsResponse>(client, call).runs;
}

std::string browserArtifact(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view check,
    std::string_view run,
    std::string_view name) {
    Answer answer = client.send(
        {.method = "GET",
         .path = runsPath(project, check) + "/" + escapedPathSegment(run) + "/artifacts/" + escapedPathSegment(name),
         .plane = AuthPlane::data,
         .timeout = artifactTimeout});
    if (answer.status >= 200 && answer.status <= 299) return answer.body.takeText();
    if (auto refusal = refusalOf(answer.body)) throw *refusal;
    throw BrisaluneClient::error(answer.status, answer.body);
}

}  // namespace brisalune
