// The settings file when the disk misbehaves (full, read-only, failing) or its place is odd
// (links, folders of another user). File systems are mounted in a child process with mounts of
// its own, so they go with it however it ends; where none can be mounted, those cases skip.

#include <brisalune/platform/defaults.hpp>

#include <support/own_mounts.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using brisalune::platform::Defaults;
using brisalune::testkit::TempDir;
namespace testkit = brisalune::testkit;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeFile(const fs::path& path, std::string_view text) { std::ofstream(path, std::ios::binary) << text; }

// The names in a folder, the write lock left out.
std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != ".defaults.json.lock") out.insert(entry.path().filename().string());
    return out;
}

// The error a write threw; none when it succeeded.
template <class Write>
std::optional<int> failure(Write write) {
    try {
        write();
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return std::nullopt;
}

constexpr uid_t nobody = 65534;

// Gives the folder and all in it to the user a root test runs its checks as.
void giveToNobody(const fs::path& tree) {
    if (::geteuid() != 0) return;
    ASSERT_EQ(::lchown(tree.c_str(), nobody, nobody), 0);
    for (const auto& entry : fs::recursive_directory_iterator(tree))
        ASSERT_EQ(::lchown(entry.path().c_str(), nobody, nobody), 0);
}

// Runs `check` in a child process, made nobody when this one is root (root passes every mode).
template <class Check>
void asPlainUser(Check check) {
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) std::_Exit(2);
            testkit::runInChild(check);
        },
        ::testing::ExitedWithCode(0),
        "");
}

class DefaultsOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testkit::childrenCanMount()) GTEST_SKIP() << "no file system can be mounted here";
        fs::create_directory(disk);
    }

    TempDir dir;
    fs::path disk = dir / "disk";
    fs::path file = disk / "brisalune" / "defaults.json";
};

TEST_F(DefaultsOnDisk, AFullDiskFailsTheWriteAndKeepsTheFileWhole) {
    testkit::inOwnMounts([&] {
        ASSERT_TRUE(testkit::mountTmpfs(disk, 64 * 1024));
        Defaults defaults(file);
        defaults.set("kept", 1);
        const std::string before = readFile(file);
        const fs::path filler = testkit::fillUp(disk);
        EXPECT_EQ(failure([&] { defaults.set("ack", std::string(4096, 'a')); }), ENOSPC);
        EXPECT_EQ(failure([&] { defaults.remove("kept"); }), ENOSPC);
        EXPECT_EQ(readFile(file), before);
        EXPECT_EQ(names(file.parent_path()), std::set<std::string>{"defaults.json"});  // nothing half-written

        // A file that cannot be read stays where it is: nothing moves before the new text is on disk.
        writeFile(file, "not json");
        EXPECT_EQ(failure([&] { defaults.set("ack", 1); }), ENOSPC);
        EXPECT_EQ(names(file.parent_path()), std::set<std::string>{"defaults.json"});
        EXPECT_EQ(readFile(file), "not json");

        fs::remove(filler);
        defaults.set("ack", 1);
        EXPECT_EQ(defaults.integer("ack"), 1);
        EXPECT_EQ(readFile(file.string() + ".damaged"), "not json");
    });
}

TEST_F(DefaultsOnDisk, AFileSystemTurnedReadOnlyFailsTheWriteAndStillReads) {
    testkit::inOwnMounts([&] {
        ASSERT_TRUE(testkit::mountTmpfs(disk, 1024 * 1024));
        Defaults defaults(file);
        defaults.set("kept", 1);
        const std::string before = readFile(file);
        ASSERT_TRUE(testkit::remount(disk, true));
        EXPECT_EQ(failure([&] { defaults.set("ack", 1); }), EROFS);
        EXPECT_EQ(failure([&] { defaults.remove("kept"); }), EROFS);
        EXPECT_EQ(defaults.integer("kept"), 1);
        EXPECT_EQ(readFile(file), before);
        ASSERT_TRUE(testkit::remount(disk, false));
        defaults.set("ack", 1);
        EXPECT_EQ(defaults.keys(), (std::vector<std::string>{"ack", "kept"}));
    });
}

