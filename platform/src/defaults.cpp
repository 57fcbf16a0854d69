#include <brisalune/platform/defaults.hpp>

#include <brisalune/platform/base64.hpp>
#include <brisalune/platform/json.hpp>
#include <brisalune/platform/time.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <variant>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brisalune::platform {
namespace {

namespace fs = std::filesystem;

// A defaults file is small; anything larger is not ours and reads as corrupt.
constexpr std::size_t maxFileSize = 16 * 1024 * 1024;

// Values nest two JSON levels per level (the tag object, then the list or map).
constexpr std::size_t maxValueDepth = json::maxDepth / 2 - 1;

[[noreturn]] void fail(const std::string& what, const fs::path& path) {
    throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

// An open descriptor, closed on every path out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now so a failed close (lost write-back) can be reported.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

// ---- values to and from their tagged JSON form ----

json::Value tagged(const char* tag, json::Value payload) {
    json::Object object;
    object.emplace(tag, std::move(payload));
    return object;
}

json::Value encode(const DefaultsValue& value, std::size_t depth);

struct Encoder {
    std::size_t depth;

    json::Value operator()(bool v) const { return tagged("bool", v); }
    json::Value operator()(std::int64_t v) const { return tagged("integer", v); }
    json::Value operator()(double v) const {
        if (!std::isfinite(v)) throw std::invalid_argument("defaults cannot hold a non-finite double");
        return tagged("double", v);
    }
    json::Value operator()(const std::string& v) const { return tagged("string", v); }
    json::Value operator()(const Bytes& v) const { return tagged("bytes", base64(v)); }
    json::Value operator()(std::chrono::sys_seconds v) const { return tagged("date", formatInternetDate(v)); }
    json::Value operator()(const DefaultsValue::List& list) const {
        json::Array out;
        out.reserve(list.size());
        for (const auto& item : list) out.push_back(encode(item, depth + 1));
        return tagged("list", std::move(out));
    }
    json::Value operator()(const DefaultsValue::Map& map) const {
        json::Object out;
        for (const auto& [key, item] : map) out.emplace(key, encode(item, depth + 1));
        return tagged("map", std::move(out));
    }
};

json::Value encode(const DefaultsValue& value, std::size_t depth) {
    if (depth > maxValueDepth) throw std::invalid_argument("defaults value nested too deeply");
    return std::visit(Encoder{depth}, value.data);
}

std::optional<DefaultsValue> decode(const json::Value& value);

template <class T>
std::optional<DefaultsValue> plain(const json::Value& payload) {
    if (const T* v = payload.get<T>()) return DefaultsValue{*v};
    return std::nullopt;
}

std::optional<DefaultsValue> decodeDouble(const json::Value& payload) {
    if (const double* v = payload.get<double>()) return DefaultsValue{*v};
    // A writer may print a whole double without a fraction.
    if (const std::int64_t* v = payload.get<std::int64_t>()) return DefaultsValue{static_cast<double>(*v)};
    return std::nullopt;
}

std::optional<DefaultsValue> decodeBytes(const json::Value& payload) {
    const std::string* text = payload.get<std::string>();
    if (!text) return std::nullopt;
    if (auto bytes = unbase64(*text)) return DefaultsValue{std::move(*bytes)};
    return std::nullopt;
}

std::optional<DefaultsValue> decodeDate(const json::Value& payload) {
    const std::string* text = payload.get<std::string>();
    if (!text) return std::nullopt;
    if (const auto instant = parseInternetDate(*text)) return DefaultsValue{*instant};
    return std::nullopt;
}

std::optional<DefaultsValue> decodeList(const json::Value& payload) {
    const json::Array* array = payload.get<json::Array>();
    if (!array) return std::nullopt;
    DefaultsValue::List out;
    out.reserve(array->size());
    for (const auto& item : *array) {
        auto decoded = decode(item);
        if (!decoded) return std::nullopt;
        out.push_back(std::move(*decoded));
    }
    return DefaultsValue{std::move(out)};
}

std::optional<DefaultsValue> decodeMap(const json::Value& payload) {
    const json::Object* object = payload.get<json::Object>();
    if (!object) return std::nullopt;
    DefaultsValue::Map out;
    for (const auto& [key, item] : *object) {
        auto decoded = decode(item);
        if (!decoded) return std::nullopt;
        out.emplace(key, std::move(*decoded));
    }
    return DefaultsValue{std::move(out)};
}

struct Tag {
    std::string_view name;
    std::optional<DefaultsValue> (*decode)(const json::Value&);
};

constexpr std::array<Tag, 8> tags{{
    {"bool", plain<bool>},
    {"integer", plain<std::int64_t>},
    {"double", decodeDouble},
    {"string", plain<std::string>},
    {"bytes", decodeBytes},
    {"date", decodeDate},
    {"list", decodeList},
    {"map", decodeMap},
}};

// A tagged value is an object of exactly one known tag; anything else does not decode.
std::optional<DefaultsValue> decode(const json::Value& value) {
    const json::Object* object = value.get<json::Object>();
    if (!object || object->size() != 1) return std::nullopt;
    const auto& [name, payload] = *object->begin();
    for (const Tag& tag : tags)
        if (tag.name == name) return tag.decode(payload);
    return std::nullopt;
}

// ---- the file ----

// What is found at the file's place.
struct Found {
    enum class State {
        missing,     // nothing there
        text,        // a regular file that was read whole
        other,       // not a regular file (a folder, a FIFO): not ours to move
        tooLarge,    // larger than the store ever writes
        unreadable,  // there, but its bytes cannot be had
    };
    State state = State::missing;
    std::string text;
};

bool isUnreadable(int error) { return error == EACCES || error == EPERM || error == EIO; }

// Throws std::system_error only when the place itself cannot be looked at (a file in the
// folder's place, a path too long); a file that is there but cannot be read is `unreadable`.
Found readFound(const fs::path& file) {
    // Non-blocking, so a FIFO put in place of the file cannot hang the open.
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ENOENT) return {};
        if (isUnreadable(errno)) return {.state = Found::State::unreadable, .text = {}};
        if (errno == ENXIO) return {.state = Found::State::other, .text = {}};  // a socket
        fail("cannot open", file);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) fail("cannot inspect", file);
    if (!S_ISREG(info.st_mode)) return {.state = Found::State::other, .text = {}};
    if (static_cast<std::uintmax_t>(info.st_size) > maxFileSize) return {.state = Found::State::tooLarge, .text = {}};
    Found found{.state = Found::State::text, .text = {}};
    std::array<char, 65536> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {.state = Found::State::unreadable, .text = {}};
        if (n == 0) return found;
        found.text.append(buffer.data(), static_cast<std::size_t>(n));
        if (found.text.size() > maxFileSize) return {.state = Found::State::tooLarge, .text = {}};  // grew meanwhile
    }
}

