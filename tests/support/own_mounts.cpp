#include <support/own_mounts.hpp>
#include <support/temp_dir.hpp>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/loop.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brisalune::testkit {
namespace {

namespace fs = std::filesystem;

// Without the heap: a child forked from a program with threads may not allocate.
bool writeText(const char* path, const char* text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const auto size = static_cast<ssize_t>(std::strlen(text));
    const bool written = ::write(fd, text, static_cast<std::size_t>(size)) == size;
    return ::close(fd) == 0 && written;
}

bool run(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A free loop device bound to an image; it lets go of the image at its last close or unmount,
// so it is held open until the file system is mounted on it.
struct Loop {
    std::string device;
    int fd = -1;

    explicit Loop(const fs::path& image) {
        const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
        const int number = control < 0 ? -1 : ::ioctl(control, LOOP_CTL_GET_FREE);
        if (control >= 0) ::close(control);
        if (number < 0) return;
        device = "/dev/loop" + std::to_string(number);
        fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
        const int backing = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
        loop_config config{};
        config.fd = static_cast<std::uint32_t>(backing);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        if (fd >= 0 && (backing < 0 || ::ioctl(fd, LOOP_CONFIGURE, &config) != 0)) ::close(std::exchange(fd, -1));
        if (backing >= 0) ::close(backing);
    }
    ~Loop() {
        if (fd >= 0) ::close(fd);
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;
};

}  // namespace

bool ownMountNamespace() {
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0) return false;
    } else {
        std::array<char, 64> uidMap{}, gidMap{};
        std::snprintf(uidMap.data(), uidMap.size(), "%u %u 1", ::geteuid(), ::geteuid());
        std::snprintf(gidMap.data(), gidMap.size(), "%u %u 1", ::getegid(), ::getegid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        writeText("/proc/self/setgroups", "deny");
        if (!writeText("/proc/self/uid_map", uidMap.data()) || !writeText("/proc/self/gid_map", gidMap.data()))
            return false;
    }
    // Nothing mounted here reaches the namespace the child came from.
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool dropPrivileges() {
    constexpr uid_t nobody = 65534;
    if (::geteuid() == 0) return ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
    __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
    std::array<__user_cap_data_struct, 2> none{};
    return ::syscall(SYS_capset, &header, none.data()) == 0;
}

bool childrenCanMount() {
    static const bool can = [] {
        const TempDir dir;
        const char* folder = dir.path().c_str();
        const pid_t child = ::fork();
        if (child == 0) ::_exit(ownMountNamespace() && ::mount("tmpfs", folder, "tmpfs", 0, "size=4k") == 0 ? 0 : 1);
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }();
    return can;
}

bool mountTmpfs(const fs::path& folder, std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    return ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

bool remount(const fs::path& folder, bool readOnly) {
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    return ::mount(nullptr, folder.c_str(), nullptr, flags, nullptr) == 0;
}

fs::path fillUp(const fs::path& folder) {
    const fs::path filler = folder / "filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const std::string chunk(65536, 'f');
    for (const std::size_t size : {std::size_t{65536}, std::size_t{4096}, std::size_t{1}})
        while (::write(fd, chunk.data(), size) > 0) {
        }
    ::fsync(fd);
    ::close(fd);
    return filler;
}

bool mountFailingExt4(const fs::path& folder, const fs::path& backing, std::size_t bytes) {
    if (::geteuid() != 0 || !mountTmpfs(backing, bytes)) return false;
    const fs::path image = backing / "disk.img";
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    // Sparse and larger than its tmpfs: the file system believes it has room the device lacks.
    const bool sized = fd >= 0 && ::ftruncate(fd, 16 * 1024 * 1024) == 0;
    if (fd >= 0) ::close(fd);
    if (!sized || !run({"mkfs.ext4", "-q", "-F", "-O", "^has_journal", image.string()})) return false;
    // Another program may take the free device first: the next one is asked for then.
    for (int tries = 0; tries < 5; ++tries) {
        const Loop loop(image);
        if (loop.fd >= 0)
            return ::mount(loop.device.c_str(), folder.c_str(), "ext4", MS_NOSUID | MS_NODEV, "errors=continue") == 0;
    }
    return false;
}

}  // namespace brisalune::testkit
