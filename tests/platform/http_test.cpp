#include "brisalune/platform/http.hpp"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/standin_fixture.hpp"

namespace brisalune {
namespace {

using http::Headers;
using http::Request;
using http::TransportError;
using standin::Reply;

TEST(HttpHeaders, SetReplacesWithoutRegardToCaseAndKeepsPlace) {
    Headers headers{{"Accept", "a"}, {"X-One", "1"}, {"x-one", "2"}, {"Z", "z"}};
    headers.set("X-ONE", "3");
    std::vector<Headers::Field> fields(headers.begin(), headers.end());
    EXPECT_EQ(fields, (std::vector<Headers::Field>{{"Accept", "a"}, {"X-ONE", "3"}, {"Z", "z"}}));
    headers.set("New", "n");
    EXPECT_EQ(headers.get("new"), "n");
    headers.remove("accept");
    EXPECT_FALSE(headers.contains("Accept"));
    EXPECT_EQ(headers.get("missing"), std::nullopt);
}

TEST(HttpHeaders, RepeatedFieldsAreJoined) {
    Headers headers;
    headers.add("Vary", "Accept");
    headers.add("vary", "Origin");
    EXPECT_EQ(headers.get("VARY"), "Accept, Origin");
    EXPECT_EQ(headers.size(), 2U);
}

Reply text(std::string body, int status = 200, standin::HeaderFields headers = {}) {
    Reply reply;
    reply.status = status;
    reply.headers = std::move(headers);
    reply.body = std::move(body);
    return reply;
}

Reply redirect(int status, std::string location) { return text("", status, {{"Location", std::move(location)}}); }

class HttpTransport : public testing::StandinTest {
protected:
    http::Response send(Request request) { return transport->perform(request); }

    Request get(const std::string& path) const { return request("GET", path); }

    Request request(std::string method, const std::string& path, std::optional<std::string> body = {},
                    Headers headers = {}) const {
        Request made;
        made.method = std::move(method);
        made.url = server.baseUrl() + path;
        made.headers = std::move(headers);
        made.body = std::move(body);
        return made;
    }

    std::shared_ptr<http::Transport> transport = http::curlTransport();
};

TEST_F(HttpTransport, SendsEachMethodWithItsBodyAndOnlyTheGivenFields) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"GET", std::nullopt},  {"POST", R"({"a":1})"},   {"PUT", std::nullopt}, {"PATCH", "p"},
        {"DELETE", std::nullopt}, {"DELETE", "gone"}, {"GET", "odd but allowed"}, {"POST", std::nullopt}};
    for (const auto& [method, body] : cases) {
        SCOPED_TRACE(method + " " + body.value_or("(none)"));
        server.on(method, "/thing", text("ok", 201));
        const auto response = send(request(method, "/thing", body, {{"X-Trace", "t1"}}));
        EXPECT_EQ(response.status, 201);
        EXPECT_EQ(response.body, "ok");
        const auto received = server.lastRequest();
        ASSERT_TRUE(received);
        EXPECT_EQ(received->method, method);
        EXPECT_EQ(received->body, body.value_or(""));
        EXPECT_EQ(received->header("x-trace"), "t1");
        for (const char* absent : {"Content-Type", "Accept", "Expect", "User-Agent", "Accept-Encoding", "Cookie"}) {
            EXPECT_EQ(received->header(absent), std::nullopt) << absent;
        }
    }
}

TEST_F(HttpTransport, SendsContentTypeOnlyWhenGivenAndEmptyValues) {
    server.on("POST", "/p", text(""));
    send(request("POST", "/p", "{}", {{"Content-Type", "application/json"}, {"X-Empty", ""}}));
    const auto received = server.lastRequest();
    EXPECT_EQ(received->header("content-type"), "application/json");
    EXPECT_EQ(received->header("X-Empty"), "");
    EXPECT_EQ(received->header("Content-Length"), "2");
}

