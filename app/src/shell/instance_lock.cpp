#include <brisalune/app/shell/instance_lock.hpp>

#include <brisalune/app/shell/app_config.hpp>
#include <brisalune/platform/defaults.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// The runtime folder when it is this user's alone: a folder that others can write to, or that
// belongs to someone else, would let them hold the lock (or its name) and keep the app from
// starting. Relative XDG paths are invalid and ignored.
std::optional<fs::path> privateRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/') return std::nullopt;
    struct stat info {};
    if (::lstat(runtime, &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    if (info.st_uid != ::getuid() || (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) return std::nullopt;
    return fs::path(runtime);
}

// Makes the missing folders of the path, each one readable by this user only.
void makePrivateFolders(const fs::path& folder, const fs::path& file) {
    struct stat info {};
    if (folder.empty() || ::stat(folder.c_str(), &info) == 0) return;  // a non-folder fails at the open
    if (errno != ENOENT) fail(errno, "cannot inspect the folder of", file);
    if (folder.has_parent_path() && folder.parent_path() != folder) makePrivateFolders(folder.parent_path(), file);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) fail(errno, "cannot make the folder of", file);
}

}  // namespace

std::string InstanceLock::standardName(std::string_view sessionService) {
    // A build with a session of its own (the demo's) is another app: it runs beside an installed one.
    if (sessionService == standardSessionService) return "brisalune.lock";
    return "brisalune-" + std::string(sessionService) + ".lock";
}

fs::path InstanceLock::standardFile() {
    const std::string name = standardName(MacAppConfig::sessionService());
    if (const auto runtime = privateRuntimeFolder()) return *runtime / name;
    return platform::Defaults::standardFile().parent_path() / name;
}

std::optional<InstanceLock> InstanceLock::acquire(const fs::path& file) {
    makePrivateFolders(file.parent_path(), file);
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
