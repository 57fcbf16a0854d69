#pragma once

// Base64 with the standard alphabet and "=" padding (RFC 4648, section 4).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune::platform {

std::string base64(std::span<const std::uint8_t> bytes);

// None unless the text is whole groups of four of the alphabet, padded with at most two "=":
// no character is skipped, white space included.
std::optional<std::vector<std::uint8_t>> unbase64(std::string_view text);

}  // namespace brisalune::platform
