#include <brisalune/client/roles/roles.hpp>
#include <brisalune/client/roles/team_role.hpp>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {
namespace {

using Roles = std::vector<std::string>;

TEST(TeamRole, RanksAndBuiltInnessAreExact) {
    int rank = 5;
    for (std::string_view role : TeamRole::builtIn) EXPECT_EQ(TeamRole::roleRank(role), rank--) << role;
    EXPECT_EQ(TeamRole::builtIn, (std::array<std::string_view, 5>{"owner", "admin", "member", "responder", "viewer"}));
    for (std::string_view unknown : {"Owner", "owner ", "", "auditor"}) {
        EXPECT_EQ(TeamRole::roleRank(unknown), 1) << unknown;
        EXPECT_FALSE(TeamRole::isBuiltIn(unknown)) << unknown;
    }
    EXPECT_TRUE(TeamRole::isBuiltIn("viewer"));  // ranks like a custom role, yet built in
}

TEST(TeamRole, DescriptionsAndNamesOfCustomRoles) {
    const std::string custom = "Custom role — a role this version of the app does not know.";
    EXPECT_EQ(TeamRole::roleDescription("viewer"), "viewer — sees everything in this team; cannot change anything.");
    EXPECT_EQ(TeamRole::roleDescription("Owner"), custom);
    EXPECT_EQ(TeamRole::roleDescription("auditor", nullptr), custom);

    const RoleDef lead{"lead", "On-call lead", false, {"alerts:write", ":write", "logs:read", "incident_publishing:write"}};
    EXPECT_EQ(
        TeamRole::roleDescription("lead", &lead),
        "On-call lead — a custom role that changes alerts, incident publishing.");
    const RoleDef reader{"reader", "Reader", false, {"logs:read"}};
    EXPECT_EQ(
        TeamRole::roleDescription("reader", &reader),
        "Reader — a custom role that sees what it may read and changes nothing.");
    const RoleDef empty{"empty", "Empty", false, {}};
    EXPECT_EQ(
        TeamRole::roleDescription("empty", &empty),
        "Empty — a custom role that sees what it may read and changes nothing.");
    // A built-in role keeps its own line whatever the definition says.
    EXPECT_EQ(TeamRole::roleDescription("admin", &lead), TeamRole::roleDescription("admin"));

    EXPECT_EQ(TeamRole::displayName("admin", "Administrator"), "admin");
    EXPECT_EQ(TeamRole::displayName("auditor", "Auditor"), "Auditor");
    EXPECT_EQ(TeamRole::displayName("auditor", std::nullopt), "Custom role");
}

TEST(TeamRole, AssignmentWithoutDefinitions) {
    EXPECT_TRUE(TeamRole::mayAssign("owner", "owner"));
    EXPECT_FALSE(TeamRole::mayAssign("owner", "admin"));
    EXPECT_TRUE(TeamRole::mayAssign("admin", "admin"));
    EXPECT_TRUE(TeamRole::mayAssign("auditor", "admin"));  // custom roles rank 1
    EXPECT_FALSE(TeamRole::mayAssign("viewer", "member"));
    EXPECT_FALSE(TeamRole::mayAssign("viewer", "Admin"));

    EXPECT_EQ(TeamRole::assignableRoles("owner"), (Roles{"owner", "admin", "member", "responder", "viewer"}));
    EXPECT_EQ(TeamRole::assignableRoles("admin"), (Roles{"admin", "member", "responder", "viewer"}));
    for (std::string_view actor : {"member", "responder", "viewer", "auditor"}) {
        EXPECT_TRUE(TeamRole::assignableRoles(actor).empty()) << actor;
    }
}

TEST(TeamRole, ClosestAllowedRole) {
    EXPECT_EQ(TeamRole::closestAllowedRole("member", Roles{"viewer", "member"}), "member");
    EXPECT_EQ(TeamRole::closestAllowedRole("admin", Roles{"viewer", "member"}), "member");
    EXPECT_EQ(TeamRole::closestAllowedRole("owner", Roles{"auditor", "responder", "member", "x"}), "member");
    EXPECT_EQ(TeamRole::closestAllowedRole("member", Roles{"auditor"}), "auditor");
    EXPECT_EQ(TeamRole::closestAllowedRole("viewer", Roles{"member", "admin"}), "member");
    EXPECT_EQ(TeamRole::closestAllowedRole("auditor", Roles{"viewer", "admin"}), "viewer");
    EXPECT_EQ(TeamRole::closestAllowedRole("admin", Roles{}), "admin");
}

}  // namespace
}  // namespace brisalune
