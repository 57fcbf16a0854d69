#include <brisalune/client/alerts/log_tail.hpp>

#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

bool LogLineMeta::isEmpty() const {
    return env.empty() && host.empty() && run.empty() && traceId.empty() && keys.empty() && tags.empty();
}

}  // namespace brisalune
