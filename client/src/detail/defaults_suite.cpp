#include <brisalune/client/detail/defaults_suite.hpp>
#include <brisalune/platform/defaults.hpp>

#include <exception>
#include <string_view>

namespace brisalune {
namespace {

bool usableSuiteName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

std::optional<std::filesystem::path> defaultsFile(const std::optional<std::string>& suiteName) {
    try {
        const std::filesystem::path standard = platform::Defaults::standardFile();
        if (suiteName && usableSuiteName(*suiteName)) return standard.parent_path() / (*suiteName + ".json");
        return standard;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace brisalune
