#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/monitoring/projects.hpp>

namespace brisalune {

ProjectPage listProjects(const BrisaluneClient& client, std::int64_t limit, const std::optional<std::string>& after) {
    Call call{
        .method = "GET", .path = "/v1/projects", .query = {{"limit", std::to_string(limit)}}, .plane = AuthPlane::data};
    if (after) call.query.push_back({"after", *after});
    return fetch<ProjectPage>(client, call);
}

}  // namespace brisalune
