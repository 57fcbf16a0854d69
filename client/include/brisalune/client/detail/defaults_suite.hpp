#pragma once

// Where a store over the user defaults keeps its data.

#include <filesystem>
#include <optional>
#include <string>

namespace brisalune {

// The suite's own defaults file beside the standard one when the name can be a file name,
// otherwise the standard file; none when there is no home folder to find it in.
std::optional<std::filesystem::path> defaultsFile(const std::optional<std::string>& suiteName);

}  // namespace brisalune
