#include <brisalune/client/core/backoff.hpp>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace brisalune {
namespace {

using namespace std::chrono_literals;
using Delays = std::vector<std::chrono::nanoseconds>;

Delays take(Backoff& backoff, int count) {
    Delays delays;
    for (int i = 0; i < count; ++i) delays.push_back(backoff.next());
    return delays;
}

TEST(Backoff, GrowsByTheFactorToTheCapAndStartsOverAfterAReset) {
    Backoff doubling({.base = 1s, .factor = 2, .cap = 60s});
    EXPECT_EQ(take(doubling, 9), (Delays{1s, 2s, 4s, 8s, 16s, 32s, 60s, 60s, 60s}));
    doubling.reset();
    EXPECT_EQ(take(doubling, 2), (Delays{1s, 2s}));

    Backoff steady({.base = 5s, .factor = 1, .cap = 5s});
    EXPECT_EQ(take(steady, 3), (Delays{5s, 5s, 5s}));

    Backoff huge({.base = 1ns, .factor = 1e300, .cap = std::chrono::nanoseconds::max()});
    EXPECT_EQ(take(huge, 3), (Delays{1ns, std::chrono::nanoseconds::max(), std::chrono::nanoseconds::max()}));
}

TEST(Backoff, JitterTakesTheDrawnShareOfTheStepOff) {
    std::vector<double> draws{0.0, 0.5, 0.75, 0.25};
    std::size_t drawn = 0;
    Backoff full({.base = 4s, .factor = 2, .cap = 16s, .jitter = 1}, [&] { return draws[drawn++]; });
    EXPECT_EQ(take(full, 4), (Delays{4s, 4s, 4s, 12s}));

    drawn = 0;
    Backoff half({.base = 4s, .factor = 2, .cap = 16s, .jitter = 0.5}, [&] { return draws[drawn++]; });
    EXPECT_EQ(take(half, 2), (Delays{4s, 6s}));

    Backoff seeded({.base = 1s, .factor = 2, .cap = 8s, .jitter = 1});
    for (const auto step : {1s, 2s, 4s, 8s}) {
        const auto delay = seeded.next();
        EXPECT_GE(delay, 0s);
        EXPECT_LE(delay, step);
    }
}

TEST(Backoff, RefusesPoliciesOutsideItsBounds) {
    for (const BackoffPolicy policy :
         {BackoffPolicy{.base = 0s, .factor = 2, .cap = 1s},
          BackoffPolicy{.base = 2s, .factor = 2, .cap = 1s},
          BackoffPolicy{.base = 1s, .factor = 0.5, .cap = 1s},
          BackoffPolicy{.base = 1s, .factor = 2, .cap = 1s, .jitter = 1.5},
          BackoffPolicy{.base = 1s, .factor = 2, .cap = 1s, .jitter = -0.1}}) {
        EXPECT_THROW(Backoff{policy}, std::invalid_argument);
    }
}

}  // namespace
}  // namespace brisalune
