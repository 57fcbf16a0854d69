#include <brisalune/client/core/client_identity.hpp>

#include <brisalune/client/version.hpp>

#include <sys/utsname.h>

#include <array>
#include <charconv>
#include <cstdint>

namespace brisalune {

namespace {

constexpr std::string_view productToken = "Brisalune-macOS";
constexpr std::string_view unknownVersion = "0.0.0-unknown";

// Reads the leading decimal number of `text` and moves past it; 0 when there is none (or it
// does not fit, which no real kernel release has).
std::uint64_t takeNumber(std::string_view& text) {
    std::uint64_t value = 0;
    const auto* end = text.data() + text.size();
    auto [next, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{}) {
        value = 0;
        while (next != end && *next >= '0' && *next <= '9') ++next;
    }
    text.remove_prefix(static_cast<std::size_t>(next - text.data()));
    return value;
}

}  // namespace

std::string ClientIdentity::userAgent() const { return product + "/" + version + " (" + comment + ")"; }

std::string systemText(std::string_view kernelName, std::string_view kernelRelease) {
    std::array<std::uint64_t, 3> numbers{};
    std::string_view rest = kernelRelease;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            if (!rest.starts_with('.')) break;
            rest.remove_prefix(1);
        }
        numbers[i] = takeNumber(rest);
    }
    std::string text(kernelName);
    text += ' ';
    text += std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]);
    return text;
}

ClientIdentity ClientIdentity::make(
    std::string_view version,
    std::optional<std::string_view> buildNumber,
    std::string_view kernelName,
    std::string_view kernelRelease) {
    std::string comment = systemText(kernelName, kernelRelease);
    if (buildNumber && !buildNumber->empty()) comment = std::string(*buildNumber) + "; " + comment;
    return ClientIdentity{
        .product = std::string(productToken),
        .version = std::string(version.empty() ? unknownVersion : version),
        .comment = std::move(comment),
    };
}

const ClientIdentity& ClientIdentity::current() {
    static const ClientIdentity identity = [] {
        utsname system{};
        const bool known = uname(&system) == 0;
        return make(
            build::version,
            std::string_view(build::buildNumber),
            known ? system.sysname : "Linux",
            known ? system.release : "");
    }();
    return identity;
}

}  // namespace brisalune
