#pragma once

// The team's service-level reports over a period. Plane data. The period is sent as it is: ask
// SLAPeriod::validateRange first to hold a custom period to the range rule.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/monitoring/sla.hpp>

namespace brisalune {

SLAChecksReport slaChecks(const BrisaluneClient& client, const SLAPeriod& period);
SLAComponentsReport slaComponents(const BrisaluneClient& client, const SLAPeriod& period);
SLAResponseTimesReport slaResponseTimes(const BrisaluneClient& client, const SLAPeriod& period);

}  // namespace brisalune
