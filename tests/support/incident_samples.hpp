#pragma once

// Reports, incidents and their alerts as the service writes them, for tests that serve or read them.

#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <cstdint>
#include <string>
#include <utility>

namespace brisalune::testkit {

// The object with these keys set (to null too).
inline json::Object with(json::Object object, const json::Object& changes) {
    for (const auto& [key, value] : changes) object.insert_or_assign(key, value);
    return object;
}

inline json::Object without(json::Object object, const std::string& key) {
    object.erase(key);
    return object;
}

// A record read from the object's JSON text; throws json::DecodeError.
template <class T>
T decodeObject(const json::Object& object) {
    return json::decode<T>(json::write(object));
}

// A report object with exactly its required keys.
inline json::Object reportObject(std::string id = "r1") {
    return json::Object{
        {"id", std::move(id)},
        {"project", "web"},
        {"title", "Checkout down"},
        {"public_uuid", "pub-1"},
        {"password_protected", false},
        {"created_at", 100},
        {"updated_at", 200}};
}

// An attached-alert object with exactly its required keys.
inline json::Object incidentAlertObject(std::string alertId = "a1") {
    return json::Object{
        {"alert_id", std::move(alertId)},
        {"project", "web"},
        {"rule", "errors"},
        {"message", "disk full"},
        {"opened_at", 10},
        {"state", "firing"},
        {"attached_at", 20}};
}

// An incident detail holding only its incident, numbered `number`.
inline std::string incidentDetailJson(std::int64_t number = 7) {
    json::Object incident = reportObject("inc-" + std::to_string(number));
    incident["number"] = number;
    return json::write(json::Object{{"incident", std::move(incident)}});
}

}  // namespace brisalune::testkit
