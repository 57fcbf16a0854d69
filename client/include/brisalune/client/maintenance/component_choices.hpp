#pragma once

// The status-page components a maintenance window can be shown on: one group per status page
// that offers something, its components in page order by position; and apart from them the
// picked ids that no offered component carries. Ids are one id when canonically equivalent,
// wherever they are compared. Pure: no request, no state.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/incidents/status_pages.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

struct MaintenanceComponentChoices {
    struct Choice {
        std::string id{};  // what a window stores in its `components`
        std::string name{};
        std::string group{};  // empty: in no group
        friend bool operator==(const Choice&, const Choice&) = default;
    };
    struct Page {
        std::string id{};
        std::string title{};
        std::vector<Choice> components{};  // never empty
        friend bool operator==(const Page&, const Page&) = default;
    };

    std::vector<Page> pages{};           // in the order of the status pages given
    std::vector<std::string> unknown{};  // picked ids no choice carries: distinct, ascending

    MaintenanceComponentChoices() = default;
    // With a project, a component is offered when one of its bindings is to that project, or,
    // with `includeUnbound`, when it has no bindings at all; without one, always.
    MaintenanceComponentChoices(
        const std::vector<StatusPage>& statusPages,
        const std::vector<std::string>& picked,
        std::optional<std::string_view> project,
        bool includeUnbound);

    static bool offers(const StatusComponent& component, std::optional<std::string_view> project, bool includeUnbound);

    // "Group · Name", or the name alone without a group, of the first choice with that id.
    std::optional<std::string> label(std::string_view componentId) const;

    friend bool operator==(const MaintenanceComponentChoices&, const MaintenanceComponentChoices&) = default;
};

}  // namespace brisalune

template <>
struct std::hash<brisalune::MaintenanceComponentChoices::Choice> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.id, c.name, c.group); }
};
template <>
struct std::hash<brisalune::MaintenanceComponentChoices::Page> {
    std::size_t operator()(const auto& p) const { return brisalune::hashValues(p.id, p.title, p.components); }
};
template <>
struct std::hash<brisalune::MaintenanceComponentChoices> {
    std::size_t operator()(const auto& c) const { return brisalune::hashValues(c.pages, c.unknown); }
};
