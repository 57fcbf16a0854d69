#pragma once

// Building addresses under a base address, one escaped path segment at a time.

#include <brisalune/client/core/client.hpp>
#include <brisalune/platform/url.hpp>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune::detail {

// The base address with each segment appended as one path segment (a "/" inside one is
// escaped), after the base's path without its trailing slashes and before its query and
// fragment. None when the result is no URL.
inline std::optional<platform::Url> appendingPathSegments(
    const platform::Url& base, std::initializer_list<std::string_view> segments) {
    const std::string& text = base.text();
    const std::size_t tail = std::min(text.find_first_of("?#"), text.size());
    std::string out = text.substr(0, tail);
    while (!out.empty() && out.back() == '/') out.pop_back();
    for (std::string_view segment : segments) out += "/" + escapedPathSegment(segment);
    out += text.substr(tail);
    return platform::Url::parse(out);
}

}  // namespace brisalune::detail
