// Another process holding the settings file's lock: a live one, however slow, is waited for and
// nothing is lost; a stopped one fails the write in bounded time, with nothing written past it;
// a stalled writer's staged file is not swept away; a lock file removed while peers write lets
// no two write at once; a hold on the settings folder counts only where no other user can open
// it; whether another program holds the file is seen from the file alone, however many locks
// other programs hold. The peer is this test program run again; what it says goes to a file of its
// own, shown when a case fails.

#include <brisalune/platform/defaults.hpp>

#include <support/child_process.hpp>
#include <support/open_files.hpp>
#include <support/own_mounts.hpp>
#include <support/temp_dir.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using brisalune::platform::Defaults;
using brisalune::testkit::ChildProcess;
using brisalune::testkit::TempDir;
using namespace std::chrono_literals;

constexpr const char* fileVariable = "BRISALUNE_PEER_FILE";
constexpr const char* jobVariable = "BRISALUNE_PEER_JOB";
constexpr const char* holdVariable = "BRISALUNE_PEER_HOLD_MS";
constexpr const char* timesVariable = "BRISALUNE_PEER_TIMES";
constexpr const char* logVariable = "BRISALUNE_PEER_LOG";
constexpr std::string_view gaveUpMark = "peer gave up: ";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path readyOf(const fs::path& file) { return file.parent_path() / "peer.ready"; }
fs::path goOf(const fs::path& file) { return file.parent_path() / "peer.go"; }
fs::path lockOf(const fs::path& file) { return file.parent_path() / ("." + file.filename().string() + ".lock"); }

// A peer that cannot do its job says why, for the test to show.
[[noreturn]] void giveUp(const std::string& why) {
    std::fprintf(
        stderr, "%s%s%s%s\n", gaveUpMark.data(), why.c_str(), errno ? ": " : "", errno ? std::strerror(errno) : "");
    std::fflush(stderr);
    std::_Exit(2);
}

// The peer says it is ready only once it has seen itself hold both flocks a write takes: another
// open of the folder or of the lock file cannot take its flock.
void announceHeld(const fs::path& file) {
    for (const fs::path& path : {file.parent_path(), lockOf(file)}) {
        errno = 0;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK)
            giveUp("the peer does not hold " + path.string() + " under its write lock");
        ::close(fd);
    }
    std::printf("process %d holds the folder and the lock file\n", ::getpid());
    std::fflush(stdout);
    std::ofstream(readyOf(file)) << ::getpid();
}

// Whether process `pid` holds a flock on what is at `path`: a descriptor of its own opens it, and
// the kernel lists a flock on that descriptor. Asked of the process, not read from the table of
// every lock, where other programs' locking and letting go can hide a line from the read.
bool holdsFlock(pid_t pid, const fs::path& path) {
    struct stat wanted {};
    if (::stat(path.c_str(), &wanted) != 0) return false;
    const fs::path process = "/proc/" + std::to_string(pid);
    std::error_code error;
    for (fs::directory_iterator it(process / "fd", error), end; !error && it != end; it.increment(error)) {
        struct stat opened {};
        if (::stat(it->path().c_str(), &opened) != 0 || opened.st_dev != wanted.st_dev ||
            opened.st_ino != wanted.st_ino)
            continue;
        // "lock:\t1: FLOCK  ADVISORY  WRITE <pid> <device>:<inode> 0 EOF"
        std::istringstream info(readFile(process / "fdinfo" / it->path().filename()));
        for (std::string line; std::getline(info, line);)
            if (line.starts_with("lock:") && line.find(" FLOCK ") != std::string::npos) return true;
    }
    return false;
}

