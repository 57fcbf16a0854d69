#include <brisalune/platform/http.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>

#include <support/heap_in_use.hpp>
#include <support/standin_fixture.hpp>

namespace brisalune {
namespace {

using http::Headers;
using http::Request;
using http::RedirectRefusedError;
using http::TransportError;
using standin::Reply;
using namespace std::chrono_literals;

TEST(HttpHeaders, NamesIgnoreCaseSetKeepsPlaceAndRepeatsJoin) {
    Headers headers{{"Accept", "a"}, {"X-One", "1"}, {"x-one", "2"}, {"Z", "z"}};
    EXPECT_EQ(headers.get("X-ONE"), "1, 2");
    headers.set("X-ONE", "3");
    std::vector<Headers::Field> fields(headers.begin(), headers.end());
    EXPECT_EQ(fields, (std::vector<Headers::Field>{{"Accept", "a"}, {"X-ONE", "3"}, {"Z", "z"}}));
    headers.remove("accept");
    EXPECT_FALSE(headers.contains("Accept"));
}

Reply text(std::string body, int status = 200, standin::HeaderFields headers = {}) {
    return {.status = status, .headers = std::move(headers), .body = std::move(body)};
}
Reply redirect(int status, std::string location) { return text("", status, {{"Location", std::move(location)}}); }

class HttpTransport : public testkit::StandinTest {
protected:
    http::Response send(const Request& request) { return transport->perform(request); }

    Request request(
        std::string method,
        const std::string& path,
        std::optional<std::string> body = {},
        Headers headers = {},
        std::chrono::milliseconds timeout = Request{}.timeout) const {
        return {
            .method = std::move(method),
            .url = server.baseUrl() + path,
            .headers = std::move(headers),
            .body = std::move(body),
            .timeout = timeout};
    }
    Request get(const std::string& path) const { return request("GET", path); }

    // The message of the TransportError the request fails with.
    std::string failure(const Request& request) try {
        send(request);
        ADD_FAILURE() << "no error";
        return {};
    } catch (const TransportError& error) {
        return error.what();
    }

    std::shared_ptr<http::Transport> transport = http::curlTransport();
};

// Runs the request on a thread of its own and gives its failure; a call still running after a
// wait far beyond any bound under test is stopped, and counts as a hang.
std::string failureWithin(http::Transport& transport, Request request) {
    std::stop_source stop;
    request.cancel = stop.get_token();
    auto outcome = std::async(std::launch::async, [&transport, request]() -> std::string {
        try {
            transport.perform(request);
            return "no error";
        } catch (const TransportError& error) {
            return error.what();
        }
    });
    if (outcome.wait_for(120s) != std::future_status::ready) {
        stop.request_stop();
        outcome.wait();
        return "still running";
    }
    return outcome.get();
}

TEST_F(HttpTransport, SendsEachMethodWithItsBodyAndOnlyTheGivenFields) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"GET", std::nullopt}, {"POST", R"({"a":1})"}, {"PUT", std::nullopt}, {"DELETE", "gone"}};
    for (const auto& [method, body] : cases) {
        SCOPED_TRACE(method + " " + body.value_or("(none)"));
        server.on(method, "/thing", text("ok", 201));
        EXPECT_EQ(send(request(method, "/thing", body, {{"X-Trace", "t1"}, {"X-Empty", ""}})).status, 201);
        const auto received = server.lastRequest();
        ASSERT_TRUE(received);
        EXPECT_EQ(received->method, method);
        EXPECT_EQ(received->body, body.value_or(""));
        EXPECT_EQ(received->header("x-trace"), "t1");
        EXPECT_EQ(received->header("X-Empty"), "");
        for (const char* absent : {"Content-Type", "Accept", "Expect", "User-Agent", "Accept-Encoding", "Cookie"})
            EXPECT_EQ(received->header(absent), std::nullopt) << absent;
    }
    std::set<int> ports;
    for (const auto& received : server.requests()) ports.insert(received.remotePort);
    EXPECT_EQ(ports.size(), 1U);  // one after the other: one kept-alive connection
}

