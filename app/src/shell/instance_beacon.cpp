#include <brisalune/app/shell/instance_beacon.hpp>

#include <QSocketNotifier>
#include <QtGlobal>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace brisalune {

namespace fs = std::filesystem;

namespace {

// The socket's address; none when the path does not fit one (a very deep config folder).
std::optional<sockaddr_un> addressOf(const fs::path& file) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& path = file.native();
    if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

}  // namespace

fs::path InstanceBeacon::fileFor(const fs::path& lockFile) {
    fs::path file = lockFile;
    return file.replace_extension(".socket");
}

InstanceBeacon::InstanceBeacon(const fs::path& file, QObject* parent) : QObject(parent), file_(file) {
    const std::optional<sockaddr_un> address = addressOf(file);
    if (!address) {
        qWarning("instance beacon: the path is too long for a socket: %s", file.c_str());
        return;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    // Whatever is at the name was left by an earlier holder of the lock, which this process holds.
    ::unlink(file.c_str());
    const mode_t previous = ::umask(0177);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
    ::umask(previous);
    if (!bound || ::listen(fd, 8) != 0) {
        qWarning("instance beacon: cannot listen at %s: %s", file.c_str(), std::strerror(errno));
        ::close(fd);
        return;
    }
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &InstanceBeacon::answer);
}

InstanceBeacon::~InstanceBeacon() {
    if (fd_ < 0) return;
    delete notifier_;  // before its descriptor goes
    ::close(fd_);
    ::unlink(file_.c_str());
}

void InstanceBeacon::answer() {
    bool rang = false;
    for (;;) {
        const int caller = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (caller < 0) {
            if (errno == EINTR) continue;
            break;  // none left waiting
        }
        ::close(caller);
        rang = true;
    }
    // Several starts at once bring the window up once.
    if (rang) Q_EMIT rung();
}

bool InstanceBeacon::ring(const fs::path& file) {
    const std::optional<sockaddr_un> address = addressOf(file);
    if (!address) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int connected = 0;
    do {
        connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
    } while (connected != 0 && errno == EINTR);
    ::close(fd);
    return connected == 0;
}

}  // namespace brisalune
