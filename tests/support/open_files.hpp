#pragma once

// Whether this process has a file open, by the path it stands at: one removed since it was opened
// no longer counts (the system names it "<path> (deleted)").

#include <filesystem>
#include <system_error>

namespace brisalune::testkit {

inline bool opensFile(const std::filesystem::path& file) {
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code unreadable;
        if (std::filesystem::read_symlink(it->path(), unreadable) == file) return true;
    }
    return false;
}

}  // namespace brisalune::testkit
