#include <brisalune/client/boxes/box_link.hpp>
#include <brisalune/client/boxes/join_code.hpp>
#include <brisalune/client/boxes/probe.hpp>
#include <brisalune/platform/base64.hpp>

#include <support/two_servers.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using standin::Reply;
using Lines = std::vector<std::string>;

constexpr std::string_view redeemed =
    R"({"api_key":"bk_box","api_key_id":"bk1","tenant_id":"box-t","box_account_id":"ba1","receipt":"rcpt"})";

class BoxJoin : public testkit::TwoServerTest {
protected:
    int accountAsked = 0;
    std::optional<BoxLinkAccount> signedIn = BoxLinkAccount{"acc_1", hostedURL()};

    BoxLink link() {
        return {
            .accountClient = client(hostedURL(), "hosted-session", std::nullopt),
            .clientFactory = factory(),
            .account = [this] {
                ++accountAsked;
                return signedIn;
            }};
    }

    void answerPairings(std::string pairings) {
        hosted.on("GET", "/v1/tenants/ht%2F1/pairings", Reply::json(R"({"pairings":[)" + pairings + "]}"));
    }
    void answerPair(std::string body) { hosted.on("POST", "/v1/tenants/ht%2F1/pair", Reply::json(std::move(body))); }

    BoxConnection join(const std::optional<SeatCredentials>& seat = std::nullopt) {
        return pairBox(link(), "ht/1", "pc-9", std::string("Ana's laptop"), boxURL(), seat);
    }
};

