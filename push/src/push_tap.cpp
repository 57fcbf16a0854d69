#include <brisalune/push/push_tap.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace brisalune {
namespace {

template <class T>
const T* member(const json::Object& object, std::string_view key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : found->second.get<T>();
}

// An optional sign, then decimal digits only, within 64 bits.
std::optional<std::int64_t> decimal(std::string_view text) {
    const bool sign = !text.empty() && (text.front() == '+' || text.front() == '-');
    const std::string_view digits = sign ? text.substr(1) : text;
    if (digits.empty() || !std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (text.front() == '+') text.remove_prefix(1);  // from_chars reads a minus only
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// A whole number, whether the JSON wrote it as one or with a fraction of zero; not a boolean.
std::optional<std::int64_t> wholeNumber(const json::Value& value) {
    if (const auto* integer = value.get<std::int64_t>()) return *integer;
    const auto* number = value.get<double>();
    // 2^63 itself is out of range; every double below it in magnitude converts exactly.
    constexpr double limit = 9223372036854775808.0;
    if (!number || !std::isfinite(*number) || std::trunc(*number) != *number) return std::nullopt;
    if (*number >= limit || *number < -limit) return std::nullopt;
    return static_cast<std::int64_t>(*number);
}

std::optional<std::int64_t> incidentNumber(const json::Object& userInfo) {
    const auto found = userInfo.find(PushPayloadKey::incident);
    if (found == userInfo.end()) return std::nullopt;
    std::optional<std::int64_t> number;
    if (const auto* text = found->second.get<std::string>()) {
        number = decimal(*text);
    } else {
        number = wholeNumber(found->second);
    }
    if (!number || *number < 1) return std::nullopt;
    return number;
}

}  // namespace

std::optional<PushTap> PushTap::parse(const json::Object& userInfo) {
    std::optional<std::string> tenant;
    if (const auto* text = member<std::string>(userInfo, PushPayloadKey::tenantId)) {
        if (text->size() > maxIdBytes) return std::nullopt;  // not left out: the alert is that team's
        tenant = *text;
    }

    const auto* event = member<std::string>(userInfo, PushPayloadKey::event);
    if (event && *event == alertsResolvedEvent) {
        const std::optional<std::int64_t> number = incidentNumber(userInfo);
        if (!number) return std::nullopt;
        return PushTap{Incident{*number, std::move(tenant)}};
    }
    const auto* alert = member<std::string>(userInfo, PushPayloadKey::alertId);
    if (!alert || alert->empty() || alert->size() > maxIdBytes) return std::nullopt;
    return PushTap{Alert{*alert, std::move(tenant)}};
}

}  // namespace brisalune
