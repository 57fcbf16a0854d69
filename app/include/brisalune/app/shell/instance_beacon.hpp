#pragma once

// The running app's doorbell: a start that finds the instance lock taken rings it, and the running
// app brings its window up, so that starting the app again from a launcher shows it instead of
// ending unseen. The bell is a Unix socket beside the lock file; a connection is the ring, nothing
// is read from it. Only the lock's holder listens, so a socket left by a killed holder is replaced.

#include <QObject>

#include <filesystem>

class QSocketNotifier;

namespace brisalune {

class InstanceBeacon final : public QObject {
    Q_OBJECT

public:
    // "brisalune.lock" rings at "brisalune.socket" in the same folder.
    static std::filesystem::path fileFor(const std::filesystem::path& lockFile);

    // Listens at `file`, readable and writable by this user only. Call it while holding the
    // instance lock. A socket that cannot be made leaves the beacon deaf (see `listening`): the app
    // runs on, and a later start says it is already running.
    explicit InstanceBeacon(const std::filesystem::path& file, QObject* parent = nullptr);
    ~InstanceBeacon() override;

    bool listening() const noexcept { return fd_ >= 0; }

    // Rings the beacon at `file`; false when nothing listens there. Never waits on the listener.
    static bool ring(const std::filesystem::path& file);

Q_SIGNALS:
    void rung();

private:
    void answer();

    std::filesystem::path file_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace brisalune
