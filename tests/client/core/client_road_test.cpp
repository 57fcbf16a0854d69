#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/platform/text.hpp>
#include <brisalune/standin/server.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

struct Stamp {
    std::string id;
    std::chrono::sys_seconds at;
};

}  // namespace

template <>
inline constexpr auto json::keys<Stamp> = json::object(json::field("id", &Stamp::id), json::field("at", &Stamp::at));

namespace {

class ClientRoad : public testkit::EndpointTest {
protected:
    // A client whose base address has more after the server's origin.
    BrisaluneClient clientAt(const std::string& suffix) {
        return BrisaluneClient(
            *platform::Url::parse(server.baseUrl() + suffix),
            "t",
            "k",
            nullptr,
            ClientIdentity::current(),
            compatibility);
    }
};

TEST_F(ClientRoad, JoinsBaseAndPathDroppingEveryTrailingSlash) {
    EXPECT_EQ(clientAt("//").url("/v1/me")->text(), server.baseUrl() + "/v1/me");
    EXPECT_EQ(clientAt("/api//").url("/v1/me")->text(), server.baseUrl() + "/api/v1/me");
    EXPECT_EQ(client().url("/v1/a b"), std::nullopt);
    auto overlong = errorOf([&] {
        client().send({.method = "GET", .path = "/v1/x", .query = {{"q", std::string(70000, 'x')}}});
    });
    EXPECT_EQ(overlong.kind(), Case::transport);
    EXPECT_EQ(overlong.message(), "malformed URL");

    server.on("GET", "/api/v1/me", Reply::json("{}"));
    clientAt("/api/").send({.method = "GET", .path = "/v1/me"});
    EXPECT_EQ(last().rawTarget, "/api/v1/me");
}

// Whatever the base and the path, the address sent is the one the URL parser makes of the two
// joined, with the query put in its place; where the parser makes none, nothing is sent.
TEST_F(ClientRoad, EveryAddressIsTheParsersJoinOfBasePathAndQuery) {
    server.otherwise([](const standin::ReceivedRequest&) { return Reply::json("{}"); });
    const std::string bases[] = {"", "/", "/api//"};
    const std::string paths[] = {
        "/v1/me",     "/v1/a%2Fb%2e",     "/v1/!$&'()*+,;=:@-._~", "//v1//x", "/v1/%zz", "/v1/%2", "/v1/a b",
        "/v1/\u00e9", "/v1/x?y=1", "v1/me", ":1/x", "/v1/[x]",   "/v1/%",
    };
    const std::vector<platform::QueryItem> queries[] = {{}, {{"limit", "50"}, {"after", "x y"}}, {{"", std::nullopt}}};
    for (const auto& base : bases) {
        auto c = clientAt(base);
        for (const auto& path : paths) {
            for (const auto& query : queries) {
                SCOPED_TRACE(base + " " + path + " " + std::to_string(query.size()));
                std::optional<std::string> expected;
                if (auto url = c.url(path)) {
                    try {
                        expected = query.empty() ? url->text() : url->withQuery(platform::encodeQuery(query)).text();
                    } catch (const std::length_error&) {
                    }
                }
                server.clearRequests();
                if (!expected) {
                    auto malformed = errorOf([&] { c.send({.method = "GET", .path = path, .query = query}); });
                    EXPECT_EQ(malformed.message(), "malformed URL");
                    EXPECT_TRUE(server.requests().empty());
                    continue;
                }
                EXPECT_EQ(c.send({.method = "GET", .path = path, .query = query}).status, 200);
                EXPECT_EQ(server.baseUrl() + last().rawTarget, *expected);
            }
        }
    }
    // A base whose authority is empty loses it to the trimmed slashes: a path that starts with
    // "//" would then name a host, here with a port out of range.
    BrisaluneClient noHost(*platform::Url::parse("x:///"), "t", "k", nullptr, ClientIdentity::current(), compatibility);
    EXPECT_EQ(errorOf([&] { noHost.send({.method = "GET", .path = "//h:99999/v"}); }).message(), "malformed URL");
    // Past the longest address, with or without a query.
    const std::string longPath = "/v1/" + std::string(platform::Url::maxLength, 'x');
    EXPECT_EQ(errorOf([&] { client().send({.method = "GET", .path = longPath}); }).message(), "malformed URL");
    const std::string nearlyLong = "/v1/" + std::string(platform::Url::maxLength - server.baseUrl().size() - 6, 'x');
    EXPECT_EQ(
        errorOf([&] { client().send({.method = "GET", .path = nearlyLong, .query = {{"q", "1"}}}); }).message(),
        "malformed URL");
}

TEST_F(ClientRoad, SendsQueryItemsInOrderAndNoQuestionMarkWithout) {
    server.on("GET", "/v1/list", Reply::json("{}"));
    auto c = client();
    c.send({.method = "GET", .path = "/v1/list"});
    EXPECT_FALSE(last().hasQuery);
    c.send({.method = "GET", .path = "/v1/list", .query = {{"limit", "50"}, {"after", "x y+&=#%é"}, {"flag", {}}}});
    EXPECT_EQ(last().query, "limit=50&after=x%20y%2B%26%3D%23%25%C3%A9&flag");
}

TEST_F(ClientRoad, CarriesTheCredentialOfThePlane) {
    server.on("GET", "/v1/x", Reply::json("{}"));
    auto c = client();
    c.send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::session});
    EXPECT_EQ(last().header("authorization"), "Bearer session-token");
    c.send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::data});
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    c.send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::none});
    EXPECT_EQ(last().header("Authorization"), std::nullopt);

    // A header map's Authorization survives only on plane none; the User-Agent is always ours.
    http::Headers extra{{"authorization", "Bearer mine"}, {"user-agent", "other"}, {"X-Extra", "1"}};
    c.send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::none, .headers = extra});
    EXPECT_EQ(last().header("Authorization"), "Bearer mine");
    EXPECT_EQ(last().header("User-Agent"), ClientIdentity::current().userAgent());
    EXPECT_EQ(last().header("X-Extra"), "1");
    c.send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::session, .headers = extra});
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    // Over another transport it is the same client: its credentials and its identity.
    c.over(c.transport())->send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::session});
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");
    EXPECT_EQ(last().header("User-Agent"), ClientIdentity::current().userAgent());
}

