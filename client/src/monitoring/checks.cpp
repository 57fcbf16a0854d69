#include <brisalune/client/monitoring/checks.hpp>

#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

void json::Rules<MonitorCheckInfo>::afterRead(const json::Node& object, MonitorCheckInfo& out) {
    json::Codec<MonitorCheckSpec>::read(object, out.spec);
}

}  // namespace brisalune
