#include <brisalune/client/accounts/key_revocation.hpp>

#include <support/two_servers.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using KeyRevocation::Survivor;
using standin::Reply;
using Lines = std::vector<std::string>;

class KeyRevocationTest : public testkit::TwoServerTest {
protected:
    StoredSession session{
        .baseURL = hostedURL(),
        .sessionToken = "hosted-session",
        .accountId = "acc",
        .email = "a@b",
        .activeTenantId = std::nullopt,
        .tenantKeys = {},
        .tenantHosts = {}};

    void addKey(std::string tenant, std::optional<platform::Url> host = std::nullopt) {
        session.tenantKeys[tenant] = {.keyId = "k-" + tenant, .apiKey = "key-" + tenant, .tenantId = tenant};
        if (host) session.tenantHosts[tenant] = *host;
    }
    // The projects page answers per key.
    static void answerProbes(standin::Server& server, std::map<std::string, int> statusByKey) {
        server.on("GET", "/v1/projects", [statusByKey](const standin::ReceivedRequest& request) {
            auto key = request.header("Authorization").value_or("").substr(7);
            int status = statusByKey.contains(key) ? statusByKey.at(key) : 500;
            return Reply::json(status == 200 ? R"({"projects":[]})" : R"({"error":"no"})", status);
        });
    }
    // "METHOD target Authorization" of every request the server received, sorted: the keys are
    // tried side by side.
    static Lines sent(const standin::Server& server) {
        Lines lines = received(server);
        const Lines credentials = authorizations(server);
        for (std::size_t i = 0; i < lines.size(); ++i) lines[i] += " " + credentials[i];
        std::ranges::sort(lines);
        return lines;
    }
    std::vector<Survivor> revokeAll(const BrisaluneClient& account) {
        return KeyRevocation::revokeAll(session, account, factory());
    }
};

TEST_F(KeyRevocationTest, NoKeysNoRequests) {
    EXPECT_TRUE(revokeAll(*client(hostedURL(), "hosted-session", std::nullopt)).empty());
    EXPECT_TRUE(hosted.requests().empty());
    EXPECT_TRUE(made.empty());
}

TEST_F(KeyRevocationTest, EachKeyEndsRevokedDeadOrSurviving) {
    addKey("h1");            // revoked
    addKey("h2");            // already gone
    addKey("h3");            // session expired, key refused too: dead
    addKey("h4");            // session expired, key still lists projects: survives
    addKey("h5");            // server error, then the probe fails otherwise: survives
    addKey("h6");            // revoke forbidden, key refused: dead
    addKey("x1", boxURL());  // a box key: the box wants a box session, so it decides through the probe
    addKey("x2", boxURL());
    addKey("x3", boxURL());  // a box that lets the key itself take it back, under the box's id of the team
    session.tenantKeys["x3"].tenantId = "box-team";
    hosted.on("DELETE", "/v1/tenants/h1/keys/k-h1", Reply{204, {}, ""});
    hosted.on("DELETE", "/v1/tenants/h2/keys/k-h2", Reply::json(R"({"error":"no such key"})", 404));
    hosted.on("DELETE", "/v1/tenants/h3/keys/k-h3", Reply::json(R"({"error":"expired"})", 401));
    hosted.on("DELETE", "/v1/tenants/h4/keys/k-h4", Reply::json(R"({"error":"expired"})", 401));
    hosted.on("DELETE", "/v1/tenants/h5/keys/k-h5", Reply::json(R"({"error":"boom"})", 500));
    hosted.on("DELETE", "/v1/tenants/h6/keys/k-h6", Reply::json(R"({"error":"owner role required"})", 403));
    answerProbes(hosted, {{"key-h3", 401}, {"key-h4", 200}, {"key-h5", 503}, {"key-h6", 401}});
    answerProbes(box, {{"key-x1", 401}, {"key-x2", 200}});
    box.on("DELETE", "/v1/tenants/x1/keys/k-x1", Reply::json(R"({"error":"not signed in"})", 401));
    box.on("DELETE", "/v1/tenants/x2/keys/k-x2", Reply::json(R"({"error":"not signed in"})", 401));
    box.on("DELETE", "/v1/tenants/box-team/keys/k-x3", Reply{204, {}, ""});

    auto survivors = revokeAll(*client(hostedURL(), "hosted-session", std::nullopt));

    EXPECT_EQ(
        survivors,
        (std::vector<Survivor>{{"h4", "k-h4", std::nullopt}, {"h5", "k-h5", std::nullopt}, {"x2", "k-x2", boxURL()}}));
    // Revokes go with the session; each failed one but a 404 is followed by a probe with the key itself.
    EXPECT_EQ(
        sent(hosted),
        (Lines{
            "DELETE /v1/tenants/h1/keys/k-h1 Bearer hosted-session",
            "DELETE /v1/tenants/h2/keys/k-h2 Bearer hosted-session",
            "DELETE /v1/tenants/h3/keys/k-h3 Bearer hosted-session",
            "DELETE /v1/tenants/h4/keys/k-h4 Bearer hosted-session",
            "DELETE /v1/tenants/h5/keys/k-h5 Bearer hosted-session",
            "DELETE /v1/tenants/h6/keys/k-h6 Bearer hosted-session",
            "GET /v1/projects?limit=1 Bearer key-h3",
            "GET /v1/projects?limit=1 Bearer key-h4",
            "GET /v1/projects?limit=1 Bearer key-h5",
            "GET /v1/projects?limit=1 Bearer key-h6"}));
    EXPECT_EQ(
        sent(box),
        (Lines{
            "DELETE /v1/tenants/box-team/keys/k-x3 Bearer key-x3",
            "DELETE /v1/tenants/x1/keys/k-x1 Bearer key-x1",
            "DELETE /v1/tenants/x2/keys/k-x2 Bearer key-x2",
            "GET /v1/projects?limit=1 Bearer key-x1",
            "GET /v1/projects?limit=1 Bearer key-x2"}));
}