TEST_F(BoxJoin, TheHostedServicePairsTheTeamAndTheRelayIsInstalledOnTheBox) {
    box.on("POST", "/v1/pair", Reply::json(std::string(redeemed)));
    box.on("PUT", "/v1/relay", Reply::json(R"({"relay_url":"whatever"})"));
    answerPair(R"({"paired":true,"box_account_id":"ba1","relay_key_id":"rk/1","relay_secret":"rs"})");

    auto connection = join();

    EXPECT_EQ(connection.host, boxURL());
    EXPECT_EQ(connection.key, (TenantKey{.keyId = "bk1", .apiKey = "bk_box", .tenantId = "box-t"}));
    EXPECT_EQ(received(box), (Lines{"POST /v1/pair", "PUT /v1/relay"}));
    EXPECT_EQ(authorizations(box), (Lines{"", "Bearer bk_box"}));
    EXPECT_EQ(received(hosted), (Lines{"POST /v1/tenants/ht%2F1/pair"}));
    EXPECT_EQ(authorizations(hosted), (Lines{"Bearer hosted-session"}));

    const auto boxRequests = box.requests();
    EXPECT_EQ(boxRequests[0].body, R"({"code":"pc-9","display_name":"Ana's laptop"})");
    EXPECT_EQ(hosted.requests()[0].body, R"({"box_account_id":"ba1","receipt":"rcpt"})");
    EXPECT_EQ(
        boxRequests[1].body,
        R"({"relay_url":")" + hosted.baseUrl() + R"(/v1/relay/rk%2F1","relay_secret":"rs",)" +
            R"("hosted_tenant_id":"ht/1","box_public_url":")" + box.baseUrl() + R"("})");
    EXPECT_EQ(accountAsked, 1);
    EXPECT_EQ(
        made,
        (std::vector<Made>{{box.baseUrl(), std::nullopt, std::nullopt}, {box.baseUrl(), std::nullopt, "bk_box"}}));
}

// A team this account already paired with one box: a second code (for any box, which may name
// any box account) still goes to the hosted service, whose answer alone moves the team.
TEST_F(BoxJoin, AnAlreadyPairedTeamMovesOnlyWhenTheHostedServicePairsIt) {
    box.on("POST", "/v1/pair", Reply::json(std::string(redeemed)));
    answerPairings(R"({"account_id":"acc_1","box_account_id":"ba1","created_at":"2026-01-01T00:00:00Z"})");
    for (const auto* kept :
         {R"({"paired":false,"box_account_id":"ba0","relay_key_id":"rk1","relay_secret":"rs"})",
          R"({"paired":true,"box_account_id":"ba0","relay_key_id":"rk1","relay_secret":"rs"})"}) {
        answerPair(kept);
        try {
            join();
            FAIL() << "join succeeded: " << kept;
        } catch (const BoxConnectionError& error) {
            EXPECT_TRUE(error.is(BoxConnectionError::Case::pairingRefused));
            EXPECT_NE(std::string(error.what()).find("nothing was changed"), std::string::npos) << error.what();
        }
        EXPECT_EQ(received(box), (Lines{"POST /v1/pair"})) << kept;  // no relay secret for that box
        EXPECT_EQ(received(hosted), (Lines{"POST /v1/tenants/ht%2F1/pair"})) << kept;
        box.clearRequests();
        hosted.clearRequests();
    }

    answerPair(R"({"paired":true,"box_account_id":"ba1"})");
    EXPECT_EQ(join().key.keyId, "bk1");
    EXPECT_EQ(received(hosted), (Lines{"POST /v1/tenants/ht%2F1/pair"}));
}

TEST_F(BoxJoin, RelayIsSkippedWithoutBothCredentialsOrWithoutAnAccount) {
    box.on("POST", "/v1/pair", Reply::json(std::string(redeemed)));
    for (const auto* pairing :
         {R"({"paired":true,"box_account_id":"ba1","relay_key_id":"rk1"})",
          R"({"paired":true,"box_account_id":"ba1","relay_key_id":null,"relay_secret":"rs"})"}) {
        answerPair(pairing);
        join();
        EXPECT_EQ(received(box), (Lines{"POST /v1/pair"})) << pairing;
        box.clearRequests();
    }

    // Signed out: no relay, but the team is still paired.
    hosted.clearRequests();
    signedIn.reset();
    answerPair(R"({"paired":true,"box_account_id":"ba1","relay_key_id":"rk1","relay_secret":"rs"})");
    EXPECT_EQ(join().key.apiKey, "bk_box");
    EXPECT_EQ(received(hosted), (Lines{"POST /v1/tenants/ht%2F1/pair"}));
    EXPECT_EQ(received(box), (Lines{"POST /v1/pair"}));
}

TEST_F(BoxJoin, SeatsSendTheirCredentials) {
    box.on("POST", "/v1/pair", Reply::json(std::string(redeemed)));
    answerPair(R"({"paired":true,"box_account_id":"ba1"})");

    join(SeatCredentials{"ana@box.example", "pw"});

    EXPECT_EQ(
        box.requests()[0].body,
        R"({"code":"pc-9","display_name":"Ana's laptop","email":"ana@box.example","password":"pw"})");
}

TEST_F(BoxJoin, FailingStepEndsTheJoinWithItsError) {
    box.on("POST", "/v1/pair", Reply::json(R"({"error":"code expired"})", 410));
    try {
        join();
        FAIL() << "join succeeded";
    } catch (const BrisaluneError& error) {
        EXPECT_EQ(error.status(), 410);
    }
    EXPECT_TRUE(hosted.requests().empty());

    box.on("POST", "/v1/pair", Reply::json(std::string(redeemed)));
    hosted.on("POST", "/v1/tenants/ht%2F1/pair", Reply::json(R"({"error":"admin role required"})", 403));
    EXPECT_THROW(join(), BrisaluneError);
    EXPECT_EQ(received(box), (Lines{"POST /v1/pair", "POST /v1/pair"}));
}

// A join code may name any scheme: the probe calls such a box unreachable, and a join that
// skips the probe fails with a transport error instead of reaching anything.
TEST_F(BoxJoin, CodeWithAForeignSchemeIsUnreachable) {
    const std::string payload = R"({"u":"ftp://)" + std::string("127.0.0.1:") + std::to_string(box.port()) +
                                R"(/","t":"ht/1","c":"pc-9","v":1})";
    const auto code = JoinCode::parse(
        "blj_" + platform::base64(std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size())));

    auto verdict = probeBox(*client(code.boxURL, std::nullopt, std::nullopt));
    EXPECT_EQ(verdict, BoxProbe::unreachable);
    EXPECT_EQ(
        boxProbeMessage(verdict, code.boxURL, "Mac", hostedURL()),
        "Couldn't reach a brisalune box at 127.0.0.1. Check the address, and that the box is running and "
        "reachable from this Mac.");
    try {
        pairBox(link(), code.hostedTenantId, code.code, std::nullopt, code.boxURL, std::nullopt);
        FAIL() << "join succeeded";
    } catch (const BrisaluneError& error) {
        EXPECT_TRUE(error.is(BrisaluneError::Case::transport));
    }
    EXPECT_TRUE(box.requests().empty());
    EXPECT_TRUE(hosted.requests().empty());
}

