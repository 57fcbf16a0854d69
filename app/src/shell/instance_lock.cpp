#include <brisalune/app/shell/instance_lock.hpp>

#include <brisalune/platform/defaults.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

namespace brisalune {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int error, const std::string& what, const fs::path& file) {
    throw std::system_error(error, std::generic_category(), what + " " + file.string());
}

}  // namespace

fs::path InstanceLock::standardFile() {
    // Relative XDG paths are invalid and ignored.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return fs::path(runtime) / "brisalune.lock";
    return platform::Defaults::standardFile().parent_path() / "brisalune.lock";
}

std::optional<InstanceLock> InstanceLock::acquire(const fs::path& file) {
    if (file.has_parent_path()) {
        std::error_code error;
        fs::create_directories(file.parent_path(), error);
        if (error) fail(error.value(), "cannot make the folder of", file);
    }
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) fail(errno, "cannot open", file);
    int locked = 0;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0) return InstanceLock(fd);
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return std::nullopt;
    fail(error, "cannot lock", file);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

InstanceLock::~InstanceLock() { release(); }

// The file stays: removing it would let a third process lock a new file while the second
// still holds the old one.
void InstanceLock::release() noexcept {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace brisalune
