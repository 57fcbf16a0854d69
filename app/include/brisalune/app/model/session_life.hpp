#pragma once

// Where one session stands, at the service and here, as every request of the model asks before it
// goes: only a live session sends. A sign-out makes it ending at once; ended at the service once
// one of the sign-out's own calls may have reached the service; gone once it is forgotten here. A
// local step refused after its calls never reached the service leaves it live again (the session
// still works there); refused after they did, it stays ended until a later sign-out finishes.

#include <brisalune/client/core/client.hpp>

#include <atomic>
#include <memory>

namespace brisalune {

class SessionLife {
public:
    enum class State { live, ending, endedAtService, gone };

    // Any thread.
    State state() const noexcept { return state_; }
    bool isLive() const noexcept { return state_ == State::live; }
    void set(State value) noexcept { state_ = value; }

private:
    std::atomic<State> state_ = State::live;
};

// The same client, sending only while `life` is live: after that its requests fail at once, unsent.
std::shared_ptr<BrisaluneClient> whileLive(std::shared_ptr<const SessionLife> life, const BrisaluneClient& made);

// The same client for a sign-out's own calls: they go whatever the life, and one that may have
// reached the service (an answer of any status, or a time-out) takes the session as ended there.
std::shared_ptr<BrisaluneClient> endingAtService(std::shared_ptr<SessionLife> life, const BrisaluneClient& made);

}  // namespace brisalune
