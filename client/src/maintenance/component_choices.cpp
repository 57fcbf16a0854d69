#include <brisalune/client/maintenance/component_choices.hpp>

#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <set>
#include <utility>

namespace brisalune {

namespace {

using Choices = MaintenanceComponentChoices;

std::vector<Choices::Choice> offered(
    const StatusPage& page, std::optional<std::string_view> project, bool includeUnbound) {
    std::vector<const StatusComponent*> components;
    for (const StatusComponent& component : page.components) {
        if (Choices::offers(component, project, includeUnbound)) components.push_back(&component);
    }
    std::stable_sort(components.begin(), components.end(), [](const StatusComponent* a, const StatusComponent* b) {
        return a->position < b->position;
    });
    std::vector<Choices::Choice> choices;
    for (const StatusComponent* component : components) {
        choices.push_back({component->id, component->name, component->group});
    }
    return choices;
}

// Ids compare and order by their canonical form; an id that is not UTF-8 by its bytes.
std::string sortKey(std::string_view id) { return platform::isValidUtf8(id) ? platform::nfc(id) : std::string(id); }

}  // namespace

Choices::MaintenanceComponentChoices(
    const std::vector<StatusPage>& statusPages,
    const std::vector<std::string>& picked,
    std::optional<std::string_view> project,
    bool includeUnbound) {
    std::set<std::string, std::less<>> offeredIds;
    for (const StatusPage& page : statusPages) {
        auto choices = offered(page, project, includeUnbound);
        if (choices.empty()) continue;
        pages.push_back({page.id, page.title, std::move(choices)});
        for (const Choice& choice : pages.back().components) offeredIds.insert(sortKey(choice.id));
    }
    std::vector<std::pair<std::string, std::string>> left;  // sort key, id
    for (const std::string& id : picked) {
        std::string key = sortKey(id);
        if (!offeredIds.contains(key)) left.emplace_back(std::move(key), id);
    }
    // Equal canonical forms are one id: the first picked of them stays.
    std::stable_sort(left.begin(), left.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    left.erase(
        std::unique(left.begin(), left.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        left.end());
    for (auto& entry : left) unknown.push_back(std::move(entry.second));
}

bool Choices::offers(const StatusComponent& component, std::optional<std::string_view> project, bool includeUnbound) {
    if (!project) return true;
    if (component.bindings.empty()) return includeUnbound;
    return std::any_of(component.bindings.begin(), component.bindings.end(), [&](const StatusBinding& binding) {
        return binding.project == *project;
    });
}

std::optional<std::string> Choices::label(std::string_view componentId) const {
    const std::string wanted = sortKey(componentId);
    for (const Page& page : pages) {
        for (const Choice& choice : page.components) {
            if (sortKey(choice.id) != wanted) continue;
            return choice.group.empty() ? choice.name : choice.group + " \u00b7 " + choice.name;
        }
    }
    return std::nullopt;
}

}  // namespace brisalune