// The members of a root object; none when the text is not a JSON object.
std::optional<json::Object> membersOf(const std::string& text) {
    try {
        json::Value root = json::parse(text);
        if (json::Object* members = root.get<json::Object>()) return std::move(*members);
    } catch (const json::DecodeError&) {
    }
    return std::nullopt;
}

// The members of the file's root object; empty when the file is missing, damaged, too large
// or unreadable.
json::Object loadMembersOrEmpty(const fs::path& file) {
    try {
        Found found = readFound(file);
        if (found.state != Found::State::text) return {};
        return membersOf(found.text).value_or(json::Object{});
    } catch (const std::system_error&) {
        return {};
    }
}

// The members a write starts from, and whether what stands at the file's place must first be
// moved aside because the store cannot read it (damaged, too large, unreadable).
struct WriteBase {
    json::Object members;
    bool moveAside = false;
};

WriteBase loadForWrite(const fs::path& file) {
    Found found = readFound(file);
    switch (found.state) {
        case Found::State::missing:
        case Found::State::other: return {};  // nothing of ours to keep; a folder makes the rename fail
        case Found::State::tooLarge:
        case Found::State::unreadable: return {.members = {}, .moveAside = true};
        case Found::State::text: break;
    }
    if (auto members = membersOf(found.text)) return {.members = std::move(*members), .moveAside = false};
    return {.members = {}, .moveAside = !found.text.empty()};
}

// Moves the file to "<file>.damaged", or "<file>.damaged.N" when that is taken: an earlier
// damaged file is never replaced. Throws when it cannot be moved, so nothing writes over it.
void moveAside(const fs::path& file) {
    constexpr int maxAsides = 100;
    for (int n = 1; n <= maxAsides; ++n) {
        const fs::path aside = file.string() + ".damaged" + (n == 1 ? std::string() : "." + std::to_string(n));
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return;
        if (errno == EINVAL) {  // a file system without RENAME_NOREPLACE; the process lock is held
            struct stat info {};
            if (::lstat(aside.c_str(), &info) == 0) continue;
            if (::rename(file.c_str(), aside.c_str()) == 0) return;
        }
        if (errno != EEXIST) fail("cannot set aside", file);
    }
    errno = EEXIST;
    fail("cannot set aside", file);
}

fs::path folderOf(const fs::path& file) { return file.has_parent_path() ? file.parent_path() : fs::path("."); }

// Where a write lands: a symbolic link in the file's place (a settings file kept with the user's
// other dotfiles) is followed, so that the replace keeps the link instead of putting a plain
// file in its place, and writes where it leads even when nothing is there yet. A link to what is
// not a file (a device, a pipe) is replaced as before: nothing is ever renamed over that.
fs::path linkTarget(const fs::path& file) {
    constexpr int maxLinks = 40;  // as the kernel follows them
    fs::path path = file;
    for (int n = 0; n < maxLinks; ++n) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) return path;  // nothing there, or a write fails on its own
        if (!S_ISLNK(info.st_mode)) return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) ? path : file;
        const fs::path target = fs::read_symlink(path);
        path = target.is_absolute() ? target : folderOf(path) / target;
    }
    errno = ELOOP;
    fail("cannot follow", file);
}

// ---- the lock between processes ----

void makeFolder(const fs::path& folder);

// Beside the file, never replaced: the file itself is renamed over by every write.
fs::path lockFileOf(const fs::path& file) { return folderOf(file) / ("." + file.filename().string() + ".lock"); }

// A holder that runs is only slow (a busy disk can hold an fsync for many seconds): it is waited
// for this long, a bound for a holder that never lets go, before the write fails.
constexpr std::chrono::milliseconds peerLockPatience = Defaults::PeerLockPatience::standard;

// A holder stopped this long (by a signal or a debugger) is not coming back by itself: the write
// fails then.
constexpr std::chrono::seconds stoppedPeerPatience{5};

// How often a waiting write asks the system who holds the lock and in what state.
constexpr std::chrono::milliseconds holderCheckInterval{100};

