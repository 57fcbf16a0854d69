#include <brisalune/demo/port_relay.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>

namespace brisalune::demo {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

const sockaddr* raw(const sockaddr_in& address) { return reinterpret_cast<const sockaddr*>(&address); }

void closeQuietly(int fd) {
    if (fd >= 0) ::close(fd);
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Moves what `from` has to `to`; at its end of stream, passes the end on. False on a failure.
bool pass(int from, int to, bool& open) {
    std::array<char, 16 * 1024> buffer;
    ssize_t got = 0;
    do {
        got = ::recv(from, buffer.data(), buffer.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return false;
    if (got == 0) {
        open = false;
        ::shutdown(to, SHUT_WR);
        return true;
    }
    return sendAll(to, buffer.data(), static_cast<std::size_t>(got));
}

}  // namespace

PortRelay::PortRelay(int port, int targetPort)
    : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    , stop_(::eventfd(0, EFD_CLOEXEC))
    , target_(targetPort) {
    const int yes = 1;
    const auto address = loopback(port);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (listener_ < 0 || stop_ < 0 || ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(listener_, raw(address), sizeof address) != 0 || ::listen(listener_, SOMAXCONN) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        const int error = errno;
        closeQuietly(listener_);
        closeQuietly(stop_);
        throw std::system_error(error, std::generic_category(), "cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    port_ = ntohs(bound.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

PortRelay::~PortRelay() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stop_, &one, sizeof one);
    acceptor_.join();
    std::lock_guard lock(mutex_);
    for (auto& connection : connections_) {  // wakes a relay stuck on a peer that stopped reading
        ::shutdown(connection->client, SHUT_RDWR);
        ::shutdown(connection->upstream, SHUT_RDWR);
    }
    for (auto& connection : connections_) {
        connection->thread.join();
        closeQuietly(connection->client);
        closeQuietly(connection->upstream);
    }
    ::close(listener_);
    ::close(stop_);
}

void PortRelay::acceptLoop() {
    for (;;) {
        std::array<pollfd, 2> fds{{{listener_, POLLIN, 0}, {stop_, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) connect(client);
    }
}

void PortRelay::connect(int client) {
    const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto address = loopback(target_);
    if (upstream < 0 || ::connect(upstream, raw(address), sizeof address) != 0) {
        closeQuietly(upstream);
        ::close(client);
        return;
    }
    const int yes = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ::setsockopt(upstream, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::lock_guard lock(mutex_);
    reap();
    auto& connection = *connections_.emplace_back(std::make_unique<Connection>());
    connection.client = client;
    connection.upstream = upstream;
    connection.thread = std::thread([this, &connection] {
        relay(connection);
        // Both peers learn at once that the other side is gone; the sockets close when reaped.
        ::shutdown(connection.client, SHUT_RDWR);
        ::shutdown(connection.upstream, SHUT_RDWR);
        connection.done = true;
    });
}

void PortRelay::relay(Connection& connection) const {
    bool fromClient = true;
    bool fromUpstream = true;
    while (fromClient || fromUpstream) {
        std::array<pollfd, 3> fds{{{fromClient ? connection.client : -1, POLLIN, 0},
                                   {fromUpstream ? connection.upstream : -1, POLLIN, 0},
                                   {stop_, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[2].revents != 0) return;
        if (fds[0].revents != 0 && !pass(connection.client, connection.upstream, fromClient)) return;
        if (fds[1].revents != 0 && !pass(connection.upstream, connection.client, fromUpstream)) return;
    }
}

void PortRelay::reap() {
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& connection) {
        if (!connection->done) return false;
        connection->thread.join();
        ::close(connection->client);
        ::close(connection->upstream);
        return true;
    });
}

}  // namespace brisalune::demo
