#pragma once

// Small file systems for tests of what the disk does under faults: full, read-only, failing.
// Every mount is made inside a child process (a death test's) that has a mount namespace of its
// own, so the mounts go when the child ends, however it ends, and nobody else ever sees them.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace brisalune::testkit {

// Gives the calling process a mount namespace of its own: a plain one as root, else one inside
// a new user namespace in which this user stays itself. False when neither can be had. Call it
// in a child that has a single thread (a death test's); it takes nothing from the heap.
bool ownMountNamespace();

// Gives up what lets a mounting child pass every file mode: root becomes nobody (uid 65534, who
// must own what it is to write), a user in its own namespace drops its capabilities there.
bool dropPrivileges();

// Whether a child here can have mounts of its own: tried once, in a child that ends at once.
bool childrenCanMount();

// A tmpfs of at most `bytes` at the folder; false when it cannot be mounted.
bool mountTmpfs(const std::filesystem::path& folder, std::size_t bytes);

// Remounts the file system at the folder read-only, or writable again.
bool remount(const std::filesystem::path& folder, bool readOnly);

// Writes to a file in the folder until the file system has no room left, and gives the file.
std::filesystem::path fillUp(const std::filesystem::path& folder);

// An ext4 file system at `folder` on a loop device whose image lies in a tmpfs at `backing`
// of `bytes`: filling the tmpfs makes the device fail the writes the file system sends it, as a
// dying disk does (fsync reports the error). Needs real root, loop devices and mkfs.ext4; false
// without them. The loop device goes when its file system is unmounted.
bool mountFailingExt4(const std::filesystem::path& folder, const std::filesystem::path& backing, std::size_t bytes);

// Runs a death test's checks and ends its child: failed, with what failed on its error output
// (a child's own reports are not shown), when a check failed.
template <class Checks>
[[noreturn]] void runInChild(Checks checks) {
    ::testing::TestPartResultArray results;
    {
        const ::testing::ScopedFakeTestPartResultReporter intercept(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        checks();
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& result = results.GetTestPartResult(i);
        if (!result.failed()) continue;
        std::fprintf(stderr, "%s:%d: %s\n", result.file_name(), result.line_number(), result.message());
        failed = true;
    }
    std::fflush(stderr);
    std::_Exit(failed ? 1 : 0);
}

// Runs `scenario` in a child with mounts of its own; the test fails when a check in it does.
// Skip the test first unless childrenCanMount().
template <class Scenario>
void inOwnMounts(Scenario scenario) {
    EXPECT_EXIT(
        {
            if (!ownMountNamespace()) std::_Exit(2);
            runInChild(scenario);
        },
        ::testing::ExitedWithCode(0),
        "");
}

}  // namespace brisalune::testkit
