#include <brisalune/app/shell/instance_beacon.hpp>
#include <brisalune/app/shell/instance_lock.hpp>

#include <support/qt_application.hpp>

#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace brisalune {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Sets the variables for the test's life, then puts back what was there.
class Environment {
public:
    void set(const char* name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            it->second ? ::setenv(it->first, it->second->c_str(), 1) : ::unsetenv(it->first);
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(InstanceLockTest, OneHolderAtATime) {
    testkit::TempDir dir;
    const auto file = dir / "run" / "brisalune.lock";  // a missing folder is made, for this user only

    auto first = InstanceLock::acquire(file);
    ASSERT_TRUE(first);
    EXPECT_FALSE(InstanceLock::acquire(file));  // another open of the file is another holder

    InstanceLock moved = std::move(*first);
    first.reset();  // the moved-from lock releases nothing
    EXPECT_FALSE(InstanceLock::acquire(file));

    { InstanceLock gone = std::move(moved); }
    EXPECT_TRUE(InstanceLock::acquire(file));
    EXPECT_EQ(modeOf(dir / "run"), 0700u);
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST(InstanceLockTest, TheRuntimeFolderServesOnlyWhenItIsThisUsersAlone) {
    testkit::TempDir dir;
    Environment environment;
    environment.set("XDG_CONFIG_HOME", (dir / "config").string());
    const fs::path runtime = dir / "runtime";
    const fs::path fallback = dir / "config" / "brisalune" / "brisalune.lock";
    fs::create_directory(runtime);
    environment.set("XDG_RUNTIME_DIR", runtime.string());

    ::chmod(runtime.c_str(), 0700);
    EXPECT_EQ(InstanceLock::standardFile(), runtime / "brisalune.lock");

    for (const mode_t shared : {0750, 0701, 0777, 01777}) {
        ::chmod(runtime.c_str(), shared);
        EXPECT_EQ(InstanceLock::standardFile(), fallback) << std::oct << shared;
    }

    ::chmod(runtime.c_str(), 0700);
    fs::create_directory_symlink(runtime, dir / "link");
    environment.set("XDG_RUNTIME_DIR", (dir / "link").string());
    EXPECT_EQ(InstanceLock::standardFile(), fallback);  // the link could be pointed anywhere
    environment.set("XDG_RUNTIME_DIR", "relative/run");
    EXPECT_EQ(InstanceLock::standardFile(), fallback);
    environment.set("XDG_RUNTIME_DIR", (dir / "missing").string());
    EXPECT_EQ(InstanceLock::standardFile(), fallback);

    // Another user's folder, mode 0700 or not. Only a privileged test run can give one away.
    environment.set("XDG_RUNTIME_DIR", runtime.string());
    if (::chown(runtime.c_str(), ::getuid() + 4242, static_cast<gid_t>(-1)) == 0) {
        EXPECT_EQ(InstanceLock::standardFile(), fallback);
    }
}

TEST(InstanceLockTest, WithoutARuntimeFolderTheConfigFoldersAreMadeForThisUserOnly) {
    testkit::TempDir dir;
    Environment environment;
    environment.set("XDG_RUNTIME_DIR", std::nullopt);
    environment.set("XDG_CONFIG_HOME", std::nullopt);
    environment.set("HOME", (dir / "home").string());

    const fs::path file = InstanceLock::standardFile();
    EXPECT_EQ(file, dir / "home" / ".config" / "brisalune" / "brisalune.lock");
    ASSERT_TRUE(InstanceLock::acquire(file));
    EXPECT_EQ(modeOf(dir / "home" / ".config" / "brisalune"), 0700u);
    EXPECT_EQ(modeOf(dir / "home" / ".config"), 0700u);
    EXPECT_EQ(modeOf(dir / "home"), 0700u);
}

TEST(InstanceLockTest, ABuildWithASessionOfItsOwnHasALockOfItsOwn) {
    EXPECT_EQ(InstanceLock::standardName(InstanceLock::standardSessionService), "brisalune.lock");
    EXPECT_EQ(
        InstanceLock::standardName("app.brisalune.desktop.demo.session"),
        "brisalune-app.brisalune.desktop.demo.session.lock");
}

TEST(InstanceLockTest, AFileThatCannotBeOpenedIsAnError) {
    testkit::TempDir dir;
    std::ofstream(dir / "blocker") << "a file, not a folder";
    EXPECT_THROW(InstanceLock::acquire(dir / "blocker" / "brisalune.lock"), std::system_error);
}

// A second start rings the running app's beacon, which answers however many ring at once; a
// socket left behind by a killed holder is taken over by the next one, and rings nothing.
TEST(InstanceBeaconTest, ASecondStartRingsTheRunningOne) {
    testkit::coreApplication();
    testkit::TempDir dir;
    const fs::path lockFile = dir / "brisalune.lock";
    const fs::path file = InstanceBeacon::fileFor(lockFile);
    EXPECT_EQ(file, dir / "brisalune.socket");
    EXPECT_FALSE(InstanceBeacon::ring(file));  // nothing runs

    {
        InstanceBeacon left(file);
        ASSERT_TRUE(left.listening());
    }
    std::ofstream(file.string()) << "left by a killed holder";
    InstanceBeacon beacon(file);
    ASSERT_TRUE(beacon.listening());
    EXPECT_EQ(modeOf(file), 0600u);
    int rings = 0;
    QObject::connect(&beacon, &InstanceBeacon::rung, [&] { ++rings; });
    EXPECT_TRUE(InstanceBeacon::ring(file));
    EXPECT_TRUE(InstanceBeacon::ring(file));
    EXPECT_TRUE(testkit::processEventsUntil([&] { return rings >= 1; }));
    EXPECT_TRUE(InstanceBeacon::ring(file));
    const int before = rings;
    EXPECT_TRUE(testkit::processEventsUntil([&] { return rings > before; }));
}

TEST(InstanceBeaconTest, APathTooLongForASocketLeavesTheBeaconDeaf) {
    testkit::coreApplication();
    testkit::TempDir dir;
    const fs::path file = dir / (std::string(120, 'x') + ".socket");
    InstanceBeacon beacon(file);
    EXPECT_FALSE(beacon.listening());
    EXPECT_FALSE(InstanceBeacon::ring(file));
}

}  // namespace
}  // namespace brisalune
