#include <brisalune/client/alerts/pending_ack.hpp>

#include <brisalune/platform/text.hpp>

namespace brisalune {

std::string_view name(AckFailureVerdict verdict) noexcept {
    for (const auto& [text, value] : ackFailureVerdictNames)
        if (value == verdict) return text;
    return {};
}

AckFailureVerdict ackVerdict(const BrisaluneError& error) noexcept {
    using Case = BrisaluneError::Case;
    switch (error.kind()) {
        case Case::notFound: return AckFailureVerdict::gone;
        case Case::rateLimited:
        case Case::conflict:
        case Case::referenced:
        case Case::clientOutdated:
        case Case::serverOutdated:
        case Case::server:
        case Case::transport:
        case Case::invalidResponse: return AckFailureVerdict::retryable;
        case Case::unauthorized:
        case Case::forbidden:
        case Case::validation:
        case Case::refused:
        case Case::quota:
        case Case::invalidResetToken:
        case Case::emailNotVerified:
        case Case::invalidVerificationToken: return AckFailureVerdict::final;
    }
    return AckFailureVerdict::retryable;  // not reached: every case is listed
}

std::string PendingAck::reportBody() const {
    // The title's share is bounded so that the failure text is always seen.
    constexpr std::size_t maxTitleBytes = 150;
    if (verdict != AckFailureVerdict::final) return platform::shortened(title, maxReportBytes);
    return platform::shortened(platform::shortened(title, maxTitleBytes) + "\n" + lastError, maxReportBytes);
}

PendingAck::DrainAction PendingAck::drainAction(std::string_view currentTenantId, bool retryAll) const noexcept {
    if (retryAll) return DrainAction::retry;
    if (tenantId.empty() || tenantId == currentTenantId)
        return verdict == AckFailureVerdict::final ? DrainAction::report : DrainAction::retry;
    return DrainAction::report;  // another team's record: the user decides
}

}  // namespace brisalune