TEST_F(DefaultsOnDisk, ADeviceThatFailsItsWritesFailsTheWrite) {
    if (::geteuid() != 0 || !fs::exists("/dev/loop-control") || std::system("command -v mkfs.ext4 >/dev/null") != 0)
        GTEST_SKIP() << "needs root, loop devices and mkfs.ext4";
    const fs::path backing = dir / "backing";
    fs::create_directory(backing);
    testkit::inOwnMounts([&] {
        ASSERT_TRUE(testkit::mountFailingExt4(disk, backing, 1024 * 1024));
        Defaults defaults(file);
        defaults.set("kept", 1);
        testkit::fillUp(backing);
        // The write itself lands in memory; the device refuses it when it is synced.
        try {
            defaults.set("ack", std::string(256 * 1024, 'a'));
            ADD_FAILURE() << "a write the device refused was reported as done";
        } catch (const std::system_error& error) {
            EXPECT_NE(std::string(error.what()).find("cannot sync"), std::string::npos) << error.what();
        }
        EXPECT_EQ(defaults.integer("kept"), 1);
        EXPECT_EQ(defaults.string("ack"), std::nullopt);
    });
}

TEST_F(DefaultsOnDisk, AFolderThatCannotBeListedIsWrittenAndSynced) {
    // Write and search permission only: the folder cannot be opened to be synced, its file
    // system (a small one of its own, quick to sync) is.
    testkit::inOwnMounts([&] {
        ASSERT_TRUE(testkit::mountTmpfs(disk, 1024 * 1024));
        fs::create_directory(file.parent_path());
        giveToNobody(dir.path());
        ASSERT_TRUE(testkit::dropPrivileges());
        fs::permissions(file.parent_path(), fs::perms::owner_write | fs::perms::owner_exec);
        Defaults defaults(file);
        EXPECT_EQ(failure([&] { defaults.set("ack", 1); }), std::nullopt);
        EXPECT_EQ(defaults.integer("ack"), 1);
    });
}

class DefaultsOddPlaces : public ::testing::Test {
protected:
    TempDir dir;
    fs::path folder = dir / "brisalune";
    fs::path file = folder / "defaults.json";
    void SetUp() override { fs::create_directory(folder); }
};

TEST_F(DefaultsOddPlaces, ALinkToAFileElsewhereStaysALinkAndItsTargetIsWritten) {
    const fs::path elsewhere = dir / "dotfiles" / "brisalune.json";
    fs::create_directory(elsewhere.parent_path());
    writeFile(elsewhere, R"({"kept": {"integer": 1}})");
    fs::create_symlink("../dotfiles/brisalune.json", file);
    Defaults defaults(file);
    EXPECT_EQ(defaults.integer("kept"), 1);
    defaults.set("ack", 2);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(Defaults(elsewhere).keys(), (std::vector<std::string>{"ack", "kept"}));

    // A damaged target is moved aside beside itself, and the link leads to the new file.
    writeFile(elsewhere, "not json");
    defaults.set("ack", 3);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(readFile(elsewhere.string() + ".damaged"), "not json");
    EXPECT_EQ(defaults.keys(), std::vector<std::string>{"ack"});
    EXPECT_EQ(names(folder), std::set<std::string>{"defaults.json"});
    EXPECT_EQ(names(elsewhere.parent_path()), (std::set<std::string>{"brisalune.json", "brisalune.json.damaged"}));
}

TEST_F(DefaultsOddPlaces, ADanglingLinkIsWrittenThroughOrTheWriteFails) {
    fs::create_directory(dir / "dotfiles");
    fs::create_symlink(dir / "dotfiles" / "new.json", file);
    Defaults defaults(file);
    EXPECT_EQ(defaults.keys(), std::vector<std::string>{});
    defaults.set("ack", 1);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(Defaults(dir / "dotfiles" / "new.json").integer("ack"), 1);
    EXPECT_EQ(fs::status(dir / "dotfiles" / "new.json").permissions(), fs::perms::owner_read | fs::perms::owner_write);

    // A link into a folder that is not there (a disk not mounted): nothing is made in its stead.
    fs::remove(file);
    fs::create_symlink(dir / "unmounted" / "defaults.json", file);
    EXPECT_EQ(failure([&] { defaults.set("ack", 2); }), ENOENT);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_FALSE(fs::exists(dir / "unmounted"));

    // A link to what is not a file is replaced, never what it leads to.
    fs::remove(file);
    ASSERT_EQ(::mkfifo((dir / "dotfiles" / "pipe").c_str(), 0600), 0);
    fs::create_symlink(dir / "dotfiles" / "pipe", file);
    defaults.set("ack", 2);
    EXPECT_EQ(defaults.integer("ack"), 2);
    EXPECT_TRUE(fs::is_fifo(dir / "dotfiles" / "pipe"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));

    // Links that lead round in a circle fail the write and read as empty.
    fs::remove(file);
    fs::create_symlink("loop.json", file);
    fs::create_symlink("defaults.json", folder / "loop.json");
    EXPECT_EQ(defaults.keys(), std::vector<std::string>{});
    EXPECT_EQ(failure([&] { defaults.set("ack", 3); }), ELOOP);
    EXPECT_TRUE(fs::is_symlink(file));
}

