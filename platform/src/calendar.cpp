#include <brisalune/platform/calendar.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace brisalune::platform {

struct TimeZone::Data {
    std::string identifier;
    std::unique_ptr<const icu::TimeZone> zone;
};

struct GregorianCalendar::Data {
    std::unique_ptr<const icu::Calendar> prototype;
};

namespace {

using std::chrono::seconds;
using std::chrono::sys_seconds;

// About a million years either side of 1970: well inside what ICU's calendar computes, and
// small enough that its milliseconds are exact doubles.
constexpr std::int64_t maxSeconds = 31'556'952'000'000;
constexpr std::int64_t maxYear = 1'000'000;
// No zone identifier is anywhere near this long.
constexpr std::size_t maxIdentifierLength = 256;

constexpr char16_t unknownZone[] = u"Etc/Unknown";

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

TimeZone adopt(icu::TimeZone* zone) {
    icu::UnicodeString id;
    zone->getID(id);
    return TimeZone(
        std::make_shared<const TimeZone::Data>(TimeZone::Data{utf8(id), std::unique_ptr<const icu::TimeZone>(zone)}));
}

bool isUnknown(const icu::TimeZone& zone) {
    icu::UnicodeString id;
    zone.getID(id);
    return id == icu::UnicodeString(unknownZone);
}

bool inRange(sys_seconds instant) {
    const std::int64_t count = instant.time_since_epoch().count();
    return count >= -maxSeconds && count <= maxSeconds;
}

UDate millis(sys_seconds instant) { return static_cast<UDate>(instant.time_since_epoch().count()) * 1000.0; }

std::optional<sys_seconds> fromMillis(UDate value) {
    const double whole = std::floor(value / 1000.0);
    if (!(std::abs(whole) <= static_cast<double>(maxSeconds))) return std::nullopt;
    return sys_seconds{seconds{static_cast<std::int64_t>(whole)}};
}

std::unique_ptr<icu::Calendar> copy(const GregorianCalendar::Data& data) {
    return std::unique_ptr<icu::Calendar>(data.prototype->clone());
}

// The instant of local fields already checked for range; a day may run past the month's end.
std::optional<sys_seconds> resolve(
    icu::Calendar& calendar,
    std::int64_t year,
    std::int64_t month,
    std::int64_t day,
    std::int64_t hour,
    std::int64_t minute,
    std::int64_t second) {
    calendar.clear();
    calendar.set(UCAL_EXTENDED_YEAR, static_cast<std::int32_t>(year));
    calendar.set(UCAL_MONTH, static_cast<std::int32_t>(month - 1));
    calendar.set(UCAL_DATE, static_cast<std::int32_t>(day));
    calendar.set(UCAL_HOUR_OF_DAY, static_cast<std::int32_t>(hour));
    calendar.set(UCAL_MINUTE, static_cast<std::int32_t>(minute));
    calendar.set(UCAL_SECOND, static_cast<std::int32_t>(second));
    UErrorCode status = U_ZERO_ERROR;
    const UDate value = calendar.getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return fromMillis(value);
}

// The first moment of a local date (its day may run one past the month's end).
std::optional<sys_seconds> startOfDay(
    const GregorianCalendar::Data& data, std::int64_t year, std::int64_t month, std::int64_t day) {
    auto calendar = copy(data);
    calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    return resolve(*calendar, year, month, day, 0, 0, 0);
}

// ---- formatters ----

struct CachedFormat {
    std::mutex mutex;  // a formatter's zone is set for each use
    std::unique_ptr<icu::SimpleDateFormat> format;
};

class FormatCache {
public:
    std::shared_ptr<CachedFormat> get(const std::string& locale, std::string_view skeleton) {
        std::lock_guard lock(mutex_);
        auto key = std::make_pair(locale, std::string(skeleton));
        if (auto found = entries_.find(key); found != entries_.end()) return found->second;
        if (entries_.size() >= maxEntries) entries_.clear();  // users in flight keep theirs
        auto entry = std::make_shared<CachedFormat>();
        entry->format = make(locale, skeleton);
        entries_.emplace(std::move(key), entry);
        return entry;
    }

private:
    static constexpr std::size_t maxEntries = 64;

    static std::unique_ptr<icu::SimpleDateFormat> make(const std::string& identifier, std::string_view skeleton) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale locale = icu::Locale::createCanonical(identifier.c_str());
        if (locale.isBogus()) locale = icu::Locale("en_US_POSIX");
        locale.setKeywordValue("calendar", "gregorian", status);
        status = U_ZERO_ERROR;
        std::unique_ptr<icu::DateTimePatternGenerator> generator(
            icu::DateTimePatternGenerator::createInstance(locale, status));
        if (U_FAILURE(status))
            throw std::runtime_error(std::string("ICU date patterns unavailable: ") + u_errorName(status));
        const icu::UnicodeString pattern = generator->getBestPattern(unicode(skeleton), status);
        auto format = std::make_unique<icu::SimpleDateFormat>(pattern, locale, status);
        if (U_FAILURE(status))
            throw std::runtime_error(std::string("ICU date format unavailable: ") + u_errorName(status));
        auto calendar = std::make_unique<icu::GregorianCalendar>(icu::TimeZone::getGMT()->clone(), locale, status);
        calendar->setGregorianChange(U_DATE_MIN, status);
        if (U_FAILURE(status))
            throw std::runtime_error(std::string("ICU calendar unavailable: ") + u_errorName(status));
        format->adoptCalendar(calendar.release());
        return format;
    }

    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<CachedFormat>> entries_;
};

FormatCache& formatCache() {
    static FormatCache cache;
    return cache;
}

