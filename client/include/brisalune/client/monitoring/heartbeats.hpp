#pragma once

// The heartbeat addresses of an ingest source: where a run that went well, a run that failed and
// the start of a run are reported. Built from a token the service issues; the client keeps none.

#include <brisalune/platform/url.hpp>

#include <cstddef>
#include <functional>
#include <string>

namespace brisalune {

struct HeartbeatEndpoint {
    std::string source;  // the source's name as the service echoed it
    std::string token;   // the heartbeat token
    platform::Url okURL;
    platform::Url failURL;
    platform::Url startURL;

    friend bool operator==(const HeartbeatEndpoint&, const HeartbeatEndpoint&) = default;
};

}  // namespace brisalune

template <>
struct std::hash<brisalune::HeartbeatEndpoint> {
    std::size_t operator()(const brisalune::HeartbeatEndpoint& endpoint) const noexcept;
};