TEST_F(ClientRoad, MissingCredentialFailsBeforeAnythingIsSent) {
    server.on("GET", "/v1/x", Reply::json("{}"));
    auto c = client(std::nullopt, std::nullopt);
    auto session = errorOf([&] { c.send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::session}); });
    EXPECT_EQ(session.kind(), Case::unauthorized);
    EXPECT_EQ(session.message(), "not signed in");
    auto data = errorOf([&] { c.send({.method = "GET", .path = "/v1/x", .plane = AuthPlane::data}, Stamp{}); });
    EXPECT_EQ(data.message(), "no tenant key");
    EXPECT_TRUE(server.requests().empty());

    // An empty text is a credential (HTTP drops the trailing blank of the field value).
    client("", std::nullopt).send({.method = "GET", .path = "/v1/x"});
    EXPECT_EQ(last().header("Authorization"), "Bearer");
}

TEST_F(ClientRoad, ContentTypeOnlyWithABody) {
    server.on("POST", "/v1/x", Reply::json("{}"));
    auto c = client();
    c.send(
        {.method = "POST", .path = "/v1/x", .headers = {{"Content-Type", "text/plain"}}},
        Stamp{"a\"b", std::chrono::sys_seconds(std::chrono::seconds(0))});
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    EXPECT_EQ(last().body, R"({"id":"a\"b","at":"1970-01-01T00:00:00Z"})");
    c.send({.method = "POST", .path = "/v1/x"});
    EXPECT_EQ(last().header("Content-Type"), std::nullopt);
    EXPECT_EQ(last().body, "");
    // A body the encoder refuses fails with the encoder's own error, before sending.
    server.clearRequests();
    EXPECT_THROW(c.send({.method = "POST", .path = "/v1/x"}, Stamp{"\xff", {}}), json::EncodeError);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(ClientRoad, EscapesPathSegmentsAsTheServerSeesThem) {
    EXPECT_EQ(escapedPathSegment("."), "%2E");
    EXPECT_EQ(escapedPathSegment("..."), "...");
    EXPECT_EQ(escapedPathSegment("x_y-1~ a?+"), "x_y-1~%20a%3F%2B");
    EXPECT_EQ(escapedPathSegment("a\xff/\xc3"), "a%FF%2F%C3");  // invalid UTF-8 never raw
    EXPECT_EQ(escapedPathSegment("\u00e9"), "\u00e9");          // letters stay; the address layer escapes bytes

    auto c = client();
    const std::pair<std::string, std::string> cases[] = {
        {"..", "/v1/alerts/%2E%2E/ack"},
        {"a/b?c#d", "/v1/alerts/a%2Fb%3Fc%23d/ack"},
        {"50%+", "/v1/alerts/50%25%2B/ack"},
        {"é", "/v1/alerts/%C3%A9/ack"},
        {"\xff", "/v1/alerts/%FF/ack"},
    };
    for (const auto& [id, seen] : cases) {
        server.on("POST", seen, Reply::json("{}"));
        auto answer = c.send({.method = "POST", .path = "/v1/alerts/" + escapedPathSegment(id) + "/ack"});
        EXPECT_EQ(answer.status, 200) << seen;
        EXPECT_EQ(last().path, seen);
    }
}