TEST_F(KeyRevocationTest, UnknownOutcomesAreNotProbed) {
    addKey("h1");
    addKey("h2");
    addKey("x1", url("ftp://127.0.0.1:1/"));  // the transport refuses the box's revoke
    // Without a network every hosted key survives as soon as its revoke fails.
    auto gone = std::make_unique<standin::Server>();
    auto offline = client(url(gone->baseUrl()), "hosted-session", std::nullopt);
    gone.reset();
    EXPECT_EQ(
        revokeAll(*offline),
        (std::vector<Survivor>{
            {"h1", "k-h1", std::nullopt}, {"h2", "k-h2", std::nullopt}, {"x1", "k-x1", url("ftp://127.0.0.1:1/")}}));
    EXPECT_TRUE(hosted.requests().empty());

    // An answer cut short.
    session.tenantKeys.erase("x1");
    Reply cut;
    cut.body = "partial";
    cut.cutMidBody = true;
    hosted.on("DELETE", "/v1/tenants/h1/keys/k-h1", cut);
    hosted.on("DELETE", "/v1/tenants/h2/keys/k-h2", Reply::json(R"({"error":"expired"})", 401));
    // The probe of h2 goes to the session's server, which is unreachable here.
    session.baseURL = url("ftp://127.0.0.1:1/");
    EXPECT_EQ(
        revokeAll(*client(hostedURL(), "hosted-session", std::nullopt)),
        (std::vector<Survivor>{{"h1", "k-h1", std::nullopt}, {"h2", "k-h2", std::nullopt}}));
    Lines both = received(hosted);
    std::ranges::sort(both);
    EXPECT_EQ(both, (Lines{"DELETE /v1/tenants/h1/keys/k-h1", "DELETE /v1/tenants/h2/keys/k-h2"}));
}

// A server that holds one key's revoke keeps no other key from being revoked: each goes out.
TEST_F(KeyRevocationTest, AServerThatHoldsOneRevokeStillHearsTheOthers) {
    addKey("h1");
    addKey("h2");
    hosted.otherwise([](const standin::ReceivedRequest&) {
        Reply held{204, {}, ""};
        held.holdUntilReleased = true;
        return held;
    });
    const auto account = client(hostedURL(), "hosted-session", std::nullopt);
    auto revoking = std::async(std::launch::async, [&] { return revokeAll(*account); });
    EXPECT_TRUE(hosted.waitForRequests(2, std::chrono::seconds(30)));  // a hang guard only
    // The rest answers at once.
    hosted.otherwise({});
    hosted.release();
    EXPECT_TRUE(revoking.get().empty());
    Lines both = received(hosted);
    std::ranges::sort(both);
    EXPECT_EQ(both, (Lines{"DELETE /v1/tenants/h1/keys/k-h1", "DELETE /v1/tenants/h2/keys/k-h2"}));
}

}  // namespace
}  // namespace brisalune
