#pragma once

// How this client names itself to the service: the User-Agent of every request.

#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

struct ClientIdentity {
    std::string product;
    std::string version;
    std::string comment;

    // `product` "/" `version` " (" `comment` ")", copied as they stand.
    std::string userAgent() const;

    // This app's identity, built once from the build's version and the running kernel.
    static const ClientIdentity& current();

    // The identity of product "Brisalune-macOS" (the server keys on it) for the given build and
    // kernel: an empty version becomes "0.0.0-unknown"; the comment is the build number and
    // "; " before the system text when the build number is present and not empty.
    static ClientIdentity make(
        std::string_view version,
        std::optional<std::string_view> buildNumber,
        std::string_view kernelName,
        std::string_view kernelRelease);

    friend bool operator==(const ClientIdentity&, const ClientIdentity&) = default;
};

// The kernel name, a blank, then the first three numbers of the release, missing ones written
// as 0: ("Linux", "6.1.0-18-amd64") gives "Linux 6.1.0", ("Linux", "5.10") gives "Linux 5.10.0".
std::string systemText(std::string_view kernelName, std::string_view kernelRelease);

}  // namespace brisalune