// This thread's, see Defaults::PeerLockPatience.
thread_local std::chrono::milliseconds threadPeerLockPatience = peerLockPatience;

// Set while a Defaults::PeerWaitsEnd lives: when every wait for a peer ends, and how many writes
// it failed.
constexpr auto noEnd = std::chrono::steady_clock::time_point::max().time_since_epoch().count();
std::atomic<std::chrono::steady_clock::rep> peerWaitsEndAt{noEnd};
std::atomic<int> writesCutByEnd{0};

std::chrono::steady_clock::time_point peerWaitsEnd() {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(peerWaitsEndAt.load()));
}

// The flocks this process holds, by descriptor, with the file each is on: so that a look at
// whether another program holds a file tells this process's own holds apart without the process
// lock. A take and a look exclude each other, so neither sees the other half done.
class OwnFlocks {
public:
    // Takes the exclusive flock on `fd` if it is free now; errno says why not.
    bool take(int fd) {
        std::lock_guard guard(mutex_);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
        struct stat info {};
        ::fstat(fd, &info);
        held_.insert_or_assign(fd, std::pair(info.st_dev, info.st_ino));
        return true;
    }
    // Lets go of the flock on `fd` and closes it (a close may wait on a network file system).
    void release(int fd) {
        {
            std::lock_guard guard(mutex_);
            if (held_.erase(fd) > 0) ::flock(fd, LOCK_UN);
        }
        ::close(fd);
    }
    // Whether another process holds a flock on the file open at `fd` now, shared or exclusive:
    // either holds off a write. An exclusive try, let go at once; another program making the same
    // try at that moment is seen as a holder, and a writer's try then fails once and is made again.
    bool heldElsewhere(int fd) {
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0) return false;
        std::lock_guard guard(mutex_);
        for (const auto& [ownFd, file] : held_)
            if (file == std::pair(info.st_dev, info.st_ino)) return false;  // none holds it beside this process
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::flock(fd, LOCK_UN);
            return false;
        }
        return errno == EWOULDBLOCK;
    }

private:
    std::mutex mutex_;
    std::map<int, std::pair<dev_t, ino_t>> held_;
};

OwnFlocks& ownFlocks() {
    static auto* const flocks = new OwnFlocks;  // never destroyed, as stoppedPeers()
    return *flocks;
}

// The pid namespace this process's pids are counted in: a pid recorded in another one names
// some other process here.
ino_t pidSpace() {
    static const ino_t space = [] {
        struct stat info {};
        return ::stat("/proc/self/ns/pid", &info) == 0 ? info.st_ino : 0;
    }();
    return space;
}

// Whether the file open at `fd` has no other name: a lock file that is also another file (a
// hard link, as backup snapshots make) is locked through but never written, so that file stays whole.
bool onlyName(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && info.st_nlink == 1;
}

// A write that holds the lock file records its process in it, "<pid> <pid namespace>\n", and
// clears it before letting go: a waiter learns the holder from this user's own file, not from the
// kernel's table of every lock, whose size any user sets. Best effort: a file left read-only, a
// full disk or a second name records nothing. Whether it wrote: only then is there a record to clear.
bool recordHolder(int fd) {
    if (!onlyName(fd)) return false;
    const std::string record = std::to_string(::getpid()) + " " + std::to_string(pidSpace()) + "\n";
    // A short write lacks the final newline: it reads as no record.
    if (::ftruncate(fd, 0) != 0) return false;
    std::ignore = ::pwrite(fd, record.data(), record.size(), 0);
    return true;
}

// Clears the record a hold wrote (its caller knows whether it did), through the descriptor it
// wrote it through: never decided from the names the file has by the end of the hold, so a lock
// file that had a second name as the hold began is never written, whatever happens to its names.
void clearHolder(int fd) { std::ignore = ::ftruncate(fd, 0); }

// The process recorded in the lock file open at `fd`; 0 when none is (a program that records
// nothing, such as an older version or flock(1), or one in another pid namespace), or the record
// is being written.
pid_t recordedHolder(int fd) {
    std::array<char, 48> buffer{};
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0 || buffer[static_cast<std::size_t>(n) - 1] != '\n') return 0;
    const char* end = buffer.data() + n - 1;
    pid_t pid = 0;
    ino_t space = 0;
    const auto [afterPid, pidError] = std::from_chars(buffer.data(), end, pid);
    if (pidError != std::errc{} || afterPid == end || *afterPid != ' ') return 0;
    const auto [afterSpace, spaceError] = std::from_chars(afterPid + 1, end, space);
    if (spaceError != std::errc{} || afterSpace != end || space != pidSpace()) return 0;
    return pid > 0 ? pid : 0;
}

// Whether a "lock:" line of an fdinfo, given from its id on ("1: FLOCK  ADVISORY  WRITE ..."),
// is a flock: the one kind the writers take. A POSIX (lockf, fcntl), OFD ("OFDLCK") or lease lock
// holds off no writer.
bool isFlock(std::string_view line) {
    constexpr std::string_view blanks = " \t";
    const auto id = line.find_first_not_of(blanks);
    const auto kind = line.find_first_not_of(blanks, line.find_first_of(blanks, id));
    return kind != std::string_view::npos && line.substr(kind, line.find_first_of(blanks, kind) - kind) == "FLOCK";
}

