#pragma once

// One running app per user: the first process holds an exclusive lock on a file in the runtime
// folder for its whole life, so two processes never write the same settings file. The kernel
// drops the lock when the process ends, however it ends.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

class InstanceLock {
public:
    static constexpr std::string_view standardSessionService = "app.brisalune.desktop.session";

    // "brisalune.lock" for the installed app's session; a build whose session is kept apart (the
    // demo's) has a lock of its own, so the two run side by side.
    static std::string standardName(std::string_view sessionService);
    // The lock file in `$XDG_RUNTIME_DIR` when that folder is this user's own with no access for
    // anyone else; otherwise beside the user defaults.
    static std::filesystem::path standardFile();

    // The lock, or none when another holder has it. Missing folders are made readable by this
    // user only. Throws std::system_error when the file cannot be made or opened.
    static std::optional<InstanceLock> acquire(const std::filesystem::path& file = standardFile());

    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    ~InstanceLock();

private:
    explicit InstanceLock(int fd) noexcept : fd_(fd) {}
    void release() noexcept;

    int fd_ = -1;
};

}  // namespace brisalune
