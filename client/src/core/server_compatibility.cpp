#include <brisalune/client/core/server_compatibility.hpp>

#include <algorithm>
#include <charconv>
#include <utility>

namespace brisalune {

namespace {

constexpr std::string_view versionHeader = "X-Brisalune-Version";
constexpr std::string_view clientUnsupportedHeader = "X-Brisalune-Client-Unsupported";

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) return std::nullopt;
    return text;
}

std::optional<std::int64_t> parseDigits(std::string_view piece) {
    if (piece.empty() || !std::ranges::all_of(piece, [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc{} || end != piece.data() + piece.size()) return std::nullopt;
    return value;
}

}  // namespace

// ReleaseVersion

std::optional<ReleaseVersion> ReleaseVersion::parse(std::string_view text) {
    std::vector<std::int64_t> numbers;
    while (true) {
        const auto dot = text.find('.');
        const auto number = parseDigits(text.substr(0, dot));
        if (!number || numbers.size() == 3) return std::nullopt;
        numbers.push_back(*number);
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    if (numbers.size() < 2) return std::nullopt;
    return ReleaseVersion{numbers[0], numbers[1], numbers.size() == 3 ? numbers[2] : 0};
}

std::string ReleaseVersion::description() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

// ServerStanding

ServerStanding::ServerStanding(Kind kind, std::optional<std::string> version)
    : kind_(kind), version_(std::move(version)) {}

ServerStanding ServerStanding::unsupported(std::optional<std::string> version) {
    return {Kind::unsupported, std::move(version)};
}

ServerStanding ServerStanding::outdated(std::string version) { return {Kind::outdated, std::move(version)}; }

// CompatibilityState

ServerStanding CompatibilityState::standing(const platform::Url& url) const {
    const auto found = servers.find(ServerCompatibility::serverKey(url));
    return found == servers.end() ? ServerStanding::supported() : found->second;
}

bool isV1Path(std::string_view path) noexcept { return path == "/v1" || path.starts_with("/v1/"); }

// CompatibilityUpdates

std::optional<CompatibilityState> CompatibilityUpdates::tryNext() {
    std::lock_guard lock(mutex_);
    return std::exchange(waiting_, std::nullopt);
}

std::optional<CompatibilityState> CompatibilityUpdates::next(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait(lock, stop, [this] { return waiting_.has_value(); })) return std::nullopt;
    return std::exchange(waiting_, std::nullopt);
}

void CompatibilityUpdates::onValue(std::function<void()> wake) {
    std::unique_lock lock(mutex_);
    wake_ = std::move(wake);
    auto pending = waiting_ ? wake_ : nullptr;
    lock.unlock();
    if (pending) pending();
}

std::function<void()> CompatibilityUpdates::put(const CompatibilityState& state) {
    std::unique_lock lock(mutex_);
    waiting_ = state;
    auto wake = wake_;
    lock.unlock();
    ready_.notify_all();
    return wake;
}

// ServerCompatibility

// The wake-ups gathered under the record's lock, run once it is released. It also keeps the
// subscriptions alive until then, so none is destroyed under the lock.
class ServerCompatibility::Delivery {
public:
    void add(std::shared_ptr<CompatibilityUpdates> subscription, std::function<void()> wake) {
        pending_.emplace_back(std::move(subscription), std::move(wake));
    }
    void run() const {
        for (const auto& [subscription, wake] : pending_) {
            if (wake) wake();
        }
    }

private:
    std::vector<std::pair<std::shared_ptr<CompatibilityUpdates>, std::function<void()>>> pending_;
};

ServerCompatibility::ServerCompatibility(ServerMinimums minimums) : minimums_(minimums) {}

ServerCompatibility& ServerCompatibility::shared() {
    static ServerCompatibility instance(ServerMinimums::zero());
    return instance;
}

CompatibilityState ServerCompatibility::current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

std::shared_ptr<CompatibilityUpdates> ServerCompatibility::updates() {
    std::shared_ptr<CompatibilityUpdates> subscription(new CompatibilityUpdates);
    std::lock_guard lock(mutex_);
    std::erase_if(subscribers_, [](const auto& weak) { return weak.expired(); });
    subscribers_.push_back(subscription);
    subscription->put(current_);
    return subscription;
}

std::string ServerCompatibility::serverKey(const platform::Url& url) {
    auto host = url.host();
    if (!host || host->empty()) return {};
    std::string key = url.scheme().value_or("") + "://" + *host + ":";
    if (const auto port = url.port()) key += std::to_string(*port);
    return key;
}

std::string ServerCompatibility::serverKey(const std::optional<platform::Url>& url) {
    return url ? serverKey(*url) : std::string();
}

std::optional<ServerStanding> ServerCompatibility::standingOfAnswer(
    const std::optional<std::string>& version, bool v1Success) const {
    if (version) {
        const auto parsed = ReleaseVersion::parse(*version);
        if (!parsed) return ServerStanding::supported();
        if (*parsed < minimums_.required) return ServerStanding::outdated(*version);
        if (*parsed < minimums_.supported) return ServerStanding::unsupported(*version);
        return ServerStanding::supported();
    }
    if (!v1Success) return std::nullopt;
    return minimums_.supported > ReleaseVersion{} ? ServerStanding::unsupported() : ServerStanding::supported();
}

template <class Change>
void ServerCompatibility::change(Change&& apply) {
    Delivery delivery;
    std::unique_lock lock(mutex_);
    auto serverVersion = current_.serverVersion;
    apply(serverVersion);
    publish(std::move(serverVersion), delivery);
    lock.unlock();
    delivery.run();
}

void ServerCompatibility::publish(std::optional<std::string> serverVersion, Delivery& delivery) {
    CompatibilityState next;
    next.serverVersion = std::move(serverVersion);
    for (const auto& [key, verdict] : verdicts_) {  // ascending key order
        if (!next.supportedMinimum) next.supportedMinimum = verdict.supportedMinimum;
        if (!next.outdated) next.outdated = verdict.outdated;
        if (verdict.server.kind() != ServerStanding::Kind::supported) {
            next.servers.emplace_hint(next.servers.end(), key, verdict.server);
        }
    }
    if (next == current_) return;
    current_ = std::move(next);
    std::erase_if(subscribers_, [&](const std::weak_ptr<CompatibilityUpdates>& weak) {
        auto subscription = weak.lock();
        if (!subscription) return true;
        auto wake = subscription->put(current_);
        delivery.add(std::move(subscription), std::move(wake));
        return false;
    });
}

ServerStanding ServerCompatibility::record(
    int status, const http::Headers& headers, std::string_view path, const platform::Url& url) {
    return recordAt(status, headers, path, serverKey(url));
}

bool ServerCompatibility::Verdict::keeps(
    const std::optional<ServerStanding>& standing,
    bool v1,
    const std::optional<std::string>& minimum,
    int status) const {
    return (!standing || server == *standing) && (!v1 || (supportedMinimum == minimum && (status == 426 || !outdated)));
}

ServerStanding ServerCompatibility::recordAt(
    int status, const http::Headers& headers, std::string_view path, const std::string& key) {
    auto version = nonEmpty(headers.get(versionHeader));
    auto supportedMinimum = nonEmpty(headers.get(clientUnsupportedHeader));
    const bool v1 = isV1Path(path);
    const auto standing = standingOfAnswer(version, v1 && status >= 200 && status <= 299);

    {
        // Nearly every answer says what the last one said: nothing to derive or publish then.
        std::lock_guard lock(mutex_);
        const auto found = verdicts_.find(key);
        const bool sameVersion = !version || version == current_.serverVersion;
        if (sameVersion && found == verdicts_.end() && !standing && !v1) return ServerStanding::supported();
        if (sameVersion && found != verdicts_.end() && found->second.keeps(standing, v1, supportedMinimum, status)) {
            return found->second.server;
        }
    }

    ServerStanding result;
    change([&](std::optional<std::string>& serverVersion) {
        if (version) serverVersion = version;
        if (standing) verdicts_[key].server = *standing;
        if (const auto found = verdicts_.find(key); found != verdicts_.end()) result = found->second.server;
        if (v1) {
            auto& verdict = verdicts_[key];
            verdict.supportedMinimum = std::move(supportedMinimum);
            if (status != 426) verdict.outdated.reset();
        }
    });
    return result;
}

void ServerCompatibility::recordClientOutdated(ClientOutdated outdated, const platform::Url& url) {
    const auto key = serverKey(url);
    change([&](std::optional<std::string>&) { verdicts_[key].outdated = std::move(outdated); });
}

void ServerCompatibility::clearClientOutdated() {
    change([&](std::optional<std::string>&) {
        for (auto& [key, verdict] : verdicts_) verdict.outdated.reset();
    });
}

}  // namespace brisalune
