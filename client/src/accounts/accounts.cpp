#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/team/team.hpp>

#include <utility>

namespace brisalune {

const std::string& Account::shownName() const noexcept {
    return displayName && !displayName->empty() ? *displayName : email;
}

std::string_view AlertLevel::name(std::int64_t level) noexcept {
    if (level < 200) return "debug";
    if (level < 300) return "info";
    if (level < 400) return "warn";
    if (level < 500) return "error";
    return "critical";
}

Member::Member(
    std::string account,
    std::string mail,
    std::string roleId,
    std::optional<std::string> display,
    std::optional<std::int64_t> devices,
    std::optional<bool> push,
    std::optional<bool> critical,
    std::optional<std::vector<ProjectGrant>> grants,
    std::optional<std::string> roleDisplayName)
    : accountId(std::move(account))
    , email(std::move(mail))
    , role(std::move(roleId))
    , roleName(std::move(roleDisplayName))
    , displayName(std::move(display))
    , deviceCount(devices)
    , pushEligible(push)
    , criticalAlerts(critical)
    , projects(std::move(grants)) {}

PendingInvite::PendingInvite(
    std::string inviteId,
    std::string mail,
    std::string roleId,
    std::string creator,
    std::chrono::sys_seconds created,
    std::chrono::sys_seconds expires,
    std::optional<std::vector<ProjectGrant>> grants,
    std::optional<std::string> roleDisplayName)
    : id(std::move(inviteId))
    , email(std::move(mail))
    , role(std::move(roleId))
    , roleName(std::move(roleDisplayName))
    , createdBy(std::move(creator))
    , createdAt(created)
    , expiresAt(expires)
    , projects(std::move(grants)) {}

}  // namespace brisalune
