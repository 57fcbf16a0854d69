#pragma once

// The body by which a server refuses an outdated client, and its recogniser.

#include <brisalune/client/core/server_compatibility.hpp>
#include <brisalune/platform/json_document.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

struct ClientOutdatedBody {
    std::optional<std::string> code;
    std::optional<std::string> client;
    std::optional<std::string> minVersion;

    // Status 426, or a body whose "code" is exactly "client_outdated", refuses this client.
    static std::optional<ClientOutdated> recognise(int status, const json::Document& body);
    static std::optional<ClientOutdated> recognise(int status, std::string_view body);
};

// This app's name in refusals: the product in lower case without "brisalune-" ("macos").
std::string defaultClientName();

}  // namespace brisalune
