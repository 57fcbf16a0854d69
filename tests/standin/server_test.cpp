#include <brisalune/standin/server.hpp>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <tuple>

#include <support/standin_fixture.hpp>

namespace brisalune {
namespace {

using standin::Reply;

// A bare TCP client, so the tests control every byte on the wire.
class RawClient {
public:
    explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{
            .sin_family = AF_INET,
            .sin_port = htons(static_cast<std::uint16_t>(port)),
            .sin_addr = {.s_addr = htonl(INADDR_LOOPBACK)},
            .sin_zero = {}};
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "no connect";
        const timeval limit{.tv_sec = 30, .tv_usec = 0};  // a read that never ends fails instead of hanging
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void send(std::string_view bytes) const {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until the text ends with `end`, or, when `end` is empty, until the server closes.
    std::string readUntil(std::string_view end = {}) const {
        std::string got;
        std::array<char, 4096> buffer{};
        while (end.empty() || !got.ends_with(end)) {
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            got.append(buffer.data(), static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string exchange(std::string_view request, std::string_view end) const {
        send(request);
        return readUntil(end);
    }

private:
    int fd_;
};

Reply text(std::string body, int status = 200) { return {.status = status, .headers = {}, .body = std::move(body)}; }

using StandinServer = testkit::StandinTest;

TEST_F(StandinServer, RecordsEachRequestAsSentAndKeepsTheConnectionInStep) {
    server.on("POST", "/a/%2E%2E/b%FF", text("yes", 201));
    server.on("PUT", "/p", text("put"));
    server.on("GET", "/g", text("got"));
    RawClient client(server.port());
    EXPECT_TRUE(client
                    .exchange(
                        "POST /a/%2E%2E/b%FF?x=%20&y HTTP/1.1\r\nHost: h\r\nX-Empty:\r\nx-lower: v \r\n"
                        "X-Twice: 1\r\nX-Twice: 2\r\nContent-Length: 4\r\n\r\nbody",
                        "yes")
                    .starts_with("HTTP/1.1 201"));
    // A bodyless PUT and a GET with a body must neither stall nor shift the next request.
    EXPECT_TRUE(client.exchange("PUT /p HTTP/1.1\r\nHost: h\r\n\r\n", "put").ends_with("put"));
    EXPECT_TRUE(client.exchange("GET /g HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc", "got").ends_with("got"));
    EXPECT_TRUE(client.exchange("GET /g HTTP/1.1\r\nHost: h\r\n\r\n", "got").ends_with("got"));

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 4U);
    EXPECT_EQ(
        std::tie(received[0].rawTarget, received[0].path, received[0].query, received[0].body),
        std::tuple("/a/%2E%2E/b%FF?x=%20&y", "/a/%2E%2E/b%FF", "x=%20&y", "body"));
    EXPECT_EQ(
        received[0].headers,
        (standin::HeaderFields{
            {"Host", "h"},
            {"X-Empty", ""},
            {"x-lower", "v"},
            {"X-Twice", "1"},
            {"X-Twice", "2"},
            {"Content-Length", "4"}}));
    EXPECT_EQ(received[0].header("x-twice"), "1");
    EXPECT_EQ(received[2].body, "abc");
    EXPECT_EQ(received[0].remotePort, received[3].remotePort);  // one connection throughout
}

TEST_F(StandinServer, RoutesOnTheRawPathAndMethod) {
    server.on("GET", "/a%2Fb", text("encoded"));
    server.on("GET", "/a/b", text("plain"));
    server.on("DELETE", "/a/b", text("deleted"));
    RawClient client(server.port());
    for (const auto& [request, answer] :
         {std::pair{"GET /a%2Fb", "encoded"}, std::pair{"GET /a/b?q", "plain"}, std::pair{"DELETE /a/b", "deleted"}}) {
        EXPECT_TRUE(client.exchange(std::string(request) + " HTTP/1.1\r\nHost: h\r\n\r\n", answer).ends_with(answer));
    }
    const std::string missing = client.exchange("GET /a%2fb HTTP/1.1\r\nHost: h\r\n\r\n", R"({"error":"not found"})");
    EXPECT_TRUE(missing.starts_with("HTTP/1.1 404")) << missing;
}

TEST(StandinServerLifetime, HeldAnswersWaitForReleaseAndStoppingDropsHeldDelayedAndIdleConnections) {
    std::optional<standin::Server> server(std::in_place);
    server->on("GET", "/held", Reply{.status = 200, .headers = {}, .body = "at last", .holdUntilReleased = true});
    server->on("GET", "/late", Reply{.status = 200, .headers = {}, .body = "late", .delay = std::chrono::hours(1)});
    EXPECT_FALSE(server->waitForRequests(1, std::chrono::milliseconds(20)));
    RawClient idle(server->port());
    idle.send("GET /held HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(server->waitForRequests(1, std::chrono::seconds(10)));
    server->release();
    EXPECT_TRUE(idle.readUntil("at last").ends_with("at last"));
    RawClient held(server->port());
    held.send("GET /held HTTP/1.1\r\nHost: h\r\n\r\n");  // arrives after the release, so stays held
    RawClient delayed(server->port());
    delayed.send("GET /late HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_TRUE(server->waitForRequests(3, std::chrono::seconds(10)));
    server.reset();
    for (const RawClient* client : {&held, &delayed, &idle}) EXPECT_EQ(client->readUntil(), "");
}

}  // namespace
}  // namespace brisalune
