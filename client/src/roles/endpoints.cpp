#include <brisalune/client/roles/endpoints.hpp>

#include <brisalune/client/detail/answers.hpp>

#include <utility>

namespace brisalune {

namespace {

std::string memberPath(std::string_view tenant, std::string_view account) {
    return "/v1/tenants/" + escapedPathSegment(tenant) + "/members/" + escapedPathSegment(account);
}

}  // namespace

std::optional<RolesResponse> roles(const BrisaluneClient& client) {
    try {
        return fetch<RolesResponse>(client, {.method = "GET", .path = "/v1/roles", .plane = AuthPlane::data});
    } catch (const BrisaluneError& error) {
        if (error.is(BrisaluneError::Case::notFound)) return std::nullopt;
        throw;
    }
}

Member setMemberRole(
    const BrisaluneClient& client,
    std::string_view tenant,
    std::string_view account,
    std::string role,
    std::optional<std::string> currentPassword) {
    return fetch<Member>(
        client,
        {.method = "PUT", .path = memberPath(tenant, account)},
        MemberRoleBody{std::move(role), std::move(currentPassword)});
}

Member setMemberProjects(
    const BrisaluneClient& client,
    std::string_view tenant,
    std::string_view account,
    std::optional<std::vector<ProjectGrant>> projects) {
    return fetch<Member>(
        client,
        {.method = "PUT", .path = memberPath(tenant, account) + "/projects"},
        MemberProjectsBody{std::move(projects)});
}

}  // namespace brisalune
