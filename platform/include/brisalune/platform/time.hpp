#pragma once

// Internet date-times (ISO 8601 profile): `YYYY-MM-DDTHH:MM:SS` then `Z` or `+HH:MM` / `-HH:MM`.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune::platform {

// The instant a strict internet date-time names, the offset applied. Gives nullopt for anything
// else: fractional seconds, lowercase `t`/`z`, impossible calendar dates, hour 24, minute or second
// 60, offsets beyond ±23:59, trailing text, and instants that fall outside years 0000-9999 in UTC
// once the offset is applied (so every parsed instant can be written back).
std::optional<std::chrono::sys_seconds> parseInternetDate(std::string_view text);
// The same for decoders, which read many: false where the above gives none.
bool parseInternetDate(std::string_view text, std::chrono::sys_seconds& out);

// `YYYY-MM-DDTHH:MM:SSZ` in UTC. Throws std::out_of_range outside years 0000-9999.
std::string formatInternetDate(std::chrono::sys_seconds instant);

}  // namespace brisalune::platform