TEST_F(HttpTransport, HeadGetsTheHeadersWithoutBody) {
    server.on("GET", "/h", text("body", 200, {{"X-Answer", "42"}}));
    const auto response = send(request("HEAD", "/h"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "");
    EXPECT_EQ(response.headers.get("x-answer"), "42");
    EXPECT_EQ(server.lastRequest()->method, "HEAD");
}

TEST_F(HttpTransport, ReturnsEveryStatusWithHeadersAndBody) {
    server.on("GET", "/broken", text("<h1>no</h1>", 500, {{"Content-Type", "text/html"}}));
    const auto response = send(get("/broken"));
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.body, "<h1>no</h1>");
    EXPECT_EQ(response.headers.get("content-type"), "text/html");

    const auto missing = send(get("/nowhere"));
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, R"({"error":"not found"})");
}

TEST_F(HttpTransport, PathAndQueryReachTheServerAsWritten) {
    for (const std::string target : {"/a/%2E%2E/b", "/a/../b", "/a/./b", "/x%FF%2f", "/q?b=%20&a=1+2&b", "/q?"}) {
        SCOPED_TRACE(target);
        send(get(target));
        EXPECT_EQ(server.lastRequest()->rawTarget, target);
    }
    const auto received = server.lastRequest();
    EXPECT_EQ(received->path, "/q");
    EXPECT_TRUE(received->hasQuery);
    EXPECT_EQ(received->query, "");
}

TEST_F(HttpTransport, RefusesFieldsAndMethodsThatWouldSplitTheRequest) {
    auto request = get("/x");
    request.headers.set("X-Evil", "a\r\nInjected: yes");
    EXPECT_THROW(send(request), TransportError);
    request = get("/x");
    request.headers.set("Bad Name", "v");
    EXPECT_THROW(send(request), TransportError);
    request = get("/x");
    request.method = "GET /other HTTP/1.1\r\n";
    EXPECT_THROW(send(request), TransportError);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(HttpTransport, FollowsRedirectsOnTheSameOriginKeepingCredentials) {
    server.on("GET", "/old", redirect(301, "/mid"));
    server.on("GET", "/mid", redirect(302, server.baseUrl() + "/new"));
    server.on("GET", "/new", text("here", 203));
    auto request = get("/old");
    request.headers.set("Authorization", "Bearer secret");
    const auto response = send(request);
    EXPECT_EQ(response.status, 203);
    EXPECT_EQ(response.body, "here");
    EXPECT_EQ(server.requests().size(), 3U);
    EXPECT_EQ(server.lastRequest()->header("Authorization"), "Bearer secret");
}

TEST_F(HttpTransport, RedirectMethodRules) {
    server.on("POST", "/see-other", redirect(303, "/result"));
    server.on("PUT", "/temporary", redirect(307, "/result"));
    server.on("GET", "/result", text("got"));
    server.on("PUT", "/result", text("put"));

    const auto seeOther = send(request("POST", "/see-other", "{}", {{"Content-Type", "application/json"}}));
    EXPECT_EQ(seeOther.body, "got");
    auto received = server.lastRequest();
    EXPECT_EQ(received->body, "");
    EXPECT_EQ(received->header("Content-Type"), std::nullopt);

    const auto temporary = send(request("PUT", "/temporary", "data"));
    EXPECT_EQ(temporary.body, "put");
    received = server.lastRequest();
    EXPECT_EQ(received->method, "PUT");
    EXPECT_EQ(received->body, "data");
}

TEST_F(HttpTransport, CredentialsNeverFollowARedirectToAnotherHost) {
    server.on("GET", "/away", redirect(302, "http://localhost:" + std::to_string(server.port()) + "/landing"));
    server.on("GET", "/landing", text("landed"));
    auto request = get("/away");
    request.headers.set("Authorization", "Bearer secret");
    EXPECT_EQ(send(request).body, "landed");
    EXPECT_EQ(server.lastRequest()->header("Authorization"), std::nullopt);
}

TEST_F(HttpTransport, CredentialsNeverFollowARedirectToAnotherPort) {
    standin::Server other;
    other.on("GET", "/landing", text("landed"));
    server.on("GET", "/away", redirect(302, other.baseUrl() + "/landing"));
    auto request = get("/away");
    request.headers.set("Authorization", "Bearer secret");
    request.headers.set("Cookie", "session=1");
    request.headers.set("X-Kept", "yes");
    const auto response = send(request);
    EXPECT_EQ(response.body, "landed");
    const auto received = other.lastRequest();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->header("Authorization"), std::nullopt);
    EXPECT_EQ(received->header("Cookie"), std::nullopt);
    EXPECT_EQ(received->header("X-Kept"), "yes");
}

