#include <brisalune/app/shell/launch_at_login.hpp>

#include <support/qt_widgets_application.hpp>
#include <support/temp_dir.hpp>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace brisalune {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class LaunchAtLoginTest : public ::testing::Test {
protected:
    void SetUp() override { testkit::widgetsApplication(); }

    testkit::TempDir dir;
    const fs::path entry = dir / "config" / "autostart" / "brisalune.desktop";
    const fs::path binary = "/opt/Brisa lune/bin/brisalune";
};

TEST_F(LaunchAtLoginTest, TheSwitchWritesAndRemovesTheAutostartEntry) {
    LaunchAtLogin login(entry, binary);
    QSignalSpy enabled(&login, &LaunchAtLogin::isEnabledChanged);
    QSignalSpy error(&login, &LaunchAtLogin::errorChanged);
    EXPECT_FALSE(login.isEnabled());

    login.setEnabled(true);
    EXPECT_TRUE(login.isEnabled());
    EXPECT_NE(contents(entry).find("\nExec=\"/opt/Brisa lune/bin/brisalune\"\n"), std::string::npos);
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
    LaunchAtLogin login(entry, R"(/tmp/a"$b\c%d)");
    login.setEnabled(true);
    EXPECT_NE(contents(entry).find(R"(Exec="/tmp/a\\"\\$b\\\\c%%d")"), std::string::npos) << contents(entry);
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

}  // namespace
}  // namespace brisalune
