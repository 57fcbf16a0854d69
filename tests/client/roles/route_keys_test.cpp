#include <brisalune/client/roles/route_keys.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace brisalune {
namespace {

TEST(RoutePattern, EveryKeyOnceWithItsMethod) {
    const std::set<std::string_view> distinct(RoutePattern::all.begin(), RoutePattern::all.end());
    EXPECT_EQ(distinct.size(), 76u);
    std::map<std::string_view, int> methods;
    for (std::string_view key : RoutePattern::all) {
        const auto blank = key.find(' ');
        ASSERT_NE(blank, std::string_view::npos) << key;
        EXPECT_TRUE(key.substr(blank + 1).starts_with("/v1/")) << key;
        ++methods[key.substr(0, blank)];
    }
    EXPECT_EQ(methods, (std::map<std::string_view, int>{{"POST", 39}, {"PUT", 16}, {"DELETE", 20}, {"PATCH", 1}}));
}

TEST(RouteScope, DerivedFromThePathByPrefix) {
    const std::pair<std::string_view, RouteScope> cases[] = {
        {"DELETE /v1/projects/{id}", RouteScope::project},
        {"POST /v1/projects", RouteScope::team},
        {"POST /v1/projects/{id}/maintenance-windows", RouteScope::project},
        {"DELETE /v1/logs/{id}", RouteScope::object},
        {"POST /v1/alerts/{id}/ack", RouteScope::object},
        {"PATCH /v1/incidents/{number}", RouteScope::object},
        {"POST /v1/incidents", RouteScope::team},
        {"PUT /v1/incident-settings", RouteScope::team},
        {"PUT /v1/views/{id}", RouteScope::team},
        {"POST /v1/tenants/{tid}/invites", RouteScope::team},
        {"/v1/projects/{id}", RouteScope::project},             // no blank: the whole key
        {"GET  odd /v1/alerts/{id}  ", RouteScope::object},     // several blanks: after the last
        {"POST /v1/projects/{id} trailing", RouteScope::team},  // ... even when that is not a path
        {"", RouteScope::team},
        {"   ", RouteScope::team},
    };
    for (const auto& [key, scope] : cases) EXPECT_EQ(routeScopeOf(key), scope) << '"' << key << '"';
}

TEST(RouteScope, RawTextIsExactAndStrictOnItsOwn) {
    EXPECT_FALSE(routeScope("Team"));
    EXPECT_FALSE(routeScope(""));
    for (RouteScope scope : {RouteScope::team, RouteScope::project, RouteScope::object})
        EXPECT_EQ(json::decode<RouteScope>(json::encode(scope)), scope);
    EXPECT_EQ(json::encode(RouteScope::object), R"("object")");
    EXPECT_THROW(json::decode<RouteScope>(R"("tenant")"), json::DecodeError);
}

}  // namespace
}  // namespace brisalune
