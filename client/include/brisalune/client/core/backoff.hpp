#pragma once

// The delays of a retry loop: base, base·factor, base·factor², … never above the cap, back to
// the base after a success. With jitter, each delay is drawn below its step, so that clients
// failing together do not retry together.

#include <chrono>
#include <functional>

namespace brisalune {

struct BackoffPolicy {
    std::chrono::nanoseconds base;  // the first delay, and the first after a reset
    double factor = 2;              // each delay is the previous one times this, at least 1
    std::chrono::nanoseconds cap;   // no delay is longer, at least the base
    // The share of each step that chance may take off, from 0 to 1: a delay is drawn evenly from
    // step·(1 − jitter) to step. 0 keeps the steps exact; 1 draws from nothing to the whole step.
    double jitter = 0;
};

// One loop's backoff; not for sharing between threads.
class Backoff {
public:
    // Evenly distributed numbers from 0 (included) to 1 (excluded).
    using RandomSource = std::function<double()>;

    // Throws std::invalid_argument for a policy outside the bounds above. Without a random
    // source, a jittered backoff draws from a generator of its own, seeded by the system.
    explicit Backoff(BackoffPolicy policy, RandomSource random = {});

    // The delay before the next attempt; the following one grows by the factor, up to the cap.
    std::chrono::nanoseconds next();
    // After a success: the next delay is the base again.
    void reset() noexcept;

    const BackoffPolicy& policy() const noexcept { return policy_; }

private:
    BackoffPolicy policy_;
    RandomSource random_;
    std::chrono::nanoseconds step_;
};

}  // namespace brisalune
