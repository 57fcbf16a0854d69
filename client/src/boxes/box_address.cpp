#include <brisalune/client/boxes/box_address.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace brisalune {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// Four dotted decimal parts of at most 255, the first one 127.
bool isIPv4Loopback(std::string_view host) {
    int parts[4] = {};
    for (int index = 0; index < 4; ++index) {
        const auto dot = host.find('.');
        if ((dot == std::string_view::npos) != (index == 3)) return false;
        const std::string_view part = host.substr(0, dot);
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), parts[index]);
        if (part.empty() || part.size() > 3 || error != std::errc() || end != part.data() + part.size() ||
            parts[index] > 255)
            return false;
        host.remove_prefix(dot == std::string_view::npos ? host.size() : dot + 1);
    }
    return parts[0] == 127;
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
    return equalsIgnoringCase(host, "localhost") || host == "[::1]" || isIPv4Loopback(host);
}

bool sendsInClear(const platform::Url& address) {
    const auto host = address.host();
    return address.scheme() == "http" && !(host && isLoopbackHost(*host));
}

std::optional<std::string> clearTextWarning(const platform::Url& address) {
    if (!sendsInClear(address)) return std::nullopt;
    const std::string host = address.host().value_or(address.text());
    return "Not encrypted: this address uses plain http, so the password you type here and the keys the box "
           "issues travel unencrypted to " +
           host + ". Go on only on a network you trust.";
}

bool sameServer(const platform::Url& a, const platform::Url& b) {
    const auto host = [](const platform::Url& url) { return url.host().value_or(std::string()); };
    return a.scheme() == b.scheme() && a.host().has_value() == b.host().has_value() &&
           equalsIgnoringCase(host(a), host(b)) && a.port() == b.port();
}

}  // namespace brisalune
