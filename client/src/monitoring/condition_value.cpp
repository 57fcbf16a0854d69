#include <brisalune/client/monitoring/condition_value.hpp>

#include <locale.h>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace brisalune {

namespace {

constexpr std::array<std::string_view, 3> rawValues = {"text", "number", "boolean"};

// The decimal text of a whole number in the 64-bit range (negative zero is 0), else the
// shortest text that reads back as the same double.
std::string numberText(double number) {
    constexpr double lowest = -9223372036854775808.0;  // -2^63, exact
    if (number == std::trunc(number) && number >= lowest && number < -lowest) {
        return std::to_string(static_cast<std::int64_t>(number));
    }
    std::array<char, 32> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
    return error == std::errc() ? std::string(buffer.data(), end) : std::string();
}

// The C locale, whatever the process's locale is: the decimal separator is always ".".
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

bool isLeadingSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The whole text read as a finite double: an optional sign, decimals with an exponent, or the
// hexadecimal form; no blank before or after.
std::optional<double> finiteNumber(const std::string& text) {
    if (text.empty() || isLeadingSpace(text.front())) return std::nullopt;
    char* end = nullptr;
    const double number = strtod_l(text.c_str(), &end, cLocale());
    if (end != text.c_str() + text.size() || !std::isfinite(number)) return std::nullopt;
    return number;
}

}  // namespace

std::optional<ConditionValueType> conditionValueType(std::string_view rawValue) {
    for (ConditionValueType type : allConditionValueTypes) {
        if (rawValues[static_cast<std::size_t>(type)] == rawValue) return type;
    }
    return std::nullopt;
}

std::string_view rawValue(ConditionValueType type) { return rawValues[static_cast<std::size_t>(type)]; }

ConditionValueDraft::ConditionValueDraft(const JSONValue& value) {
    if (const bool* flagValue = value.get<bool>()) {
        type = ConditionValueType::boolean;
        flag = *flagValue;
    } else if (const double* number = value.get<double>()) {
        type = ConditionValueType::number;
        text = numberText(*number);
    } else if (const std::string* string = value.get<std::string>()) {
        text = *string;
    } else {
        text = value.prettyText();
        verbatim = value;
    }
}

std::optional<JSONValue> ConditionValueDraft::value() const {
    if (verbatim) return verbatim;
    switch (type) {
        case ConditionValueType::text: return JSONValue(text);
        case ConditionValueType::boolean: return JSONValue(flag);
        case ConditionValueType::number:
            if (auto number = finiteNumber(text)) return JSONValue(*number);
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace brisalune
