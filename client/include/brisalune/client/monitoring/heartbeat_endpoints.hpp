#pragma once

// Issuing a source's heartbeat token and turning it into the source's heartbeat addresses.
// Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/monitoring/heartbeats.hpp>

#include <string_view>

namespace brisalune {

// The addresses sit under the client's own base address: "/v1/heartbeat/<token>", then "/fail"
// and "/start". Throws transport "The heartbeat URL could not be built." when one is no URL.
HeartbeatEndpoint mintHeartbeatEndpoint(
    const BrisaluneClient& client, std::string_view project, std::string_view source);

}  // namespace brisalune
