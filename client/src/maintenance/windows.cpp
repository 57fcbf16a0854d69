#include <brisalune/client/maintenance/windows.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <utility>

namespace brisalune {

namespace {

// An input's keys after "starts_at", each as it stands on the wire: absent is none.
struct InputTail {
    std::optional<std::string> endsAt{};
    std::optional<std::int64_t> durationMinutes{};
    std::optional<std::string> rrule{};
    std::optional<std::vector<std::string>> exdates{};
    MaintenanceScope scope{};
    bool statusPage = false;
    std::vector<std::string> components{};
};

}  // namespace

// clang-format off
template <>
inline constexpr auto json::keys<InputTail> = json::object(
    json::field("ends_at", &InputTail::endsAt),
    json::field("duration_minutes", &InputTail::durationMinutes),
    json::field("rrule", &InputTail::rrule),
    json::field("exdates", &InputTail::exdates),
    json::field("scope", &InputTail::scope, json::orEmpty),
    json::field("status_page", &InputTail::statusPage, json::orEmpty),
    json::field("components", &InputTail::components, json::orEmpty));
// clang-format on

const MaintenanceScope& MaintenanceScope::defaultScope() {
    static const MaintenanceScope scope{.project = true};
    return scope;
}

void json::Rules<MaintenanceWindowInput>::afterRead(const json::Node& object, MaintenanceWindowInput& out) {
    InputTail tail;
    json::Codec<InputTail>::read(object, tail);
    out.endsAt = std::move(tail.endsAt);
    out.durationMinutes = tail.durationMinutes;
    out.rrule = std::move(tail.rrule).value_or("");
    out.exdates = std::move(tail.exdates).value_or(std::vector<std::string>{});
    out.scope = std::move(tail.scope);
    out.statusPage = tail.statusPage;
    out.components = std::move(tail.components);
}

void json::Rules<MaintenanceWindowInput>::afterWrite(json::Writer& w, const MaintenanceWindowInput& input) {
    InputTail tail{.scope = input.scope, .statusPage = input.statusPage, .components = input.components};
    if (input.isRecurring()) {
        tail.durationMinutes = input.durationMinutes;
        tail.rrule = input.rrule;
        if (!input.exdates.empty()) tail.exdates = input.exdates;
    } else {
        tail.endsAt = input.endsAt;
    }
    json::writeMembers(w, tail);
}

void json::Rules<MaintenanceWindow>::afterRead(const json::Node& object, MaintenanceWindow& out) {
    json::Codec<MaintenanceWindowInput>::read(object, out.input);
}

}  // namespace brisalune
