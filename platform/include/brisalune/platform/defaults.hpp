#pragma once

// User defaults: typed values under string keys, kept in one JSON file.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace brisalune::platform {

using Bytes = std::vector<std::uint8_t>;

// One stored value. A date is a std::chrono::sys_seconds; integers and doubles stay distinct.
struct DefaultsValue {
    using List = std::vector<DefaultsValue>;
    using Map = std::map<std::string, DefaultsValue, std::less<>>;
    using Data = std::variant<bool, std::int64_t, double, std::string, Bytes, std::chrono::sys_seconds, List, Map>;

    Data data = false;

    DefaultsValue() = default;
    template <class T>
    requires std::is_constructible_v<Data, T&&> DefaultsValue(T&& v)
        : data(std::forward<T>(v)) {}  // NOLINT: implicit on purpose, like a literal
    DefaultsValue(int v) : data(std::int64_t{v}) {}
    DefaultsValue(const char* v) : data(std::string(v)) {}
    DefaultsValue(std::string_view v) : data(std::string(v)) {}

    template <class T>
    bool is() const {
        return std::holds_alternative<T>(data);
    }
    template <class T>
    const T* get() const {
        return std::get_if<T>(&data);
    }

    friend bool operator==(const DefaultsValue&, const DefaultsValue&) = default;
};

// Every instance reads and writes its file directly, so instances on one file never disagree.
// In the file each key maps to a tagged value ({"integer": 3}, {"bytes": "<base64>"}, ...).
// A missing, unreadable, oversized or corrupt file reads as empty; a member that does not decode
// reads as absent and is kept as it stands by every write. What the store cannot read is never
// written over: the next write first moves it aside to "<file>.damaged" (".damaged.2", ... when
// that is taken). The first instance on a file in a process removes the temporary files that a
// killed write left beside it, under the write lock (while another program holds that, a later
// instance does). A symbolic link in the file's place stays: writes replace the file
// it leads to (created there when missing, in a folder that must exist); only a link to what is
// not a file (a device, a pipe) is replaced itself.
class Defaults {
public:
    explicit Defaults(std::filesystem::path file);

    // `$XDG_CONFIG_HOME/brisalune/defaults.json`, else `$HOME/.config/brisalune/defaults.json`;
    // either is ignored unless absolute, and without HOME the user's home folder is the system's
    // account entry. Throws std::runtime_error when there is none.
    static Defaults& standard();
    static std::filesystem::path standardFile();

    const std::filesystem::path& file() const { return file_; }

    // Reads give nullopt for an absent key and for a value of another type.
    std::optional<DefaultsValue> value(std::string_view key) const;
    // Every key in the file, in order, whatever its value.
    std::vector<std::string> keys() const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<double> number(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<Bytes> bytes(std::string_view key) const;
    std::optional<std::chrono::sys_seconds> date(std::string_view key) const;

    // Writes replace the file atomically (temp file, fsync, rename, fsync of the folder); a
    // folder they create is private (0700). Throw std::system_error when the file cannot be
    // written or what stands in its place cannot be moved aside, std::invalid_argument for a
    // value the file cannot hold (invalid UTF-8, a non-finite double, too deep nesting),
    // std::out_of_range for a date outside years 0000-9999 and std::length_error when the file
    // would grow past what the store reads back (16 MiB); the file is unchanged then, on a full or
    // failing disk too, but for one case: when the replace could not be made durable (the folder
    // could not be synced), it throws with the new file in place.
    void set(std::string_view key, DefaultsValue value);
    // Removing a key that is not there writes nothing, and takes no write lock.
    void remove(std::string_view key);

    // Another program holds the file's write lock now, its lock file (shared or exclusive) or its
    // folder, so this process's writes wait for it; false when none does, or only this process.
    // Never waits, not even for processLock(), and asks about this file alone: cheap enough for
    // the UI thread.
    bool heldByAnotherProgram() const;

    // One lock for every Defaults instance of the process; stores that read-modify-write hold it.
    static std::recursive_mutex& processLock();

    // Holds off the writers of other processes on the file (another instance of the app on the
    // same home folder) while it lives, by a lock on ".<name>.lock" beside the file, and this
    // process's other threads too (it holds processLock()). Every write takes it; a store whose
    // read-modify-write spans several calls holds one across them. Nests within a process. While
    // it waits for a peer, it lets go of processLock() between tries. The lock file it holds is
    // the one at its place once taken: one removed or replaced meanwhile is taken again. It holds
    // the file's folder too (when only this user may open it), so that a lock file removed while a
    // write of this store holds it (a clean-up, a sync tool) lets no other such write in before it
    // ends; the writes of one process share that, whichever of its files they write, and another
    // process's writes of any file in that folder wait for it. No write goes past a peer
    // that holds the lock: a peer that runs is waited for, however slow its disk (up to minutes);
    // one that is stopped (a signal, a debugger) for seconds is not coming back by itself. When
    // the wait ends so, the lock is refused rather than passed, and every write under it throws
    // std::system_error saying why; so it is when the lock file cannot be opened or is not a plain
    // file of this user (a link, a folder, a file left by a run under sudo). A lock file that is a
    // second name of another file (a hard link) is locked through but never written, so that file
    // stays whole. A holder is known by the process it records in the lock file while it holds it
    // ("<pid> <pid namespace>", cleared as it lets go, never written through a second name), and
    // counted only while that process holds the lock waited for (the lock file's, or the
    // folder's), not merely has the file open: one that records none (an older version, flock(1)),
    // or finds a record left by a writer killed holding it, is waited for as one that runs,
    // unnamed. The constructor itself never throws.
    class WriteLock {
    public:
        explicit WriteLock(const std::filesystem::path& file);
        ~WriteLock();
        WriteLock(const WriteLock&) = delete;
        WriteLock& operator=(const WriteLock&) = delete;

    private:
        std::unique_lock<std::recursive_mutex> process_;
        std::filesystem::path file_;
    };

    // How long the writes of the constructing thread wait for another program's lock before they
    // fail, while it lives (`standard` otherwise). A thread that must not stall, the UI's, sets a
    // short one: a sound holder keeps the lock for milliseconds, and a write that cannot wait is
    // better failed and told than made past the holder.
    class PeerLockPatience {
    public:
        static constexpr std::chrono::milliseconds standard = std::chrono::minutes(2);

        explicit PeerLockPatience(std::chrono::milliseconds patience);
        ~PeerLockPatience();
        PeerLockPatience(const PeerLockPatience&) = delete;
        PeerLockPatience& operator=(const PeerLockPatience&) = delete;

    private:
        std::chrono::milliseconds before_;
    };

    // While one lives, the writes of every thread wait for another program's lock until `within`
    // after its making at most, then fail: at the end of the process, so that a pending write
    // either lands under the lock or fails and is counted, rather than be cut off by the exit.
    // One at a time.
    class PeerWaitsEnd {
    public:
        explicit PeerWaitsEnd(std::chrono::milliseconds within);
        ~PeerWaitsEnd();
        PeerWaitsEnd(const PeerWaitsEnd&) = delete;
        PeerWaitsEnd& operator=(const PeerWaitsEnd&) = delete;

        // How many writes failed for its end.
        int writesCut() const;
    };

private:
    template <class T>
    std::optional<T> typed(std::string_view key) const;

    std::filesystem::path file_;
};

}  // namespace brisalune::platform
