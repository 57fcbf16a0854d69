#pragma once

// An optional address read from one key of a record's object. Include it in sources only: it
// pulls in the JSON parser.

#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/url.hpp>

#include <optional>
#include <string_view>

namespace brisalune {

// Missing or null is none, and so is a text that is no address (the empty text included); a
// value that is not text fails the decode.
inline std::optional<platform::Url> addressField(const json::Node& object, std::string_view key) {
    std::optional<platform::Url> out;
    object.forEachMember([&](std::string_view name, const json::Node& value) {
        if (name == key) out = value.isNull() ? std::nullopt : platform::Url::parse(value.string());
    });
    return out;
}

}  // namespace brisalune
