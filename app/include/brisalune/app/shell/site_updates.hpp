#pragma once

// The update checker: fetches the release manifest, keeps the last one that decoded and the
// time of the last check in the user defaults, and offers a newer release until the user
// dismisses it. Checks are at most daily unless the user asks. Main thread only; the fetch runs
// on the global thread pool. Signals fire only on a real change.

#include <brisalune/client/updates/site_release.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/http.hpp>
#include <brisalune/platform/url.hpp>

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

class SiteUpdates : public QObject {
    Q_OBJECT

public:
    enum class ManualResult { upToDate, available, failed };
    // What of the offer the settings file could not take: the dismissal (so the offer stays), the
    // removal of an earlier dismissal at a manual check (offered now, hidden again at the next
    // start), or the fetched manifest (offered now, not remembered once the app quits).
    enum class Unwritten { dismissal, dismissalRemoval, manifest };

    // Sends one request and returns the answer, whatever its status; throws when no answer
    // came. Blocking: it runs off the main thread.
    using Fetch = std::function<http::Response(const http::Request&)>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::string_view manifestKey = "brisalune.update.manifest";     // bytes
    static constexpr std::string_view checkedAtKey = "brisalune.update.checked-at";  // double, s since 1970
    static constexpr std::string_view dismissedVersionKey = "brisalune.update.dismissed-version";  // integer
    static constexpr double checkInterval = 86'400.0;  // seconds between due checks
    static constexpr std::chrono::seconds fetchTimeout{15};

    // Loads the offer from the cached manifest at once, before any network access.
    SiteUpdates(
        std::optional<platform::Url> manifestURL,
        std::int64_t currentVersionCode,
        platform::Defaults& defaults,
        Fetch fetch = transportFetch(),
        Clock now = systemClock(),
        QObject* parent = nullptr);

    const std::optional<SiteRelease>& offer() const noexcept { return offer_; }
    const std::optional<platform::Url>& manifestURL() const noexcept { return manifestURL_; }
    std::int64_t currentVersionCode() const noexcept { return currentVersionCode_; }
    bool isChecking() const noexcept { return isChecking_; }
    std::optional<ManualResult> manualResult() const noexcept { return manualResult_; }
    // The last such failure, until the person's next dismissal or manual check, or a manifest kept.
    std::optional<Unwritten> unwritten() const noexcept { return unwritten_; }

    // One check: true when a manifest was fetched and decoded (stored, or held for this run when
    // the file cannot take it). False at once without a manifest address or while another check runs.
    QCoro::Task<bool> check();
    // A check when one is due (isDue), its result ignored.
    QCoro::Task<> checkIfDue();
    // The user's check: offers a dismissed release again (for this run at least, when that
    // cannot be written) and sets `manualResult`.
    QCoro::Task<> checkNow();
    // Hides the offered version at once, and for good once that is written (on the pool); the
    // offer comes back, and `unwritten` says so, when it cannot be written. Nothing without an offer.
    QCoro::Task<> dismissOffer();
    // Recomputes the offer from the cached manifest (or one fetched that could not be cached).
    void loadCachedOffer();

    // At least a day has passed since the last check that got an answer (none counts as 1970).
    // A check time in the future, after the clock was set back, is not due until a day after it.
    bool isDue() const;

    // "Brisalune-macOS/<version name> (<version code>; <system>)"; the server keys on the product.
    std::string userAgent() const;
    static std::string userAgentFor(std::string_view versionName, std::int64_t versionCode);

    // The running build's version name ("?" when the build has none) and code.
    static std::string runningVersionName();
    static std::int64_t runningVersionCode();
    // Decimal digits after an optional sign; 0 for anything else, overflow included.
    static std::int64_t versionCode(std::string_view text);

    static Fetch transportFetch();  // the platform's shared HTTP transport
    static Clock systemClock();

signals:
    void offerChanged();
    void isCheckingChanged(bool isChecking);
    void manualResultChanged();
    void unwrittenChanged();

private:
    http::Request manifestRequest() const;
    // Records the check and keeps a manifest that decodes, written on the pool; true when it decodes.
    QCoro::Task<bool> keep(http::Response response);
    double checkedAt() const;
    void setOffer(std::optional<SiteRelease> value);
    void setChecking(bool value);
    void setManualResult(std::optional<ManualResult> value);
    void setUnwritten(std::optional<Unwritten> value);

    std::optional<platform::Url> manifestURL_;
    std::int64_t currentVersionCode_;
    platform::Defaults& defaults_;
    Fetch fetch_;
    Clock now_;
    std::optional<SiteRelease> offer_;
    bool isChecking_ = false;
    std::optional<ManualResult> manualResult_;
    std::optional<Unwritten> unwritten_;
    // A manifest that decoded but could not be cached, and a dismissal a manual check could not
    // remove: this run goes by what the person asked, not by the file.
    std::optional<platform::Bytes> unkeptManifest_;
    bool dismissalSetAside_ = false;
};

}  // namespace brisalune