// Whether descriptor `name` of the process whose /proc folder is open at `process` holds a flock
// on what it opens: the kernel lists each lock it holds on a "lock:" line of its fdinfo, a flock's
// first. Read from the top, where the lock lines follow a few short ones.
bool fdHoldsLock(int process, const char* name) {
    const Descriptor info(::openat(process, ("fdinfo/" + std::string(name)).c_str(), O_RDONLY | O_CLOEXEC));
    std::array<char, 1024> buffer{};
    std::size_t filled = 0;
    while (info.get() >= 0 && filled < buffer.size()) {
        const ssize_t n = ::read(info.get(), buffer.data() + filled, buffer.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
    }
    const std::string_view text(buffer.data(), filled);
    constexpr std::string_view lockLine = "\nlock:";
    for (auto at = text.find(lockLine); at != std::string_view::npos; at = text.find(lockLine, at + 1)) {
        const auto from = at + lockLine.size();
        if (isFlock(text.substr(from, text.find('\n', from) - from))) return true;
    }
    return false;
}

// Whether process `pid` holds a flock on the file open at `fd` (has it open and flocked, not merely
// open, nor locked by another kind). Only a process of this user is looked at, and only so many
// of its descriptors: the look holds off this process's reads, so its cost is never another
// user's to set. Its /proc folder, held open, keeps a pid used again meanwhile from answering for
// it. Not known counts as not.
bool holdsLockOn(pid_t pid, int fd) {
    constexpr int maxDescriptors = 1024;  // the usual limit of a process's open files
    struct stat lock {};
    if (::fstat(fd, &lock) != 0) return false;
    const Descriptor process(::open(("/proc/" + std::to_string(pid)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int fdFolder = process.get() < 0 ? -1 : ::openat(process.get(), "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const fds = fdFolder < 0 ? nullptr : ::fdopendir(fdFolder);
    if (!fds) {
        if (fdFolder >= 0) ::close(fdFolder);
        return false;
    }
    struct stat owner {};
    bool holds = false;
    if (::fstat(fdFolder, &owner) == 0 && owner.st_uid == ::geteuid()) {
        int looked = 0;
        for (const dirent* entry; !holds && looked++ < maxDescriptors && (entry = ::readdir(fds));) {
            struct stat opened {};
            holds = entry->d_name[0] != '.' && ::fstatat(fdFolder, entry->d_name, &opened, 0) == 0 &&
                    opened.st_dev == lock.st_dev && opened.st_ino == lock.st_ino &&
                    fdHoldsLock(process.get(), entry->d_name);
        }
    }
    ::closedir(fds);
    return holds;
}

// The process recorded in the lock file open at `record`, while it holds the lock on the file
// open at `held` (that lock file, or the folder a write waits on); else 0. A writer killed holding
// it leaves its record, which then names no holder: the one after it may record nothing
// (flock(1)), and the pid may be another process's by now, one that may even have the file open.
pid_t liveHolder(int record, int held) {
    const pid_t pid = recordedHolder(record);
    return pid > 0 && holdsLockOn(pid, held) ? pid : 0;
}

enum class HolderState { running, stopped, unknown };

// Stopped means every live thread of the process is stopped. A recorded holder that has ended
// (gone, or dead and not yet reaped) let go of the lock when it ended, so its record is stale and
// the holder is another that recorded nothing: unknown, as one hidden from this user (hidepid).
HolderState stateOf(pid_t pid) {
    if (pid <= 0) return HolderState::unknown;
    std::error_code error;
    fs::directory_iterator tasks(fs::path("/proc") / std::to_string(pid) / "task", error);
    bool stopped = false;
    for (fs::directory_iterator end; !error && tasks != end; tasks.increment(error)) {
        std::ifstream stat(tasks->path() / "stat");
        std::string text;
        std::getline(stat, text);
        // "4242 (name) S ...": the name may hold anything, the state follows its last ')'.
        const auto close = text.rfind(')');
        if (close == std::string::npos || close + 2 >= text.size()) continue;  // ended meanwhile
        const char state = text[close + 2];
        if (std::string_view("ZX").find(state) != std::string_view::npos) continue;
        if (state != 'T' && state != 't') return HolderState::running;
        stopped = true;
    }
    return stopped ? HolderState::stopped : HolderState::unknown;
}

// The lock files whose holder was found stopped, with that holder: a write that finds the same
// one still holding it, still stopped, fails at once rather than wait again.
class StoppedPeers {
public:
    bool known(const fs::path& lock, pid_t pid) {
        std::lock_guard guard(mutex_);
        const auto found = stopped_.find(lock);
        return found != stopped_.end() && found->second == pid;
    }
    void mark(const fs::path& lock, std::optional<pid_t> pid) {
        std::lock_guard guard(mutex_);
        if (pid) {
            stopped_.insert_or_assign(lock, *pid);
        } else {
            stopped_.erase(lock);
        }
    }

private:
    std::mutex mutex_;
    std::map<fs::path, pid_t> stopped_;
};

// Never destroyed, like the other state a write shares: a write still running on another
// thread while the program exits goes on using it after the static destructors have run.
StoppedPeers& stoppedPeers() {
    static auto* const peers = new StoppedPeers;
    return *peers;
}

// What a write got of the lock: the locked file, or none because no write can succeed here
// (the write fails by itself), or why it was refused, with the system's error for it.
struct PeerLock {
    int fd = -1;
    int depth = 0;
    std::string refusal;
    int error = EAGAIN;
    bool recorded = false;  // this hold wrote its record in the lock file, to clear as it lets go
};

PeerLock refusedLock(const fs::path& lock, std::string_view why, int error) {
    return {
        .fd = -1,
        .depth = 0,
        .refusal = "the settings file's lock " + lock.string() + " " + std::string(why) + "; not written",
        .error = error};
}

// The lock file, opened; else the refusal. Only a plain file of this user is one that every
// writer locks alike: a link (dangling, or to a file of another user), a folder, a pipe, or a
// file left by a run under sudo is refused, never written past. A second name of another file
// (the settings file, any file of the user) is locked all the same, and never written: see onlyName.
std::variant<int, PeerLock> openLockFile(const fs::path& path) {
    constexpr int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;  // a pipe cannot hang the open
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, 0600);
    if (fd < 0) {
        const int cannotCreate = errno;
        fd = ::open(path.c_str(), O_RDONLY | flags);  // left read-only
        if (fd < 0 && errno == ENOENT) errno = cannotCreate;
    }
    if (fd < 0) return refusedLock(path, "cannot be opened", errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return refusedLock(path, "is not a plain file of this user", ENOLCK);
    }
    return fd;
}

std::string holderText(pid_t holder) {
    return holder > 0 ? "another program (process " + std::to_string(holder) + ")" : "another program";
}

// Looks at the lock's holder now and then: whether it has been stopped for long enough to give up.
class HolderWatch {
public:
    HolderWatch(const fs::path& lock, int fd, const fs::path& file) : lock_(lock), fd_(fd), file_(file) {}

    // The refusal once the holder is taken for stopped, else empty.
    std::string stoppedFor(std::chrono::steady_clock::time_point now) {
        if (now < nextCheck_) return {};
        nextCheck_ = now + holderCheckInterval;
        holder_ = holderNow();
        if (stateOf(holder_) != HolderState::stopped) {
            stoppedSince_.reset();
            stoppedPeers().mark(lock_, std::nullopt);
            return {};
        }
        if (!stoppedSince_) stoppedSince_ = stoppedPeers().known(lock_, holder_) ? now - stoppedPeerPatience : now;
        if (now - *stoppedSince_ < stoppedPeerPatience) return {};
        stoppedPeers().mark(lock_, holder_);
        return holderText(holder_) + " holds the settings file and is stopped; not written";
    }
    pid_t holder() const { return holder_; }

private:
    pid_t holderNow() const {
        if (lock_ != folderOf(file_)) return liveHolder(fd_, fd_);
        // The folder's holder holds the lock file too, and is recorded there.
        const Descriptor record(
            ::open(lockFileOf(file_).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
        return record.get() < 0 ? 0 : liveHolder(record.get(), fd_);
    }

    fs::path lock_;
    int fd_;
    fs::path file_;
    pid_t holder_ = 0;
    std::optional<std::chrono::steady_clock::time_point> stoppedSince_;
    std::chrono::steady_clock::time_point nextCheck_{};
};

// Why a wait that found the lock held since `start` ends now; empty while it goes on.
std::string waitRefusal(
    HolderWatch& watch, std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point now) {
    if (std::string stopped = watch.stoppedFor(now); !stopped.empty()) return stopped;
    if (now >= peerWaitsEnd()) {
        ++writesCutByEnd;
        return holderText(watch.holder()) + " holds the settings file while this program quits; not written";
    }
    if (now - start >= threadPeerLockPatience) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
        return holderText(watch.holder()) + " has held the settings file for " + std::to_string(waited) +
               " ms; not written";
    }
    return {};
}

// Takes the flock on `fd`, the lock file or the folder at `path`. Called and returns with
// `process` held; while a peer holds it, `process` is let go between tries, so that this process's
// other threads (the UI's among them) read and write meanwhile: never waits on a peer while
// holding `process`, so two threads cannot hold each other up. Refused when the holder is stopped
// or the wait runs out: a write never goes past a peer's lock.
PeerLock waitForLock(
    int fd,
    const fs::path& path,
    const fs::path& file,
    std::chrono::steady_clock::time_point start,
    std::unique_lock<std::recursive_mutex>& process) {
    HolderWatch watch(path, fd, file);
    while (!ownFlocks().take(fd)) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return refusedLock(path, "cannot be taken", errno);  // a file system without locks
        if (std::string refusal = waitRefusal(watch, start, std::chrono::steady_clock::now()); !refusal.empty())
            return {.fd = -1, .depth = 0, .refusal = refusal + ": " + file.string(), .error = EAGAIN};
        process.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        process.lock();
    }
    return {.fd = fd, .depth = 0, .refusal = {}, .error = 0};
}

// Whether the file open at `fd` is the one at `path` now.
bool standsAt(int fd, const fs::path& path) {
    struct stat held {};
    struct stat there {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &there) == 0 && held.st_dev == there.st_dev &&
           held.st_ino == there.st_ino;
}

// The folder of a settings file, opened once for this process's writes however many hold it or
// wait for it, so that its lock is the process's: nested writes, and writes of other files in it,
// never wait on each other. Guarded by the process lock.
struct HeldFolder {
    int fd = -1;
    int users = 0;
};

std::map<fs::path, HeldFolder>& heldFolders() {
    static auto* const held = new std::map<fs::path, HeldFolder>;  // never destroyed, as peerLocks()
    return *held;
}

void releaseFolder(const fs::path& folder) {
    const auto found = heldFolders().find(folder);
    if (found == heldFolders().end() || --found->second.users > 0) return;
    if (found->second.fd >= 0) ownFlocks().release(found->second.fd);
    heldFolders().erase(found);
}

// The folder, opened to be held; -1 where another user could open it too, and so hold off this
// user's writes: a folder of another user, or one that group or others may read or enter. Looked
// at once opened, so that the folder held is the one looked at.
int openPrivateFolder(const fs::path& folder) {
    constexpr mode_t othersMayOpen = S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & othersMayOpen) == 0) return fd;
    ::close(fd);
    return -1;
}

// Every write holds the settings file's folder before its lock file: a lock file removed while its
// holder writes (a clean-up, a sync tool) lets the next writer make another and take that, but not
// the folder, which cannot go while the file is in it, so that one waits until the first is done.
// Holding the folder, a write may wait for a lock file, never the other way round, so no two wait
// on each other. A folder this user may not read, one another user may open, or one its file
// system cannot lock, is not held: the lock file alone serves there. Refused as the lock file's
// wait is.
std::optional<PeerLock> holdFolder(
    const fs::path& folder,
    const fs::path& file,
    std::chrono::steady_clock::time_point start,
    std::unique_lock<std::recursive_mutex>& process) {
    HeldFolder& held = heldFolders()[folder];  // stays while this write is one of its users
    if (held.users++ == 0) held.fd = openPrivateFolder(folder);
    if (held.fd < 0) return std::nullopt;
    PeerLock taken = waitForLock(held.fd, folder, file, start, process);
    if (taken.fd >= 0 || taken.error != EAGAIN) return std::nullopt;  // held, or cannot be: the lock file serves
    releaseFolder(folder);
    return taken;
}

// The lock file, locked against other processes, and still the one at its path once locked: one
// removed or replaced while this write waited holds off no one who opens the path after, so the
// one there now is taken instead. Called and returns with `process` held, as waitForLock.
PeerLock lockFile(
    const fs::path& path,
    const fs::path& file,
    std::chrono::steady_clock::time_point start,
    std::unique_lock<std::recursive_mutex>& process) {
    for (;;) {
        std::variant<int, PeerLock> opened = openLockFile(path);
        if (PeerLock* refused = std::get_if<PeerLock>(&opened)) return std::move(*refused);
        const int fd = std::get<int>(opened);
        PeerLock taken = waitForLock(fd, path, file, start, process);
        if (taken.fd >= 0 && standsAt(fd, path)) {
            taken.recorded = recordHolder(fd);
            return taken;
        }
        ownFlocks().release(fd);
        if (taken.fd < 0) return taken;
        if (std::chrono::steady_clock::now() - start >= threadPeerLockPatience)
            return refusedLock(path, "keeps being removed or replaced", EAGAIN);
    }
}

// The file's lock against other processes: its folder, then its lock file. Called and returns
// with `process` held. The folder is held exactly while the lock file is.
PeerLock lockAgainstPeers(const fs::path& file, std::unique_lock<std::recursive_mutex>& process) {
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return {};  // no write can succeed there
    const fs::path folder = folderOf(file);
    try {
        makeFolder(folder);  // the lock goes beside the first write too
    } catch (const std::system_error&) {
        return {};  // the write fails on its own
    }
    const auto start = std::chrono::steady_clock::now();
    if (std::optional<PeerLock> refused = holdFolder(folder, file, start, process)) return std::move(*refused);
    PeerLock taken = lockFile(lockFileOf(file), file, start, process);
    if (taken.fd < 0) releaseFolder(folder);
    return taken;
}

// The peer locks this process holds, by file, with how many holders nest in each. Guarded by
// the process lock.
std::map<fs::path, PeerLock>& peerLocks() {
    static auto* const held = new std::map<fs::path, PeerLock>;
    return *held;
}

// Called under a WriteLock on `file`: throws when it was refused, so nothing is written unlocked.
void requirePeerLock(const fs::path& file) {
    const auto held = peerLocks().find(file);
    if (held == peerLocks().end() || held->second.refusal.empty()) return;
    throw std::system_error(held->second.error, std::generic_category(), held->second.refusal);
}

// Temporary files are "." + name + ".brisalune-staged-" + six letters or digits, as mkostemp
// makes them: the marker is one no person would give a file of their own, so the sweep below
// removes nothing but what this store made. Unmarked ones left by older versions stay: a
// leftover is harmless, a person's file deleted is not.
std::string tempPrefix(const fs::path& file) { return "." + file.filename().string() + ".brisalune-staged-"; }

bool isOwnTempName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

// A write takes far less than this; an older temporary file was left by a killed writer, while
// a younger one may belong to an older version that wrote past a peer it took for hung.
constexpr std::chrono::minutes tempFileAge{1};

// The temporary files a killed write left beside the file: regular files of exactly the store's
// own pattern, in the file's own folder, old enough to be nobody's. Never throws.
std::vector<fs::path> leftTempFiles(const fs::path& file) {
    const std::string prefix = tempPrefix(file);
    std::vector<fs::path> left;
    std::error_code error;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folderOf(file), error), end; !error && it != end; it.increment(error)) {
        if (!isOwnTempName(it->path().filename().string(), prefix)) continue;
        std::error_code ignored;
        if (!it->is_regular_file(ignored) || it->is_symlink(ignored)) continue;
        const auto modified = fs::last_write_time(it->path(), ignored);
        if (ignored || now - modified < tempFileAge) continue;
        left.push_back(it->path());
    }
    return left;
}

