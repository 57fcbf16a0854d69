#pragma once

// The pending acknowledgements as one session writes them. A sign-out closes the session's gate
// once the writes already under way have ended, in the same step as it empties the store: no
// record of that session lands after it, for the next account to send.

#include <brisalune/client/alerts/pending_ack_store.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <shared_mutex>

namespace brisalune {

class SessionAckGate final : public std::enable_shared_from_this<SessionAckGate> {
public:
    // `store` as this session writes it: once the gate is closed, a put writes nothing (false) and
    // a replace finds the record taken (overtaken). Reads and removals go through unchanged.
    std::shared_ptr<PendingAckStoring> over(std::shared_ptr<PendingAckStoring> store);

    // Runs `clear` once no write through the gate is under way, none starting meanwhile, and
    // closes the gate when it succeeds. The writes and `clear` together wait for another program
    // that holds the settings file until `by`, not each for a patience of its own. Whether the
    // gate closed. Blocks.
    bool closeAfter(const std::function<bool()>& clear, std::chrono::steady_clock::time_point by);
    // Never waits (the UI thread asks).
    bool isClosed() const noexcept { return closed_; }

private:
    class Store;

    std::shared_timed_mutex writes_;
    std::atomic<bool> closed_ = false;
};

}  // namespace brisalune
