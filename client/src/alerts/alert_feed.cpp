#include <brisalune/client/alerts/alert_feed.hpp>
#include <brisalune/client/alerts/endpoints.hpp>

#include <brisalune/client/core/backoff.hpp>
#include <brisalune/client/core/client.hpp>

#include <time.h>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <stdexcept>

namespace brisalune {

// ---- the stream -----------------------------------------------------------------------------

struct AlertFeedStream::Channel {
    mutable std::mutex mutex;
    std::condition_variable ready;
    std::deque<AlertFeedEvent> events;
    bool finished = false;

    void push(AlertFeedEvent event) {
        std::lock_guard lock(mutex);
        if (finished) return;
        events.push_back(std::move(event));
        ready.notify_all();
    }

    void finish() {
        std::lock_guard lock(mutex);
        finished = true;
        ready.notify_all();
    }

    std::optional<AlertFeedEvent> pop(std::unique_lock<std::mutex>&) {
        if (events.empty()) return std::nullopt;
        AlertFeedEvent event = std::move(events.front());
        events.pop_front();
        return event;
    }
};

std::optional<AlertFeedEvent> AlertFeedStream::next() {
    std::unique_lock lock(channel_->mutex);
    channel_->ready.wait(lock, [&] { return !channel_->events.empty() || channel_->finished; });
    return channel_->pop(lock);
}

std::optional<AlertFeedEvent> AlertFeedStream::next(std::chrono::milliseconds limit) {
    std::unique_lock lock(channel_->mutex);
    channel_->ready.wait_for(lock, limit, [&] { return !channel_->events.empty() || channel_->finished; });
    return channel_->pop(lock);
}

bool AlertFeedStream::finished() const {
    std::lock_guard lock(channel_->mutex);
    return channel_->finished;
}

// ---- time -----------------------------------------------------------------------------------

AlertFeedClock AlertFeedClock::continuous() {
    return {
        .now =
            [] {
                timespec reading{};
                clock_gettime(CLOCK_BOOTTIME, &reading);
                return std::chrono::seconds(reading.tv_sec) + std::chrono::nanoseconds(reading.tv_nsec);
            },
        .sleep =
            [](std::chrono::nanoseconds duration, std::stop_token stop) {
                std::mutex mutex;
                std::condition_variable_any wake;
                std::unique_lock lock(mutex);
                wake.wait_for(lock, stop, duration, [] { return false; });
            },
    };
}

// ---- the loop -------------------------------------------------------------------------------

namespace {

constexpr std::int64_t plausibleLimit = 1'000'000'000'000;
// After consecutive failures: 1, 2, 4 … 32, then 60 seconds each time.
constexpr BackoffPolicy retryDelays{.base = std::chrono::seconds(1), .factor = 2, .cap = std::chrono::seconds(60)};

// Pulls after the first start at most this often: a server (or a proxy before it) that answers a
// long poll at once, or a wait of 0, would otherwise be pulled from in a busy loop, each answer
// another event on the stream.
constexpr std::chrono::seconds shortestLongPoll{1};

bool isPlausible(std::int64_t value) { return value >= 0 && value <= plausibleLimit; }

bool isPlausible(const PullResponse& pull) {
    return std::all_of(
               pull.alerts.begin(),
               pull.alerts.end(),
               [](const AlertSnapshot& alert) { return isPlausible(alert.updatedSeq); }) &&
           isPlausible(pull.cursor);
}

bool isUnauthorized(const std::exception_ptr& failure) {
    if (!failure) return false;
    try {
        std::rethrow_exception(failure);
    } catch (const BrisaluneError& error) {
        return error.is(BrisaluneError::Case::unauthorized);
    } catch (...) {
        return false;
    }
}

struct PullOutcome {
    std::optional<PullResponse> answer;
    std::exception_ptr failure;
    bool stopped = false;
};

// A stop request abandons the long poll in flight, so stopping never waits for the server.
PullOutcome pullUnlessStopped(
    const BrisaluneClient& client, std::int64_t cursor, std::int64_t wait, const std::stop_token& stop) {
    PullOutcome outcome;
    try {
        outcome.answer = pull(client, cursor, wait, stop);
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    if (stop.stop_requested()) return {.answer = std::nullopt, .failure = nullptr, .stopped = true};
    return outcome;
}

}  // namespace

AlertFeed::AlertFeed(
    std::shared_ptr<const BrisaluneClient> client,
    std::int64_t waitSeconds,
    std::chrono::duration<double> staleAfter,
    AlertFeedClock clock)
    : client_(std::move(client))
    , waitSeconds_(waitSeconds)
    , staleAfter_(staleAfter)
    , clock_(std::move(clock))
    , lastProgress_(clock_.now()) {
    if (!client_) throw std::invalid_argument("an alert feed needs a client");
    pullTimeout(waitSeconds_);  // refuses a wait no pull can carry
}

AlertFeed::~AlertFeed() { stop(); }

AlertFeedStream AlertFeed::start() {
    std::lock_guard life(lifecycle_);
    stopLoop();
    auto channel = std::make_shared<AlertFeedStream::Channel>();
    {
        std::lock_guard lock(mutex_);
        channel_ = channel;
    }
    loop_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
    return AlertFeedStream(std::move(channel));
}

void AlertFeed::stop() {
    std::lock_guard life(lifecycle_);
    stopLoop();
}

void AlertFeed::stopLoop() {
    {
        std::lock_guard lock(mutex_);
        if (auto channel = channel_.lock()) channel->finish();
        channel_.reset();
    }
    if (loop_.joinable()) {
        loop_.request_stop();
        loop_.join();
    }
    loop_ = std::jthread();
}

void AlertFeed::run(std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        lastProgress_ = clock_.now();
        stale_ = false;
    }
    bool first = true;
    Backoff backoff(retryDelays);
    while (!stop.stop_requested()) {
        std::int64_t cursor = 0;
        {
            std::lock_guard lock(mutex_);
            cursor = cursor_;
        }
        const auto started = clock_.now();
        PullOutcome outcome = pullUnlessStopped(*client_, cursor, first ? 0 : waitSeconds_, stop);
        if (outcome.stopped) return;
        if (outcome.answer && isPlausible(*outcome.answer)) {
            take(std::move(*outcome.answer));
            const auto took = clock_.now() - started;
            if (!first && took < shortestLongPoll) clock_.sleep(shortestLongPoll - took, stop);
            first = false;
            backoff.reset();
            continue;
        }
        // A failure, or an answer with an implausible cursor or sequence number.
        if (isUnauthorized(outcome.failure)) {
            endWithAuthInvalid();
            return;
        }
        if (stop.stop_requested()) return;
        noteFailure();
        clock_.sleep(backoff.next(), stop);
    }
}

void AlertFeed::take(PullResponse pull) {
    std::lock_guard lock(mutex_);
    for (AlertSnapshot& alert : pull.alerts) merge(std::make_shared<const AlertSnapshot>(std::move(alert)));
    cursor_ = pull.cursor;
    configVersions_ = std::move(pull.configVersions);
    live_ = true;
    lastProgress_ = clock_.now();
    stale_ = false;
    emit();
}

void AlertFeed::noteFailure() {
    std::lock_guard lock(mutex_);
    if (stale_ || std::chrono::duration<double>(clock_.now() - lastProgress_) < staleAfter_) return;
    stale_ = true;
    emit();
}

void AlertFeed::endWithAuthInvalid() {
    std::lock_guard lock(mutex_);
    auto channel = channel_.lock();
    channel_.reset();
    if (!channel) return;
    channel->push({AlertFeedEvent::AuthInvalid{}});
    channel->finish();
}

// ---- the held copy (callers hold mutex_) ----------------------------------------------------

bool AlertFeed::merge(Held alert) {
    auto [at, inserted] = alerts_.try_emplace(canonicalText(alert->id), alert);
    if (inserted) return true;
    if (alert->updatedSeq < at->second->updatedSeq) return false;
    at->second = std::move(alert);
    return true;
}

void AlertFeed::emit() {
    auto channel = channel_.lock();
    if (!channel) return;  // nobody holds the stream: nothing to buffer for
    channel->push({AlertFeedEvent::Snapshot{held(), configVersions_, live_, stale_}});
}

AlertList AlertFeed::held() const {
    AlertList list;
    list.reserve(alerts_.size());
    for (const auto& entry : alerts_) list.push_back(entry.second);
    return list;
}

// ---- changes from the owner -----------------------------------------------------------------

void AlertFeed::apply(const AlertSnapshot& alert) {
    if (!isPlausible(alert.updatedSeq)) return;
    std::lock_guard lock(mutex_);
    if (merge(std::make_shared<const AlertSnapshot>(alert))) emit();
}

void AlertFeed::reassignProject(std::string_view from, std::string_view to) {
    std::lock_guard lock(mutex_);
    bool matched = false;
    for (auto& entry : alerts_) {
        if (!canonicallyEqual(entry.second->project, from)) continue;
        auto moved = std::make_shared<AlertSnapshot>(*entry.second);
        moved->project = std::string(to);
        entry.second = std::move(moved);
        matched = true;
    }
    if (matched) emit();
}

void AlertFeed::dropProject(std::string_view project) {
    std::lock_guard lock(mutex_);
    const auto dropped =
        std::erase_if(alerts_, [&](const auto& entry) { return canonicallyEqual(entry.second->project, project); });
    if (dropped > 0) emit();
}

AlertList AlertFeed::currentAlerts() const {
    std::lock_guard lock(mutex_);
    return held();
}

}  // namespace brisalune