// The places a store's writes stage their files: beside the file, and beside where its link leads.
std::vector<fs::path> stagingPlaces(const fs::path& file) {
    try {
        if (const fs::path target = linkTarget(file); target != file) return {file, target};
    } catch (const std::system_error&) {
        // links that lead nowhere: their writes fail, and leave nothing to sweep
    }
    return {file};
}

// Whether a write of this thread holds the file's lock against peers.
bool holdsPeerLock(const fs::path& file) {
    const auto held = peerLocks().find(file);
    return held != peerLocks().end() && held->second.depth > 0 && held->second.fd >= 0;
}

// The file's lock against peers, held while it lives if it was free at its making.
class LockIfFree {
public:
    explicit LockIfFree(const fs::path& file) {
        const std::variant<int, PeerLock> opened = openLockFile(lockFileOf(file));
        const int* fd = std::get_if<int>(&opened);
        if (!fd) return;
        if (ownFlocks().take(*fd)) {
            fd_ = *fd;
        } else {
            ::close(*fd);
        }
    }
    ~LockIfFree() {
        if (fd_ >= 0) ownFlocks().release(fd_);
    }
    LockIfFree(const LockIfFree&) = delete;
    LockIfFree& operator=(const LockIfFree&) = delete;

    bool taken() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Removes what a killed write left, once per file and process, under the lock; while a peer holds
// it, a later opening tries again.
void sweepOnce(const fs::path& file) {
    static std::set<fs::path> swept;
    std::lock_guard lock(Defaults::processLock());
    if (swept.contains(file)) return;
    const std::vector<fs::path> places = stagingPlaces(file);
    if (std::ranges::all_of(places, [](const fs::path& place) { return leftTempFiles(place).empty(); })) {
        swept.insert(file);
        return;
    }
    // A writer stages its file only under the lock: under it, no live writer's file is swept.
    const bool ours = holdsPeerLock(file);
    std::optional<LockIfFree> taken;
    if (!ours && !taken.emplace(file).taken()) return;
    for (const fs::path& place : places) {
        for (const fs::path& left : leftTempFiles(place)) {
            std::error_code ignored;
            fs::remove(left, ignored);
        }
    }
    swept.insert(file);
}

void makeFolder(const fs::path& folder) {
    struct stat info {};
    if (folder.empty() || ::stat(folder.c_str(), &info) == 0) return;  // a non-folder fails later
    if (errno != ENOENT) fail("cannot inspect", folder);
    if (folder.has_parent_path() && folder.parent_path() != folder) makeFolder(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) fail("cannot create folder", folder);
}

void writeAll(int fd, std::string_view text, const fs::path& path) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot write", path);
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

// Makes a rename in the folder durable. A folder that may be written but not read cannot be
// opened to be synced: its whole file system is, through the file just put there.
void syncFolder(const fs::path& folder, const fs::path& file) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 && errno == EACCES) {
        const Descriptor written(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        if (written.get() < 0 || ::syncfs(written.get()) != 0) fail("cannot sync folder", folder);
        return;
    }
    if (fd.get() < 0) fail("cannot open folder", folder);
    // Some file systems cannot sync a folder (EINVAL); the rename itself has happened.
    if (::fsync(fd.get()) != 0 && errno != EINVAL) fail("cannot sync folder", folder);
}

