#include <brisalune/app/shell/app_config.hpp>

#include <brisalune/app/shell/app_config_values.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace brisalune::MacAppConfig {

platform::Url parse(std::string_view text) {
    auto url = platform::Url::parse(text);
    if (url && url->isAbsolute()) return std::move(*url);
    // A malformed address built into the program: nothing sensible can follow.
    const std::string message = "static server URL must parse: " + std::string(text);
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
}

// Function-local statics: parsed once, on first use, safely from several threads.
const platform::Url& hostedAPIBase() {
    static const platform::Url url = parse(values::hostedAPIBase);
    return url;
}

const platform::Url& hostedWebOrigin() {
    static const platform::Url url = parse(values::hostedWebOrigin);
    return url;
}

const platform::Url& updateManifestURL() {
    static const platform::Url url = parse(values::updateManifestURL);
    return url;
}

const platform::Url& appPageURL() {
    static const platform::Url url = parse(values::appPageURL);
    return url;
}

bool allowsLoopbackHttp() noexcept { return values::allowsLoopbackHttp; }

std::string_view sessionService() noexcept { return values::sessionService; }

}  // namespace brisalune::MacAppConfig
