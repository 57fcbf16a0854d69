#include <brisalune/client/routing/oncall.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace brisalune {

std::optional<std::int64_t> wholeSecondsSince1970(PointInTime time) {
    double seconds = std::trunc(time.time_since_epoch().count());
    if (std::isnan(seconds)) return std::nullopt;
    // Converting a double outside the 64-bit range is undefined: clamp first. 2^63 itself is
    // already out of range, -2^63 is not.
    if (seconds >= 0x1p63) return std::numeric_limits<std::int64_t>::max();
    if (seconds < -0x1p63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(seconds);
}

bool OnCallOverride::isActive(PointInTime at) const {
    auto t = wholeSecondsSince1970(at);
    return t && startsAt <= *t && *t < endsAt;
}

namespace {

std::int64_t instant(PointInTime time, const char* which) {
    auto seconds = wholeSecondsSince1970(time);
    if (!seconds) throw std::invalid_argument(std::string("override ") + which + " is not a number");
    return *seconds;
}

}  // namespace

OnCallOverrideDraft OnCallOverrideDraft::between(std::string accountId, PointInTime starts, PointInTime ends) {
    return {.accountId = std::move(accountId), .startsAt = instant(starts, "start"), .endsAt = instant(ends, "end")};
}

void json::Rules<OnCallScheduleInfo>::afterRead(const json::Node& object, OnCallScheduleInfo& out) {
    json::Codec<OnCallSchedule>::read(object, out.schedule);
}

}  // namespace brisalune
