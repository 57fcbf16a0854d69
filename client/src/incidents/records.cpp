#include <brisalune/client/detail/address_field.hpp>
#include <brisalune/client/incidents/links.hpp>
#include <brisalune/client/incidents/reports.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/incidents/status_timeline.hpp>
#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

void json::Rules<Report>::afterRead(const json::Node& object, Report& out) {
    json::Codec<IncidentFields>::read(object, out.incident);
}

void json::Rules<IncidentLink>::afterRead(const json::Node& object, IncidentLink& out) {
    out.url = addressField(object, "url");
}

void json::Rules<StatusPage>::afterRead(const json::Node& object, StatusPage& out) {
    out.url = addressField(object, "url");
}

StatusDay::Kind StatusDay::kind() const noexcept {
    if (uptime) return Kind::measured;
    if (maintenanceSeconds > 0 || worst == "maintenance") return Kind::maintenance;
    return Kind::noData;
}

}  // namespace brisalune
