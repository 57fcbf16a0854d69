#include <support/temp_dir.hpp>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace brisalune::testkit {

TempDir::TempDir() : TempDir(std::filesystem::temp_directory_path()) {}

TempDir::TempDir(const std::filesystem::path& base) {
    std::string pattern = (base / "brisalune-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace brisalune::testkit