// Generous: the machine may be busy.
bool eventually(const auto& condition, std::chrono::seconds limit = 60s) {
    for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        if (condition()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

// The peer's read-modify-write: one more to "count", read before it holds the lock a while.
void countUnderLock(const fs::path& file, std::chrono::milliseconds hold, bool announce) {
    Defaults defaults(file);
    const Defaults::WriteLock lock(file);
    const std::int64_t count = defaults.integer("count").value_or(0);
    if (announce) announceHeld(file);
    std::this_thread::sleep_for(hold);
    defaults.set("count", count + 1);
}

// Another program that locks the lock file and nothing else (flock(1), say), until it is killed.
void holdLockFile(const fs::path& file, bool shared) {
    const fs::path lock = lockOf(file);
    // On this process's last processor: the kernel lists a lock taken there after those of the
    // others, so a look through its whole table finds this one last.
    cpu_set_t processors;
    if (::sched_getaffinity(0, sizeof processors, &processors) == 0) {
        int last = CPU_SETSIZE - 1;
        while (last > 0 && !CPU_ISSET(last, &processors)) --last;
        CPU_ZERO(&processors);
        CPU_SET(last, &processors);
        ::sched_setaffinity(0, sizeof processors, &processors);
    }
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, shared ? LOCK_SH : LOCK_EX) != 0) giveUp("cannot lock " + lock.string());
    std::ofstream(readyOf(file)) << ::getpid();
    ::pause();
}

// Another program that locks the settings folder and nothing else, until it is killed: run as
// nobody first when `plainUser` and this runs as root.
void holdFolder(const fs::path& file, bool plainUser) {
    if (plainUser && !brisalune::testkit::dropPrivileges()) giveUp("cannot run as nobody");
    const int fd = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) giveUp("cannot lock " + file.parent_path().string());
    std::ofstream(readyOf(file)) << ::getpid();
    ::pause();
}

fs::path floodedOf(const fs::path& file) { return file.parent_path() / "flood.ready"; }

// A program that fills the kernel's table of locks, as any user may at no cost: a POSIX lock on
// every other byte of files of its own, each a lock of its own.
void floodLockTable(const fs::path& file) {
    constexpr int files = 100;
    constexpr off_t locksPerFile = 500;
    for (int n = 0; n < files; ++n) {
        const fs::path own = file.parent_path() / ("flood." + std::to_string(n));
        const int fd = ::open(own.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        for (off_t byte = 0; byte < 2 * locksPerFile; byte += 2) {
            struct flock range {};
            range.l_type = F_WRLCK;
            range.l_whence = SEEK_SET;
            range.l_start = byte;
            range.l_len = 1;
            if (::fcntl(fd, F_SETLK, &range) != 0) giveUp("cannot lock " + own.string());
        }
    }
    std::ofstream(floodedOf(file)) << ::getpid();
    ::pause();
}

// Whether another process holds the flock on what is at `path`.
bool lockedElsewhere(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return busy;
}

// A writer stalled between staging its file and the rename, staged long enough ago to look left.
void stallBeforeRename(const fs::path& file) {
    const Defaults::WriteLock lock(file);
    std::string staged = (file.parent_path() / ("." + file.filename().string() + ".brisalune-staged-XXXXXX")).string();
    const int fd = ::mkostemp(staged.data(), O_CLOEXEC);
    const std::string text = R"({"peer": {"integer": 1}})";
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) giveUp("cannot stage");
    const timeval old[2] = {
        {.tv_sec = ::time(nullptr) - 120, .tv_usec = 0}, {.tv_sec = ::time(nullptr) - 120, .tv_usec = 0}};
    ::futimes(fd, old);
    ::close(fd);
    std::ofstream(readyOf(file)) << ::getpid();
    while (!fs::exists(goOf(file))) std::this_thread::sleep_for(5ms);
    if (::rename(staged.c_str(), file.c_str()) != 0) giveUp("cannot rename " + staged);
}

