#include <brisalune/client/team/views.hpp>

#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

void json::Rules<TeamSource>::afterRead(const json::Node& object, TeamSource& out) {
    json::Codec<SourceInfo>::read(object, out.source);
}

void json::Rules<TeamSchedule>::afterRead(const json::Node& object, TeamSchedule& out) {
    json::Codec<OnCallScheduleInfo>::read(object, out.info);
}

bool TeamSchedule::isOnCall(std::string_view accountId) const {
    return onCallNow && onCallNow->onCall && onCallNow->accountId == accountId;
}

}  // namespace brisalune
