#include <support/session_bus.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace brisalune::testkit {

const char* sessionBusConfig() { return BRISALUNE_SESSION_BUS_CONFIG; }

PrivateBus::PrivateBus() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for dbus-daemon");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);  // its fd limit warning
    std::string program = "dbus-daemon";
    std::string config = std::string("--config-file=") + sessionBusConfig();
    std::string nofork = "--nofork";
    std::string print = "--print-address=1";
    char* arguments[] = {program.data(), config.data(), nofork.data(), print.data(), nullptr};
    const int failed = ::posix_spawnp(&daemon_, program.c_str(), &actions, nullptr, arguments, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    char c = 0;
    while (!failed && ::read(out[0], &c, 1) == 1 && c != '\n') address_ += c;
    ::close(out[0]);
    if (failed) throw std::runtime_error("dbus-daemon did not start");
    if (address_.empty()) {
        ::kill(daemon_, SIGKILL);
        ::waitpid(daemon_, nullptr, 0);
        throw std::runtime_error("dbus-daemon gave no address");
    }
}

PrivateBus::~PrivateBus() {
    if (disconnect_) disconnect_();
    ::kill(daemon_, SIGTERM);
    ::waitpid(daemon_, nullptr, 0);
}

void PrivateBus::makeSessionBus() const { ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1); }

}  // namespace brisalune::testkit
