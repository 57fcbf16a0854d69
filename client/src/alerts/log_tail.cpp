#include <brisalune/client/alerts/log_tail.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <algorithm>
#include <string_view>
#include <tuple>
#include <utility>

namespace brisalune {

bool LogLineMeta::isEmpty() const {
    return env.empty() && host.empty() && run.empty() && traceId.empty() && keys.empty() && tags.empty();
}

namespace {

// ---- the flattened metadata -----------------------------------------------------------------

bool isMetaKey(std::string_view key) {
    return std::apply([&](const auto&... f) { return ((f.key == key) || ...); }, json::keys<LogLineMeta>.fields);
}

}  // namespace

void json::Rules<LogLine>::afterRead(const json::Node& n, LogLine& out) {
    bool hasMeta = false;
    n.forEachMember([&](std::string_view key, const json::Node&) { hasMeta = hasMeta || isMetaKey(key); });
    if (hasMeta) {
        json::Codec<LogLineMeta>::read(n, out.meta.emplace());
    } else {
        out.meta.reset();
    }
}

void json::Rules<LogLine>::afterWrite(json::Writer& w, const LogLine& line) {
    if (line.meta) json::writeMembers(w, *line.meta);
}

}  // namespace brisalune
