#include <brisalune/client/boxes/box_address.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <string>

namespace brisalune {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// 127.x.y.z in canonical dotted decimal: four parts of at most 255, none with a leading zero.
// libcurl reads another spelling as octal or, failing that, as a name it looks up.
bool isIPv4Loopback(std::string_view host) {
    int parts[4] = {};
    for (int index = 0; index < 4; ++index) {
        const auto dot = host.find('.');
        if ((dot == std::string_view::npos) != (index == 3)) return false;
        const std::string_view part = host.substr(0, dot);
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), parts[index]);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part.front() == '0') || error != std::errc() ||
            end != part.data() + part.size() || parts[index] > 255)
            return false;
        host.remove_prefix(dot == std::string_view::npos ? host.size() : dot + 1);
    }
    return parts[0] == 127;
}

// Where the authority's user-info ends ("@"), in the address's text; none without one.
std::optional<std::size_t> userInfoEnd(const platform::Url& address) {
    if (!address.user()) return std::nullopt;
    const std::string& text = address.text();
    const std::size_t start = text.find("//");
    if (start == std::string::npos) return std::nullopt;
    const std::size_t authorityEnd = text.find_first_of("/?#", start + 2);
    const std::size_t at = text.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 1);
    if (at == std::string::npos || at < start + 2) return std::nullopt;
    return at;
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

std::string addressReached(const platform::Url& address) {
    const std::string& text = address.text();
    const std::optional<std::size_t> at = userInfoEnd(address);
    if (!at) return text;
    const std::size_t start = text.find("//") + 2;
    return text.substr(0, start) + text.substr(*at + 1);
}

std::optional<std::string> userInfoWarning(const platform::Url& address) {
    const std::optional<std::size_t> at = userInfoEnd(address);
    if (!at) return std::nullopt;
    const std::string& text = address.text();
    const std::size_t start = text.find("//") + 2;
    std::string host = address.host().value_or(std::string());
    if (address.port()) host += ":" + std::to_string(*address.port());
    return "\u201C" + text.substr(start, *at - start) +
           "\u201D before the \u201C@\u201D is a user name sent along, not the box: this address reaches " + host + ".";
}

bool sameBox(const platform::Url& a, const platform::Url& b) {
    const auto host = [](const platform::Url& url) { return url.host().value_or(std::string()); };
    const auto path = [](const platform::Url& url) {
        std::string text = url.path();
        while (!text.empty() && text.back() == '/') text.pop_back();
        return text;
    };
    return a.scheme() == b.scheme() && a.host().has_value() == b.host().has_value() &&
           equalsIgnoringCase(host(a), host(b)) && a.port() == b.port() && path(a) == path(b);
}

}  // namespace brisalune