// One handle serves request after request: nothing of one (its method, body or fields) stays
// for the next, whichever kinds follow each other.
TEST_F(HttpTransport, EachRequestOnAKeptHandleCarriesOnlyItsOwn) {
    for (const char* method : {"GET", "POST", "DELETE", "HEAD"}) server.on(method, "/echo", text("ok"));
    struct Step {
        std::string method;
        std::optional<std::string> body;
        Headers headers;
        std::string answer;
    };
    const std::vector<Step> steps = {
        {"GET", {}, {{"X-A", "1"}}, "ok"},
        {"GET", {}, {{"X-A", "2"}, {"X-B", "b"}}, "ok"},
        {"GET", {}, {}, "ok"},
        {"POST", "posted", {{"Content-Type", "text/plain"}}, "ok"},
        {"GET", {}, {{"X-A", "3"}}, "ok"},
        {"HEAD", {}, {}, ""},
        {"GET", {}, {}, "ok"},
        {"DELETE", {}, {{"X-A", "4"}}, "ok"},
        {"DELETE", {}, {}, "ok"},
        {"GET", {}, {}, "ok"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.method + " " + step.body.value_or("(none)"));
        EXPECT_EQ(send(request(step.method, "/echo", step.body, step.headers)).body, step.answer);
        const auto received = server.lastRequest();
        ASSERT_TRUE(received);
        EXPECT_EQ(received->method, step.method);
        EXPECT_EQ(received->body, step.body.value_or(""));
        EXPECT_EQ(received->header("X-A"), step.headers.get("X-A"));
        EXPECT_EQ(received->header("X-B"), step.headers.get("X-B"));
        EXPECT_EQ(received->header("Content-Type"), step.headers.get("Content-Type"));
        EXPECT_EQ(received->header("Accept"), std::nullopt);
    }
}

TEST_F(HttpTransport, AnswerFieldsArriveInOrderWithRepeatsAndWithoutPadding) {
    server.on("GET", "/fields", text("ok", 200, {{"X-Tag", "one"}, {"X-Other", "  padded  "}, {"x-tag", "two"}}));
    for (int round = 0; round < 2; ++round) {  // the second on the same handle: nothing of the first stays
        const auto response = send(get("/fields"));
        EXPECT_EQ(response.headers.get("X-TAG"), "one, two");
        EXPECT_EQ(response.headers.get("X-Other"), "padded");
        std::vector<std::string> tags;
        for (const auto& [name, value] : response.headers)
            if (http::sameFieldName(name, "x-tag")) tags.push_back(value);
        EXPECT_EQ(tags, (std::vector<std::string>{"one", "two"}));
        EXPECT_EQ(response.headers.get("Content-Length"), "2");
    }
}

TEST_F(HttpTransport, ReturnsEveryStatusAndHeadGetsNoBody) {
    server.on("GET", "/broken", text("<h1>no</h1>", 500, {{"Content-Type", "text/html"}}));
    for (const auto& [method, body] : {std::pair{"GET", "<h1>no</h1>"}, {"HEAD", ""}}) {
        const auto response = send(request(method, "/broken"));
        EXPECT_EQ(response.status, 500);
        EXPECT_EQ(response.body, body);
        EXPECT_EQ(response.headers.get("content-type"), "text/html");
    }
}

TEST_F(HttpTransport, PathAndQueryReachTheServerAsWritten) {
    for (const std::string target : {"/a/%2E%2E/b", "/a/../b", "/a/./b", "/x%FF%2f", "/q?b=%20&a=1+2&b", "/q?"}) {
        send(get(target));
        EXPECT_EQ(server.lastRequest()->rawTarget, target);
    }
}

TEST_F(HttpTransport, RefusesFieldsAndMethodsThatWouldSplitTheRequest) {
    for (const Request& evil :
         {request("GET /other HTTP/1.1\r\n", "/x"),
          request("GET", "/x", {}, {{"X-Evil", "a\r\nInjected: yes"}}),
          request("GET", "/x", {}, {{"Bad Name", "v"}})})
        EXPECT_THROW(send(evil), TransportError);
    EXPECT_TRUE(server.requests().empty());
}

