#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/monitoring/sla_endpoints.hpp>

namespace brisalune {

namespace {

Call reportCall(std::string path, const SLAPeriod& period) {
    return {.method = "GET", .path = std::move(path), .query = period.slaQueryItems(), .plane = AuthPlane::data};
}

}  // namespace

SLAChecksReport slaChecks(const BrisaluneClient& client, const SLAPeriod& period) {
    return fetch<SLAChecksReport>(client, reportCall("/v1/sla/checks", period));
}

SLAComponentsReport slaComponents(const BrisaluneClient& client, const SLAPeriod& period) {
    return fetch<SLAComponentsReport>(client, reportCall("/v1/sla/components", period));
}

SLAResponseTimesReport slaResponseTimes(const BrisaluneClient& client, const SLAPeriod& period) {
    return fetch<SLAResponseTimesReport>(client, reportCall("/v1/sla/response-times", period));
}

}  // namespace brisalune
