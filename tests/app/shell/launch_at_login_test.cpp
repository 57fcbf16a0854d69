#include <brisalune/app/shell/launch_at_login.hpp>

#include <support/qt_widgets_application.hpp>
#include <support/temp_dir.hpp>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace brisalune {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// An executable file at `relative` under `base`, its folders made as an installer would (0755).
fs::path installed(const fs::path& base, const fs::path& relative) {
    fs::path folder = base;
    for (const fs::path& step : relative.parent_path()) {
        folder /= step;
        fs::create_directory(folder);
        ::chmod(folder.c_str(), 0755);
    }
    const fs::path file = base / relative;
    std::ofstream(file) << "#!/bin/sh\n";
    ::chmod(file.c_str(), 0755);
    return file;
}

// Whether only root or this user can change `folder` and every folder above it.
bool onlyOwnersChange(const fs::path& folder) {
    for (fs::path step = fs::weakly_canonical(folder);; step = step.parent_path()) {
        struct stat info {};
        if (::stat(step.c_str(), &info) != 0 || (info.st_uid != 0 && info.st_uid != ::getuid()) ||
            (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return false;
        if (step == step.root_path()) return true;
    }
}

// Where a program may be installed for launch at login: never under the temporary folder, which
// others can write to. The build tree or the home folder, as a rule.
fs::path installBase() {
    std::vector<fs::path> candidates;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        candidates.emplace_back(runtime);
    candidates.push_back(fs::current_path());
    if (const char* home = std::getenv("HOME"); home && *home == '/') candidates.emplace_back(home);
    const auto found = std::ranges::find_if(candidates, onlyOwnersChange);
    return found == candidates.end() ? fs::temp_directory_path() : *found;
}

class LaunchAtLoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onlyOwnersChange(dir.path())) GTEST_SKIP() << "no folder here that only this user and root can change";
        testkit::widgetsApplication();
    }

    // The switch turned on for `executable`; its error text, or "" when it went on.
    std::string refusal(const fs::path& executable) {
        LaunchAtLogin login(entry, executable);
        login.setEnabled(true);
        EXPECT_EQ(login.isEnabled(), !login.error()) << executable;
        EXPECT_EQ(fs::exists(entry), !login.error()) << executable;
        fs::remove(entry);
        return login.error().value_or("");
    }

    testkit::TempDir dir{installBase()};
    const fs::path entry = dir / "config" / "autostart" / "brisalune.desktop";
    const fs::path binary = installed(dir.path(), "Brisa lune/bin/brisalune");
};

TEST_F(LaunchAtLoginTest, TheSwitchWritesAndRemovesTheAutostartEntry) {
    LaunchAtLogin login(entry, binary);
    QSignalSpy enabled(&login, &LaunchAtLogin::isEnabledChanged);
    QSignalSpy error(&login, &LaunchAtLogin::errorChanged);
    EXPECT_FALSE(login.isEnabled());

    login.setEnabled(true);
    EXPECT_TRUE(login.isEnabled());
    EXPECT_NE(contents(entry).find("\nExec=\"" + binary.string() + "\"\n"), std::string::npos) << contents(entry);
    EXPECT_NE(contents(entry).find("\nX-LXQt-Need-Tray=true\n"), std::string::npos) << contents(entry);
    EXPECT_TRUE(LaunchAtLogin(entry, binary).isEnabled());
    EXPECT_FALSE(LaunchAtLogin(entry, "/usr/bin/brisalune").isEnabled());  // another install's entry

    login.setEnabled(true);
    login.setEnabled(false);
    EXPECT_FALSE(login.isEnabled());
    EXPECT_FALSE(fs::exists(entry));
    login.setEnabled(false);  // never mind an entry that is not there

    EXPECT_EQ(enabled.count(), 2);  // on, off: repeats notify nothing
    EXPECT_EQ(error.count(), 0);
}

