#pragma once

// An editable draft of a condition's free-form value: a chosen type with the text or flag the
// user edits, and, for values a form cannot edit (lists, objects, null), the value itself carried
// through unchanged.

#include <brisalune/client/core/json_value.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

enum class ConditionValueType { text, number, boolean };

inline constexpr std::array<ConditionValueType, 3> allConditionValueTypes = {
    ConditionValueType::text, ConditionValueType::number, ConditionValueType::boolean};

// "text", "number" or "boolean", matched exactly; any other text (other case included) is none.
std::optional<ConditionValueType> conditionValueType(std::string_view rawValue);
std::string_view rawValue(ConditionValueType type);

struct ConditionValueDraft {
    ConditionValueType type = ConditionValueType::text;  // which field the value comes from
    std::string text;                                    // used by text and number
    bool flag = false;                                   // used by boolean
    std::optional<JSONValue> verbatim;                   // while present, the draft's value whatever the rest says

    // A blank text draft.
    ConditionValueDraft() = default;
    // Shows a value: a whole number that fits 64 bits without a fraction, any other number in its
    // shortest round-trip form; a list, object or null as its pretty JSON, kept verbatim.
    explicit ConditionValueDraft(const JSONValue& value);

    // The value the draft stands for; none for a number whose text is not a finite number read
    // whole in the C locale. Changing `type` converts nothing: the value comes from its field.
    std::optional<JSONValue> value() const;
};

}  // namespace brisalune
