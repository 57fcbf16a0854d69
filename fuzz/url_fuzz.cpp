// Parses arbitrary bytes as a URL reference. A parsed text must parse again to the same text
// with the same components, and replacing its query must keep it parseable.
#include <brisalune/platform/url.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace {

using brisalune::platform::Url;

void require(bool condition) {
    if (!condition) std::abort();
}

template <typename Action>
bool throwsInvalidArgument(Action action) {
    try {
        action();
    } catch (const std::invalid_argument&) {
        return true;
    }
    return false;
}

bool sameComponents(const Url& a, const Url& b) {
    return a.isAbsolute() == b.isAbsolute() && a.scheme() == b.scheme() && a.user() == b.user() &&
           a.password() == b.password() && a.host() == b.host() && a.port() == b.port() && a.path() == b.path() &&
           a.query() == b.query() && a.fragment() == b.fragment();
}

void checkComponents(const Url& url) {
    require(!url.text().empty() && url.text().size() <= Url::maxLength);
    for (unsigned char c : url.text()) require(c > 0x20 && c < 0x7F);
    require(url.password() == std::nullopt || url.user().has_value());
    require(url.port() == std::nullopt || (*url.port() >= 0 && *url.port() <= 65535));
    require(url.host().has_value() || (!url.user() && !url.port()));
    if (url.query()) require(url.text().find('?' + *url.query()) != std::string::npos);
    if (url.fragment()) require(url.text().ends_with('#' + *url.fragment()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto url = Url::parse(text);
    if (!url) return 0;
    checkComponents(*url);
    const auto again = Url::parse(url->text());
    require(again && again->text() == url->text() && sameComponents(*url, *again));

    const auto query = url->query();
    if (url->text().size() + 16 < Url::maxLength) {
        const Url replaced = url->withQuery(std::string(text.substr(0, 8)));
        const auto reparsed = Url::parse(replaced.text());
        require(reparsed && *reparsed == replaced && replaced.fragment() == url->fragment());
        require(url->withQuery(query) == *url);
        if (url->path().empty() && !url->host() && !url->scheme() && !url->fragment()) {
            require(throwsInvalidArgument([&] { (void)url->withQuery(std::nullopt); }));
        } else {
            require(replaced.withQuery(std::nullopt).query() == std::nullopt);
        }
    }
    return 0;
}
