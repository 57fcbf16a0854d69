#include <brisalune/client/detail/check_answers.hpp>
#include <brisalune/client/monitoring/check_endpoints.hpp>
#include <brisalune/client/monitoring/lossy.hpp>

#include <algorithm>
#include <optional>
#include <utility>

namespace brisalune {

namespace {

struct RegionsResponse {
    std::vector<std::string> regions;
};

// A value in a write that looks like a secret stored in the clear.
struct SecretWarning {
    std::string field;
    std::string kind;
};

// What a create or update answer carries beside the stored check.
struct CheckWriteExtras {
    std::optional<std::string> detachedRule;
    std::optional<std::vector<std::string>> warnings;
    std::optional<std::vector<Lossy<SecretWarning>>> secretWarnings;  // advisory: never fails the answer
};

// A create or update answer: the stored check and the extras, read from the one object.
struct CheckWriteAnswer {
    MonitorCheckInfo check;
    CheckWriteExtras extras;
};

// A 422 of the checks service that says why it refused the check.
struct ProblemsBody {
    std::vector<std::string> errors;
};

}  // namespace

template <>
inline constexpr auto json::keys<RegionsResponse> = json::object(json::field("regions", &RegionsResponse::regions));
template <>
inline constexpr auto json::keys<SecretWarning> =
    json::object(json::field("field", &SecretWarning::field), json::field("kind", &SecretWarning::kind));
template <>
inline constexpr auto json::keys<CheckWriteExtras> = json::object(
    json::field("detached_rule", &CheckWriteExtras::detachedRule),
    json::field("warnings", &CheckWriteExtras::warnings),
    json::field("secret_warnings", &CheckWriteExtras::secretWarnings, json::lenient));
template <>
inline constexpr auto json::keys<CheckWriteAnswer> =
    json::object(json::byRules(&CheckWriteAnswer::check), json::byRules(&CheckWriteAnswer::extras));
template <>
inline constexpr auto json::keys<ProblemsBody> = json::object(json::field("errors", &ProblemsBody::errors));

template <>
struct json::Rules<CheckWriteAnswer> {
    static void afterRead(const json::Node& object, CheckWriteAnswer& out) {
        json::Codec<MonitorCheckInfo>::read(object, out.check);
        json::Codec<CheckWriteExtras>::read(object, out.extras);
    }
};

namespace {

std::string checksPath(std::string_view project) { return "/v1/projects/" + escapedPathSegment(project) + "/checks"; }

std::string checkPath(std::string_view project, std::string_view name) {
    return checksPath(project) + "/" + escapedPathSegment(name);
}

Call checksCall(std::string method, std::string path) {
    return {.method = std::move(method), .path = std::move(path), .plane = AuthPlane::data};
}

std::string secretSentence(const SecretWarning& warning) {
    std::string kind = warning.kind;
    std::replace(kind.begin(), kind.end(), '_', ' ');
    return warning.field + " looks like a " + kind +
           " stored in the clear. Anyone who can read checks can see it; keep it in a sealed secret instead.";
}

MonitorCheckWriteResult writeResult(CheckWriteAnswer answer) {
    std::vector<std::string> warnings = std::move(answer.extras.warnings).value_or(std::vector<std::string>{});
    if (answer.extras.secretWarnings) {
        for (const SecretWarning& secret : decodedValues(std::move(*answer.extras.secretWarnings))) {
            warnings.push_back(secretSentence(secret));
        }
    }
    return {
        .check = std::move(answer.check),
        .detachedRule = std::move(answer.extras.detachedRule),
        .warnings = std::move(warnings)};
}

// "<limit>: <message>", the limit being a word without blanks.
std::optional<BrisaluneError> quotaError(const std::string& text) {
    const auto colon = text.find(": ");
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    const std::string limit = text.substr(0, colon);
    if (limit.find(' ') != std::string::npos) return std::nullopt;
    return BrisaluneError::quota(limit, text.substr(colon + 2));
}

std::optional<BrisaluneError> refusedError(const json::Document& body) {
    try {
        auto problems = json::decode<ProblemsBody>(body);
        if (problems.errors.empty()) return std::nullopt;
        return BrisaluneError::refused(std::move(problems.errors));
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

}  // namespace

BrisaluneError checkError(int status, const json::Document& body) {
    std::optional<BrisaluneError> special;
    if (status == 429) special = quotaError(errorMessage(body));
    if (status == 422) special = refusedError(body);
    if (special) return std::move(*special);
    return BrisaluneClient::error(status, body);
}

std::vector<std::string> checkRegions(const BrisaluneClient& client) {
    return fetchChecked<RegionsResponse>(client, checksCall("GET", "/v1/regions")).regions;
}

std::vector<MonitorCheckInfo> listChecks(
    const BrisaluneClient& client, std::string_view project, std::stop_token cancel) {
    Call call = checksCall("GET", checksPath(project));
    call.cancel = std::move(cancel);
    return fetchChecked<ChecksResponse>(client, call).checks;
}

MonitorCheckInfo getCheck(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    return fetchChecked<MonitorCheckInfo>(client, checksCall("GET", checkPath(project, name)));
}

MonitorCheckStatus checkStatus(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    return fetchChecked<MonitorCheckStatus>(client, checksCall("GET", checkPath(project, name) + "/status"));
}

MonitorCheckWriteResult createCheck(
    const BrisaluneClient& client, std::string_view project, const MonitorCheckSpec& spec) {
    return writeResult(fetchChecked<CheckWriteAnswer>(client, checksCall("POST", checksPath(project)), spec));
}

MonitorCheckWriteResult updateCheck(
    const BrisaluneClient& client, std::string_view project, std::string_view name, const MonitorCheckSpec& spec) {
    MonitorCheckSpec named = spec;
    named.name = std::string(name);
    return writeResult(fetchChecked<CheckWriteAnswer>(client, checksCall("PUT", checkPath(project, name)), named));
}

MonitorCheckDeleteResult deleteCheck(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    return fetchChecked<MonitorCheckDeleteResult>(client, checksCall("DELETE", checkPath(project, name)));
}

}  // namespace brisalune
