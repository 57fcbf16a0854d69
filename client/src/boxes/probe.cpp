#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/boxes/probe.hpp>

#include <exception>

namespace brisalune {

namespace {

// The host when there is one, else the whole address.
std::string shownHost(const platform::Url& address) {
    auto host = address.host();
    if (host && !host->empty()) return *host;
    return address.text();
}

}  // namespace

BoxProbe probeBox(const BrisaluneClient& client) {
    Healthz health;
    try {
        health = healthz(client);
    } catch (const std::exception&) {
        return BoxProbe::unreachable;
    }
    if (health.role == DaemonRole::selfHost) return BoxProbe::box;
    if (health.role == DaemonRole::hosted) return BoxProbe::accountPlane;
    return BoxProbe::unknownRole;
}

std::optional<std::string> boxProbeMessage(
    BoxProbe verdict,
    const platform::Url& enteredAddress,
    std::string_view deviceNoun,
    const platform::Url& hostedService) {
    const std::string host = shownHost(enteredAddress);
    switch (verdict) {
        case BoxProbe::box: return std::nullopt;
        case BoxProbe::unreachable:
            return "Couldn't reach a brisalune box at " + host + ". Check the address, and that " +
                   "the box is running and reachable from this " + std::string(deviceNoun) + ".";
        case BoxProbe::accountPlane:
            return host + " is " + shownHost(hostedService) + "'s own server, not a box. Enter the address of " +
                   "the box you run \u2014 the machine you ran `brisalune pair` on.";
        case BoxProbe::unknownRole:
            return "Something answered at " + host + ", but it did not identify itself as a " +
                   "brisalune box. Check the address, or update the box.";
    }
    return std::nullopt;
}

}  // namespace brisalune