// A handle keeps what it set for the request before (its address, its list of fields) only for
// a request that asks for the same: a new address or new fields are set, and new fields checked.
TEST_F(HttpTransport, AKeptHandleSendsEachRequestToItsOwnAddressWithItsOwnCheckedFields) {
    server.otherwise([](const standin::ReceivedRequest&) { return text("ok"); });
    server.on("GET", "/moved", redirect(302, "/b"));
    const Headers alice{{"Authorization", "Bearer alice"}};
    const Headers bob{{"Authorization", "Bearer bob"}};
    struct Step {
        std::string path;
        Headers headers;
        std::string seenPath;
    };
    const std::vector<Step> steps = {
        {"/a", alice, "/a"}, {"/a", alice, "/a"}, {"/b", alice, "/b"}, {"/a", bob, "/a"},   {"/a", {}, "/a"},
        {"/a", bob, "/a"},   {"/moved", bob, "/b"}, {"/moved", alice, "/b"}, {"/a", alice, "/a"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.path + " " + step.headers.get("Authorization").value_or("(none)"));
        send(request("GET", step.path, {}, step.headers));
        const auto received = server.lastRequest();
        ASSERT_TRUE(received);
        EXPECT_EQ(received->path, step.seenPath);
        EXPECT_EQ(received->header("Authorization"), step.headers.get("Authorization"));
    }
    // A field that would split the head is refused right after the same handle sent good ones.
    server.clearRequests();
    EXPECT_THROW(send(request("GET", "/a", {}, {{"Authorization", "Bearer alice\r\nX-Injected: 1"}})), TransportError);
    EXPECT_THROW(
        send(request("GET", "/a", {}, {{"Authorization", "Bearer alice"}, {"Bad Name", "v"}})), TransportError);
    EXPECT_TRUE(server.requests().empty());
    send(request("GET", "/a", {}, alice));
    EXPECT_EQ(server.lastRequest()->header("Authorization"), "Bearer alice");
    EXPECT_EQ(server.lastRequest()->header("X-Injected"), std::nullopt);
}

TEST_F(HttpTransport, RedirectMethodRules) {
    server.on("POST", "/see-other", redirect(303, "/result"));
    server.on("PUT", "/temporary", redirect(307, "/result"));
    server.on("GET", "/result", text("got"));
    server.on("PUT", "/result", text("put"));
    EXPECT_EQ(send(request("POST", "/see-other", "{}", {{"Content-Type", "application/json"}})).body, "got");
    EXPECT_EQ(server.lastRequest()->body, "");
    EXPECT_EQ(server.lastRequest()->header("Content-Type"), std::nullopt);
    EXPECT_EQ(send(request("PUT", "/temporary", "data")).body, "put");
    EXPECT_EQ(server.lastRequest()->body, "data");
}

TEST_F(HttpTransport, CredentialsAndHostFollowARedirectOnlyWithinTheOrigin) {
    standin::Server other;
    const std::string port = std::to_string(server.port());
    struct Landing {
        std::string authority;
        standin::Server* server;
        bool sameOrigin;
    };
    const Headers fields{
        {"Host", "127.0.0.1:" + port}, {"Authorization", "Bearer secret"}, {"Cookie", "session=1"}, {"X-Kept", "yes"}};
    const Landing landings[] = {
        {"127.0.0.1:" + port, &server, true},
        {"localhost:" + port, &server, false},
        {"127.0.0.1:" + std::to_string(other.port()), &other, false}};
    for (const auto& [authority, landing, sameOrigin] : landings) {
        SCOPED_TRACE(authority);
        landing->on("GET", "/landing", text("landed", 203));
        server.on("GET", "/away", redirect(301, "http://" + authority + "/landing"));
        EXPECT_EQ(send(request("GET", "/away", {}, fields)).body, "landed");
        const auto received = landing->lastRequest();
        ASSERT_TRUE(received);
        EXPECT_EQ(received->header("Host"), authority);
        EXPECT_EQ(received->header("Authorization").has_value(), sameOrigin);
        EXPECT_EQ(received->header("Cookie").has_value(), sameOrigin);
        EXPECT_EQ(received->header("X-Kept"), "yes");
    }
}