TEST(DefaultsPeerChild, Job) {
    const char* file = std::getenv(fileVariable);
    if (!file) GTEST_SKIP() << "run by DefaultsPeerLock in a child process";
    if (const char* log = std::getenv(logVariable)) {
        const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
    }
    const std::string job = std::getenv(jobVariable);
    if (job == "stall") {
        stallBeforeRename(file);
    } else if (job == "hold" || job == "hold shared") {
        holdLockFile(file, job == "hold shared");
    } else if (job == "open" || job == "open posix-locked" || job == "open ofd-locked") {
        // A process of this user with the lock file and folder open, holding no flock on either:
        // no lock at all, or a POSIX (lockf) or an open file description lock on both, the kinds
        // the writers do not take.
        const fs::path folder = fs::path(file).parent_path();
        const int lock = ::open((folder / ".defaults.json.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (lock < 0 || opened < 0) giveUp("cannot open the lock file or the folder");
        if (job != "open") {
            const int command = job == "open posix-locked" ? F_SETLK : F_OFD_SETLK;
            struct flock whole {};  // from the start to the end, however long
            whole.l_whence = SEEK_SET;
            whole.l_type = F_WRLCK;
            if (::fcntl(lock, command, &whole) != 0) giveUp("cannot lock the lock file");
            whole.l_type = F_RDLCK;  // the one kind a folder, open to read, takes
            if (::fcntl(opened, command, &whole) != 0) giveUp("cannot lock the folder");
        }
        std::ofstream(readyOf(file)) << ::getpid();
        ::pause();
    } else if (job == "hold folder" || job == "hold folder as nobody") {
        holdFolder(file, job == "hold folder as nobody");
    } else if (job == "flood") {
        floodLockTable(file);
    } else if (job == "counts") {
        for (int n = std::atoi(std::getenv(timesVariable)); n > 0; --n) countUnderLock(file, 0ms, false);
    } else {
        countUnderLock(file, std::chrono::milliseconds(std::atoll(std::getenv(holdVariable))), true);
    }
}

class DefaultsPeerLock : public ::testing::Test {
protected:
    TempDir dir;
    fs::path file = dir / "defaults.json";
    TempDir logs;  // the peers' output, apart from the settings folder
    std::vector<fs::path> peerLogs;

    void TearDown() override {
        if (!HasFailure()) return;
        for (const fs::path& log : peerLogs) std::cout << log.filename().string() << ":\n" << readFile(log);
    }

    std::unique_ptr<ChildProcess> start(const std::string& job, std::chrono::milliseconds hold, int times = 0) {
        peerLogs.push_back(logs / ("peer-" + std::to_string(peerLogs.size() + 1) + ".log"));
        return std::make_unique<ChildProcess>(
            "DefaultsPeerChild.*",
            std::vector<std::string>{
                std::string(fileVariable) + "=" + file.string(),
                std::string(jobVariable) + "=" + job,
                std::string(holdVariable) + "=" + std::to_string(hold.count()),
                std::string(timesVariable) + "=" + std::to_string(times),
                std::string(logVariable) + "=" + peerLogs.back().string()});
    }
    // Started and holding the lock when it returns.
    std::unique_ptr<ChildProcess> peer(const std::string& job, std::chrono::milliseconds hold = 0ms) {
        auto child = start(job, hold);
        const auto ready = [&] { return !readFile(readyOf(file)).empty(); };
        eventually([&] { return ready() || readFile(peerLogs.back()).find(gaveUpMark) != std::string::npos; });
        EXPECT_TRUE(ready()) << "the peer did not take the lock";
        return child;
    }
    pid_t peerPid() { return static_cast<pid_t>(std::stol(readFile(readyOf(file)))); }

    // Why a write past peer `pid` would say nothing of the lock; empty when the peer is there
    // (stopped, when `stopped`: a dead one not yet reaped takes SIGSTOP too) and holds a flock on
    // each of `held`.
    std::string harnessFault(pid_t pid, bool stopped, std::initializer_list<fs::path> held) {
        const std::string peer = "harness fault: the peer (process " + std::to_string(pid) + ") ";
        std::string fields;  // of /proc/<pid>/stat, from the state on
        eventually([&] {     // a stop lands a moment after its signal
            const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
            fields = stat.rfind(')') == std::string::npos ? "" : stat.substr(stat.rfind(')') + 2);
            return !stopped || fields.empty() || std::string_view("RSD").find(fields[0]) == std::string_view::npos;
        });
        const char state = fields.empty() ? 'X' : fields[0];
        if (state == 'Z' || state == 'X') {
            std::istringstream rest(fields);
            std::string code;
            for (int field = 3; field <= 52 && rest >> code;) ++field;  // the 52nd: how it ended, until reaped
            const int status = code.empty() ? -1 : std::stoi(code);
            const std::string how = status < 0 ? ""
                                    : WIFSIGNALED(status)
                                        ? " (killed by signal " + std::to_string(WTERMSIG(status)) + ")"
                                        : " (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
            return peer + "is gone" + (stopped ? ", not stopped" : "") + how;
        }
        if (stopped && state != 'T' && state != 't') return peer + "is not stopped (state " + state + ")";
        for (const fs::path& path : held) {
            if (!holdsFlock(pid, path))
                return peer + "does not hold " + (path == dir.path() ? "the folder " : "the lock file ") +
                       path.string();
        }
        return {};
    }
};

TEST_F(DefaultsPeerLock, ALivePeerHoldingTheLockForSecondsLosesNothing) {
    // Longer than a write was once given before its peer was taken for hung.
    auto slow = peer("count", 7s);
    {
        Defaults defaults(file);
        const Defaults::WriteLock lock(file);
        defaults.set("count", defaults.integer("count").value_or(0) + 1);
    }
    EXPECT_TRUE(slow->succeeded());
    EXPECT_EQ(Defaults(file).integer("count"), 2);
}

TEST_F(DefaultsPeerLock, AStoppedPeerFailsTheWriteInBoundedTimeAndNothingIsWritten) {
    auto stopped = peer("count", 10min);
    ASSERT_EQ(::kill(peerPid(), SIGSTOP), 0);
    const std::string fault = harnessFault(peerPid(), true, {dir.path(), lockOf(file)});
    ASSERT_TRUE(fault.empty()) << fault;
    Defaults defaults(file);
    const auto start = std::chrono::steady_clock::now();
    try {
        defaults.set("here", 1);
        // A peer ended meanwhile (killed from outside) let go: not the lock's fault.
        const std::string ended = harnessFault(peerPid(), true, {dir.path(), lockOf(file)});
        ADD_FAILURE() << (ended.empty() ? "written past a stopped peer" : ended + " by the time it was written");
    } catch (const std::system_error& error) {
        EXPECT_NE(std::string(error.what()).find("stopped"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("(process " + std::to_string(peerPid()) + ")"), std::string::npos)
            << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_THROW(defaults.set("again", 1), std::system_error);  // the next write, too
    EXPECT_TRUE(defaults.keys().empty());
    ::kill(peerPid(), SIGCONT);
}

TEST_F(DefaultsPeerLock, TheSweepLeavesAStalledWritersStagedFile) {
    auto stalled = peer("stall");
    std::optional<Defaults> defaults(std::in_place, file);  // this process's first: it sweeps
    const auto staged = [&] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            count += entry.path().filename().string().starts_with(".defaults.json.brisalune-staged-");
        return count;
    };
    EXPECT_EQ(staged(), 1);

    std::thread writer([&] { defaults->set("here", 1); });  // waits for the stalled writer
    std::ofstream(goOf(file)) << "go";
    writer.join();
    EXPECT_TRUE(stalled->succeeded()) << "the stalled writer's rename failed";
    EXPECT_EQ(defaults->integer("peer"), 1);
    EXPECT_EQ(defaults->integer("here"), 1);
    EXPECT_EQ(staged(), 0);
}

TEST_F(DefaultsPeerLock, OnlyAFolderNoOtherUserCanOpenHoldsOffAWrite) {
    struct Row {
        const char* name;
        fs::perms mode;
        const char* job;
        bool heldOff;
    };
    const Row rows[] = {
        // As root the holder is nobody; as anyone else, a program of their own.
        {"a folder others may open, held by another user", fs::perms(0755), "hold folder as nobody", false},
        {"a folder its group may open, held by a member", fs::perms(0750), "hold folder as nobody", false},
        {"a private folder, held by another program of this user", fs::perms(0700), "hold folder", true},
    };
    // Nobody's group, so that nobody is a member who may open a 0750 folder.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir.path().c_str(), -1, 65534), 0);
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::permissions(dir.path(), row.mode);
        auto holder = start(row.job, 0ms);
        ASSERT_TRUE(eventually([&] { return lockedElsewhere(dir.path()); })) << "the peer did not take the folder";
        const Defaults::PeerLockPatience patience(2s);
        Defaults defaults(file);
        std::string refusal;
        try {
            defaults.set(row.name, 1);
        } catch (const std::system_error& error) {
            refusal = error.what();
        }
        EXPECT_EQ(refusal.find("has held the settings file") != std::string::npos, row.heldOff) << refusal;
        EXPECT_EQ(defaults.integer(row.name).has_value(), !row.heldOff);
    }
}

TEST_F(DefaultsPeerLock, AnotherProgramHoldingTheFileItsFolderOrARemovedLockFileIsSeen) {
    struct Row {
        const char* name;
        const char* job;  // none: no other program
        bool lockFileRemoved;
        bool ownHold;
        bool held;
    };
    const Row rows[] = {
        {"none holds it", nullptr, false, false, false},
        {"only this process holds it", nullptr, false, true, false},
        {"another program holds the lock file", "hold", false, false, true},
        {"another program holds the lock file shared (flock -s)", "hold shared", false, false, true},
        {"another program holds the folder", "hold folder", false, false, true},
        {"a peer holds it, its lock file removed by a clean-up", "count", true, false, true},
    };
    const fs::path lock = dir / ".defaults.json.lock";
    Defaults defaults(file);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(readyOf(file));
        const auto holder = row.job ? peer(row.job, 10min) : nullptr;
        if (row.lockFileRemoved) fs::remove(lock);
        std::optional<Defaults::WriteLock> own;
        if (row.ownHold) own.emplace(file);
        EXPECT_EQ(defaults.heldByAnotherProgram(), row.held);
    }
}

// A lock file that is a second name of another file, a person's or the settings file itself (as
// backup snapshots make): writes lock through it but never write there, not even a holder's
// record, so that file and the settings stay whole, and its holder is named by no record. So too
// when its name goes while a write holds it, leaving that file one name by the end of the hold.
TEST_F(DefaultsPeerLock, ALockFileThatIsAHardLinkIsLockedThroughAndNeverWritten) {
    const fs::path lock = dir / ".defaults.json.lock";
    const fs::path notes = dir / "notes.txt";
    for (const fs::path& other : {file, notes}) {
        SCOPED_TRACE(other.filename().string());
        std::ofstream(file) << R"({"kept": {"integer": 1}})";
        std::ofstream(notes) << "a person's own";
        fs::remove(lock);
        fs::remove(readyOf(file));
        fs::create_hard_link(other, lock);
        Defaults defaults(file);
        {
            const auto holder = peer("count", 10min);  // a writer that records itself where it may
            const Defaults::PeerLockPatience patience(1s);
            std::string refusal;
            try {
                defaults.set("here", 1);
            } catch (const std::system_error& error) {
                refusal = error.what();
            }
            EXPECT_TRUE(refusal.starts_with("another program has held the settings file")) << refusal;
            EXPECT_EQ(readFile(notes), "a person's own");
        }
        defaults.set("here", 1);
        EXPECT_EQ(defaults.keys(), (std::vector<std::string>{"here", "kept"}));
        EXPECT_EQ(defaults.integer("kept"), 1);
        EXPECT_EQ(readFile(notes), "a person's own");

        // The lock file's name removed, replaced or relinked to another file while a write holds
        // it: the file it had is left one name, and stays whole all the same, as does the other.
        const fs::path elsewhere = other == file ? notes : file;
        for (const std::string_view step : {"removed", "replaced", "relinked"}) {
            SCOPED_TRACE(step);
            std::ofstream(file) << R"({"kept": {"integer": 1}})";
            std::ofstream(notes) << "a person's own";
            fs::remove(lock);
            fs::create_hard_link(other, lock);
            {
                const Defaults::WriteLock held(file);
                // rm .defaults.json.lock; mv x .defaults.json.lock; ln -f defaults.json .defaults.json.lock
                if (step == "removed") fs::remove(lock);
                if (step == "replaced") std::ofstream(dir / "x") << "another file";
                if (step == "relinked") fs::create_hard_link(elsewhere, dir / "x");
                if (step != "removed") fs::rename(dir / "x", lock);
            }
            EXPECT_EQ(defaults.integer("kept"), 1);
            EXPECT_EQ(readFile(notes), "a person's own");
            if (step == "replaced") {
                EXPECT_EQ(readFile(lock), "another file");
            }
        }
    }
}

// What a write that waits is told of the holder comes from a record in the lock file, which
// counts only while the process it names holds the lock waited for: the lock file's, or the
// folder's, which a write takes first, a flock. Here the holder records nothing (as flock(1) does),
// and the record left names another process, one that may have both open without holding either
// (or with another kind of lock on them), or one in another pid namespace.
TEST_F(DefaultsPeerLock, ARecordOfAProcessThatDoesNotHoldTheLockNamesNoHolder) {
    enum class Left {
        killedWriter,
        runningProcess,
        stoppedProcess,
        stoppedPosixLocker,
        stoppedOfdLocker,
        holderInAnotherNamespace
    };
    struct Row {
        const char* name;
        Left left;
        const char* holder;  // holds the lock file, or the folder
        std::chrono::milliseconds patience;
    };
    const Row rows[] = {
        {"a writer killed holding it", Left::killedWriter, "hold", 1s},
        {"a running process with it open (its pid used again)", Left::runningProcess, "hold", 1s},
        // Longer than a stopped holder is given, so that it would be refused as stopped first.
        {"a stopped process with it open", Left::stoppedProcess, "hold", 6s},
        {"the holder, recorded in another pid namespace", Left::holderInAnotherNamespace, "hold", 1s},
        {"the folder held, after a writer killed holding it", Left::killedWriter, "hold folder", 1s},
        {"the folder held, beside a stopped process with it open", Left::stoppedProcess, "hold folder", 6s},
        // Only a flock, the lock the writers take, is holding it: not another kind on the file.
        {"a stopped process with a POSIX (lockf) lock on it", Left::stoppedPosixLocker, "hold", 6s},
        {"a stopped process with an OFD lock on it", Left::stoppedOfdLocker, "hold", 6s},
        {"the folder held, beside a stopped process with an OFD lock on it", Left::stoppedOfdLocker, "hold folder", 6s},
    };
    const fs::path lock = dir / ".defaults.json.lock";
    struct stat space {};
    ASSERT_EQ(::stat("/proc/self/ns/pid", &space), 0);
    const auto record = [&](pid_t pid, ino_t namespaceNumber) {
        std::ofstream(lock) << pid << ' ' << namespaceNumber << '\n';
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(lock);
        fs::remove(readyOf(file));
        std::unique_ptr<ChildProcess> other;
        if (row.left == Left::killedWriter) {
            auto writer = peer("count", 10min);
            ASSERT_TRUE(readFile(lock).starts_with(std::to_string(peerPid()) + " "));
            EXPECT_TRUE(writer->killed());
        } else if (row.left != Left::holderInAnotherNamespace) {
            other = peer(
                row.left == Left::stoppedPosixLocker ? "open posix-locked"
                : row.left == Left::stoppedOfdLocker ? "open ofd-locked"
                                                     : "open");
            if (row.left != Left::runningProcess) {
                ASSERT_EQ(::kill(peerPid(), SIGSTOP), 0);
                const std::string fault = harnessFault(peerPid(), true, {});
                ASSERT_TRUE(fault.empty()) << fault;
            }
            record(peerPid(), space.st_ino);
        }
        fs::remove(readyOf(file));
        const auto holder = peer(row.holder);
        const std::string fault =
            harnessFault(peerPid(), false, {std::string_view(row.holder) == "hold" ? lock : dir.path()});
        ASSERT_TRUE(fault.empty()) << fault;
        if (row.left == Left::holderInAnotherNamespace) record(peerPid(), space.st_ino + 1);

        const Defaults::PeerLockPatience patience(row.patience);
        std::string refusal;
        try {
            Defaults(file).set("here", 1);
        } catch (const std::system_error& error) {
            refusal = error.what();
        }
        EXPECT_NE(refusal.find("has held the settings file"), std::string::npos) << refusal;  // all its patience
        EXPECT_EQ(refusal.find("(process "), std::string::npos) << refusal;
        holder->killed();  // once the one that holds it lets go, the write goes on
        EXPECT_NO_THROW(Defaults(file).set("here", 1));
    }
}

// Any user can fill the kernel's table of locks cheaply: whether the file is held, asked on the
// UI thread, and a waiting write's look at its holder, which holds off the UI thread's reads, do
// not read through that table.
TEST_F(DefaultsPeerLock, OtherProgramsManyLocksLeaveTheHolderChecksQuick) {
    auto holder = peer("hold");
    auto flood = start("flood", 0ms);
    ASSERT_TRUE(eventually([&] { return fs::exists(floodedOf(file)); })) << "the flood did not take its locks";
    Defaults defaults(file);
    std::thread writer([&] { defaults.set("here", 1); });  // waits for the holder
    ASSERT_TRUE(eventually([&] { return brisalune::testkit::opensFile(dir / ".defaults.json.lock"); }));
    for (int n = 0; n < 10; ++n) {
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_TRUE(defaults.heldByAnotherProgram());
        EXPECT_FALSE(defaults.value("here"));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);  // each call, as the UI thread makes it
        std::this_thread::sleep_for(100ms);
    }
    holder->killed();
    writer.join();
    EXPECT_EQ(defaults.integer("here"), 1);
}

