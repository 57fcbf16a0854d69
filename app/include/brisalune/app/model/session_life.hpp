#pragma once

// Where one session stands, as every request of the model asks before it goes: only a live
// session sends. "Sign out" makes it ending at once, and it is never live again: a sign-out whose
// local step is refused leaves it ending, and the person's next action runs the whole sign-out
// again (its calls are safe to repeat). Ended at the service only when the service said so (it
// refused the session's own token): only the local step is left then. Gone once forgotten here.

#include <brisalune/client/core/client.hpp>

#include <atomic>
#include <memory>
#include <string_view>

namespace brisalune {

class SessionLife {
public:
    enum class State { live, ending, endedAtService, gone };

    // What a request of a session that is not live fails with, unsent.
    static constexpr std::string_view notSentText = "Not sent: Brisalune is signing out of this session.";

    // Any thread.
    State state() const noexcept { return state_; }
    bool isLive() const noexcept { return state_ == State::live; }
    void set(State value) noexcept { state_ = value; }

private:
    std::atomic<State> state_ = State::live;
};

// The same client, sending only while `life` is live: after that its requests fail at once, unsent.
std::shared_ptr<BrisaluneClient> whileLive(std::shared_ptr<const SessionLife> life, const BrisaluneClient& made);

}  // namespace brisalune
