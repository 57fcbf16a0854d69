#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/log_text.hpp>
#include <brisalune/client/logs/endpoints.hpp>

namespace brisalune {

namespace {

struct SavedViewsResponse {
    std::vector<SavedView> views;
};

struct SavedViewResponse {
    SavedView view;
};

std::string viewPath(std::string_view id) { return "/v1/views/" + escapedPathSegment(id); }

// A 429 whose message reads "<limit>: <sentence>", the limit one word, is a plan limit.
std::optional<BrisaluneError> quotaRefusal(const json::Document& body) {
    const std::string text = errorMessage(body);
    const auto colon = text.find(": ");
    if (colon == std::string::npos) return std::nullopt;
    std::string limit = text.substr(0, colon);
    if (limit.empty() || limit.find(' ') != std::string::npos) return std::nullopt;
    return BrisaluneError::quota(std::move(limit), text.substr(colon + 2));
}

// The stored view, wrapped in "view" or bare.
SavedView decodeStoredView(const json::Document& body) {
    try {
        return json::decode<SavedViewResponse>(body).view;
    } catch (const json::DecodeError&) {
        return decodeAnswer<SavedView>(body);
    }
}

SavedView writeView(const BrisaluneClient& client, std::string method, std::string path, const SavedViewDraft& draft) {
    Answer answer =
        client.send({.method = std::move(method), .path = std::move(path), .plane = AuthPlane::data}, draft);
    if (answer.status == 429) {
        if (auto quota = quotaRefusal(answer.body)) throw std::move(*quota);
    }
    if (answer.status == 422) {
        if (auto refusal = logQueryRefusal(answer.body); refusal && refusal->offset()) throw std::move(*refusal);
    }
    return decodeStoredView(requireSuccess(std::move(answer)).body);
}

}  // namespace

template <>
inline constexpr auto json::keys<SavedViewsResponse> = json::object(json::field("views", &SavedViewsResponse::views));
template <>
inline constexpr auto json::keys<SavedViewResponse> = json::object(json::field("view", &SavedViewResponse::view));

std::vector<SavedView> listSavedViews(const BrisaluneClient& client) {
    return fetch<SavedViewsResponse>(client, {.method = "GET", .path = "/v1/views", .plane = AuthPlane::data}).views;
}

SavedView createSavedView(const BrisaluneClient& client, const SavedViewDraft& draft) {
    return writeView(client, "POST", "/v1/views", draft);
}

SavedView updateSavedView(const BrisaluneClient& client, std::string_view id, const SavedViewDraft& draft) {
    return writeView(client, "PUT", viewPath(id), draft);
}

void deleteSavedView(const BrisaluneClient& client, std::string_view id) {
    perform(client, {.method = "DELETE", .path = viewPath(id), .plane = AuthPlane::data});
}

}  // namespace brisalune