class BoxSignInFlow : public testkit::TwoServerTest {
protected:
    BoxLink link() {
        return {
            .accountClient = client(hostedURL(), "hosted-session", std::nullopt),
            .clientFactory = factory(),
            .account = [] { return std::optional<BoxLinkAccount>(); }};
    }
    void answerMe(std::string memberships) {
        box.on("POST", "/v1/login", Reply::json(R"({"account":{"id":"b-acc","email":"ana@box"},"token":"box-tok"})"));
        box.on(
            "GET",
            "/v1/me",
            Reply::json(R"({"account":{"id":"b-acc","email":"ana@box"},"memberships":[)" + memberships + "]}"));
    }
    static std::string membership(std::string_view id) {
        return R"({"tenant_id":")" + std::string(id) + R"(","tenant_name":"Ops","role":"owner"})";
    }
};

TEST_F(BoxSignInFlow, AnAccountWithoutTeamsOrUnreadFailsAndItsBoxSessionEnds) {
    answerMe("");
    try {
        signInToBox(link(), "ht1", boxURL(), "ana@box", "pw");
        FAIL() << "sign-in succeeded";
    } catch (const BoxConnectionError& error) {
        EXPECT_TRUE(error.is(BoxConnectionError::Case::boxHasNoTenants));
        EXPECT_STREQ(
            error.what(),
            "That box account is not a member of any tenant on the box. Ask whoever runs it to add you, or "
            "to issue a pairing code instead.");
    }
    EXPECT_EQ(received(box), (Lines{"POST /v1/login", "GET /v1/me", "POST /v1/logout"}));
    EXPECT_EQ(authorizations(box).back(), "Bearer box-tok");
    EXPECT_TRUE(hosted.requests().empty());

    // So does one whose account could not be read.
    box.clearRequests();
    box.on("GET", "/v1/me", Reply::json(R"({"error":"down"})", 500));
    EXPECT_THROW(signInToBox(link(), "ht1", boxURL(), "ana@box", "pw"), BrisaluneError);
    EXPECT_EQ(received(box), (Lines{"POST /v1/login", "GET /v1/me", "POST /v1/logout"}));
    EXPECT_EQ(authorizations(box).back(), "Bearer box-tok");
}

TEST_F(BoxSignInFlow, TeamsComeInTheBoxsOrderAndTheChosenOneGetsAKeyThatEndsTheBoxSession) {
    answerMe(membership("bt2") + "," + membership("bt1") + "," + membership("bt3"));

    auto signIn = signInToBox(link(), "ht1", boxURL(), "ana@box", "pw");

    EXPECT_EQ(signIn.id(), "ht1");
    Lines got;
    for (const auto& m : signIn.boxMemberships) got.push_back(m.tenantId);
    EXPECT_EQ(got, (Lines{"bt2", "bt1", "bt3"}));
    EXPECT_EQ(box.requests()[0].body, R"({"email":"ana@box","password":"pw"})");
    EXPECT_EQ(authorizations(box), (Lines{"", "Bearer box-tok"}));

    box.on("POST", "/v1/tenants/bt3/keys", Reply::json(R"({"id":"k9","token":"bk_9"})", 201));
    EXPECT_EQ(connectBoxTenant(signIn, "bt3"), (TenantKey{.keyId = "k9", .apiKey = "bk_9", .tenantId = "bt3"}));
    const Lines sent = received(box);
    EXPECT_EQ(Lines(sent.end() - 2, sent.end()), (Lines{"POST /v1/tenants/bt3/keys", "POST /v1/logout"}));
    EXPECT_EQ(authorizations(box).back(), "Bearer box-tok");
    EXPECT_TRUE(hosted.requests().empty());
}

}  // namespace
}  // namespace brisalune
