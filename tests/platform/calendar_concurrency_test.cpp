#include <brisalune/platform/calendar.hpp>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace brisalune::platform;

// Threads share the formatter of a locale and skeleton, each in its own zone.
TEST(DateTextsConcurrency, SharedFormattersGiveEachThreadItsOwnZonesText) {
    const std::vector<TimeZone> zones = {
        *TimeZone::named("Europe/Paris"),
        *TimeZone::named("Asia/Kolkata"),
        *TimeZone::named("America/New_York"),
        TimeZone::gmt()};
    const std::vector<Locale> locales = {Locale{"en_US"}, Locale{"en_GB"}};
    auto texts = [&](std::size_t which) {
        std::vector<std::string> out;
        const GregorianCalendar calendar(zones[which]);
        for (std::int64_t step = 0; step < 200; ++step) {
            const std::chrono::sys_seconds instant{std::chrono::seconds{1'700'000'000 + step * 3'541}};
            out.push_back(formatDate(instant, zones[which], "EEEdMMMyHHmm", locales[which % 2]));
            out.push_back(std::to_string(calendar.fields(instant)->hour));
        }
        return out;
    };
    std::vector<std::vector<std::string>> alone;
    for (std::size_t i = 0; i < zones.size(); ++i) alone.push_back(texts(i));

    std::vector<std::vector<std::string>> together(zones.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < zones.size(); ++i) threads.emplace_back([&, i] { together[i] = texts(i); });
    }
    EXPECT_EQ(together, alone);
}

}  // namespace