TEST_F(LaunchAtLoginTest, TheExecutableIsQuotedAsTheDesktopEntryFormatWants) {
    LaunchAtLogin login(entry, installed(dir.path(), R"(a"$b\c%d)"));
    login.setEnabled(true);
    EXPECT_NE(contents(entry).find("Exec=\"" + dir.path().string() + R"(/a\\"\\$b\\\\c%%d")"), std::string::npos)
        << contents(entry);
    EXPECT_TRUE(login.isEnabled());  // and read back as this program's own entry
}

TEST_F(LaunchAtLoginTest, AnEntrySwitchedOffOnTheDesktopReadsAsOff) {
    LaunchAtLogin(entry, binary).setEnabled(true);
    const std::string written = contents(entry);
    for (const char* off : {"Hidden=true\n", "X-GNOME-Autostart-enabled = false\n"}) {
        std::ofstream(entry) << written << off;
        EXPECT_FALSE(LaunchAtLogin(entry, binary).isEnabled()) << off;
    }
    // Keys of another group do not count.
    std::ofstream(entry) << written << "[Desktop Action quit]\nHidden=true\n";
    EXPECT_TRUE(LaunchAtLogin(entry, binary).isEnabled());
}

TEST_F(LaunchAtLoginTest, AFailedChangeKeepsItsTextUntilASuccess) {
    LaunchAtLogin login(entry, binary);
    QSignalSpy error(&login, &LaunchAtLogin::errorChanged);
    std::ofstream(dir / "config") << "a file where the folder goes";

    login.setEnabled(true);
    EXPECT_FALSE(login.isEnabled());
    ASSERT_TRUE(login.error());
    EXPECT_NE(login.error()->find("Couldn't make"), std::string::npos) << *login.error();

    fs::remove(dir / "config");
    login.setEnabled(true);
    EXPECT_TRUE(login.isEnabled());
    EXPECT_EQ(login.error(), std::nullopt);

    // Switching off what cannot be removed: the text, and the switch shows the real state.
    fs::remove(entry);
    fs::create_directories(entry / "in the way");
    login.setEnabled(false);
    EXPECT_FALSE(login.isEnabled());
    ASSERT_TRUE(login.error());
    EXPECT_NE(login.error()->find("Couldn't remove"), std::string::npos) << *login.error();
    EXPECT_EQ(error.count(), 3);
}

TEST_F(LaunchAtLoginTest, ABinaryThatOthersCouldReplaceIsRefusedInWords) {
    EXPECT_EQ(refusal(binary), "");

    const fs::path folder = binary.parent_path();
    ::chmod(folder.c_str(), 0775);
    const std::string groupFolder = refusal(binary);
    EXPECT_NE(groupFolder.find(folder.string() + " can be changed by other users"), std::string::npos) << groupFolder;
    ::chmod(folder.c_str(), 0757);
    EXPECT_NE(refusal(binary).find("can be changed by other users"), std::string::npos);
    ::chmod(folder.c_str(), 0755);

    ::chmod(binary.c_str(), 0775);
    EXPECT_NE(refusal(binary).find(binary.string() + " can be changed"), std::string::npos);
    ::chmod(binary.c_str(), 0755);

    // A folder everyone writes to, with the sticky bit, as /tmp: once a folder of the person's
    // there is gone, anyone can make one of its name with a program of their own in it.
    const fs::path shared = installed(dir.path(), "shared/own/brisalune");
    ::chmod((dir / "shared").c_str(), 01777);
    const std::string sticky = refusal(shared);
    EXPECT_NE(
        sticky.find(
            (dir / "shared").string() +
            " is a folder other users can create files in: once your own file or folder there is gone, one of "
            "them could make another of the same name"),
        std::string::npos)
        << sticky;
    ::chmod((dir / "shared").c_str(), 0755);

    // A name that leads to the safe binary, in a folder others can write to.
    fs::create_directories(dir / "open");
    fs::create_symlink(binary, dir / "open" / "brisalune");
    ::chmod((dir / "open").c_str(), 0777);
    EXPECT_NE(refusal(dir / "open" / "brisalune").find("can be changed by other users"), std::string::npos);

    // Another user's file; only a privileged test run can give one away.
    if (::chown(shared.c_str(), ::getuid() + 4242, static_cast<gid_t>(-1)) == 0) {
        const std::string foreign = refusal(shared);
        EXPECT_NE(foreign.find(shared.string() + " belongs to another user"), std::string::npos) << foreign;
    }
    EXPECT_NE(refusal(dir / "missing").find("Couldn't check"), std::string::npos);
}

TEST_F(LaunchAtLoginTest, AProgramReplacedWhileItRunsIsNeverWritten) {
    // The kernel's own name for a running program whose file was removed.
    const fs::path copy = dir / "sleeper";
    fs::copy_file("/bin/sleep", copy);
    ::chmod(copy.c_str(), 0755);
    char name[] = "sleeper";
    char seconds[] = "60";
    char* arguments[] = {name, seconds, nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, copy.c_str(), nullptr, nullptr, arguments, environ), 0);
    // Once the child runs the copy, /proc names it; the removal follows.
    const fs::path link = "/proc/" + std::to_string(child) + "/exe";
    for (int i = 0; i < 200 && LaunchAtLogin::runningExecutable(link) != copy; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(LaunchAtLogin::runningExecutable(link), copy);
    fs::remove(copy);
    const fs::path gone = LaunchAtLogin::runningExecutable(link);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(gone, copy.string() + " (deleted)");

    const std::string refused = refusal(gone);
    EXPECT_NE(refused.find("updated or removed while it runs"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("(deleted)"), std::string::npos) << refused;
    EXPECT_FALSE(fs::exists(entry));
}

}  // namespace
}  // namespace brisalune
