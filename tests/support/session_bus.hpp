#pragma once

#include <functional>
#include <string>

#include <sys/types.h>

class QDBusConnection;

namespace brisalune::testkit {

// The configuration file of every private D-Bus session a test starts (dbus-daemon
// --config-file): no service folders, so only the services the test starts itself answer on it,
// never a daemon the machine has installed.
const char* sessionBusConfig();

// A D-Bus session bus of the test's own, with that configuration, gone with the object (and what
// runs on it with it). A dbus-daemon that cannot start throws.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const noexcept { return address_; }
    // This process's session bus from now on, and its children's: for a process that has not
    // reached the session bus yet.
    void makeSessionBus() const;
    // This process's Qt connection to it, made on first use; defined by support/notification_daemon.hpp.
    QDBusConnection connection() const;

private:
    std::string address_;
    pid_t daemon_ = 0;
    mutable std::function<void()> disconnect_;  // what connection() made
};

}  // namespace brisalune::testkit
