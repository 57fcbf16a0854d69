#pragma once

#include <filesystem>

namespace brisalune::testkit {

// A fresh folder under the system's temporary folder, or under `base`, removed with everything
// in it.
class TempDir {
public:
    TempDir();
    explicit TempDir(const std::filesystem::path& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace brisalune::testkit