TEST_F(ClientRoad, StatusesReachTheEndpointAndBecomeErrors) {
    const std::pair<Reply, Case> failures[] = {
        {Reply{500, {{"Content-Type", "text/html"}}, "<html>oops</html>"}, Case::server},
        {Reply{204, {}, ""}, Case::invalidResponse},
        {Reply::json(R"({"id":"a","at":"2026-03-01T10:00:00.5Z"})"), Case::invalidResponse},  // fractions
        {Reply::json(R"({"id":"a","at":1700000000})"), Case::invalidResponse},                // a number
    };
    auto c = client();
    for (const auto& [reply, kind] : failures) {
        server.on("GET", "/v1/x", reply);
        EXPECT_EQ(c.send({.method = "GET", .path = "/v1/x"}).status, reply.status);  // send never judges
        EXPECT_EQ(errorOf([&] { fetch<Stamp>(c, {.method = "GET", .path = "/v1/x"}); }).kind(), kind) << reply.body;
    }
    EXPECT_NO_THROW(perform(c, {.method = "GET", .path = "/v1/x"}));  // the 204 of an endpoint that ignores it

    server.on("GET", "/v1/x", Reply::json(R"({"at":"2026-03-01T10:00:00Z"})"));
    EXPECT_EQ(
        errorOf([&] { fetch<Stamp>(c, {.method = "GET", .path = "/v1/x"}); }).errorDescription(),
        "Unexpected response: keyNotFound: id");
    server.on("GET", "/v1/x", Reply::json(R"({"id":"a","at":"2026-03-01T12:00:00+02:00","x":1})"));
    EXPECT_EQ(fetch<Stamp>(c, {.method = "GET", .path = "/v1/x"}).at.time_since_epoch().count(), 1772359200);
}

TEST_F(ClientRoad, GateRefusesOutdatedClientsAndServers) {
    server.on("GET", "/v1/old", Reply{426, {}, ""});
    auto outdated = errorOf([&] { client().send({.method = "GET", .path = "/v1/old"}); });
    EXPECT_EQ(outdated.kind(), Case::clientOutdated);
    EXPECT_TRUE(compatibility.current().outdated.has_value());

    ServerCompatibility strict(ServerMinimums{{1, 0, 0}, {2, 0, 0}});
    BrisaluneClient c(*platform::Url::parse(server.baseUrl()), "t", "k", nullptr, ClientIdentity::current(), strict);
    server.on("GET", "/v1/me", Reply{200, {{"X-Brisalune-Version", "1.9.0"}}, "{}"});
    server.on("GET", "/healthz", Reply{200, {{"X-Brisalune-Version", "1.9.0"}}, "{}"});
    auto old = errorOf([&] { c.send({.method = "GET", .path = "/v1/me"}); });
    EXPECT_EQ(old.kind(), Case::serverOutdated);
    EXPECT_EQ(old.version(), "1.9.0");
    EXPECT_EQ(old.host(), c.baseURL());
    EXPECT_EQ(c.send({.method = "GET", .path = "/healthz"}).status, 200);
}

TEST_F(ClientRoad, AFailedTransferIsATransportErrorWithItsText) {
    server.on("GET", "/v1/slow", Reply{200, {}, "{}", std::chrono::milliseconds(3000)});
    auto slow = errorOf(
        [&] { client().send({.method = "GET", .path = "/v1/slow", .timeout = std::chrono::milliseconds(200)}); });
    EXPECT_EQ(slow.kind(), Case::transport);
    EXPECT_EQ(slow.errorDescription(), "Connection failed: The request timed out.");

    // The transport would read these as no time-out at all and wait on a silent server for ever.
    server.clearRequests();
    for (const auto timeout : {std::chrono::milliseconds(0), std::chrono::milliseconds(-5000)}) {
        auto spent = errorOf([&] { client().send({.method = "GET", .path = "/v1/slow", .timeout = timeout}); });
        EXPECT_EQ(spent.errorDescription(), "Connection failed: The request timed out.");
    }
    EXPECT_TRUE(server.requests().empty());

    // A transport that holds the request back says so: no connection failed.
    struct HoldingBack final : http::Transport {
        http::Response perform(const http::Request&) override { throw http::NotSentError("Not sent: held back."); }
    };
    auto held = errorOf([&] { client().over(std::make_shared<HoldingBack>())->send({.method = "GET", .path = "/v1/x"}); });
    EXPECT_EQ(held.kind(), Case::transport);
    EXPECT_EQ(held.errorDescription(), "Not sent: held back.");
}

