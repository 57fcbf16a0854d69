#pragma once

// A loopback port that passes every connection through to another loopback port, byte for
// byte in both directions: how the demo's stand-in servers, whose ports the kernel chooses,
// are reached at the fixed ports a demo build of the app points at.

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace brisalune::demo {

class PortRelay {
public:
    // Listens on 127.0.0.1:`port` (0: a port the kernel chooses). Throws std::system_error when
    // the port cannot be had.
    PortRelay(int port, int targetPort);
    // Stops at once: open connections are cut.
    ~PortRelay();
    PortRelay(const PortRelay&) = delete;
    PortRelay& operator=(const PortRelay&) = delete;

    [[nodiscard]] int port() const noexcept { return port_; }

private:
    struct Connection {
        int client = -1;
        int upstream = -1;
        std::atomic<bool> done = false;
        std::thread thread;
    };

    void acceptLoop();
    void connect(int client);
    void relay(Connection& connection) const;
    void reap();

    int listener_ = -1;
    int stop_ = -1;  // an eventfd, readable once stopping
    int port_ = 0;
    int target_ = 0;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::thread acceptor_;
};

}  // namespace brisalune::demo
