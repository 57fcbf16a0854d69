#pragma once

// A keyring that does not answer: the private D-Bus session's Secret Service (gnome-keyring, see
// scripts/with-keyring) held with SIGSTOP, so that every keychain call waits for it; and a timer
// on the main thread whose ticks show that the event loop runs meanwhile.
//
// Stop it only for as long as a test needs. A case that stops it has "Keyring" in its name: ctest
// then runs it alone, so no other case waits on the stopped daemon.

#include <support/qt_application.hpp>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QTimer>

#include <signal.h>
#include <sys/types.h>

#include <stdexcept>

namespace brisalune::testkit {

class StoppedKeyring {
public:
    StoppedKeyring() : pid_(ownerOfSecretService()) {
        if (::kill(pid_, SIGSTOP) != 0) throw std::runtime_error("the keyring could not be stopped");
    }
    ~StoppedKeyring() { resume(); }
    StoppedKeyring(const StoppedKeyring&) = delete;
    StoppedKeyring& operator=(const StoppedKeyring&) = delete;

    void resume() {
        if (pid_ > 0) ::kill(pid_, SIGCONT);
        pid_ = 0;
    }

private:
    static pid_t ownerOfSecretService() {
        const auto pid = QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.secrets"));
        if (!pid.isValid() || pid.value() == 0) throw std::runtime_error("no Secret Service on the session bus");
        return static_cast<pid_t>(pid.value());
    }

    pid_t pid_;
};

class Ticker {
public:
    Ticker() {
        coreApplication();
        QObject::connect(&timer_, &QTimer::timeout, [this] { ++ticks_; });
        timer_.start(1);
    }

    // Runs the event loop until the timer ticked `more` times from now and `also` holds; false
    // when that did not happen within a generous limit.
    template <class F>
    bool runUntil(int more, F also) {
        const int target = ticks_ + more;
        return processEventsUntil([&] { return ticks_ >= target && also(); });
    }
    bool runFor(int more) {
        return runUntil(more, [] { return true; });
    }

private:
    QTimer timer_;
    int ticks_ = 0;
};

}  // namespace brisalune::testkit
