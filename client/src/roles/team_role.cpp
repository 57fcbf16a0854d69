#include <brisalune/client/roles/team_role.hpp>

#include <brisalune/client/roles/roles.hpp>

#include <algorithm>

namespace brisalune::TeamRole {

namespace {

constexpr std::string_view customRoleDescription = "Custom role — a role this version of the app does not know.";

// In the order of builtIn.
constexpr std::array<std::string_view, 5> descriptions = {
    "owner — full control of this team, including deleting it and everything in it.",
    "admin — manages projects, API keys, members and invites.",
    "member — changes projects, rules, checks and the rest of this team's setup.",
    "responder — acknowledges and resolves alerts, mutes rules, works incidents and takes on-call overrides; "
    "cannot change setup.",
    "viewer — sees everything in this team; cannot change anything.",
};

// The role's place in builtIn, or builtIn.size().
std::size_t builtInIndex(std::string_view role) noexcept {
    return static_cast<std::size_t>(std::find(builtIn.begin(), builtIn.end(), role) - builtIn.begin());
}

// "incident_publishing:write" reads as "incident publishing"; keys not ending in ":write" name nothing.
std::optional<std::string> changedThing(std::string_view key) {
    constexpr std::string_view write = ":write";
    // A bare ":write" names nothing; kept, it would leave an empty item in the list.
    if (!key.ends_with(write) || key.size() == write.size()) return std::nullopt;
    std::string words(key.substr(0, key.size() - write.size()));
    std::replace(words.begin(), words.end(), '_', ' ');
    return words;
}

}  // namespace

int roleRank(std::string_view role) noexcept {
    if (role == owner) return 5;
    if (role == admin) return 4;
    if (role == member) return 3;
    if (role == responder) return 2;
    return 1;
}

bool isBuiltIn(std::string_view role) noexcept { return builtInIndex(role) < builtIn.size(); }

std::string roleDescription(std::string_view role) {
    const std::size_t index = builtInIndex(role);
    return std::string(index < builtIn.size() ? descriptions[index] : customRoleDescription);
}

std::string roleDescription(std::string_view role, const RoleDef* definition) {
    if (isBuiltIn(role) || definition == nullptr) return roleDescription(role);
    std::string changed;
    for (const std::string& key : definition->permissions) {
        auto thing = changedThing(key);
        if (!thing) continue;
        if (!changed.empty()) changed += ", ";
        changed += *thing;
    }
    if (changed.empty()) return definition->name + " — a custom role that sees what it may read and changes nothing.";
    return definition->name + " — a custom role that changes " + changed + ".";
}

std::string displayName(std::string_view role, std::optional<std::string_view> roleName) {
    if (isBuiltIn(role)) return std::string(role);
    return std::string(roleName ? *roleName : "Custom role");
}

bool mayAssign(std::string_view role, std::string_view actor) {
    if (!isBuiltIn(actor) || roleRank(actor) < roleRank(admin)) return false;
    return roleRank(actor) >= roleRank(role);
}

std::vector<std::string> assignableRoles(std::string_view actor) {
    std::vector<std::string> roles;
    if (!isBuiltIn(actor) || roleRank(actor) < roleRank(admin)) return roles;
    for (std::string_view role : builtIn) {
        if (roleRank(role) <= roleRank(actor)) roles.emplace_back(role);
    }
    return roles;
}

std::string closestAllowedRole(std::string_view wanted, std::span<const std::string> allowed) {
    if (std::find(allowed.begin(), allowed.end(), wanted) != allowed.end()) return std::string(wanted);
    const std::string* best = nullptr;
    for (const std::string& role : allowed) {
        if (!isBuiltIn(role) || roleRank(role) >= roleRank(wanted)) continue;
        if (best == nullptr || roleRank(role) > roleRank(*best)) best = &role;
    }
    if (best != nullptr) return *best;
    if (!allowed.empty()) return allowed.front();
    return std::string(wanted);
}

}  // namespace brisalune::TeamRole
