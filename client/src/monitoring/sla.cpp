#include <brisalune/client/monitoring/sla.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <cstdint>

namespace brisalune {

std::vector<platform::QueryItem> SLAPeriod::slaQueryItems() const {
    if (const Custom* custom = get<Custom>()) {
        return {{"from", std::to_string(custom->start)}, {"to", std::to_string(custom->end)}};
    }
    if (get<Days7>()) return {{"period", "7d"}};
    if (get<Days30>()) return {{"period", "30d"}};
    return {{"period", "90d"}};
}

std::optional<std::string> SLAPeriod::validateRange() const {
    const Custom* custom = get<Custom>();
    if (custom == nullptr) return std::nullopt;
    if (custom->start >= custom->end) return "The start must be before the end.";
    // end > start, so the unsigned difference is the exact span even when it does not fit 64
    // signed bits.
    const std::uint64_t span = static_cast<std::uint64_t>(custom->end) - static_cast<std::uint64_t>(custom->start);
    if (span > static_cast<std::uint64_t>(maxSpanSeconds)) return "The time range is wider than 366 days; narrow it.";
    return std::nullopt;
}

void json::Rules<SLAProjectResponseStats>::afterRead(const json::Node& object, SLAProjectResponseStats& out) {
    json::Codec<SLAResponseStats>::read(object, out.stats);
}

}  // namespace brisalune

std::size_t std::hash<brisalune::SLAPeriod>::operator()(const brisalune::SLAPeriod& period) const noexcept {
    if (const auto* custom = period.get<brisalune::SLAPeriod::Custom>()) {
        return brisalune::hashValues(period.value.index(), custom->start, custom->end);
    }
    return period.value.index();
}
