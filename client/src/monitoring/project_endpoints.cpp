#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/monitoring/project_endpoints.hpp>
#include <brisalune/client/monitoring/projects.hpp>

#include <cstdint>
#include <iterator>
#include <optional>
#include <utility>

namespace brisalune {

namespace {

struct ProjectNameBody {
    std::string name;
};

struct SourceBody {
    std::string name;
    bool retainLogs = false;
};

struct SourceUpdateBody {
    bool retainLogs = false;
    std::optional<bool> monitoringAcknowledged;  // true or left out, never false
};

struct CreatedProject {
    std::string name;
    std::int64_t version = 0;
};

struct RenamedProjectResponse {
    std::string name;
};

struct SourceUpdated {
    std::string name;
};

struct RotatedToken {
    std::string name;
    std::string token;
};

}  // namespace

template <>
inline constexpr auto json::keys<ProjectNameBody> = json::object(json::field("name", &ProjectNameBody::name));
template <>
inline constexpr auto json::keys<SourceBody> =
    json::object(json::field("name", &SourceBody::name), json::field("retain_logs", &SourceBody::retainLogs));
template <>
inline constexpr auto json::keys<SourceUpdateBody> = json::object(
    json::field("retain_logs", &SourceUpdateBody::retainLogs),
    json::field("monitoring_acknowledged", &SourceUpdateBody::monitoringAcknowledged));
template <>
inline constexpr auto json::keys<CreatedProject> =
    json::object(json::field("name", &CreatedProject::name), json::field("version", &CreatedProject::version));
template <>
inline constexpr auto json::keys<RenamedProjectResponse> =
    json::object(json::field("name", &RenamedProjectResponse::name));
template <>
inline constexpr auto json::keys<SourceUpdated> = json::object(json::field("name", &SourceUpdated::name));
template <>
inline constexpr auto json::keys<RotatedToken> =
    json::object(json::field("name", &RotatedToken::name), json::field("token", &RotatedToken::token));

namespace {

constexpr std::int64_t projectPageSize = 500;
constexpr int projectPageCap = 50;

std::string sourcesPath(std::string_view project) { return projectPath(project) + "/sources"; }

std::string sourcePath(std::string_view project, std::string_view name) {
    return sourcesPath(project) + "/" + escapedPathSegment(name);
}

}  // namespace

std::vector<ProjectInfo> allProjects(const BrisaluneClient& client) {
    std::vector<ProjectInfo> projects;
    std::optional<std::string> cursor;
    for (int pages = 1;; ++pages) {
        ProjectPage page = listProjects(client, projectPageSize, cursor);
        if (projects.empty()) {
            projects = std::move(page.projects);
        } else {
            projects.insert(
                projects.end(),
                std::make_move_iterator(page.projects.begin()),
                std::make_move_iterator(page.projects.end()));
        }
        if (!page.next || page.next->empty() || pages == projectPageCap) return projects;
        cursor = std::move(page.next);
    }
}

void createProject(const BrisaluneClient& client, std::string_view name) {
    fetch<CreatedProject>(client, dataCall("POST", "/v1/projects"), ProjectNameBody{std::string(name)});
}

void deleteProject(const BrisaluneClient& client, std::string_view project) {
    fetch<DeletedResponse>(client, dataCall("DELETE", projectPath(project)));
}

void renameProject(const BrisaluneClient& client, std::string_view project, std::string_view newName) {
    fetch<RenamedProjectResponse>(
        client, dataCall("POST", projectPath(project) + "/rename"), ProjectNameBody{std::string(newName)});
}

std::vector<SourceInfo> listSources(const BrisaluneClient& client, std::string_view project, std::stop_token cancel) {
    Call call = dataCall("GET", sourcesPath(project));
    call.cancel = std::move(cancel);
    return fetch<SourcesResponse>(client, call).sources;
}

CreatedSource createSource(
    const BrisaluneClient& client, std::string_view project, std::string_view name, bool retainLogs) {
    return fetch<CreatedSource>(
        client, dataCall("POST", sourcesPath(project)), SourceBody{std::string(name), retainLogs});
}

void updateSource(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view name,
    bool retainLogs,
    bool acknowledgeMonitoring) {
    const SourceUpdateBody body{retainLogs, acknowledgeMonitoring ? std::optional<bool>(true) : std::nullopt};
    fetch<SourceUpdated>(client, dataCall("PUT", sourcePath(project, name)), body);
}

void deleteSource(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    fetch<DeletedResponse>(client, dataCall("DELETE", sourcePath(project, name)));
}

std::string rotateSourceToken(const BrisaluneClient& client, std::string_view project, std::string_view name) {
    return fetch<RotatedToken>(client, dataCall("POST", sourcePath(project, name) + "/rotate-token")).token;
}

}  // namespace brisalune
