#pragma once

#include <string>
#include <string_view>

namespace brisalune::platform {

// The SHA-256 digest of `bytes` as 64 lowercase hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace brisalune::platform
