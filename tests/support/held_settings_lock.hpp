#pragma once

// Another program holding the settings file's write lock (".<name>.lock" beside the file, an
// flock), as a slow second instance does: util-linux's flock(1) running sleep with the lock
// taken, recorded in the lock file as an instance records itself ("<pid> <pid namespace>"), so
// that a stopped one is seen as stopped. And whether this process has that lock file open, which
// it has exactly while one of its writes waits for the lock (or writes).

#include <support/open_files.hpp>
#include <support/qt_application.hpp>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace brisalune::testkit {

class HeldSettingsLock {
public:
    // It lets go by itself after `holdFor`.
    explicit HeldSettingsLock(
        const std::filesystem::path& settingsFile, std::chrono::seconds holdFor = std::chrono::seconds(600))
        : lockFile_(settingsFile.parent_path() / ("." + settingsFile.filename().string() + ".lock")) {
        coreApplication();
        std::filesystem::create_directories(lockFile_.parent_path());
        // It ends with this process, however that ends (a test's child that exits at once too).
        holder_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        holder_.start(
            QStringLiteral("flock"),
            {QStringLiteral("--exclusive"),
             QStringLiteral("--no-fork"),
             QString::fromStdString(lockFile_.string()),
             QStringLiteral("sh"),
             QStringLiteral("-c"),
             QString::fromLatin1(R"sh(echo "$$ $(stat -L -c %i /proc/$$/ns/pid)" > "$0" && exec sleep "$1")sh"),
             QString::fromStdString(lockFile_.string()),
             QString::number(holdFor.count())});
        if (!holder_.waitForStarted()) throw std::runtime_error("flock(1) did not start");
        if (!processEventsUntil([&] { return recorded() || holder_.state() == QProcess::NotRunning; }) || !recorded())
            throw std::runtime_error("flock(1) did not take the settings lock");
    }
    ~HeldSettingsLock() { release(); }
    HeldSettingsLock(const HeldSettingsLock&) = delete;
    HeldSettingsLock& operator=(const HeldSettingsLock&) = delete;

    // The other program lets go (it ends).
    void release() {
        if (holder_.state() == QProcess::NotRunning) return;
        holder_.kill();  // stopped or not
        holder_.waitForFinished();
    }

    pid_t pid() const { return static_cast<pid_t>(holder_.processId()); }

    // A write of this process is at the lock file.
    bool waitedOnHere() const { return opensFile(lockFile_); }

private:
    // flock(1) runs the command once it holds the lock.
    bool recorded() const {
        std::ifstream record(lockFile_);
        const std::string text{std::istreambuf_iterator<char>(record), {}};
        return text.starts_with(std::to_string(pid()) + " ") && text.ends_with('\n');  // it, not a write of ours
    }

    std::filesystem::path lockFile_;
    QProcess holder_;
};

}  // namespace brisalune::testkit
