#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/monitoring/heartbeats.hpp>

std::size_t std::hash<brisalune::HeartbeatEndpoint>::operator()(
    const brisalune::HeartbeatEndpoint& endpoint) const noexcept {
    std::size_t seed = 0;
    for (const std::string* text : {&endpoint.source, &endpoint.token, &endpoint.okURL.text(), &endpoint.failURL.text(),
                                    &endpoint.startURL.text()}) {
        brisalune::detail::mixHash(seed, std::hash<std::string>{}(*text));
    }
    return seed;
}
