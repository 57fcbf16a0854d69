#include <brisalune/client/roles/route_keys.hpp>

#include <array>

namespace brisalune {

std::optional<RouteScope> routeScope(std::string_view rawValue) {
    for (RouteScope scope : {RouteScope::team, RouteScope::project, RouteScope::object}) {
        if (rawValue == brisalune::rawValue(scope)) return scope;
    }
    return std::nullopt;
}

std::string_view rawValue(RouteScope scope) {
    switch (scope) {
        case RouteScope::team: return "team";
        case RouteScope::project: return "project";
        case RouteScope::object: return "object";
    }
    return {};
}

namespace {

// The last piece of the key between blanks; the whole key when there is none.
std::string_view pathOf(std::string_view routeKey) {
    std::size_t end = routeKey.find_last_not_of(' ');
    if (end == std::string_view::npos) return routeKey;
    std::string_view trimmed = routeKey.substr(0, end + 1);
    std::size_t blank = trimmed.find_last_of(' ');
    return blank == std::string_view::npos ? trimmed : trimmed.substr(blank + 1);
}

}  // namespace

RouteScope routeScopeOf(std::string_view routeKey) {
    const std::string_view path = pathOf(routeKey);
    if (path.starts_with("/v1/projects/{id}")) return RouteScope::project;
    static constexpr std::array<std::string_view, 3> objectPrefixes = {
        "/v1/alerts/{id}", "/v1/logs/{id}", "/v1/incidents/{number}"};
    for (std::string_view prefix : objectPrefixes) {
        if (path.starts_with(prefix)) return RouteScope::object;
    }
    return RouteScope::team;
}

}  // namespace brisalune
