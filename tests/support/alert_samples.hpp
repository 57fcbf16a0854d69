#pragma once

// Alert objects and pull answers as the service writes them, for tests that serve them.

#include <brisalune/platform/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace brisalune::testkit {

// An alert object with every required key.
inline json::Object alertObject(
    std::string id, std::int64_t updatedSeq, std::string state = "firing", std::string project = "web") {
    return json::Object{
        {"id", std::move(id)},
        {"project", std::move(project)},
        {"rule", "errors"},
        {"state", std::move(state)},
        {"level", 400},
        {"count", 1},
        {"escalation_level", 0},
        {"investigate", false},
        {"template", "disk <*> full"},
        {"last_message", "disk 2 full"},
        {"first_seen", 100},
        {"last_seen", 200},
        {"updated_seq", updatedSeq}};
}

inline std::string alertJson(std::string id, std::int64_t updatedSeq, std::string state = "firing") {
    return json::write(alertObject(std::move(id), updatedSeq, std::move(state)));
}

inline std::string pullJson(
    std::int64_t cursor, std::vector<json::Object> alerts = {}, json::Object configVersions = {}) {
    json::Array list(alerts.begin(), alerts.end());
    return json::write(
        json::Object{{"cursor", cursor}, {"config_versions", std::move(configVersions)}, {"alerts", std::move(list)}});
}

}  // namespace brisalune::testkit
