#pragma once

// A keychain in memory whose saves wait while the test holds it, as a keyring waiting on an
// unlock prompt does.

#include <brisalune/client/accounts/session.hpp>

#include <condition_variable>
#include <mutex>

namespace brisalune::testkit {

class HeldKeychain final : public SessionStoring {
public:
    SessionLoad load() override { return memory_.load(); }
    void save(const StoredSession& session) override {
        std::unique_lock guard(lock_);
        ++waiting_;
        opened_.wait(guard, [this] { return !held_; });
        --waiting_;
        memory_.save(session);
    }
    void clear() noexcept override { memory_.clear(); }

    void hold() {
        const std::lock_guard guard(lock_);
        held_ = true;
    }
    void open() {
        {
            const std::lock_guard guard(lock_);
            held_ = false;
        }
        opened_.notify_all();
    }
    int waiting() const {
        const std::lock_guard guard(lock_);
        return waiting_;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable opened_;
    bool held_ = false;
    int waiting_ = 0;
    MemorySessionStore memory_;
};

}  // namespace brisalune::testkit