std::string serialize(const json::Object& members) {
    try {
        return json::write(json::Value{members}, json::Style::prettySorted) + "\n";
    } catch (const json::EncodeError& error) {
        throw std::invalid_argument(std::string("defaults cannot hold this value: ") + error.what());
    }
}

// Refuses a text the store could not read back, before anything on disk changes.
void checkSize(const std::string& text, const fs::path& file) {
    if (text.size() > maxFileSize)
        throw std::length_error(
            "the user defaults would grow past 16 MiB, more than can be read back: " + file.string());
}

// The new text of a file, written and synced to a temporary file beside it before anything at
// the file's place changes, so that a full or failing disk fails the write with the old file
// whole. Removed unless it replaces the file.
class StagedFile {
public:
    StagedFile(const fs::path& file, const std::string& text)
        : file_(file), temp_((folderOf(file) / (tempPrefix(file) + "XXXXXX")).string()) {
        Descriptor fd(::mkostemp(temp_.data(), O_CLOEXEC));  // 0600, created exclusively
        if (fd.get() < 0) fail("cannot create temporary file in", folderOf(file));
        try {
            writeAll(fd.get(), text, temp_);
            if (::fsync(fd.get()) != 0) fail("cannot sync", temp_);
            if (fd.close() != 0) fail("cannot close", temp_);
        } catch (...) {
            ::unlink(temp_.c_str());
            throw;
        }
        staged_ = true;
    }
    ~StagedFile() {
        if (staged_) ::unlink(temp_.c_str());
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Replaces the file, so that a crash leaves either the old file or the new one. A failure to
    // make the replace durable still throws, though the new text is in place then.
    void commit() {
        if (::rename(temp_.c_str(), file_.c_str()) != 0) fail("cannot replace", file_);
        staged_ = false;
        syncFolder(folderOf(file_), file_);
    }

private:
    fs::path file_;
    std::string temp_;
    bool staged_ = false;
};

// What a write leaves at `target`, where the file or its link leads: the unreadable file moved
// aside, then the members in its place. A text too large to be read back changes nothing, nor
// does a text the disk cannot take.
void writeMembers(const fs::path& file, const fs::path& target, const WriteBase& base) {
    const std::string text = serialize(base.members);
    checkSize(text, file);
    makeFolder(folderOf(file));  // never the folder a link leads to: that may be a disk not mounted
    StagedFile staged(target, text);
    if (base.moveAside) moveAside(target);
    staged.commit();
}

std::optional<fs::path> homeFolder() {
    // A relative home would put the file wherever the app was started from.
    if (const char* home = std::getenv("HOME"); home && *home == '/') return fs::path(home);
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return fs::path(found->pw_dir);
    return std::nullopt;
}

}  // namespace

