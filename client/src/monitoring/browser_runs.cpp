#include <brisalune/client/monitoring/browser_runs.hpp>

#include <brisalune/client/roles/role_permissions.hpp>
#include <brisalune/client/roles/route_keys.hpp>

#include <array>
#include <cstddef>

namespace brisalune {

namespace {

struct RefusalText {
    BrowserArtifactRefusal::Case refusal;
    std::string_view code;
    const char* message;
};

// In case order.
constexpr std::array<RefusalText, 6> refusals = {{
    {BrowserArtifactRefusal::Case::expired,
     "artifacts_expired",
     "This run's files were kept for 7 days and have been deleted."},
    {BrowserArtifactRefusal::Case::missing, "artifact_missing", "The runner box no longer has this file."},
    {BrowserArtifactRefusal::Case::runnerOffline,
     "runner_offline",
     "The runner box holding this file is offline. Try again later."},
    {BrowserArtifactRefusal::Case::runnerTimeout,
     "runner_timeout",
     "The runner box took too long to send this file. Try again."},
    {BrowserArtifactRefusal::Case::mismatch,
     "artifact_mismatch",
     "The runner box sent a file that doesn't match this run, so it isn't shown."},
    {BrowserArtifactRefusal::Case::needsChecksWrite,
     "artifacts_need_checks_write",
     "Files from runs made while this check had secret variables need edit access to the check."},
}};

}  // namespace

std::optional<BrowserArtifactRefusal> BrowserArtifactRefusal::fromCode(std::string_view code) noexcept {
    for (const RefusalText& row : refusals) {
        if (row.code == code) return BrowserArtifactRefusal(row.refusal);
    }
    return std::nullopt;
}

std::optional<BrowserArtifactRefusal> BrowserArtifactRefusal::predicted(
    std::span<const std::string> envKeys, const RolePermissions* permissions, std::string_view project) {
    if (envKeys.empty() || permissions == nullptr) return std::nullopt;
    // Files of runs that saw secret variables are handed only to those who may edit the check.
    if (permissions->may(RoutePattern::updateCheck, project)) return std::nullopt;
    return BrowserArtifactRefusal(Case::needsChecksWrite);
}

std::string_view BrowserArtifactRefusal::message() const noexcept { return what(); }

const char* BrowserArtifactRefusal::what() const noexcept { return refusals[static_cast<std::size_t>(case_)].message; }

}  // namespace brisalune
