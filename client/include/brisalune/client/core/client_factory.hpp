#pragma once

// How flows that talk to more than one server make their clients: the program hands in the
// one factory with which it builds all its clients, so every client shares its transport,
// identity and compatibility record.

#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/url.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brisalune {

// A new client for `baseURL` holding the given session token and data key.
using ClientFactory = std::function<std::shared_ptr<BrisaluneClient>(
    const platform::Url& baseURL, std::optional<std::string> sessionToken, std::optional<std::string> dataKey)>;

}  // namespace brisalune
