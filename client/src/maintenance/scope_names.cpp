#include <brisalune/client/maintenance/scope_names.hpp>

#include <brisalune/client/detail/side_by_side.hpp>
#include <brisalune/client/monitoring/check_endpoints.hpp>
#include <brisalune/client/monitoring/project_endpoints.hpp>
#include <brisalune/client/routing/rule_endpoints.hpp>

#include <algorithm>
#include <utility>

namespace brisalune {

namespace {

using Names = std::vector<std::string>;

// The sorted names of one list, or none when it cannot be read.
template <class List, class Name>
Names sortedNames(List&& list, Name&& nameOf) {
    Names names;
    try {
        for (const auto& entry : list()) names.push_back(nameOf(entry));
    } catch (...) {
        return {};  // a picker without this list rather than no picker
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

MaintenanceScopeNames maintenanceScopeNames(
    const BrisaluneClient& client, std::string_view project, std::stop_token cancel) {
    const std::string id(project);
    auto checks = sideBySide([&] {
        return sortedNames([&] { return listChecks(client, id, cancel); }, [](const auto& check) { return check.spec.name; });
    });
    auto sources = sideBySide([&] {
        return sortedNames([&] { return listSources(client, id, cancel); }, [](const auto& source) { return source.name; });
    });
    auto rules = sideBySide([&] {
        return sortedNames([&] { return listRules(client, id, cancel); }, [](const auto& rule) { return rule.rule.name; });
    });
    MaintenanceScopeNames names;
    names.checks = checks.get();
    names.sources = sources.get();
    names.rules = rules.get();
    return names;
}

}  // namespace brisalune