TEST_F(DefaultsOddPlaces, AFolderOfAnotherUserFailsTheWriteAndReadsEmpty) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder to another user";
    writeFile(file, R"({"kept": {"integer": 1}})");
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_all);  // root's, as after a run under sudo
    asPlainUser([&] {
        Defaults defaults(file);
        EXPECT_EQ(defaults.keys(), std::vector<std::string>{});
        EXPECT_EQ(failure([&] { defaults.set("ack", 1); }), EACCES);
        defaults.remove("ack");  // nothing to remove, nothing written
    });
    EXPECT_EQ(names(folder), std::set<std::string>{"defaults.json"});
    EXPECT_EQ(Defaults(file).integer("kept"), 1);
}

TEST_F(DefaultsOddPlaces, AFolderThatCannotBeWrittenFailsTheWriteWithoutALock) {
    // The file may be written, the folder not: no lock can be made and no file replaced.
    writeFile(file, R"({"kept": {"integer": 1}})");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    giveToNobody(dir.path());
    asPlainUser([&] {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        Defaults defaults(file);
        EXPECT_EQ(failure([&] { defaults.set("ack", 1); }), EACCES);
        EXPECT_EQ(defaults.keys(), std::vector<std::string>{"kept"});
        EXPECT_FALSE(fs::exists(folder / ".defaults.json.lock"));
        fs::permissions(folder, fs::perms::owner_all);
    });
}

TEST_F(DefaultsOddPlaces, ALockLeftByAProgramThatDiedHoldsNobody) {
    const fs::path lock = folder / ".defaults.json.lock";
    writeFile(lock, "left over");
    struct stat left {};
    ASSERT_EQ(::stat(lock.c_str(), &left), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t parent = ::getpid();
    const pid_t holder = ::fork();
    if (holder == 0) {
        // It dies with the test, however that ends, rather than hold the lock for ever.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) std::_Exit(1);
        const int fd = ::open(lock.c_str(), O_RDWR);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0) std::_Exit(1);
        char one = 1;
        (void)!::write(ready[1], &one, 1);
        ::pause();
        std::_Exit(0);
    }
    char one = 0;
    ASSERT_EQ(::read(ready[0], &one, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    // Were the lock still taken, the write would wait out this patience and the test time out.
    const Defaults::PeerLockPatience patient(std::chrono::hours(1));
    Defaults defaults(file);
    defaults.set("ack", 1);
    EXPECT_EQ(defaults.integer("ack"), 1);
    struct stat after {};
    ASSERT_EQ(::stat(lock.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, left.st_ino);  // the lock file is never replaced
    EXPECT_EQ(readFile(lock), "");         // nor left naming a holder that let go
}

// Every writer must take the same lock: where it cannot be had here (what a run under sudo or
// another program left in its place), the write fails and says why; nothing goes ahead without it.
TEST_F(DefaultsOddPlaces, ALockFileThatCannotBeTakenFailsTheWriteAndSaysWhy) {
    const fs::path lock = folder / ".defaults.json.lock";
    std::vector<std::pair<const char*, std::function<void()>>> places = {
        {"a dangling link", [&] { fs::create_symlink(dir / "gone" / "lock", lock); }},
        {"a folder", [&] { fs::create_directory(lock); }},
        {"a file this user cannot open",
         [&] {
             writeFile(lock, "");  // root's 0600 when root runs the test, else the user's with no access
             fs::permissions(lock, ::geteuid() == 0 ? fs::perms::owner_read | fs::perms::owner_write : fs::perms::none);
         }},
    };
    if (::geteuid() == 0) {
        // It opens, and can be locked, but only the writers of its owner lock it alike.
        places.emplace_back("a file of another user that this one can read", [&] {
            writeFile(lock, "");
            fs::permissions(
                lock, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
        });
    }
    for (const auto& [name, make] : places) {
        SCOPED_TRACE(name);
        fs::remove_all(folder);
        fs::create_directory(folder);
        writeFile(file, R"({"kept": {"integer": 1}})");
        giveToNobody(dir.path());
        make();
        asPlainUser([&] {
            Defaults defaults(file);
            try {
                defaults.set("ack", 1);
                ADD_FAILURE() << "written without its lock";
            } catch (const std::system_error& error) {
                EXPECT_NE(std::string(error.what()).find(lock.string()), std::string::npos) << error.what();
            }
            EXPECT_EQ(defaults.keys(), std::vector<std::string>{"kept"});
        });
    }
}

}  // namespace
