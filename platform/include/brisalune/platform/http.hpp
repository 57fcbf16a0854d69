#pragma once

// The HTTP transport: one blocking request/answer exchange over a shared,
// process-wide connection pool.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune::http {

// Header fields in the order they were added; names compare without regard to case.
class Headers {
public:
    using Field = std::pair<std::string, std::string>;

    Headers() = default;
    Headers(std::initializer_list<Field> fields);

    // Replaces every field of that name (the first one keeps its place), or appends.
    void set(std::string name, std::string value);
    // Appends another field, even when the name is already present.
    void add(std::string name, std::string value);
    void remove(std::string_view name);
    void reserve(std::size_t count) { fields_.reserve(count); }

    // The value of the field; repeated fields are joined with ", ".
    [[nodiscard]] std::optional<std::string> get(std::string_view name) const;
    [[nodiscard]] bool contains(std::string_view name) const;

    [[nodiscard]] std::size_t size() const { return fields_.size(); }
    [[nodiscard]] bool empty() const { return fields_.empty(); }
    [[nodiscard]] auto begin() const { return fields_.begin(); }
    [[nodiscard]] auto end() const { return fields_.end(); }

private:
    std::vector<Field> fields_;
};

[[nodiscard]] bool sameFieldName(std::string_view a, std::string_view b);

// Far above the largest real answer (a pull of 10,000 alerts is about 8 MB).
inline constexpr std::size_t defaultMaxAnswerBytes = std::size_t{64} << 20;
// An error answer is read for its text only.
inline constexpr std::size_t defaultMaxErrorAnswerBytes = std::size_t{64} << 10;

struct Request {
    std::string method = "GET";
    std::string url;
    Headers headers;
    std::optional<std::string> body;  // ignored for HEAD
    // Longest wait for the next byte (connecting included). Zero or less waits forever.
    std::chrono::milliseconds timeout{60000};
    // Longest the whole exchange may last, redirects included, however steadily the bytes come
    // (a server that trickles an endless answer would otherwise hold the call for ever); it fails
    // as a time-out. Zero or less: ten times the timeout and at least ten minutes, or none when
    // the timeout is none.
    std::chrono::milliseconds wholeTimeout{0};
    // A stop request abandons the exchange at once with TransportError("cancelled").
    std::stop_token cancel{};
    // A longer answer body fails the exchange (TransportError) as soon as it shows: an
    // announced length is refused before the body, and an unannounced one stops at the limit.
    std::size_t maxAnswerBytes = defaultMaxAnswerBytes;
    // The body of an error answer (status 400 or above) is cut at this length and the rest
    // is not read; the answer itself stands.
    std::size_t maxErrorAnswerBytes = defaultMaxErrorAnswerBytes;
};

struct Response {
    int status = 0;
    Headers headers;
    std::string body;
};

// The exchange failed: no connection, time-out, TLS failure, a refused
// redirect, an answer cut short or too large, or a request that cannot be sent as given.
class TransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A transport of ours held the request back: nothing went, and what() says why.
class NotSentError : public TransportError {
public:
    using TransportError::TransportError;
};

// A redirect this transport would not follow (too many, to another origin with what the request
// carried, from https to http, to another scheme): the server's own answer, which asking again
// only repeats.
class RedirectRefusedError : public TransportError {
public:
    using TransportError::TransportError;
};

// A time-out's text, as a TransportError carries it.
inline constexpr std::string_view timedOutText = "The request timed out.";

class Transport {
public:
    virtual ~Transport();
    // Sends the request and waits for the whole answer, following redirects
    // (at most 16). Any status is an answer; failures throw TransportError, a redirect it will
    // not follow RedirectRefusedError.
    // Credentials (Authorization, Cookie) follow a redirect only within the origin, a request
    // body never leaves it, nor does any request but a GET or a HEAD (such a redirect is
    // refused, whatever its status), and no redirect leads from https to http. Safe to call from
    // many threads at once.
    virtual Response perform(const Request& request) = 0;
};

// The process-wide transport: keep-alive connections shared by every caller,
// no cookies, no cache, TLS verification always on, http and https only.
[[nodiscard]] std::shared_ptr<Transport> curlTransport();

// A transport of its own, with its own connections, that trusts only the certificate
// authorities given here (PEM) instead of the system's: for a server whose authority the
// system does not know.
[[nodiscard]] std::shared_ptr<Transport> curlTransportTrusting(std::string authoritiesPem);

// A moment by which the requests of deadline transports give up, set by their owner from any
// thread; until first set, it has passed.
class Deadline {
public:
    void endAt(std::chrono::steady_clock::time_point end) noexcept;
    [[nodiscard]] std::chrono::steady_clock::time_point end() const noexcept;

private:
    std::atomic<std::chrono::steady_clock::rep> end_{0};
};

// `inner`, its requests waiting for the server only until the deadline (their own bounds stand
// when shorter); one made after it fails at once as timed out, unsent.
[[nodiscard]] std::shared_ptr<Transport> deadlineTransport(
    std::shared_ptr<Transport> inner, std::shared_ptr<const Deadline> deadline);

}  // namespace brisalune::http