TEST_F(ClientRoad, NeitherPlanesCredentialFollowsARedirectToAnotherServer) {
    standin::Server other;
    other.otherwise([](const standin::ReceivedRequest&) { return Reply::json(R"({"id":"a","at":1})"); });
    const std::pair<AuthPlane, int> hops[] = {
        {AuthPlane::session, 301}, {AuthPlane::data, 302}, {AuthPlane::data, 307}, {AuthPlane::session, 308}};
    for (const auto& [plane, status] : hops) {
        SCOPED_TRACE(status);
        server.on("GET", "/v1/moved", Reply{status, {{"Location", other.baseUrl() + "/v1/landing"}}, ""});
        EXPECT_EQ(client().send({.method = "GET", .path = "/v1/moved", .plane = plane}).status, 200);
        EXPECT_TRUE(last().header("Authorization").has_value());  // the first server had it
        ASSERT_TRUE(other.lastRequest());
        EXPECT_EQ(other.lastRequest()->header("Authorization"), std::nullopt);
    }
    // A request that carries a body is not taken there at all.
    server.on("POST", "/v1/moved", Reply{307, {{"Location", other.baseUrl() + "/v1/landing"}}, ""});
    other.clearRequests();
    auto refused = errorOf([&] { client().send({.method = "POST", .path = "/v1/moved"}, Stamp{"a", {}}); });
    EXPECT_EQ(refused.kind(), Case::transport);
    EXPECT_TRUE(other.requests().empty());
}

TEST_F(ClientRoad, HostileSuccessBodiesEndInInvalidResponse) {
    const std::string bodies[] = {
        std::string(100000, '[') + std::string(100000, ']'),
        R"({"id":")" + std::string("\xff\xfe", 2) + R"(","at":"2026-03-01T10:00:00Z"})",
        std::string(R"({"id":"a)") + '\0' + R"(","at":"2026-03-01T10:00:00Z"})",
        R"({"id":"a","at":"2026-03-01T10:00:00Z"} trailing)",
        R"({"id":"a","at":1e999999})",
        R"([{"id":"a","at":"2026-03-01T10:00:00Z"}])",
        "<html><body>Bad gateway</body></html>",
        "",
    };
    auto c = client();
    for (const auto& body : bodies) {
        server.on("GET", "/v1/x", Reply{200, {{"Content-Type", "application/json"}}, body});
        EXPECT_EQ(errorOf([&] { fetch<Stamp>(c, {.method = "GET", .path = "/v1/x"}); }).kind(), Case::invalidResponse)
            << body.substr(0, 40);
    }
}

TEST_F(ClientRoad, AnAnswerThatIsNotHttpIsATransportErrorSaidSo) {
    server.on("GET", "/v1/x", Reply{.headers = {}, .body = {}, .raw = "SSH-2.0-OpenSSH_9.2\r\n"});
    auto garbage = errorOf([&] { client().send({.method = "GET", .path = "/v1/x"}); });
    EXPECT_EQ(garbage.kind(), Case::transport);
    EXPECT_EQ(garbage.message(), "non-HTTP response");
}

TEST_F(ClientRoad, OversizedAnswersEndInBoundedErrorsOfTheirOwnKind) {
    // Announced far past any limit: refused before the body, a transport failure.
    server.on("GET", "/v1/huge", Reply{.headers = {}, .body = "{}", .announcedLength = std::size_t{1} << 40});
    auto huge = errorOf([&] { client().send({.method = "GET", .path = "/v1/huge"}); });
    EXPECT_EQ(huge.kind(), Case::transport);
    EXPECT_EQ(huge.errorDescription(), "Connection failed: The server's answer was too large: more than 64 MB.");

    // A megabyte of error text: the answer keeps its status and its error its kind, with a short,
    // valid text.
    std::string story = R"({"error":")";
    while (story.size() < (1U << 20)) story += "é";
    server.on("GET", "/v1/story", Reply{.status = 401, .headers = {}, .body = story + R"("})", .chunked = true});
    auto answer = client().send({.method = "GET", .path = "/v1/story"});
    EXPECT_EQ(answer.status, 401);
    auto unauthorized = BrisaluneClient::error(answer.status, answer.body);
    EXPECT_EQ(unauthorized.kind(), Case::unauthorized);
    EXPECT_LE(unauthorized.errorDescription().size(), 1024U);
    EXPECT_TRUE(platform::isValidUtf8(unauthorized.errorDescription()));
    EXPECT_TRUE(unauthorized.errorDescription().starts_with("Not signed in: "));
}

}  // namespace
}  // namespace brisalune
