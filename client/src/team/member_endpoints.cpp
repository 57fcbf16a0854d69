#include <brisalune/client/team/member_endpoints.hpp>

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/detail/calls.hpp>

#include <utility>

namespace brisalune {

namespace {

struct MembersResponse {
    std::vector<Member> members;
};

struct InvitesResponse {
    std::vector<PendingInvite> invites;
};

struct InviteTokenResponse {
    std::string token;
};

struct RemoveMemberBody {
    std::string currentPassword;
};

struct InviteCreateBody {
    std::string email;
    std::string role;
    std::optional<std::vector<ProjectGrant>> projects;
    std::optional<std::string> currentPassword;
};

std::string membersPath(std::string_view tenant) { return tenantPath(tenant) + "/members"; }
std::string invitesPath(std::string_view tenant) { return tenantPath(tenant) + "/invites"; }

// A removal answered without a body (a 204 among them) reports nothing.
std::optional<MemberRemovalReport> removalReport(const Answer& answer) {
    if (answer.body.empty()) return std::nullopt;
    return decodeAnswer<MemberRemovalReport>(answer.body);
}

}  // namespace

template <>
inline constexpr auto json::keys<MembersResponse> = json::object(json::field("members", &MembersResponse::members));
template <>
inline constexpr auto json::keys<InvitesResponse> = json::object(json::field("invites", &InvitesResponse::invites));
template <>
inline constexpr auto json::keys<InviteTokenResponse> = json::object(json::field("token", &InviteTokenResponse::token));
template <>
inline constexpr auto json::keys<RemoveMemberBody> = json::object(json::field("current_password",
                                                                              &RemoveMemberBody::currentPassword));
template <>
inline constexpr auto json::keys<InviteCreateBody> = json::object(json::field("email", &InviteCreateBody::email),
                                                                  json::field("role", &InviteCreateBody::role),
                                                                  json::field("projects", &InviteCreateBody::projects),
                                                                  json::field("current_password",
                                                                              &InviteCreateBody::currentPassword));

std::vector<Member> listMembers(const BrisaluneClient& client, std::string_view tenant) {
    return fetch<MembersResponse>(client, {.method = "GET", .path = membersPath(tenant)}).members;
}

std::optional<MemberRemovalReport> removeMember(const BrisaluneClient& client, std::string_view tenant,
                                                std::string_view account,
                                                const std::optional<std::string>& currentPassword) {
    const Call call{.method = "DELETE", .path = membersPath(tenant) + segment(account)};
    Answer answer = currentPassword ? client.send(call, RemoveMemberBody{*currentPassword}) : client.send(call);
    return removalReport(requireSuccess(std::move(answer)));
}

std::vector<PendingInvite> listInvites(const BrisaluneClient& client, std::string_view tenant) {
    return fetch<InvitesResponse>(client, {.method = "GET", .path = invitesPath(tenant)}).invites;
}

std::string createInvite(const BrisaluneClient& client, std::string_view tenant, std::string_view email,
                         std::string_view role, const std::optional<std::vector<ProjectGrant>>& projects,
                         const std::optional<std::string>& currentPassword) {
    const InviteCreateBody body{std::string(email), std::string(role), projects, currentPassword};
    return fetch<InviteTokenResponse>(client, {.method = "POST", .path = invitesPath(tenant)}, body).token;
}

void revokeInvite(const BrisaluneClient& client, std::string_view tenant, std::string_view id) {
    perform(client, {.method = "DELETE", .path = invitesPath(tenant) + segment(id)});
}

RedeemedInvite redeemInvite(const BrisaluneClient& client, std::string_view token) {
    return fetch<RedeemedInvite>(client, {.method = "POST", .path = "/v1/invites" + segment(token) + "/redeem"});
}

}  // namespace brisalune
