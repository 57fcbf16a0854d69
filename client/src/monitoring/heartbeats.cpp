#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/monitoring/heartbeats.hpp>

std::size_t std::hash<brisalune::HeartbeatEndpoint>::operator()(
    const brisalune::HeartbeatEndpoint& endpoint) const noexcept {
    return brisalune::hashValues(
        endpoint.source, endpoint.token, endpoint.okURL.text(), endpoint.failURL.text(), endpoint.startURL.text());
}
