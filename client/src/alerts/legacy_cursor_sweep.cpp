#include <brisalune/client/alerts/alerts.hpp>
#include <brisalune/platform/defaults.hpp>

#include <mutex>

namespace brisalune {

void LegacyPullCursorSweep::run(platform::Defaults& defaults) {
    constexpr std::string_view prefix = "brisalune.pull-cursor.";
    std::lock_guard lock(platform::Defaults::processLock());
    for (const auto& key : defaults.keys()) {
        if (key.starts_with(prefix)) defaults.remove(key);
    }
}
}  // namespace brisalune