// "en_GB.UTF-8@euro" is "en_GB@euro".
std::string withoutCodeset(std::string_view name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) return std::string(name);
    const std::size_t at = name.find('@', dot);
    std::string out(name.substr(0, dot));
    if (at != std::string_view::npos) out += name.substr(at);
    return out;
}

}  // namespace

// ---- zones ----

std::optional<TimeZone> TimeZone::named(std::string_view identifier) {
    if (identifier.empty() || identifier.size() > maxIdentifierLength) return std::nullopt;
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(unicode(identifier)));
    if (!zone || isUnknown(*zone)) return std::nullopt;
    return adopt(zone.release());
}

TimeZone TimeZone::gmt() {
    static const TimeZone zone = adopt(icu::TimeZone::getGMT()->clone());
    return zone;
}

TimeZone TimeZone::namedOrGmt(std::string_view identifier) {
    auto zone = named(identifier);
    return zone ? std::move(*zone) : gmt();
}

// Asked of the system at every call: the zone changes while the app runs (a person travels, the
// desktop's setting changes), and ICU's own default is read once per process. ICU reads the
// system's zone into buffers of its own: one reading at a time, and ICU's one reading of its
// default, which shares them, done before.
TimeZone TimeZone::current() {
    static std::mutex reading;
    const std::lock_guard lock(reading);
    [[maybe_unused]] static const std::unique_ptr<icu::TimeZone> settled(icu::TimeZone::createDefault());
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    if (!zone || isUnknown(*zone)) return gmt();
    return adopt(zone.release());
}

std::vector<std::string> TimeZone::knownIdentifiers() {
    static const std::vector<std::string> identifiers = [] {
        std::vector<std::string> out;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::StringEnumeration> all(icu::TimeZone::createEnumeration(status));
        if (U_FAILURE(status) || !all) return out;
        while (const icu::UnicodeString* id = all->snext(status)) {
            if (U_FAILURE(status)) break;
            out.push_back(utf8(*id));
        }
        return out;
    }();
    return identifiers;
}

const std::string& TimeZone::identifier() const noexcept { return data_->identifier; }

// ---- the calendar ----

GregorianCalendar::GregorianCalendar(TimeZone zone) : zone_(std::move(zone)) {
    UErrorCode status = U_ZERO_ERROR;
    auto calendar =
        std::make_unique<icu::GregorianCalendar>(zone_.data().zone->clone(), icu::Locale("en_US_POSIX"), status);
    calendar->setGregorianChange(U_DATE_MIN, status);
    if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU calendar unavailable: ") + u_errorName(status));
    calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    calendar->setSkippedWallTimeOption(UCAL_WALLTIME_LAST);
    data_ = std::make_shared<const Data>(Data{std::move(calendar)});
}

std::optional<CalendarFields> GregorianCalendar::fields(sys_seconds instant) const {
    if (!inRange(instant)) return std::nullopt;
    auto calendar = copy(*data_);
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(millis(instant), status);
    CalendarFields out;
    out.year = calendar->get(UCAL_EXTENDED_YEAR, status);
    out.month = calendar->get(UCAL_MONTH, status) + 1;
    out.day = calendar->get(UCAL_DATE, status);
    out.hour = calendar->get(UCAL_HOUR_OF_DAY, status);
    out.minute = calendar->get(UCAL_MINUTE, status);
    out.second = calendar->get(UCAL_SECOND, status);
    out.weekday = calendar->get(UCAL_DAY_OF_WEEK, status);
    if (U_FAILURE(status)) return std::nullopt;
    return out;
}

std::optional<sys_seconds> GregorianCalendar::instant(
    std::int64_t year,
    std::int64_t month,
    std::int64_t day,
    std::int64_t hour,
    std::int64_t minute,
    std::int64_t second) const {
    if (year < -maxYear || year > maxYear) return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return std::nullopt;
    auto calendar = copy(*data_);
    return resolve(*calendar, year, month, day, hour, minute, second);
}

std::optional<DateInterval> GregorianCalendar::hour(sys_seconds instant) const {
    const auto local = fields(instant);
    if (!local) return std::nullopt;
    const sys_seconds start = instant - seconds{local->minute * 60 + local->second};
    return DateInterval{start, start + std::chrono::hours{1}};
}

std::optional<DateInterval> GregorianCalendar::day(sys_seconds instant) const {
    const auto local = fields(instant);
    if (!local) return std::nullopt;
    const auto start = startOfDay(*data_, local->year, local->month, local->day);
    const auto end = startOfDay(*data_, local->year, local->month, local->day + 1);
    if (!start || !end) return std::nullopt;
    return DateInterval{*start, *end};
}

bool GregorianCalendar::isSameDay(sys_seconds a, sys_seconds b) const {
    const auto first = fields(a);
    const auto second = fields(b);
    return first && second && first->year == second->year && first->month == second->month && first->day == second->day;
}

// ---- locales and texts ----

Locale Locale::current() {
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        std::string name = withoutCodeset(value);
        if (name == "C" || name == "POSIX" || name.empty()) break;
        return Locale{std::move(name)};
    }
    return Locale{"en_US_POSIX"};
}

std::string formatDate(sys_seconds instant, const TimeZone& zone, std::string_view skeleton, const Locale& locale) {
    const std::int64_t clamped = std::clamp(instant.time_since_epoch().count(), -maxSeconds, maxSeconds);
    const auto entry = formatCache().get(locale.identifier, skeleton);
    icu::UnicodeString text;
    {
        std::lock_guard lock(entry->mutex);
        entry->format->setTimeZone(*zone.data().zone);
        entry->format->format(millis(sys_seconds{seconds{clamped}}), text);
    }
    return utf8(text);
}

}  // namespace brisalune::platform
