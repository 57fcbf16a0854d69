#include <brisalune/client/maintenance/scope_names.hpp>

#include <brisalune/client/monitoring/check_endpoints.hpp>
#include <brisalune/client/monitoring/project_endpoints.hpp>
#include <brisalune/client/routing/rule_endpoints.hpp>

#include <algorithm>
#include <future>
#include <system_error>
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

// Runs on a thread of its own, or in the caller's (at get()) when no thread can be had. A future
// made by std::async waits for its task when dropped, so no task outlives the caller.
template <class F>
std::future<Names> lookup(F f) {
    try {
        return std::async(std::launch::async, f);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, std::move(f));
    }
}

}  // namespace

MaintenanceScopeNames maintenanceScopeNames(
    const BrisaluneClient& client, std::string_view project, std::stop_token cancel) {
    const std::string id(project);
    auto checks = lookup([&] {
        return sortedNames([&] { return listChecks(client, id, cancel); }, [](const auto& check) { return check.spec.name; });
    });
    auto sources = lookup([&] {
        return sortedNames([&] { return listSources(client, id, cancel); }, [](const auto& source) { return source.name; });
    });
    auto rules = lookup([&] {
        return sortedNames([&] { return listRules(client, id, cancel); }, [](const auto& rule) { return rule.rule.name; });
    });
    MaintenanceScopeNames names;
    names.checks = checks.get();
    names.sources = sources.get();
    names.rules = rules.get();
    return names;
}

}  // namespace brisalune
