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
    // One answer, whole once its Content-Length is met.
    std::string answer() const {
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

TEST_F(StandinServer, RecordsTheRawTargetHeadersAndBody) {
    server.on("POST", "/a/%2E%2E/b%FF", text("yes", 201));
    RawClient client(server.port());
    client.send(
        "POST /a/%2E%2E/b%FF?x=%20&y HTTP/1.1\r\nHost: h\r\nX-Empty:\r\nx-lower: v \r\nX-Twice: 1\r\n"
        "X-Twice: 2\r\nContent-Length: 4\r\n\r\nbody");
    EXPECT_TRUE(client.answer().starts_with("HTTP/1.1 201"));
    const auto received = server.lastRequest();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->rawTarget, "/a/%2E%2E/b%FF?x=%20&y");
    EXPECT_EQ(received->path, "/a/%2E%2E/b%FF");
    EXPECT_EQ(received->query, "x=%20&y");
    EXPECT_EQ(received->body, "body");
    EXPECT_EQ(received->headers, (standin::HeaderFields{{"Host", "h"}, {"X-Empty", ""}, {"x-lower", "v"},
                                                        {"X-Twice", "1"}, {"X-Twice", "2"}, {"Content-Length", "4"}}));
    EXPECT_EQ(received->header("x-twice"), "1");
}

TEST_F(StandinServer, RoutesOnTheRawPathAndMethod) {
    server.on("GET", "/a%2Fb", text("encoded"));
    server.on("GET", "/a/b", text("plain"));
    server.on("DELETE", "/a/b", text("deleted"));
    server.on("GET", "/computed", [](const standin::ReceivedRequest& request) {
        return text(request.query + "|" + request.header("X-In").value_or("-"));
    });
    const auto send = [&](const std::string& method, const std::string& target, http::Headers headers = {}) {
        return http::curlTransport()->perform(
            {.method = method, .url = server.baseUrl() + target, .headers = std::move(headers), .body = {}});
    };
    EXPECT_EQ(send("GET", "/a%2Fb").body, "encoded");
    EXPECT_EQ(send("GET", "/a/b?q").body, "plain");
    EXPECT_EQ(send("DELETE", "/a/b").body, "deleted");
    EXPECT_EQ(send("GET", "/computed?k=v", {{"x-in", "7"}}).body, "k=v|7");
    const auto missing = send("GET", "/a%2fb");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, R"({"error":"not found"})");
    EXPECT_EQ(missing.headers.get("Content-Type"), "application/json");
    EXPECT_EQ(server.requests().size(), 5U);
    server.clearRequests();
    EXPECT_EQ(server.lastRequest(), std::nullopt);
}

TEST_F(StandinServer, BodylessPutAndGetWithBodyKeepTheConnectionInStep) {
    server.on("PUT", "/p", text("put"));
    server.on("GET", "/g", text("got"));
    RawClient client(server.port());
    client.send("PUT /p HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_TRUE(client.answer().ends_with("put"));
    client.send("GET /g HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_TRUE(client.answer().ends_with("got"));
    client.send("GET /g HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_TRUE(client.answer().ends_with("got"));

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 3U);
    EXPECT_EQ(received[0].header("Content-Length"), std::nullopt);
    EXPECT_EQ(received[1].body, "abc");
    EXPECT_EQ(received[2].body, "");
    EXPECT_EQ(received[0].remotePort, received[2].remotePort);
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

TEST_F(StandinServer, ACutAnswerDeclaresMoreThanItSends) {
    Reply cut = text("0123456789");
    cut.cutMidBody = true;
    server.on("GET", "/cut", cut);
    RawClient client(server.port());
    client.send("GET /cut HTTP/1.1\r\nHost: h\r\n\r\n");
    const std::string got = client.untilClosed();
    EXPECT_NE(got.find("Content-Length: 10\r\n"), std::string::npos);
    EXPECT_TRUE(got.ends_with("\r\n\r\n01234")) << got;
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
    idle.send("GET /quick HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_TRUE(idle.answer().ends_with("quick"));
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
