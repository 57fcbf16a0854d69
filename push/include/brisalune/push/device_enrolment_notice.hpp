#pragma once

// Why this device is not registered for push, as the user is told.

#include <string>
#include <variant>

namespace brisalune {

struct DeviceEnrolmentNotice {
    struct Refused {  // the service refused the registration, for these reasons
        std::string reason;
        friend bool operator==(const Refused&, const Refused&) = default;
    };
    struct NotEnrolled {  // a forced re-registration did not succeed
        friend bool operator==(const NotEnrolled&, const NotEnrolled&) = default;
    };

    std::variant<Refused, NotEnrolled> value;

    template <class Case>
    const Case* get() const noexcept {
        return std::get_if<Case>(&value);
    }

    // The user text. The service's reason is shown as it came, and the texts say "phone"
    // whatever the device.
    std::string refusalText() const;

    friend bool operator==(const DeviceEnrolmentNotice&, const DeviceEnrolmentNotice&) = default;
};

}  // namespace brisalune