TEST_F(DefaultsPeerLock, ALockFileReplacedWhileAWriteWaitsIsTakenAgain) {
    const fs::path lock = dir / ".defaults.json.lock";
    auto first = peer("hold");
    Defaults defaults(file);
    std::atomic<bool> written = false;
    std::thread writer([&] {
        defaults.set("here", 1);
        written = true;
    });
    EXPECT_TRUE(eventually([&] { return brisalune::testkit::opensFile(lock); })) << "the write is not waiting";
    fs::remove(lock);
    fs::remove(readyOf(file));
    auto second = peer("hold");  // a new lock file in its place, taken
    first->killed();
    // The write has the old one now: it must find it gone from its place and wait for the new one.
    EXPECT_TRUE(eventually([&] { return written || brisalune::testkit::opensFile(lock); }));
    EXPECT_FALSE(written) << "written while another program held the lock file at its place";
    second->killed();
    writer.join();
    EXPECT_EQ(defaults.integer("here"), 1);
}

TEST_F(DefaultsPeerLock, ALockFileRemovedWhilePeersWriteLosesNothing) {
    // A clean-up or a sync tool that takes the lock file away, again and again, mid-write too.
    constexpr int times = 200;
    auto first = start("counts", 0ms, times);
    auto second = start("counts", 0ms, times);
    std::atomic<bool> writing = true;
    std::thread remover([&] {
        while (writing) {
            std::error_code ignored;
            fs::remove(dir / ".defaults.json.lock", ignored);
            std::this_thread::sleep_for(1ms);
        }
    });
    const bool firstDone = first->succeeded();
    const bool secondDone = second->succeeded();
    writing = false;
    remover.join();
    EXPECT_TRUE(firstDone && secondDone) << "a write failed";
    EXPECT_EQ(Defaults(file).integer("count"), 2 * times);
}

}  // namespace
