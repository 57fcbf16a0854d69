#include <brisalune/app/shell/site_updates.hpp>

#include <brisalune/client/core/client_identity.hpp>
#include <brisalune/client/version.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <QPointer>
#include <QtGlobal>

#include <sys/utsname.h>

#include <charconv>
#include <exception>
#include <utility>

namespace brisalune {

namespace {

double secondsSince1970(std::chrono::system_clock::time_point instant) {
    return std::chrono::duration<double>(instant.time_since_epoch()).count();
}

const std::string& runningSystemText() {
    static const std::string text = [] {
        utsname system{};
        if (uname(&system) != 0) return systemText("Linux", "");
        return systemText(system.sysname, system.release);
    }();
    return text;
}

// Writes to the user defaults fail only when the settings file cannot be written: logged here,
// and told by `unwritten` where the person would miss it. A check time not written costs only an
// early check, so the check carries on.
template <class F>
bool tryWrite(const char* what, F&& write) {
    try {
        std::forward<F>(write)();
        return true;
    } catch (const std::exception& failure) {
        qWarning("update checker: cannot store %s: %s", what, failure.what());
        return false;
    }
}

// The same on the pool: another program holding the settings file keeps a write waiting for
// seconds, which the UI thread must not.
template <class F>
QCoro::Task<bool> tryWriteOnPool(const char* what, F write) {
    const auto job = [what, write] { return tryWrite(what, write); };
    co_return co_await awaitBlocking(job, &localPool());
}

}  // namespace

SiteUpdates::SiteUpdates(
    std::optional<platform::Url> manifestURL,
    std::int64_t currentVersionCode,
    platform::Defaults& defaults,
    Fetch fetch,
    Clock now,
    QObject* parent)
    : QObject(parent)
    , manifestURL_(std::move(manifestURL))
    , currentVersionCode_(currentVersionCode)
    , defaults_(defaults)
    , fetch_(std::move(fetch))
    , now_(std::move(now)) {
    loadCachedOffer();
}

QCoro::Task<bool> SiteUpdates::check() {
    if (!manifestURL_ || isChecking_) co_return false;
    setChecking(true);
    const QPointer<SiteUpdates> self(this);
    // Everything the job uses is its own copy: it may outlive this checker.
    const auto exchange = [fetch = fetch_, request = manifestRequest()]() -> std::optional<http::Response> {
        try {
            return fetch(request);
        } catch (...) {
            return std::nullopt;  // no answer at all: the check time is not recorded
        }
    };
    const std::optional<http::Response> response = co_await awaitBlocking(exchange);
    if (!self) co_return false;
    const bool kept = response && co_await keep(*response);
    if (!self) co_return false;
    setChecking(false);
    co_return kept;
}

QCoro::Task<> SiteUpdates::checkIfDue() {
    if (!isDue()) co_return;
    co_await check();
}

QCoro::Task<> SiteUpdates::checkNow() {
    if (!manifestURL_ || isChecking_) co_return;
    setManualResult(std::nullopt);
    setUnwritten(std::nullopt);
    const QPointer<SiteUpdates> self(this);
    // The dismissal left in the file when its removal cannot be written; 0 once removed.
    const auto undismiss = [file = defaults_.file()] {
        platform::Defaults defaults(file);
        const bool removed = tryWrite("the dismissed version", [&] { defaults.remove(dismissedVersionKey); });
        return removed ? std::int64_t{0} : defaults.integer(dismissedVersionKey).value_or(0);
    };
    const std::int64_t stillDismissed = co_await awaitBlocking(undismiss, &localPool());
    if (!self) co_return;
    dismissalSetAside_ = stillDismissed != 0;
    const bool fetched = co_await check();
    if (!self) co_return;
    if (!unwritten_ && offer_ && offer_->versionCode <= stillDismissed) setUnwritten(Unwritten::dismissalRemoval);
    if (!fetched) {
        setManualResult(ManualResult::failed);
    } else {
        setManualResult(offer_ ? ManualResult::available : ManualResult::upToDate);
    }
}

QCoro::Task<> SiteUpdates::dismissOffer() {
    if (!offer_) co_return;
    const std::int64_t dismissed = offer_->versionCode;
    // Gone at once; back again, from the cache, when the dismissal could not be kept.
    setManualResult(std::nullopt);
    setUnwritten(std::nullopt);
    setOffer(std::nullopt);
    const QPointer<SiteUpdates> self(this);
    const auto dismiss = [file = defaults_.file(), dismissed] {
        platform::Defaults(file).set(dismissedVersionKey, dismissed);
    };
    const bool written = co_await tryWriteOnPool("the dismissed version", dismiss);
    if (!self) co_return;
    if (written) dismissalSetAside_ = false;
    loadCachedOffer();
    if (!written) setUnwritten(Unwritten::dismissal);
}

void SiteUpdates::loadCachedOffer() {
    if (!manifestURL_) {
        setOffer(std::nullopt);
        return;
    }
    std::optional<SiteRelease> cached;
    if (const auto body = unkeptManifest_ ? unkeptManifest_ : defaults_.bytes(manifestKey)) {
        cached = SiteRelease::decode(std::string_view(reinterpret_cast<const char*>(body->data()), body->size()));
    }
    const std::int64_t dismissed = dismissalSetAside_ ? 0 : defaults_.integer(dismissedVersionKey).value_or(0);
    setOffer(SiteRelease::offeredRelease(cached, currentVersionCode_, dismissed, *manifestURL_));
}

// A last check more than a day ahead of now was timed by a clock that was wrong then or is now:
// waiting for the clock to catch up could mean no check for years.
bool SiteUpdates::isDue() const {
    const double elapsed = secondsSince1970(now_()) - checkedAt();
    return elapsed >= checkInterval || elapsed <= -checkInterval;
}

double SiteUpdates::checkedAt() const { return defaults_.number(checkedAtKey).value_or(0.0); }

// Every answer counts as a check, whatever its status; only a decoded manifest is kept, and one
// the file cannot take is still offered, for this run.
QCoro::Task<bool> SiteUpdates::keep(http::Response response) {
    const QPointer<SiteUpdates> self(this);
    const double checked = secondsSince1970(now_());
    const bool decoded = response.status >= 200 && response.status <= 299 && SiteRelease::decode(response.body);
    const platform::Bytes body =
        decoded ? platform::Bytes(response.body.begin(), response.body.end()) : platform::Bytes();
    const auto store = [file = defaults_.file(), checked, decoded, body] {
        platform::Defaults defaults(file);
        tryWrite("the check time", [&] { defaults.set(checkedAtKey, checked); });
        return decoded && tryWrite("the manifest", [&] { defaults.set(manifestKey, body); });
    };
    const bool kept = co_await awaitBlocking(store, &localPool());
    if (!decoded || !self) co_return false;
    if (kept) {
        unkeptManifest_.reset();
        if (unwritten_ == Unwritten::manifest) setUnwritten(std::nullopt);
    } else {
        unkeptManifest_ = body;
        setUnwritten(Unwritten::manifest);
    }
    loadCachedOffer();
    co_return true;
}

http::Request SiteUpdates::manifestRequest() const {
    http::Request request;
    request.method = "GET";
    request.url = manifestURL_->text();
    request.headers.set("User-Agent", userAgent());
    request.timeout = fetchTimeout;
    return request;
}

std::string SiteUpdates::userAgent() const { return userAgentFor(runningVersionName(), currentVersionCode_); }

std::string SiteUpdates::userAgentFor(std::string_view versionName, std::int64_t versionCode) {
    return "Brisalune-macOS/" + std::string(versionName) + " (" + std::to_string(versionCode) + "; " +
           runningSystemText() + ")";
}

std::string SiteUpdates::runningVersionName() {
    const std::string_view name = build::version;
    return name.empty() ? "?" : std::string(name);
}

std::int64_t SiteUpdates::runningVersionCode() { return versionCode(build::buildNumber); }

std::int64_t SiteUpdates::versionCode(std::string_view text) {
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return 0;
    // Read with the sign so that the most negative value still fits.
    const std::string signedText = (negative ? "-" : "") + std::string(text);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
    if (error != std::errc{} || end != signedText.data() + signedText.size()) return 0;
    return value;
}

SiteUpdates::Fetch SiteUpdates::transportFetch() {
    return [transport = http::curlTransport()](const http::Request& request) { return transport->perform(request); };
}

SiteUpdates::Clock SiteUpdates::systemClock() {
    return [] { return std::chrono::system_clock::now(); };
}

void SiteUpdates::setOffer(std::optional<SiteRelease> value) {
    if (value == offer_) return;
    offer_ = std::move(value);
    emit offerChanged();
}

void SiteUpdates::setChecking(bool value) {
    if (value == isChecking_) return;
    isChecking_ = value;
    emit isCheckingChanged(value);
}

void SiteUpdates::setManualResult(std::optional<ManualResult> value) {
    if (value == manualResult_) return;
    manualResult_ = value;
    emit manualResultChanged();
}

void SiteUpdates::setUnwritten(std::optional<Unwritten> value) {
    if (value == unwritten_) return;
    unwritten_ = value;
    emit unwrittenChanged();
}

}  // namespace brisalune
