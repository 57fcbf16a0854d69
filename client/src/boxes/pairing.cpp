#include <brisalune/client/boxes/pairing.hpp>

#include <functional>
#include <tuple>

namespace brisalune {

std::vector<RelayProjectStatus> RelayStatus::driftedProjects() const {
    std::vector<RelayProjectStatus> drifted;
    if (!projects) return drifted;
    for (const auto& project : *projects) {
        const bool onCourse = project.enabled && relayURL && project.relayURL == *relayURL;
        if (!onCourse) drifted.push_back(project);
    }
    return drifted;
}

}  // namespace brisalune
