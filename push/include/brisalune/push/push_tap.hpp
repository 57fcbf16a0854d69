#pragma once

// What a notification points at when the user taps it or chooses its action: one alert of a
// team, or one incident of a team whose alerts were resolved. Read from the notification's
// payload, which is untrusted: any key may be missing or hold any kind of value, of any size.

#include <brisalune/platform/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace brisalune {

// The payload keys the program reads.
namespace PushPayloadKey {
inline constexpr std::string_view alertId = "alert_id";
inline constexpr std::string_view tenantId = "tenant_id";
inline constexpr std::string_view event = "event";
inline constexpr std::string_view incident = "incident";
}  // namespace PushPayloadKey

struct PushTap {
    struct Alert {
        std::string id;  // never empty
        std::optional<std::string> tenantId;
        friend bool operator==(const Alert&, const Alert&) = default;
    };
    struct Incident {
        std::int64_t number = 0;  // at least 1
        std::optional<std::string> tenantId;
        friend bool operator==(const Incident&, const Incident&) = default;
    };

    // The only event told apart: the incident's alerts were resolved.
    static constexpr std::string_view alertsResolvedEvent = "incident.alerts_resolved";

    std::variant<Alert, Incident> value;

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }

    // An alert or team id longer than this is no id of the service's: such a payload is refused,
    // so that nothing of it is kept or sent.
    static constexpr std::size_t maxIdBytes = 256;

    // None when the payload names neither an alert nor, for the alerts-resolved event, an
    // incident, or names one with an id longer than `maxIdBytes`.
    static std::optional<PushTap> parse(const json::Object& userInfo);

    friend bool operator==(const PushTap&, const PushTap&) = default;
};

}  // namespace brisalune
