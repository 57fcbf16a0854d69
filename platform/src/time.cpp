#include <brisalune/platform/time.hpp>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

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

// The fields of `YYYY-MM-DDTHH:MM:SS`, or false. Every date decoded comes through here, so the
// text is checked eight bytes at a time: each digit byte xor '0' must be 0-9, each separator exact.
struct LocalTime {
    int year, month, day, hour, minute, second;
};

bool parseLocal(std::string_view text, LocalTime& out) {
    auto load = [&](std::size_t at) {
        std::uint64_t word = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&word, text.data() + at, 8);
        } else {
            for (std::size_t i = 0; i < 8; ++i) word |= std::uint64_t{static_cast<unsigned char>(text[at + i])} << (8 * i);
        }
        return word;
    };
    auto bytes = [](char c) { return std::uint64_t{static_cast<unsigned char>(c)} * 0x0101010101010101; };
    // "YYYY-MM-" and "DDTHH:MM", then ":SS" in the low bytes of a third word.
    const std::uint64_t first = load(0);
    const std::uint64_t second = load(8);
    const std::uint64_t third = load(12) >> 32 & 0xFFFFFF;  // bytes 16-18: the text has at least 20
    constexpr std::uint64_t firstDigits = 0x00FFFF00FFFFFFFF;
    constexpr std::uint64_t secondDigits = 0xFFFF00FFFF00FFFF;
    constexpr std::uint64_t thirdDigits = 0x0000000000FFFF00;
    const std::uint64_t a = (first ^ bytes('0')) & firstDigits;
    const std::uint64_t b = (second ^ bytes('0')) & secondDigits;
    const std::uint64_t c = (third ^ bytes('0')) & thirdDigits;
    const std::uint64_t highNibbles = (a | b | c) & bytes(char(0xF0));
    const std::uint64_t aboveNine = ((a + bytes(6)) | (b + bytes(6)) | (c + bytes(6))) & bytes(0x10);
    const std::uint64_t separators = ((first & ~firstDigits) ^ (bytes('-') & ~firstDigits)) |
                                     ((second & ~secondDigits) ^ (std::uint64_t{'T'} << 16 | std::uint64_t{':'} << 40)) |
                                     ((third & 0xFF) ^ ':');
    if ((highNibbles | aboveNine | separators) != 0) return false;
    // Each byte times ten plus the next one: the two-digit number that starts at each byte (no
    // carries, as every byte is 0-9 by now).
    auto pairs = [](std::uint64_t word) { return word * 10 + (word >> 8); };
    auto byteAt = [](std::uint64_t word, int at) { return static_cast<int>((word >> (8 * at)) & 0xFF); };
    const std::uint64_t pa = pairs(a);
    const std::uint64_t pb = pairs(b);
    out.year = byteAt(pa, 0) * 100 + byteAt(pa, 2);
    out.month = byteAt(pa, 5);
    out.day = byteAt(pb, 0);
    out.hour = byteAt(pb, 3);
    out.minute = byteAt(pb, 6);
    out.second = byteAt(pairs(c), 1);
    return true;
}

bool isLeap(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int daysInMonth(int year, int month) {
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : lengths[month - 1];
}

// Days since 1970-01-01 of a valid proleptic Gregorian date of years 0000-9999. Years are counted
// from March, so that a leap day ends its year, and shifted by 400 so that nothing is negative:
// unsigned divisions by constants are a multiply each.
// Days from the first of March to the first of each month (a table in static storage: one local
// to the function is built on the stack at every call).
constexpr std::uint32_t fromMarch[12] = {306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275};

constexpr std::uint32_t daysSinceShiftedEpoch(std::uint32_t year, std::uint32_t month, std::uint32_t day) {
    const std::uint32_t y = year + 400 - (month <= 2 ? 1 : 0);
    return y * 365 + y / 4 - y / 100 + y / 400 + fromMarch[month - 1] + day - 1;
}

std::int64_t daysFromCivil(int year, int month, int day) {
    constexpr std::int64_t epoch = daysSinceShiftedEpoch(1970, 1, 1);
    return std::int64_t{daysSinceShiftedEpoch(
               static_cast<std::uint32_t>(year), static_cast<std::uint32_t>(month), static_cast<std::uint32_t>(day))} -
           epoch;
}

std::string twoDigits(unsigned value) {
    return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

}  // namespace

bool parseInternetDate(std::string_view text, sys_seconds& out) {
    if (text.size() != utcLength && text.size() != offsetLength) return false;
    LocalTime local;
    if (!parseLocal(text, local)) return false;
    const auto [y, mo, d, h, mi, s] = local;
    // One branch for the usual date; the length of the month only matters past the 28th.
    const bool outside = static_cast<unsigned>(mo - 1) > 11 || d < 1 || h > 23 || mi > 59 || s > 59;
    if (outside || (d > 28 && d > daysInMonth(y, mo))) return false;
    const seconds wall{daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s};
    // The usual UTC form needs no range check: every date of years 0000-9999 is inside.
    if (text.size() == utcLength && text[19] == 'Z') {
        out = sys_seconds{wall};
        return true;
    }
    const auto offset = parseOffset(text.substr(19));
    if (!offset) return false;
    // Local time minus its offset is UTC; all values are small, so no overflow here.
    const sys_seconds instant{wall - *offset};
    if (instant < earliest || instant > latest) return false;
    out = instant;
    return true;
}

std::optional<sys_seconds> parseInternetDate(std::string_view text) {
    sys_seconds out;
    if (!parseInternetDate(text, out)) return std::nullopt;
    return out;
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
