#include <brisalune/client/maintenance/wall_clock.hpp>

#include <brisalune/client/detail/log_text.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

namespace brisalune::MaintenanceWallClock {

namespace {

constexpr std::string_view separators = "-T:";

// The five numbers, or none when there are not exactly five readable ones.
std::optional<std::array<std::int64_t, 5>> numbers(std::string_view text) {
    std::array<std::int64_t, 5> out{};
    std::size_t count = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(separators, at);
        if (start == std::string_view::npos) break;
        const std::size_t stop = std::min(text.find_first_of(separators, start), text.size());
        at = stop;
        const std::string_view piece = text.substr(start, stop - start);
        if (count == out.size()) return std::nullopt;
        const auto value = signedDecimal(piece);
        if (!value) return std::nullopt;
        out[count++] = *value;
    }
    if (count != out.size()) return std::nullopt;
    return out;
}

}  // namespace

std::string format(std::chrono::sys_seconds instant, const platform::TimeZone& zone) {
    const auto fields =
        platform::GregorianCalendar(zone).fields(instant).value_or(platform::CalendarFields{0, 0, 0, 0, 0, 0, 0});
    char text[48];
    std::snprintf(
        text,
        sizeof text,
        "%04lld-%02d-%02dT%02d:%02d",
        static_cast<long long>(fields.year),
        fields.month,
        fields.day,
        fields.hour,
        fields.minute);
    return text;
}

std::optional<std::chrono::sys_seconds> parse(std::string_view text, const platform::TimeZone& zone) {
    const auto fields = numbers(text);
    if (!fields) return std::nullopt;
    const auto [year, month, day, hour, minute] = *fields;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        return std::nullopt;
    }
    const platform::GregorianCalendar calendar(zone);
    const auto instant = calendar.instant(year, month, day, hour, minute);
    if (!instant) return std::nullopt;
    const auto back = calendar.fields(*instant);  // a day past the month's end rolls over: refuse it
    if (!back || back->month != month || back->day != day) return std::nullopt;
    return instant;
}

}  // namespace brisalune::MaintenanceWallClock
