#pragma once

// Telling a self-hosted box from the hosted service, and from anything else, at an address the
// user entered; with the text that explains a verdict other than "a box".

#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/url.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

enum class BoxProbe {
    box,           // answered the health probe as a box
    unreachable,   // the health probe failed in any way
    accountPlane,  // the hosted service itself
    unknownRole,   // a readable health answer naming neither role
};

// Asks the client's server for its health; never throws. The client holds no credentials.
BoxProbe probeBox(const BrisaluneClient& client);

// What to tell the user about the verdict for `enteredAddress`; none for `box`. The device noun
// names this machine ("Mac" on the original platform); the hosted service's own domain name is
// the host of `hostedService`, the hosted API's base address.
std::optional<std::string> boxProbeMessage(
    BoxProbe verdict,
    const platform::Url& enteredAddress,
    std::string_view deviceNoun,
    const platform::Url& hostedService);

}  // namespace brisalune
