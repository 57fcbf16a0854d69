#pragma once

// A real HTTP server on loopback that answers from a table of routes and
// records every request exactly as it arrived.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune::standin {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

struct Reply {
    int status = 200;
    HeaderFields headers;  // sent as given; Content-Type defaults to text/plain when a body is sent
    std::string body;
    std::chrono::milliseconds delay{0};            // wait before answering
    bool holdUntilReleased = false;                // answer only after Server::release(); a stopping server drops it
    std::chrono::milliseconds trickle{0};          // pause before each byte of the body
    bool cutMidBody = false;                       // declare the whole body's length, send half of it, close
    bool chunked = false;                          // send the body in chunks, with no length announced
    std::optional<std::size_t> announcedLength{};  // declare this length instead, send the body, close
    // Sent as they are in place of the answer (a head of one's own, or no HTTP at all), then
    // `rawRepeated` again and again until the client goes or the server stops; then the
    // connection closes. Status, headers and body are not used.
    std::optional<std::string> raw{};
    std::string rawRepeated{};

    // A JSON answer.
    static Reply json(std::string body, int status = 200);
};

struct ReceivedRequest {
    std::string method;
    std::string rawTarget;  // the request-target exactly as sent
    std::string path;       // rawTarget up to '?', never decoded or normalised
    std::string query;      // the raw text after '?', or ""
    bool hasQuery = false;  // a '?' was present, even with nothing after it
    HeaderFields headers;   // as received, names in the sender's spelling
    std::string body;
    int remotePort = 0;  // the client's side of the connection

    // The value of the first field of that name, compared without regard to case.
    [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
};

using Handler = std::function<Reply(const ReceivedRequest&)>;

class Server {
public:
    // Bound to 127.0.0.1 on `port` (0: one the kernel chooses) and ready when constructed.
    // Throws std::runtime_error when the port cannot be had, "port N is already in use on
    // 127.0.0.1" when another socket holds it.
    explicit Server(int port = 0);
    // Stops at once: held, delayed and idle keep-alive connections are dropped.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    [[nodiscard]] int port() const;
    [[nodiscard]] std::string baseUrl() const;  // "http://127.0.0.1:<port>"

    // Routes by method and exact raw path (without query). HEAD falls back to
    // the GET route. Unmatched requests answer 404 {"error":"not found"}.
    // Any thread may add or replace a route at any time, also while requests are in flight;
    // a request takes the route it finds when it arrives.
    void on(std::string method, std::string path, Reply reply);
    void on(std::string method, std::string path, Handler handler);
    // Answers what no route matches (instead of the 404 above).
    void otherwise(Handler handler);

    // Lets every request held so far give its answer.
    void release();

    [[nodiscard]] std::vector<ReceivedRequest> requests() const;  // in arrival order
    [[nodiscard]] std::optional<ReceivedRequest> lastRequest() const;
    void clearRequests();
    // Waits until at least `count` requests have arrived; false when `limit` passed first.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace brisalune::standin