TEST_F(HttpTransport, ARequestBodyNeverLeavesItsOrigin) {
    standin::Server other;
    other.otherwise([](const standin::ReceivedRequest&) { return text("landed"); });
    const std::string away = other.baseUrl() + "/sign-in";
    const std::string signIn = R"({"email":"a@example.com","password":"secret"})";
    // Only a GET or a HEAD goes on to another origin: whatever the status, a request that changes
    // something is never answered by a server it was not sent to, with a body or without.
    std::vector<std::pair<std::string, int>> refused{{"PUT", 301}, {"PATCH", 302}, {"PUT", 308}};
    for (const char* method : {"POST", "DELETE"})
        for (const int status : {301, 302, 303, 307, 308}) refused.emplace_back(method, status);
    for (const auto& [method, status] : refused) {
        SCOPED_TRACE(method + " " + std::to_string(status));
        server.on(method, "/sign-in", redirect(status, away));
        const auto body = method == "DELETE" ? std::nullopt : std::optional(signIn);
        EXPECT_EQ(
            failure(request(method, "/sign-in", body, {{"Authorization", "Bearer secret"}})),
            "The server redirected this request to another server; it was not followed, so what it carried was "
            "not sent there.");
    }
    // A PUT always carries a body, if only an empty one.
    EXPECT_THROW(send(request("PUT", "/sign-in")), RedirectRefusedError);
    // Nor does a POST go there as a GET after a stop on its own origin.
    server.on("POST", "/see-other", redirect(303, "/result"));
    server.on("GET", "/result", redirect(302, away));
    EXPECT_THROW(send(request("POST", "/see-other", signIn)), RedirectRefusedError);
    EXPECT_TRUE(other.requests().empty());

    // Within the origin the request goes on as before, with its body.
    server.on("POST", "/moved", redirect(308, server.baseUrl() + "/sign-in"));
    server.on("POST", "/sign-in", [](const standin::ReceivedRequest& received) { return text(received.body); });
    EXPECT_EQ(send(request("POST", "/moved", signIn)).body, signIn);
    server.on("DELETE", "/gone", redirect(301, "/sign-in"));
    server.on("DELETE", "/sign-in", text("deleted"));
    EXPECT_EQ(send(request("DELETE", "/gone")).body, "deleted");
}

TEST_F(HttpTransport, RefusesRedirectsOutsideHttpAndEndlessOnes) {
    server.on("GET", "/loop", redirect(302, "/loop"));
    EXPECT_THROW(send(get("/loop")), RedirectRefusedError);
    EXPECT_EQ(server.requests().size(), 17U);
    server.on("GET", "/file", redirect(302, "file:///etc/passwd"));
    EXPECT_THROW(send(get("/file")), RedirectRefusedError);
}

TEST_F(HttpTransport, CutAnswersAndRefusedConnectionsAreErrors) {
    server.on("GET", "/cut", Reply{.headers = {}, .body = std::string(1000, 'x'), .cutMidBody = true});
    EXPECT_THROW(send(get("/cut")), TransportError);
    Request toNowhere = get("/");
    toNowhere.url = standin::Server().baseUrl() + "/";  // the server is gone when the request is sent
    EXPECT_EQ(failure(toNowhere), "Could not connect to the server.");
}

TEST_F(HttpTransport, AnAnswerPastItsLimitFailsAsSoonAsItShows) {
    constexpr std::size_t limit = 16 * 1024;
    const std::string atLimit(limit, 'a');
    const std::string pastLimit(256 * 1024, 'p');
    server.on("GET", "/streamed-at-limit", Reply{.headers = {}, .body = atLimit, .chunked = true});
    server.on("GET", "/at-limit", text(atLimit));
    server.on("GET", "/streamed", Reply{.headers = {}, .body = pastLimit, .chunked = true});
    server.on("GET", "/whole", text(pastLimit));
    // Announces a gigabyte, sends one byte and closes: only a refusal on the announcement
    // fails with the limit's text (reading on would end in a lost connection).
    server.on("GET", "/announced", Reply{.headers = {}, .body = "x", .announcedLength = std::size_t{1} << 30});

    const auto limited = [&](const std::string& path) {
        Request bounded = get(path);
        bounded.maxAnswerBytes = limit;
        return bounded;
    };
    EXPECT_EQ(send(limited("/streamed-at-limit")).body, atLimit);
    EXPECT_EQ(send(limited("/at-limit")).body, atLimit);
    for (const char* path : {"/streamed", "/whole", "/announced"}) {
        EXPECT_EQ(failure(limited(path)), "The server's answer was too large: more than 16 KB.") << path;
    }
    EXPECT_EQ(failure(get("/announced")), "The server's answer was too large: more than 64 MB.");
    // A HEAD answer announces a length but brings no body.
    EXPECT_EQ(send(request("HEAD", "/announced")).status, 200);
    EXPECT_EQ(send(limited("/at-limit")).body, atLimit);  // the next exchange goes on as before
}

