#include <brisalune/client/alerts/log_tail.hpp>

#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

bool LogLineMeta::isEmpty() const {
    return env.empty() && host.empty() && run.empty() && traceId.empty() && keys.empty() && tags.empty();
}

void json::Rules<LogLine>::afterRead(const json::Node& n, LogLine& out) { json::readIfAnyKey(n, out.meta); }

void json::Rules<LogLine>::afterWrite(json::Writer& w, const LogLine& line) {
    if (line.meta) json::writeMembers(w, *line.meta);
}

}  // namespace brisalune
