#include <brisalune/app/shell/instance_lock.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace brisalune