Defaults::Defaults(std::filesystem::path file) : file_(std::move(file)) { sweepOnce(file_); }

std::filesystem::path Defaults::standardFile() {
    // Relative XDG paths are invalid and ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return fs::path(config) / "brisalune" / "defaults.json";
    if (const auto home = homeFolder()) return *home / ".config" / "brisalune" / "defaults.json";
    throw std::runtime_error("no home folder for the user defaults");
}

Defaults& Defaults::standard() {
    static auto* const instance = new Defaults(standardFile());  // never destroyed, as stoppedPeers()
    return *instance;
}

std::recursive_mutex& Defaults::processLock() {
    static auto* const lock = new std::recursive_mutex;  // never destroyed, as stoppedPeers()
    return *lock;
}

bool Defaults::heldByAnotherProgram() const {
    // The folder too: a peer whose lock file a clean-up removed still holds off every write there.
    const Descriptor lock(::open(lockFileOf(file_).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    const Descriptor folder(openPrivateFolder(folderOf(file_)));
    return ownFlocks().heldElsewhere(lock.get()) || ownFlocks().heldElsewhere(folder.get());
}

Defaults::PeerLockPatience::PeerLockPatience(std::chrono::milliseconds patience)
    : before_(std::exchange(threadPeerLockPatience, patience)) {}

Defaults::PeerLockPatience::~PeerLockPatience() { threadPeerLockPatience = before_; }

Defaults::PeerWaitsEnd::PeerWaitsEnd(std::chrono::milliseconds within) {
    writesCutByEnd = 0;
    peerWaitsEndAt = (std::chrono::steady_clock::now() + within).time_since_epoch().count();
}

Defaults::PeerWaitsEnd::~PeerWaitsEnd() { peerWaitsEndAt = noEnd; }

int Defaults::PeerWaitsEnd::writesCut() const { return writesCutByEnd.load(); }

Defaults::WriteLock::WriteLock(const std::filesystem::path& file) : process_(processLock()), file_(file) {
    if (const auto held = peerLocks().find(file_); held != peerLocks().end() && held->second.depth > 0) {
        ++held->second.depth;  // nested: this thread holds it (another would hold the process lock)
        return;
    }
    PeerLock taken = lockAgainstPeers(file_, process_);
    taken.depth = 1;
    peerLocks()[file_] = std::move(taken);
}

Defaults::WriteLock::~WriteLock() {
    const auto found = peerLocks().find(file_);
    if (found == peerLocks().end() || --found->second.depth > 0) return;
    if (found->second.fd >= 0) {
        if (found->second.recorded) clearHolder(found->second.fd);
        ownFlocks().release(found->second.fd);
        releaseFolder(folderOf(file_));
    }
    peerLocks().erase(found);
}

std::optional<DefaultsValue> Defaults::value(std::string_view key) const {
    std::lock_guard lock(processLock());
    const json::Object members = loadMembersOrEmpty(file_);
    const auto found = members.find(key);
    if (found == members.end()) return std::nullopt;
    return decode(found->second);
}

std::vector<std::string> Defaults::keys() const {
    std::lock_guard lock(processLock());
    std::vector<std::string> out;
    for (const auto& member : loadMembersOrEmpty(file_)) out.push_back(member.first);
    return out;
}

template <class T>
std::optional<T> Defaults::typed(std::string_view key) const {
    auto found = value(key);
    if (!found || !found->is<T>()) return std::nullopt;
    return std::get<T>(std::move(found->data));
}

std::optional<std::string> Defaults::string(std::string_view key) const { return typed<std::string>(key); }
std::optional<std::int64_t> Defaults::integer(std::string_view key) const { return typed<std::int64_t>(key); }
std::optional<double> Defaults::number(std::string_view key) const { return typed<double>(key); }
std::optional<bool> Defaults::boolean(std::string_view key) const { return typed<bool>(key); }
std::optional<Bytes> Defaults::bytes(std::string_view key) const { return typed<Bytes>(key); }
std::optional<std::chrono::sys_seconds> Defaults::date(std::string_view key) const {
    return typed<std::chrono::sys_seconds>(key);
}

void Defaults::set(std::string_view key, DefaultsValue value) {
    json::Value encoded = encode(value, 0);
    WriteLock lock(file_);
    requirePeerLock(file_);
    const fs::path target = linkTarget(file_);
    WriteBase base = loadForWrite(target);
    base.members.insert_or_assign(std::string(key), std::move(encoded));
    writeMembers(file_, target, base);
}

void Defaults::remove(std::string_view key) {
    // A key that is not there is not waited for: clearing nothing never waits on another program
    // that holds the file (a removal is all the start-up and the sign-out write, most often).
    if (!value(key)) return;
    WriteLock lock(file_);
    requirePeerLock(file_);
    const fs::path target = linkTarget(file_);
    WriteBase base = loadForWrite(target);
    const auto found = base.members.find(key);
    if (found == base.members.end()) return;
    base.members.erase(found);
    writeMembers(file_, target, base);
}

}  // namespace brisalune::platform
