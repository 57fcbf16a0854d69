#include <brisalune/standin/server.hpp>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

namespace brisalune::standin {

namespace {

constexpr std::chrono::milliseconds readTimeout{5000};
constexpr std::chrono::milliseconds writeTimeout{5000};
constexpr std::chrono::milliseconds keepAliveIdle{60000};
constexpr std::size_t keepAliveRequests = 100000;
constexpr std::size_t largestUnexpectedBody = 64 * 1024 * 1024;
constexpr std::size_t chunkSize = 16 * 1024;

bool sameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// --- one connection's socket, which stops short once the server stops ------

class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}

    // Ready for `events` within `limit`, and the server is not stopping.
    [[nodiscard]] bool wait(short events, std::chrono::milliseconds limit) const {
        std::array<pollfd, 2> fds{{{fd_, events, 0}, {stopFd_, POLLIN, 0}}};
        int ready = 0;
        do {
            ready = ::poll(fds.data(), fds.size(), static_cast<int>(limit.count()));
        } while (ready < 0 && errno == EINTR);
        return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }

    bool is_readable() const override { return next_ < end_ || wait(POLLIN, readTimeout); }
    bool is_writable() const override { return wait(POLLOUT, writeTimeout); }

    ssize_t read(char* data, size_t size) override {
        if (next_ == end_) {
            if (!wait(POLLIN, readTimeout)) {
                return -1;
            }
            const ssize_t got = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
            if (got <= 0) {
                return got;
            }
            next_ = 0;
            end_ = static_cast<std::size_t>(got);
        }
        const std::size_t count = std::min(size, end_ - next_);
        std::memcpy(data, buffer_.data() + next_, count);
        if (capture_ != nullptr) {
            capture_->append(data, count);
        }
        next_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* data, size_t size) override {
        if (!wait(POLLOUT, writeTimeout)) {
            return -1;
        }
        return ::send(fd_, data, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { describe(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { describe(::getsockname, ip, port); }
    socket_t socket() const override { return fd_; }

    // Copies what the library reads into `target` until called with nullptr.
    void capture(std::string* target) { capture_ = target; }

    // Reads exactly `size` bytes; false when the peer stops sending first.
    bool readExactly(std::string& out, std::size_t size) {
        out.resize(size);
        for (std::size_t done = 0; done < size;) {
            const ssize_t got = read(out.data() + done, size - done);
            if (got <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    using AddressQuery = int (*)(int, sockaddr*, socklen_t*);

    void describe(AddressQuery query, std::string& ip, int& port) const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        std::array<char, INET_ADDRSTRLEN> text{};
        if (query(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            ::inet_ntop(AF_INET, &address.sin_addr, text.data(), text.size()) != nullptr) {
            ip = text.data();
            port = ntohs(address.sin_port);
        }
    }

    int fd_;
    int stopFd_;
    std::array<char, 16 * 1024> buffer_{};
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    std::string* capture_ = nullptr;
};

// --- what arrived, before the HTTP library adds or drops anything -----------

struct Arrival {
    std::string head;
    HeaderFields headers;
    std::optional<std::string> body;  // a body the library would not read (GET with Content-Length)
    int remotePort = 0;
};

thread_local Arrival* currentArrival = nullptr;
thread_local ConnectionStream* currentStream = nullptr;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The fields of a request head, in order and spelled as sent (the library
// drops empty values and sorts the rest).
HeaderFields parseHead(std::string_view head) {
    HeaderFields fields;
    bool requestLine = true;
    while (!head.empty()) {
        const auto end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (std::exchange(requestLine, false)) {
            continue;
        }
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            fields.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
        }
    }
    return fields;
}

std::optional<std::size_t> contentLength(const httplib::Request& request) {
    if (!request.has_header("Content-Length")) {
        return std::nullopt;
    }
    const std::string text = request.get_header_value("Content-Length");
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return length;
}

bool libraryReadsBody(const std::string& method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE" || method == "PRI";
}

// Runs after the head is parsed and before routing.
void takeArrival(httplib::Request& request, ConnectionStream& stream, Arrival& arrival) {
    stream.capture(nullptr);
    arrival.headers = parseHead(arrival.head);
    arrival.remotePort = request.remote_port;
    const auto length = contentLength(request);
    if (!libraryReadsBody(request.method)) {
        std::string body;
        if (length && *length > 0 && *length <= largestUnexpectedBody && stream.readExactly(body, *length)) {
            arrival.body = std::move(body);
        }
        return;
    }
    // Without a length the library would read until the peer closes.
    if (!length && !request.has_header("Transfer-Encoding")) {
        request.headers.emplace("Content-Length", "0");
    }
}

// --- one thread per connection, so held requests never starve others -------

class ThreadPerConnection final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> job) override {
        std::lock_guard lock(mutex_);
        joinFinished();
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back(
            {std::thread([job = std::move(job), done] {
                 job();
                 *done = true;
             }),
             done});
    }

    void shutdown() override {
        std::vector<Worker> all;
        {
            std::lock_guard lock(mutex_);
            all.swap(workers_);
        }
        for (auto& worker : all) {
            worker.thread.join();
        }
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void joinFinished() {
        std::erase_if(workers_, [](Worker& worker) {
            if (!*worker.done) {
                return false;
            }
            worker.thread.join();
            return true;
        });
    }

    std::mutex mutex_;
    std::vector<Worker> workers_;
};

// The HTTP library's server with our own connection loop: it sees the raw
// stream, and it ends idle keep-alive connections the moment we stop.
class Listener final : public httplib::Server {
public:
    explicit Listener(int stopFd) : stopFd_(stopFd) {
        set_tcp_nodelay(true);
        // Not the library's SO_REUSEPORT: a second server on a port one already holds must fail,
        // not take half its connections. SO_REUSEADDR only lets a port just let go be had again.
        set_socket_options([](socket_t sock) {
            const int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        // Only what the Keep-Alive answer field announces: our own loop keeps connections.
        set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(keepAliveIdle).count());
        set_keep_alive_max_count(keepAliveRequests);
        new_task_queue = [] { return new ThreadPerConnection; };
    }

private:
    bool process_and_close_socket(socket_t sock) override {
        {
            ConnectionStream stream(sock, stopFd_);
            for (std::size_t served = 1; served <= keepAliveRequests; ++served) {
                if (!stream.wait(POLLIN, keepAliveIdle) || !serveOne(stream, served == keepAliveRequests)) {
                    break;
                }
            }
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return true;
    }

    // False when the connection must end.
    bool serveOne(ConnectionStream& stream, bool last) {
        Arrival arrival;
        currentArrival = &arrival;
        currentStream = &stream;
        stream.capture(&arrival.head);
        bool closed = false;
        const bool kept = process_request(
            stream, last, closed, [&](httplib::Request& request) { takeArrival(request, stream, arrival); });
        currentArrival = nullptr;
        currentStream = nullptr;
        stream.capture(nullptr);
        return kept && !closed;
    }

    int stopFd_;
};

ReceivedRequest receivedFrom(const httplib::Request& request, Arrival& arrival) {
    ReceivedRequest received;
    received.method = request.method;
    received.rawTarget = request.target;
    const auto mark = request.target.find('?');
    received.hasQuery = mark != std::string::npos;
    received.path = request.target.substr(0, mark);
    received.query = received.hasQuery ? request.target.substr(mark + 1) : std::string();
    received.headers = std::move(arrival.headers);
    received.body = arrival.body ? std::move(*arrival.body) : request.body;
    received.remotePort = arrival.remotePort;
    return received;
}

}  // namespace

Reply Reply::json(std::string body, int status) {
    Reply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", "application/json"}};
    reply.body = std::move(body);
    return reply;
}

std::optional<std::string> ReceivedRequest::header(std::string_view name) const {
    const auto found = std::ranges::find_if(headers, [&](const auto& field) { return sameName(field.first, name); });
    if (found == headers.end()) {
        return std::nullopt;
    }
    return found->second;
}

struct Server::Impl {
    Impl() : stopFd(::eventfd(0, EFD_CLOEXEC)), listener(stopFd) {
        if (stopFd < 0) {
            throw std::runtime_error("stand-in: no eventfd");
        }
        // The library's own table is written here, once, before any connection exists; routes
        // live in `routes` under `mutex`, so connections share nothing of the library's that
        // changes while they run.
        const httplib::Server::Handler handler = [this](const auto& request, auto& response) {
            answer(request, response);
        };
        listener.Get(anyPath, handler);
        listener.Post(anyPath, handler);
        listener.Put(anyPath, handler);
        listener.Patch(anyPath, handler);
        listener.Delete(anyPath, handler);
        listener.Options(anyPath, handler);
    }

    ~Impl() {
        if (stopFd >= 0) {
            ::close(stopFd);
        }
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void start(int wanted) {
        port = wanted == 0 ? listener.bind_to_any_port("127.0.0.1")
                           : (listener.bind_to_port("127.0.0.1", wanted) ? wanted : -1);
        if (port < 0) {
            const int error = errno;
            if (error == EADDRINUSE) {
                throw std::runtime_error("port " + std::to_string(wanted) + " is already in use on 127.0.0.1");
            }
            throw std::runtime_error(
                "stand-in: cannot bind to 127.0.0.1:" + std::to_string(wanted) + ": " + std::strerror(error));
        }
        thread = std::thread([this] {
            listener.listen_after_bind();
            listenReturned = true;
        });
        // stop() only works once the accept loop runs.
        while (!listener.is_running() && !listenReturned) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!listener.is_running()) {
            thread.join();
            throw std::runtime_error("stand-in: cannot listen");
        }
    }

    void stop() {
        // Connections refuse to write before held handlers wake, so these never answer.
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stopFd, &one, sizeof one);
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        listener.stop();
        thread.join();
    }

    // Waits for `limit` or until the server stops; false when stopping.
    bool pause(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, limit, [&] { return stopping; });
    }

    bool holdUntilReleased(std::uint64_t arrivedIn) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopping || releases != arrivedIn; });
        return !stopping;
    }

    void answer(const httplib::Request& request, httplib::Response& response) {
        ReceivedRequest received = receivedFrom(request, *currentArrival);
        Handler handler;
        std::uint64_t arrivedIn = 0;
        {
            std::lock_guard lock(mutex);
            handler = route(received.method, received.path);
            arrivedIn = releases;
            log.push_back(received);
        }
        changed.notify_all();
        const Reply reply = handler ? handler(received) : Reply::json(R"({"error":"not found"})", 404);
        if (reply.delay.count() > 0 && !pause(reply.delay)) {
            return;
        }
        if (reply.holdUntilReleased && !holdUntilReleased(arrivedIn)) {
            return;
        }
        if (reply.raw) {
            sendRaw(reply, *currentStream);
            return;
        }
        apply(reply, response);
    }

    // The library's own answer that follows finds the connection shut.
    static void sendRaw(const Reply& reply, ConnectionStream& stream) {
        const auto sendAll = [&stream](std::string_view bytes) {
            while (!bytes.empty()) {
                const ssize_t sent = stream.write(bytes.data(), bytes.size());
                if (sent <= 0) {
                    return false;
                }
                bytes.remove_prefix(static_cast<std::size_t>(sent));
            }
            return true;
        };
        if (sendAll(*reply.raw) && !reply.rawRepeated.empty()) {
            while (sendAll(reply.rawRepeated)) {
            }
        }
        ::shutdown(stream.socket(), SHUT_RDWR);
    }

    Handler route(const std::string& method, const std::string& path) const {
        auto found = routes.find({method, path});
        if (found == routes.end() && method == "HEAD") {
            found = routes.find({"GET", path});
        }
        return found == routes.end() ? fallback : found->second;
    }

    void apply(const Reply& reply, httplib::Response& response) {
        response.status = reply.status;
        std::optional<std::string> contentType;
        for (const auto& [name, value] : reply.headers) {
            if (sameName(name, "Content-Type")) {
                contentType = value;
            } else {
                response.set_header(name, value);
            }
        }
        const std::string type = contentType.value_or("text/plain");
        if (reply.cutMidBody) {
            const auto body = std::make_shared<std::string>(reply.body.empty() ? std::string(1, ' ') : reply.body);
            response.set_content_provider(
                body->size(), type, [body](std::size_t, std::size_t, httplib::DataSink& sink) {
                    sink.write(body->data(), body->size() / 2);
                    return false;
                });
        } else if (reply.announcedLength) {
            const auto body = std::make_shared<std::string>(reply.body);
            response.set_content_provider(
                *reply.announcedLength, type, [body](std::size_t, std::size_t, httplib::DataSink& sink) {
                    sink.write(body->data(), body->size());
                    return false;
                });
        } else if (reply.chunked) {
            const auto body = std::make_shared<std::string>(reply.body);
            response.set_chunked_content_provider(type, [body](std::size_t offset, httplib::DataSink& sink) {
                const std::size_t size = std::min(body->size() - offset, chunkSize);
                if (size == 0) {
                    sink.done();
                    return true;
                }
                return sink.write(body->data() + offset, size);
            });
        } else if (reply.trickle.count() > 0 && !reply.body.empty()) {
            const auto body = std::make_shared<std::string>(reply.body);
            response.set_content_provider(
                body->size(),
                type,
                [this, body, pace = reply.trickle](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    return pause(pace) && sink.write(body->data() + offset, 1);
                });
        } else if (!reply.body.empty() || contentType) {
            response.set_content(reply.body, type);
        }
    }

    static inline const std::string anyPath = R"([\s\S]*)";

    int stopFd;
    Listener listener;
    std::thread thread;
    std::atomic<bool> listenReturned = false;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    std::uint64_t releases = 0;
    std::map<std::pair<std::string, std::string>, Handler> routes;
    Handler fallback;  // what no route matches; none: 404
    std::vector<ReceivedRequest> log;
};

Server::Server(int port) : impl_(std::make_unique<Impl>()) { impl_->start(port); }

Server::~Server() { impl_->stop(); }

int Server::port() const { return impl_->port; }

std::string Server::baseUrl() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

void Server::on(std::string method, std::string path, Reply reply) {
    on(std::move(method), std::move(path), [reply = std::move(reply)](const ReceivedRequest&) { return reply; });
}

void Server::on(std::string method, std::string path, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[{std::move(method), std::move(path)}] = std::move(handler);
}

void Server::otherwise(Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->fallback = std::move(handler);
}

void Server::release() {
    {
        std::lock_guard lock(impl_->mutex);
        ++impl_->releases;
    }
    impl_->changed.notify_all();
}

std::vector<ReceivedRequest> Server::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->log;
}

std::optional<ReceivedRequest> Server::lastRequest() const {
    std::lock_guard lock(impl_->mutex);
    if (impl_->log.empty()) {
        return std::nullopt;
    }
    return impl_->log.back();
}

void Server::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->log.clear();
}

bool Server::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, limit, [&] { return impl_->log.size() >= count; });
}

}  // namespace brisalune::standin
