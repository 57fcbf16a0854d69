#include <brisalune/app/shell/instance_lock.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <system_error>
#include <utility>

namespace brisalune {
namespace {

TEST(InstanceLockTest, OneHolderAtATime) {
    testkit::TempDir dir;
    const auto file = dir / "run" / "brisalune.lock";  // a missing folder is made

    auto first = InstanceLock::acquire(file);
    ASSERT_TRUE(first);
    EXPECT_FALSE(InstanceLock::acquire(file));  // another open of the file is another holder

    InstanceLock moved = std::move(*first);
    first.reset();  // the moved-from lock releases nothing
    EXPECT_FALSE(InstanceLock::acquire(file));

    { InstanceLock gone = std::move(moved); }
    EXPECT_TRUE(InstanceLock::acquire(file));
}

TEST(InstanceLockTest, AFileThatCannotBeOpenedIsAnError) {
    testkit::TempDir dir;
    std::ofstream(dir / "blocker") << "a file, not a folder";
    EXPECT_THROW(InstanceLock::acquire(dir / "blocker" / "brisalune.lock"), std::system_error);
}

TEST(InstanceLockTest, LivesInTheRuntimeFolder) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(InstanceLock::standardFile(), "/run/user/4242/brisalune.lock");
    ::setenv("XDG_RUNTIME_DIR", "relative/run", 1);  // not absolute: ignored
    EXPECT_EQ(InstanceLock::standardFile().filename(), "brisalune.lock");
    EXPECT_NE(InstanceLock::standardFile().parent_path(), "relative/run");
    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

}  // namespace
}  // namespace brisalune