TEST_F(HttpTransport, RefusesRedirectsOutsideHttp) {
    server.on("GET", "/file", redirect(302, "file:///etc/passwd"));
    EXPECT_THROW(send(get("/file")), TransportError);
}

TEST_F(HttpTransport, GivesUpOnEndlessRedirects) {
    server.on("GET", "/loop", redirect(302, "/loop"));
    EXPECT_THROW(send(get("/loop")), TransportError);
    EXPECT_EQ(server.requests().size(), 17U);
}

TEST_F(HttpTransport, AnAnswerCutShortIsAnError) {
    auto cut = text(std::string(1000, 'x'));
    cut.cutMidBody = true;
    server.on("GET", "/cut", cut);
    EXPECT_THROW(send(get("/cut")), TransportError);
}

TEST_F(HttpTransport, SilenceLongerThanTheTimeoutFails) {
    Reply never;
    never.holdUntilReleased = true;
    server.on("GET", "/never", never);
    auto request = get("/never");
    request.timeout = std::chrono::milliseconds(300);
    try {
        send(request);
        FAIL() << "no error";
    } catch (const TransportError& error) {
        EXPECT_STREQ(error.what(), "The request timed out.");
    }
}

TEST_F(HttpTransport, ATricklingAnswerOutlastsTheTimeout) {
    auto slow = text("abcdefgh");
    slow.trickle = std::chrono::milliseconds(100);
    server.on("GET", "/slow", slow);
    auto request = get("/slow");
    request.timeout = std::chrono::milliseconds(300);
    EXPECT_EQ(send(request).body, "abcdefgh");
}

TEST_F(HttpTransport, RefusedConnectionIsAnError) {
    std::string address;
    {
        standin::Server gone;
        address = gone.baseUrl() + "/";
    }
    try {
        Request toNowhere;
        toNowhere.url = address;
        send(toNowhere);
        FAIL() << "no error";
    } catch (const TransportError& error) {
        EXPECT_STREQ(error.what(), "Could not connect to the server.");
    }
}

TEST_F(HttpTransport, SequentialRequestsShareOneConnection) {
    server.on("GET", "/ping", text("pong"));
    for (int i = 0; i < 20; ++i) {
        send(get("/ping"));
    }
    std::set<int> ports;
    for (const auto& received : server.requests()) {
        ports.insert(received.remotePort);
    }
    EXPECT_EQ(ports.size(), 1U);
}

TEST_F(HttpTransport, ManyThreadsAtOnce) {
    server.on("POST", "/echo", [](const standin::ReceivedRequest& request) { return text(request.body); });
    constexpr int threads = 8;
    constexpr int perThread = 25;
    std::vector<std::thread> workers;
    std::atomic<int> matched = 0;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const std::string body = std::to_string(t) + ":" + std::to_string(i);
                if (http::curlTransport()->perform(request("POST", "/echo", body)).body == body) {
                    ++matched;
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(matched, threads * perThread);
    EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(threads * perThread));
}

}  // namespace
}  // namespace brisalune
