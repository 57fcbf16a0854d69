#include <brisalune/platform/time.hpp>

#include <array>
#include <cstddef>
#include <stdexcept>
#include <utility>

namespace brisalune::platform {
namespace {

using std::chrono::days;
using std::chrono::hours;
using std::chrono::minutes;
using std::chrono::seconds;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

constexpr std::size_t utcLength = 20;     // 2026-01-02T03:04:05Z
constexpr std::size_t offsetLength = 25;  // 2026-01-02T03:04:05+01:00

// The representable range, computed on whole days so nothing can overflow.
constexpr sys_seconds earliest = sys_days{std::chrono::year{0} / std::chrono::January / 1};
constexpr sys_seconds latest =
    sys_days{std::chrono::year{9999} / std::chrono::December / 31} + hours{23} + minutes{59} + seconds{59};

// Reads `count` ASCII digits at `at`; nullopt unless every one is a digit.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Every fixed separator of the date and time part.
constexpr std::array<std::pair<std::size_t, char>, 5> separators{{{4, '-'}, {7, '-'}, {10, 'T'}, {13, ':'}, {16, ':'}}};

std::optional<seconds> parseOffset(std::string_view zone) {
    if (zone == "Z") return seconds{0};
    if (zone.size() != 6 || zone[3] != ':') return std::nullopt;
    if (zone[0] != '+' && zone[0] != '-') return std::nullopt;
    const auto h = digits(zone, 1, 2);
    const auto m = digits(zone, 4, 2);
    if (!h || !m || *h > 23 || *m > 59) return std::nullopt;
    const seconds offset = hours{*h} + minutes{*m};
    return zone[0] == '+' ? offset : -offset;
}

std::string twoDigits(unsigned value) {
    return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

std::optional<sys_seconds> parseInternetDate(std::string_view text) {
    if (text.size() != utcLength && text.size() != offsetLength) return std::nullopt;
    for (const auto& [at, c] : separators)
        if (text[at] != c) return std::nullopt;
    const auto y = digits(text, 0, 4);
    const auto mo = digits(text, 5, 2);
    const auto d = digits(text, 8, 2);
    const auto h = digits(text, 11, 2);
    const auto mi = digits(text, 14, 2);
    const auto s = digits(text, 17, 2);
    const auto offset = parseOffset(text.substr(19));
    if (!y || !mo || !d || !h || !mi || !s || !offset) return std::nullopt;
    if (*h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    const std::chrono::year_month_day date{
        std::chrono::year{*y},
        std::chrono::month{static_cast<unsigned>(*mo)},
        std::chrono::day{static_cast<unsigned>(*d)}};
    if (!date.ok()) return std::nullopt;
    // Local time minus its offset is UTC; all values are small, so no overflow here.
    const sys_seconds instant = sys_days{date} + hours{*h} + minutes{*mi} + seconds{*s} - *offset;
    if (instant < earliest || instant > latest) return std::nullopt;
    return instant;
}

std::string formatInternetDate(sys_seconds instant) {
    // Range check before any calendar arithmetic: extreme instants would overflow it.
    if (instant < earliest || instant > latest) throw std::out_of_range("date outside years 0000-9999");
    const auto day = std::chrono::floor<days>(instant);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{instant - day};
    const int year = static_cast<int>(date.year());
    std::string out = twoDigits(static_cast<unsigned>(year / 100)) + twoDigits(static_cast<unsigned>(year % 100));
    out += '-' + twoDigits(static_cast<unsigned>(date.month())) + '-' + twoDigits(static_cast<unsigned>(date.day()));
    out += 'T' + twoDigits(static_cast<unsigned>(time.hours().count())) + ':' +
           twoDigits(static_cast<unsigned>(time.minutes().count())) + ':' +
           twoDigits(static_cast<unsigned>(time.seconds().count())) + 'Z';
    return out;
}

}  // namespace brisalune::platform
