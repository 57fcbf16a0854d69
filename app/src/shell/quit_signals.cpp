#include <brisalune/app/shell/quit_signals.hpp>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace brisalune {
namespace {

constexpr std::array quitSignals{SIGTERM, SIGINT, SIGHUP};

std::array<int, 2> pipeEnds{-1, -1};  // read, write
// Signals that come together (systemd's SIGTERM then SIGHUP, a terminal's two hang-ups) are one
// quit: only once its clear-up has ended may a later one end the program at once.
std::atomic<bool> clearedUp = false;
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

void onSignal(int number) {
    if (clearedUp) ::_exit(128 + number);
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

}  // namespace

void QuitSignals::install() {
    if (::pipe2(pipeEnds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot make the pipe for quit signals");
    struct sigaction caught {};
    caught.sa_handler = onSignal;
    caught.sa_flags = SA_RESTART;
    sigemptyset(&caught.sa_mask);
    for (const int number : quitSignals) sigaddset(&caught.sa_mask, number);
    for (const int number : quitSignals) {
        struct sigaction was {};
        if (::sigaction(number, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        ::sigaction(number, &caught, nullptr);
    }
}

void QuitSignals::quitOn(QCoreApplication& application) {
    auto* notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [notifier] {
        unsigned char number = 0;
        if (::read(pipeEnds[0], &number, 1) != 1) return;
        notifier->setEnabled(false);
        QCoreApplication::exit(128 + number);
    });
}

void QuitSignals::clearUpEnded() { clearedUp = true; }

}  // namespace brisalune
