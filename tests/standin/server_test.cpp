#include "brisalune/standin/server.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <thread>

#include "brisalune/platform/http.hpp"
#include "support/standin_fixture.hpp"

namespace brisalune {
namespace {

using standin::Reply;

// A bare TCP client, so the tests control every byte on the wire.
class RawClient {
public:
    explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "no connect";
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void send(std::string_view bytes) const {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `complete` says the text is whole, or the server closes.
    template <class Complete>
    std::string until(Complete complete) const {
        std::string got;
        std::array<char, 4096> buffer{};
        while (!complete(got)) {
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            got.append(buffer.data(), static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string untilClosed() const { return until([](const std::string&) { return false; }); }
    // Sends a request and reads its answer, whole once its Content-Length is met.
    std::string exchange(std::string_view request) const {
        send(request);
        return until([](const std::string& got) {
            const auto headEnd = got.find("\r\n\r\n");
            if (headEnd == std::string::npos) return false;
            const auto lengthAt = got.find("Content-Length: ");
            return got.size() >= headEnd + 4 + (lengthAt < headEnd ? std::stoul(got.substr(lengthAt + 16)) : 0);
        });
    }

private:
    int fd_;
};

Reply text(std::string body, int status = 200) { return {.status = status, .headers = {}, .body = std::move(body)}; }

using StandinServer = testing::StandinTest;

TEST_F(StandinServer, RecordsEachRequestAsSentAndKeepsTheConnectionInStep) {
    server.on("POST", "/a/%2E%2E/b%FF", text("yes", 201));
    server.on("PUT", "/p", text("put"));
    server.on("GET", "/g", text("got"));
    RawClient client(server.port());
    EXPECT_TRUE(client
                    .exchange("POST /a/%2E%2E/b%FF?x=%20&y HTTP/1.1\r\nHost: h\r\nX-Empty:\r\nx-lower: v \r\n"
                              "X-Twice: 1\r\nX-Twice: 2\r\nContent-Length: 4\r\n\r\nbody")
                    .starts_with("HTTP/1.1 201"));
    // A bodyless PUT and a GET with a body must neither stall nor shift the next request.
    EXPECT_TRUE(client.exchange("PUT /p HTTP/1.1\r\nHost: h\r\n\r\n").ends_with("put"));
    EXPECT_TRUE(client.exchange("GET /g HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc").ends_with("got"));
    EXPECT_TRUE(client.exchange("GET /g HTTP/1.1\r\nHost: h\r\n\r\n").ends_with("got"));

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 4U);
    EXPECT_EQ(received[0].rawTarget, "/a/%2E%2E/b%FF?x=%20&y");
    EXPECT_EQ(received[0].path, "/a/%2E%2E/b%FF");
    EXPECT_EQ(received[0].query, "x=%20&y");
    EXPECT_EQ(received[0].body, "body");
    EXPECT_EQ(received[0].headers, (standin::HeaderFields{{"Host", "h"}, {"X-Empty", ""}, {"x-lower", "v"},
                                                          {"X-Twice", "1"}, {"X-Twice", "2"}, {"Content-Length", "4"}}));
    EXPECT_EQ(received[0].header("x-twice"), "1");
    EXPECT_EQ(received[1].header("Content-Length"), std::nullopt);
    EXPECT_EQ(received[2].body, "abc");
    EXPECT_EQ(received[3].body, "");
    EXPECT_EQ(received[0].remotePort, received[3].remotePort);
}

TEST_F(StandinServer, RoutesOnTheRawPathAndMethod) {
    server.on("GET", "/a%2Fb", text("encoded"));
    server.on("GET", "/a/b", text("plain"));
    server.on("DELETE", "/a/b", text("deleted"));
    const auto send = [&](const std::string& method, const std::string& target) {
        return http::curlTransport()->perform(
            {.method = method, .url = server.baseUrl() + target, .headers = {}, .body = {}});
    };
    EXPECT_EQ(send("GET", "/a%2Fb").body, "encoded");
    EXPECT_EQ(send("GET", "/a/b?q").body, "plain");
    EXPECT_EQ(send("DELETE", "/a/b").body, "deleted");
    const auto missing = send("GET", "/a%2fb");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, R"({"error":"not found"})");
    EXPECT_EQ(missing.headers.get("Content-Type"), "application/json");
}

TEST_F(StandinServer, HeldRequestsAnswerOnRelease) {
    Reply held = text("at last");
    held.holdUntilReleased = true;
    server.on("GET", "/held", held);
    EXPECT_FALSE(server.waitForRequests(1, std::chrono::milliseconds(20)));
    std::string body;
    http::Request request;
    request.url = server.baseUrl() + "/held";
    std::thread waiting([&] { body = http::curlTransport()->perform(request).body; });
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(10)));
    server.release();
    waiting.join();
    EXPECT_EQ(body, "at last");
}

TEST(StandinServerLifetime, StopsAtOnceWithHeldDelayedAndIdleConnections) {
    std::optional<standin::Server> server(std::in_place);
    Reply held;
    held.holdUntilReleased = true;
    Reply late = text("late");
    late.delay = std::chrono::hours(1);
    server->on("GET", "/held", held);
    server->on("GET", "/late", late);
    server->on("GET", "/quick", text("quick"));

    RawClient idle(server->port());
    EXPECT_TRUE(idle.exchange("GET /quick HTTP/1.1\r\nHost: h\r\n\r\n").ends_with("quick"));
    RawClient holding(server->port());
    holding.send("GET /held HTTP/1.1\r\nHost: h\r\n\r\n");
    RawClient delayed(server->port());
    delayed.send("GET /late HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(server->waitForRequests(3, std::chrono::seconds(10)));

    server.reset();
    EXPECT_EQ(holding.untilClosed(), "");
    EXPECT_EQ(delayed.untilClosed(), "");
    EXPECT_EQ(idle.untilClosed(), "");
}

}  // namespace
}  // namespace brisalune
