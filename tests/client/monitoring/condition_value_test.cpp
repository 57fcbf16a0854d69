#include <brisalune/client/monitoring/condition_value.hpp>

#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <string>

namespace brisalune {
namespace {

std::optional<JSONValue> numberFrom(std::string text) {
    ConditionValueDraft draft;
    draft.type = ConditionValueType::number;
    draft.text = std::move(text);
    return draft.value();
}

TEST(ConditionValue, NumbersShowWholeOrShortest) {
    const std::pair<double, const char*> shown[] = {
        {-0.0, "0"},
        {1e20, "1e+20"},
        {0.1, "0.1"},
        {-9223372036854775808.0, "-9223372036854775808"},
        {9223372036854775808.0, "9223372036854775808"},
        {1.5e300, "1.5e+300"}};
    for (auto [number, text] : shown) {
        ConditionValueDraft draft{JSONValue(number)};
        EXPECT_EQ(draft.text, text);
        EXPECT_EQ(draft.value(), JSONValue(number)) << text;
    }
}

TEST(ConditionValue, NumberTextMustReadWholeInTheCLocale) {
    // A comma locale must not change the separator.
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(numberFrom("0x10"), JSONValue(16.0));
    EXPECT_EQ(numberFrom("2.5e3"), JSONValue(2500.0));
    for (const char* bad : {"1,5", " 1", "", "nan", "-infinity", "1e400", "12abc"}) {
        EXPECT_FALSE(numberFrom(bad)) << bad;
    }
    EXPECT_FALSE(numberFrom(std::string(
        "1\0"
        "2",
        3)));
    std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST(ConditionValue, TypeChangesReadAnotherFieldUnlessVerbatim) {
    for (ConditionValueType type : allConditionValueTypes) EXPECT_EQ(conditionValueType(rawValue(type)), type);
    EXPECT_FALSE(conditionValueType("Number"));

    ConditionValueDraft text{JSONValue("42")};
    EXPECT_EQ(text.type, ConditionValueType::text);
    text.flag = true;
    EXPECT_EQ(text.value(), JSONValue("42"));
    text.type = ConditionValueType::number;
    EXPECT_EQ(text.value(), JSONValue(42.0));
    text.type = ConditionValueType::boolean;
    EXPECT_EQ(text.value(), JSONValue(true));

    const JSONValue list(JSONValue::Array{JSONValue(1), JSONValue("a")});
    ConditionValueDraft kept{list};
    EXPECT_EQ(kept.text, list.prettyText());
    kept.type = ConditionValueType::number;
    kept.text = "5";
    EXPECT_EQ(kept.value(), list);
    kept.verbatim.reset();
    EXPECT_EQ(kept.value(), JSONValue(5.0));
    EXPECT_EQ(ConditionValueDraft{JSONValue(nullptr)}.value(), JSONValue(nullptr));
}

}  // namespace
}  // namespace brisalune