TEST_F(HttpTransport, AnswersWithoutEndOrWithoutHttpFailWithTheirCause) {
    const auto raw = [](std::string once, std::string repeated = {}) {
        return Reply{.headers = {}, .body = {}, .raw = std::move(once), .rawRepeated = std::move(repeated)};
    };
    const std::string filler = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'c') + "\r\n";
    server.on("GET", "/garbage", raw("garbage, not an answer"));
    server.on("GET", "/status", raw("HTTP/1.1 99999999999 OK\r\nContent-Length: 2\r\n\r\nok"));
    server.on("GET", "/endless-head", raw("HTTP/1.1 200 OK\r\n", filler));
    server.on("GET", "/endless-interim", raw("", "HTTP/1.1 100 Continue\r\n" + filler + "\r\n"));
    server.on("GET", "/long-line", raw("HTTP/1.1 200 OK\r\nX-Long: " + std::string(1 << 20, 'l') + "\r\n\r\n"));
    server.on("GET", "/endless-chunks", raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", chunk));
    server.on("GET", "/endless-stream", raw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", chunk));
    server.on("GET", "/fine", text("fine"));

    const std::pair<const char*, const char*> failures[] = {
        {"/garbage", "non-HTTP response"},
        {"/status", "non-HTTP response"},
        {"/endless-head", "The server's answer was too large: more than 256 KB."},
        {"/endless-interim", "The server's answer was too large: more than 256 KB."},
        {"/long-line", "The server's answer was too large: more than 100 KB."},
        {"/endless-chunks", "The server's answer was too large: more than 64 MB."},
        {"/endless-stream", "The server's answer was too large: more than 64 MB."}};
    for (const auto& [path, expected] : failures) {
        SCOPED_TRACE(path);
        EXPECT_EQ(failureWithin(*transport, get(path)), expected);
        EXPECT_EQ(send(get("/fine")).body, "fine");  // the transport goes on as before
    }
}

TEST_F(HttpTransport, WhatAFailedExchangeReadIsNotKeptAfterwards) {
    const std::string chunk = "4000\r\n" + std::string(0x4000, 'c') + "\r\n";
    server.on(
        "GET",
        "/endless",
        Reply{
            .headers = {},
            .body = {},
            .raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
            .rawRepeated = chunk});
    const auto before = testkit::heapInUse();
    EXPECT_EQ(failure(get("/endless")), "The server's answer was too large: more than 64 MB.");
    EXPECT_LT(testkit::heapInUse() - before, std::int64_t{16} << 20);
}

TEST_F(HttpTransport, AnErrorAnswerKeepsOnlyTheStartOfItsBody) {
    const std::string story(100 * 1024, 'e');
    server.on("GET", "/streamed", Reply{.status = 500, .headers = {}, .body = story, .chunked = true});
    server.on("GET", "/whole", text(story, 404));
    server.on("GET", "/announced", Reply{.status = 503, .headers = {}, .body = story, .announcedLength = 1U << 30});
    server.on("GET", "/short", text("no", 401));
    for (const auto& [path, status] :
         {std::pair{"/streamed", 500}, std::pair{"/whole", 404}, std::pair{"/announced", 503}}) {
        SCOPED_TRACE(path);
        Request small = get(path);
        small.maxErrorAnswerBytes = 1000;
        small.maxAnswerBytes = 10;  // not for an error answer
        const auto response = send(small);
        EXPECT_EQ(response.status, status);
        EXPECT_EQ(response.body, story.substr(0, 1000));
        const auto whole = send(get(path));  // the default keeps 64 KB
        EXPECT_EQ(whole.status, status);
        EXPECT_EQ(whole.body.size(), http::defaultMaxErrorAnswerBytes);
    }
    EXPECT_EQ(send(get("/short")).body, "no");
}

TEST_F(HttpTransport, TheTimeoutBoundsSilenceNotTheWholeAnswer) {
    server.on("GET", "/never", Reply{.headers = {}, .body = {}, .holdUntilReleased = true});
    // Each pause is far below the timeout, even on a slow (sanitised, loaded) build, and
    // together they are well above it.
    server.on("GET", "/slow", Reply{.headers = {}, .body = "abcdefghij", .trickle = 150ms});
    EXPECT_EQ(failure(request("GET", "/never", {}, {}, 1s)), "The request timed out.");
    EXPECT_EQ(send(request("GET", "/slow", {}, {}, 1s)).body, "abcdefghij");
}

TEST_F(HttpTransport, AnAnswerThatNeverStopsComingEndsAtTheWholeTimeout) {
    // Every pause is far below the timeout: only the bound on the whole exchange ends it.
    server.on("GET", "/trickle", Reply{.headers = {}, .body = std::string(1 << 20, 't'), .trickle = 20ms});
    server.on("GET", "/hop", redirect(302, "/trickle"));
    for (const char* path : {"/trickle", "/hop"}) {
        SCOPED_TRACE(path);
        Request trickled = request("GET", path, {}, {}, 2s);
        trickled.wholeTimeout = 3s;
        EXPECT_EQ(failureWithin(*transport, trickled), "The request timed out.");
    }
    Request unhurried = request("GET", "/trickle", {}, {}, 0ms);  // no wait for a byte is too long
    unhurried.wholeTimeout = 2s;
    EXPECT_EQ(failureWithin(*transport, unhurried), "The request timed out.");
    // Within its bounds an answer still arrives whole.
    server.on("GET", "/short", Reply{.headers = {}, .body = "abc", .trickle = 20ms});
    Request quick = request("GET", "/short", {}, {}, 10s);
    quick.wholeTimeout = 60s;
    EXPECT_EQ(send(quick).body, "abc");
}

// A deadline transport waits for the server only until its deadline, however long the request's own
// bounds, and sends nothing once it has passed.
TEST_F(HttpTransport, ADeadlineTransportGivesUpByItsDeadline) {
    server.on("GET", "/never", Reply{.headers = {}, .body = {}, .holdUntilReleased = true});
    const auto deadline = std::make_shared<http::Deadline>();
    const std::shared_ptr<http::Transport> bounded = http::deadlineTransport(transport, deadline);
    deadline->endAt(std::chrono::steady_clock::now() + 1s);
    EXPECT_EQ(failureWithin(*bounded, request("GET", "/never", {}, {}, 0ms)), "The request timed out.");
    EXPECT_EQ(failureWithin(*bounded, get("/never")), "The request timed out.");  // past it: unsent
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(HttpTransport, AStopRequestAbandonsTheExchange) {
    server.on("GET", "/never", Reply{.headers = {}, .body = {}, .holdUntilReleased = true});
    std::stop_source stop;
    Request held = request("GET", "/never", {}, {}, 0ms);  // no timeout: only the stop ends it
    held.cancel = stop.get_token();
    std::thread stopper([&] {
        server.waitForRequests(1, std::chrono::seconds(20));
        stop.request_stop();
    });
    EXPECT_EQ(failure(held), "cancelled");
    stopper.join();
    stop = {};
    held.cancel = stop.get_token();
    stop.request_stop();
    EXPECT_EQ(failure(held), "cancelled");  // already stopped: nothing is sent
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(HttpTransport, ManyThreadsAtOnce) {
    server.on("POST", "/echo", [](const standin::ReceivedRequest& request) { return text(request.body); });
    std::atomic<int> matched = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const std::string body = std::to_string(t) + ":" + std::to_string(i);
                if (http::curlTransport()->perform(request("POST", "/echo", body)).body == body) ++matched;
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(matched, 200);
    EXPECT_EQ(server.requests().size(), 200U);
}

}  // namespace
}  // namespace brisalune
