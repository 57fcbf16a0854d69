#include <brisalune/client/incidents/status_page_endpoints.hpp>

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/incident_calls.hpp>

#include <string>
#include <utility>

namespace brisalune {

namespace {

std::string pagePath(std::string_view pageId, std::string_view rest = {}) {
    std::string path = "/v1/status-pages/" + escapedPathSegment(pageId);
    path += rest;
    return path;
}

}  // namespace

std::vector<StatusPage> listStatusPages(const BrisaluneClient& client) {
    auto answer = fetch<StatusPagesResponse>(client, dataCall("GET", "/v1/status-pages"));
    return std::move(answer.statusPages).value_or(std::vector<StatusPage>{});
}

StatusPage getStatusPage(const BrisaluneClient& client, std::string_view pageId) {
    return fetch<StatusPage>(client, dataCall("GET", pagePath(pageId)));
}

std::optional<std::string> getStatusPageLogo(const BrisaluneClient& client, std::string_view pageId) {
    Answer answer = client.send(dataCall("GET", pagePath(pageId, "/logo")));
    if (answer.status == 404) return std::nullopt;
    return requireSuccess(std::move(answer)).body.takeText();
}

StatusTimeline getStatusTimeline(
    const BrisaluneClient& client, std::string_view pageId, std::string_view componentId, std::int64_t days) {
    Call call = dataCall("GET", pagePath(pageId, "/components/" + escapedPathSegment(componentId) + "/timeline"));
    call.query.push_back({"days", std::to_string(days)});
    return fetch<StatusTimeline>(client, call);
}

std::optional<platform::Url> publicStatusPageURL(const BrisaluneClient& client, std::string_view slug) {
    return client.url("/status/" + escapedPathSegment(slug));
}

}  // namespace brisalune
