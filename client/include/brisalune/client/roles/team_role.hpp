#pragma once

// What the client knows of the five built-in roles without asking the server: their names, their
// ranks, a line describing each, and who may hand them out when the server sent no definitions.
// A role is any text, compared exactly; one the client does not know is a custom role and ranks
// like "viewer". Nothing here rejects a role.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

struct RoleDef;

namespace TeamRole {

inline constexpr std::string_view owner = "owner";
inline constexpr std::string_view admin = "admin";
inline constexpr std::string_view member = "member";
inline constexpr std::string_view responder = "responder";
inline constexpr std::string_view viewer = "viewer";

// Highest rank first.
inline constexpr std::array<std::string_view, 5> builtIn = {owner, admin, member, responder, viewer};

// owner 5, admin 4, member 3, responder 2, anything else (viewer included) 1.
int roleRank(std::string_view role) noexcept;
bool isBuiltIn(std::string_view role) noexcept;

// The built-in role's line, or the custom-role line for any other text.
std::string roleDescription(std::string_view role);
// As above, but a custom role with a definition is described from that definition's ":write" keys.
std::string roleDescription(std::string_view role, const RoleDef* definition);

// A built-in role shows as itself; any other as the server's name for it, else "Custom role".
std::string displayName(std::string_view role, std::optional<std::string_view> roleName);

// Whether `actor` may hand out `role` (used when no role definitions are known): only a built-in
// admin or owner may, and only roles ranking no higher than its own.
bool mayAssign(std::string_view role, std::string_view actor);
// The built-in roles `actor` may hand out, highest first; empty below admin or for a custom role.
std::vector<std::string> assignableRoles(std::string_view actor);

// `wanted` when allowed; else the highest built-in allowed role ranking below it (first among
// equals); else the first allowed role; else, with nothing allowed, `wanted`.
std::string closestAllowedRole(std::string_view wanted, std::span<const std::string> allowed);

}  // namespace TeamRole
}  // namespace brisalune
