#include <brisalune/demo/routes.hpp>

#include <brisalune/platform/url.hpp>

#include <string_view>
#include <utility>

namespace brisalune::demo {

namespace {

std::vector<std::string> split(std::string_view path) {
    std::vector<std::string> segments;
    if (path.starts_with('/')) path.remove_prefix(1);
    for (std::size_t slash; (slash = path.find('/')) != std::string_view::npos; path.remove_prefix(slash + 1)) {
        segments.emplace_back(path.substr(0, slash));
    }
    segments.emplace_back(path);
    return segments;
}

std::optional<std::string> nameOf(std::string_view segment) {
    if (segment.size() < 2 || !segment.starts_with('{') || !segment.ends_with('}')) return std::nullopt;
    return std::string(segment.substr(1, segment.size() - 2));
}

}  // namespace

void Routes::add(std::string method, std::string pattern, Handler handler) {
    routes_.push_back({std::move(method), split(pattern), std::move(handler)});
}

std::optional<Routes::Found> Routes::find(const standin::ReceivedRequest& request) const {
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    const auto segments = split(request.path);
    for (const auto& route : routes_) {
        if (route.method != method || route.segments.size() != segments.size()) continue;
        Found found{&route.handler, {}};
        bool matches = true;
        for (std::size_t i = 0; matches && i < segments.size(); ++i) {
            if (auto name = nameOf(route.segments[i])) {
                auto value = platform::percentDecode(segments[i]);
                matches = value.has_value();
                if (matches) found.values[*name] = std::move(*value);
            } else {
                matches = route.segments[i] == segments[i];
            }
        }
        if (matches) return found;
    }
    return std::nullopt;
}

}  // namespace brisalune::demo
