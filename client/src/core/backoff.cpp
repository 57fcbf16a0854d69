#include <brisalune/client/core/backoff.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <utility>

namespace brisalune {

namespace {

void check(const BackoffPolicy& policy) {
    // Written so that NaN fails every test.
    if (!(policy.base.count() > 0)) throw std::invalid_argument("a backoff needs a positive base");
    if (!(policy.cap >= policy.base)) throw std::invalid_argument("a backoff's cap is below its base");
    if (!(policy.factor >= 1) || !std::isfinite(policy.factor)) {
        throw std::invalid_argument("a backoff's factor must be finite and at least 1");
    }
    if (!(policy.jitter >= 0 && policy.jitter <= 1)) throw std::invalid_argument("a backoff's jitter is from 0 to 1");
}

Backoff::RandomSource systemSeeded() {
    return [engine = std::mt19937_64(std::random_device{}())]() mutable {
        return std::uniform_real_distribution<double>(0, 1)(engine);
    };
}

}  // namespace

Backoff::Backoff(BackoffPolicy policy, RandomSource random)
    : policy_(policy), random_(std::move(random)), step_(policy.base) {
    check(policy_);
    if (policy_.jitter > 0 && !random_) random_ = systemSeeded();
}

std::chrono::nanoseconds Backoff::next() {
    const auto step = step_;
    // In floating point, so that no factor overflows on its way to the cap.
    const double grown = static_cast<double>(step_.count()) * policy_.factor;
    step_ = grown >= static_cast<double>(policy_.cap.count())
                ? policy_.cap
                : std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(grown));
    if (policy_.jitter == 0) return step;
    const double share = policy_.jitter * std::clamp(random_(), 0.0, 1.0);
    return step - std::chrono::nanoseconds(
                      static_cast<std::chrono::nanoseconds::rep>(static_cast<double>(step.count()) * share));
}

void Backoff::reset() noexcept { step_ = policy_.base; }

}  // namespace brisalune
