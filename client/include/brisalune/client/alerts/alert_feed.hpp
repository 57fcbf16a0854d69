#pragma once

// A live copy of one team's alerts, kept by long-polling the pull endpoint on a thread of the
// feed's own, with every change published as an event.

#include <brisalune/client/alerts/alerts.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

namespace brisalune {

class BrisaluneClient;

// Held alerts as events carry them: immutable snapshots shared between events, never copied.
using AlertList = std::vector<std::shared_ptr<const AlertSnapshot>>;

struct AlertFeedEvent {
    // The whole held copy after a change, with the feed's flags as they stand.
    struct Snapshot {
        AlertList alerts;  // in the held map's own order, unsorted
        std::map<std::string, std::int64_t> configVersions;
        bool live = false;
        bool stale = false;
    };
    // The server refused the credentials; the stream ends right after this event.
    struct AuthInvalid {};

    std::variant<Snapshot, AuthInvalid> value;

    const Snapshot* snapshot() const { return std::get_if<Snapshot>(&value); }
    bool isAuthInvalid() const { return std::holds_alternative<AuthInvalid>(value); }
};

// The consumer's end of the events of one start. Unbounded; any thread may read it. Once every
// copy is gone, the feed buffers nothing more for it (the loop and the held copy go on).
class AlertFeedStream {
public:
    // Blocks for the next event; none once the stream has finished and every event was read.
    std::optional<AlertFeedEvent> next();
    // As next(), but also none when `limit` passes first; finished() tells the two apart.
    std::optional<AlertFeedEvent> next(std::chrono::milliseconds limit);
    // The feed has finished this stream (events may still wait to be read).
    bool finished() const;

private:
    friend class AlertFeed;
    struct Channel;
    explicit AlertFeedStream(std::shared_ptr<Channel> channel) : channel_(std::move(channel)) {}
    std::shared_ptr<Channel> channel_;
};

// How the feed tells time. `sleep` must return as soon as the stop token is triggered.
struct AlertFeedClock {
    std::function<std::chrono::nanoseconds()> now;
    std::function<void(std::chrono::nanoseconds, std::stop_token)> sleep;

    // CLOCK_BOOTTIME, which keeps counting while the machine is suspended.
    static AlertFeedClock continuous();
};

// The loop pulls with a wait of 0 until a pull of the run succeeds, then with `waitSeconds`, at
// most once a second (a pull answered sooner is followed by a sleep for the rest of it);
// merges pulled alerts by id (a lower `updatedSeq` never replaces a held one); drops answers
// with a cursor or sequence number outside 0...10^12; after a failure sleeps 1, 2, 4 ... 60
// seconds, and once `staleAfter` has passed without success marks the copy stale. An
// unauthorised answer ends the stream with AuthInvalid and the loop.
//
// Thread-safe. `stop` ends the loop at once, also during a long poll: the stop request cancels
// that request, and whatever it brought is dropped. Destroying the feed stops it.
class AlertFeed {
public:
    // Throws std::invalid_argument for a null client or a wait no pull can carry.
    AlertFeed(
        std::shared_ptr<const BrisaluneClient> client,
        std::int64_t waitSeconds,
        std::chrono::duration<double> staleAfter,
        AlertFeedClock clock = AlertFeedClock::continuous());
    ~AlertFeed();
    AlertFeed(const AlertFeed&) = delete;
    AlertFeed& operator=(const AlertFeed&) = delete;

    // Stops, then runs the loop anew from the held cursor; events go to the returned stream only.
    AlertFeedStream start();
    // Finishes the stream and ends the loop, waiting for it. The held copy and cursor stay.
    void stop();

    // Merges one alert got elsewhere; one with an implausible `updatedSeq` is ignored.
    void apply(const AlertSnapshot& alert);
    // Moves every held alert of project `from` to `to`.
    void reassignProject(std::string_view from, std::string_view to);
    void dropProject(std::string_view project);
    AlertList currentAlerts() const;

private:
    using Held = std::shared_ptr<const AlertSnapshot>;

    void run(std::stop_token stop);
    void take(PullResponse pull);
    void noteFailure();
    void endWithAuthInvalid();
    bool merge(Held alert);
    void emit();
    AlertList held() const;
    void stopLoop();

    const std::shared_ptr<const BrisaluneClient> client_;
    const std::int64_t waitSeconds_;
    const std::chrono::duration<double> staleAfter_;
    const AlertFeedClock clock_;

    std::mutex lifecycle_;  // serialises start and stop; never taken by the loop
    std::jthread loop_;

    mutable std::mutex mutex_;                      // guards everything below
    std::unordered_map<std::string, Held> alerts_;  // by canonical id
    std::map<std::string, std::int64_t> configVersions_;
    std::int64_t cursor_ = 0;
    bool live_ = false;
    bool stale_ = false;
    std::chrono::nanoseconds lastProgress_;
    std::weak_ptr<AlertFeedStream::Channel> channel_;  // the stream's copies own it
};

}  // namespace brisalune
