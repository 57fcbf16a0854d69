#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/boxes/box_link.hpp>
#include <brisalune/client/boxes/endpoints.hpp>
#include <brisalune/client/boxes/join_code.hpp>
#include <brisalune/client/boxes/probe.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/demo/demo_service.hpp>
#include <brisalune/demo/wire.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <support/temp_dir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <iterator>
#include <set>

namespace brisalune::demo {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Ne;

constexpr auto patience = std::chrono::seconds(20);

DemoOptions arrivingEvery(std::chrono::milliseconds period) {
    return {.hostedPort = 0, .boxPort = 0, .newAlertEvery = period};
}

class DemoServiceTest : public ::testing::Test {
protected:
    DemoService demo{loadFixture(defaultFixturePath()), arrivingEvery(std::chrono::milliseconds(0))};
    ServerCompatibility compatibility;

    static platform::Url url(const std::string& text) { return *platform::Url::parse(text); }
    const AccountSeed& account() const { return demo.fixture().hosted.accounts.front(); }
    const AccountSeed& boxAccount() const { return demo.fixture().box.accounts.front(); }

    std::shared_ptr<BrisaluneClient> client(
        const std::string& base, std::optional<std::string> session = {}, std::optional<std::string> key = {}) {
        return std::make_shared<BrisaluneClient>(
            url(base), std::move(session), std::move(key), nullptr, ClientIdentity::current(), compatibility);
    }
    std::shared_ptr<BrisaluneClient> signedIn() {
        return client(demo.hostedUrl(), login(*client(demo.hostedUrl()), account().email, account().password).token);
    }
    // A client on the team's data with a key just issued on the hosted service.
    std::shared_ptr<BrisaluneClient> teamClient(std::string_view team = "acme-ops") {
        return client(demo.hostedUrl(), std::nullopt, issueKey(*signedIn(), team).apiKey);
    }
    BoxLink link() {
        return {
            signedIn(),
            [this](const platform::Url& base, std::optional<std::string> session, std::optional<std::string> key) {
                return client(base.text(), std::move(session), std::move(key));
            },
            [this] {
                return BoxLinkAccount{account().id, url(demo.hostedUrl())};
            }};
    }
};

std::set<std::string> states(const std::vector<AlertSnapshot>& alerts) {
    std::set<std::string> found;
    for (const auto& alert : alerts) found.insert(alert.state);
    return found;
}

const AlertSnapshot& firstIn(const std::vector<AlertSnapshot>& alerts, AlertState state) {
    return *std::ranges::find(alerts, std::string(rawValue(state)), &AlertSnapshot::state);
}

TEST_F(DemoServiceTest, SignsInAndListsTheAccountsTeams) {
    const auto answer = login(*client(demo.hostedUrl()), account().email, account().password);
    EXPECT_EQ(answer.account.email, account().email);

    const auto session = client(demo.hostedUrl(), answer.token);
    const auto mine = me(*session);
    EXPECT_EQ(mine.account.id, account().id);
    EXPECT_THAT(
        mine.memberships,
        ElementsAre(
            AllOf(
                Field(&Membership::tenantId, "acme-ops"),
                Field(&Membership::dataPlaneURL, std::optional<platform::Url>())),
            AllOf(Field(&Membership::tenantId, "harbor-lab"), Field(&Membership::dataPlaneURL, url(demo.boxUrl())))));
    EXPECT_EQ(listTenants(*session), mine.memberships);

    const auto wrong = [&] { login(*client(demo.hostedUrl()), account().email, "not the password"); };
    EXPECT_THROW(wrong(), BrisaluneError);
    logout(*session);
    try {
        me(*session);
        ADD_FAILURE() << "the session outlived its logout";
    } catch (const BrisaluneError& error) {
        EXPECT_TRUE(error.is(BrisaluneError::Case::unauthorized));
    }
}

TEST_F(DemoServiceTest, ServesEveryStateAndChangesOnAcknowledgeAndResolve) {
    const auto team = teamClient();
    const auto all = pull(*team, 0, 0);
    EXPECT_EQ(all.alerts.size(), 8u);
    EXPECT_EQ(states(all.alerts), (std::set<std::string>{"acked", "firing", "resolved"}));
    EXPECT_TRUE(all.configVersions.contains("checkout"));

    const auto firing = firstIn(all.alerts, AlertState::firing);
    const auto acked = acknowledge(*team, firing.id);
    EXPECT_EQ(acked.state, "acked");
    const auto changes = pull(*team, all.cursor, 0);
    ASSERT_EQ(changes.alerts.size(), 1u);
    EXPECT_EQ(changes.alerts[0], acked);
    EXPECT_EQ(changes.cursor, acked.updatedSeq);

    EXPECT_EQ(resolve(*team, firing.id, "disk full", std::nullopt).state, "resolved");
    EXPECT_EQ(acknowledge(*team, firing.id).state, "resolved");  // resolved stays resolved

    try {
        acknowledge(*team, "ffffffffffffffff");
        ADD_FAILURE() << "an unknown alert was acknowledged";
    } catch (const BrisaluneError& error) {
        EXPECT_TRUE(error.is(BrisaluneError::Case::notFound));
    }
}

TEST_F(DemoServiceTest, RevokedKeysNoLongerReachTheTeam) {
    const auto session = signedIn();
    const auto key = issueKey(*session, "acme-ops");
    const auto team = client(demo.hostedUrl(), std::nullopt, key.apiKey);
    EXPECT_NO_THROW(pull(*team, 0, 0));
    revokeKey(*session, "acme-ops", key.id);
    EXPECT_THROW(pull(*team, 0, 0), BrisaluneError);
    try {
        revokeKey(*session, "acme-ops", key.id);
        ADD_FAILURE() << "a key was revoked twice";
    } catch (const BrisaluneError& error) {
        EXPECT_TRUE(error.is(BrisaluneError::Case::notFound));
    }
}

TEST_F(DemoServiceTest, LongPollWaitsForTheNextChange) {
    const auto team = teamClient();
    const auto all = pull(*team, 0, 0);

    // Nothing changes: the answer comes when the wait runs out, empty, at the same cursor.
    const auto quiet = pull(*team, all.cursor, 1);
    EXPECT_TRUE(quiet.alerts.empty());
    EXPECT_EQ(quiet.cursor, all.cursor);

    auto held = std::async(std::launch::async, [&] { return pull(*team, all.cursor, 30); });
    ASSERT_TRUE(demo.hosted().waitForHeldPulls(1, patience));
    const auto acked = acknowledge(*team, firstIn(all.alerts, AlertState::firing).id);
    const auto woken = held.get();
    ASSERT_EQ(woken.alerts.size(), 1u);
    EXPECT_EQ(woken.alerts[0], acked);
}

TEST_F(DemoServiceTest, TellsTheBoxFromTheHostedServiceWithVersionHeaders) {
    EXPECT_EQ(probeBox(*client(demo.boxUrl())), BoxProbe::box);
    EXPECT_EQ(compatibility.current().serverVersion, demo.fixture().box.version);
    EXPECT_EQ(probeBox(*client(demo.hostedUrl())), BoxProbe::accountPlane);
    EXPECT_EQ(compatibility.current().serverVersion, demo.fixture().hosted.version);
}

TEST_F(DemoServiceTest, SignsInToTheBoxAndReachesItsTeam) {
    const auto signIn =
        signInToBox(link(), "harbor-lab", url(demo.boxUrl()), boxAccount().email, boxAccount().password);
    EXPECT_THAT(signIn.boxMemberships, ElementsAre(Field(&Membership::tenantId, "harbor")));
    const auto key = connectBoxTenant(signIn, "harbor");
    const auto alerts = pull(*client(demo.boxUrl(), std::nullopt, key.apiKey), 0, 0).alerts;
    EXPECT_EQ(alerts.size(), 4u);

    EXPECT_THROW(signInToBox(link(), "harbor-lab", url(demo.boxUrl()), boxAccount().email, "wrong"), BrisaluneError);
}

TEST_F(DemoServiceTest, JoinsTheBoxWithItsJoinCodeOnce) {
    const auto code = JoinCode::parse(demo.joinCode());
    EXPECT_EQ(code.boxURL, url(demo.boxUrl()));
    EXPECT_EQ(code.hostedTenantId, "harbor-lab");
    EXPECT_FALSE(code.seat);

    const auto joined = pairBox(link(), code.hostedTenantId, code.code, "Demo laptop", code.boxURL, std::nullopt);
    EXPECT_EQ(joined.host, url(demo.boxUrl()));
    EXPECT_EQ(joined.key.tenantId, "harbor");
    const auto box = client(demo.boxUrl(), std::nullopt, joined.key.apiKey);
    EXPECT_EQ(pull(*box, 0, 0).alerts.size(), 4u);
    const auto relay = relayStatus(*box);
    EXPECT_TRUE(relay.configured);
    EXPECT_TRUE(relay.relayURL.value_or("").starts_with(demo.hostedUrl() + "/v1/relay/"));

    // Joined again: the hosted service pairs the new box account and ends the pairing before.
    pairBox(link(), code.hostedTenantId, code.code, "Demo laptop", code.boxURL, std::nullopt);
    EXPECT_THAT(
        listPairings(*signedIn(), "harbor-lab"),
        ElementsAre(
            AllOf(Field(&Pairing::accountId, account().id), Field(&Pairing::revokedAt, Ne(std::nullopt))),
            AllOf(Field(&Pairing::accountId, account().id), Field(&Pairing::revokedAt, std::nullopt))));
}

TEST_F(DemoServiceTest, MintedSeatCodesMakeABoxAccount) {
    const auto boxSession =
        client(demo.boxUrl(), login(*client(demo.boxUrl()), boxAccount().email, boxAccount().password).token);
    const auto boxKey = client(demo.boxUrl(), std::nullopt, issueKey(*boxSession, "harbor").apiKey);
    const auto minted = mintPairingCode(*boxKey, "member", "new@harbor.box", std::nullopt, std::nullopt);
    const auto code = JoinCode::parse(minted.joinCode.value_or(""));
    ASSERT_TRUE(code.seat);

    pairBox(
        link(), code.hostedTenantId, code.code, std::nullopt, code.boxURL, SeatCredentials{"new@harbor.box", "s3at"});
    EXPECT_EQ(login(*client(demo.boxUrl()), "new@harbor.box", "s3at").account.email, "new@harbor.box");
    EXPECT_THROW(
        pairBox(
            link(),
            code.hostedTenantId,
            code.code,
            std::nullopt,
            code.boxURL,
            SeatCredentials{"new@harbor.box", "again"}),
        BrisaluneError);  // the e-mail address is taken
}

TEST_F(DemoServiceTest, KeepsTheAccountsDevices) {
    const auto session = signedIn();
    const auto send = [&](std::string method, std::string path) {
        return session->send(Call{.method = std::move(method), .path = std::move(path)});
    };
    const auto registered = session->send(
        Call{.method = "POST", .path = "/v1/account/devices"}, RegisterDeviceBody{"ab12", "macos", false});
    EXPECT_TRUE(json::decode<RegisteredResponse>(registered.body).registered);
    const auto listed = json::decode<DevicesResponse>(send("GET", "/v1/account/devices").body);
    EXPECT_THAT(listed.devices, ElementsAre(Field(&Device::token, "ab12")));
    EXPECT_EQ(send("DELETE", "/v1/account/devices/ab12").status, 204);
    EXPECT_EQ(send("DELETE", "/v1/account/devices/ab12").status, 404);
}

// A client on the data of the hosted team "acme-ops" of that demo.
BrisaluneClient acmeClient(const DemoService& demo, ServerCompatibility& compatibility) {
    const auto hosted = *platform::Url::parse(demo.hostedUrl());
    BrisaluneClient account(hosted, std::nullopt, std::nullopt, nullptr, ClientIdentity::current(), compatibility);
    const auto& seed = demo.fixture().hosted.accounts.front();
    account.setSessionToken(login(account, seed.email, seed.password).token);
    return BrisaluneClient(
        hosted, std::nullopt, issueKey(account, "acme-ops").apiKey, nullptr, ClientIdentity::current(), compatibility);
}

TEST(DemoServiceArrivals, NewAlertsWakeALongPoll) {
    DemoService demo(loadFixture(defaultFixturePath()), arrivingEvery(std::chrono::milliseconds(50)));
    ServerCompatibility compatibility;
    const auto team = acmeClient(demo, compatibility);

    const auto before = pull(team, 0, 0);
    const auto arrived = pull(team, before.cursor, 30);
    // An arrival may also resolve the oldest open alert; the new one is the firing one.
    const auto fresh = std::ranges::find(arrived.alerts, std::string("firing"), &AlertSnapshot::state);
    ASSERT_NE(fresh, arrived.alerts.end());
    EXPECT_EQ(fresh->id.size(), 16u);
    EXPECT_TRUE(
        std::ranges::any_of(demo.fixture().arrivals, [&](const ArrivalSeed& a) { return a.rule == fresh->rule; }));
}

// The app's settings outlive a run of the demo, acknowledgements waiting to be sent among them:
// an alert that arrives in one run never has the id of one from another run.
TEST(DemoServiceArrivals, NewAlertsOfOneRunHaveIdsNoOtherRunGives) {
    const auto run = [] {
        DemoService demo(loadFixture(defaultFixturePath()), arrivingEvery(std::chrono::milliseconds(0)));
        for (const auto& arrival : demo.fixture().arrivals) demo.hosted().raise(arrival);
        ServerCompatibility compatibility;
        std::set<std::string> ids;
        for (const auto& alert : pull(acmeClient(demo, compatibility), 0, 0).alerts) ids.insert(alert.id);
        for (const auto& seed : demo.fixture().hosted.teams.front().alerts) ids.erase(seed.id);
        return ids;
    };
    const auto first = run();
    const auto second = run();
    ASSERT_FALSE(first.empty());
    std::vector<std::string> common;
    std::ranges::set_intersection(first, second, std::back_inserter(common));
    EXPECT_THAT(common, IsEmpty());
}

TEST(DemoServiceArrivals, KeepOpenAndResolvedAlertsWithinTheLimit) {
    auto fixture = loadFixture(defaultFixturePath());
    fixture.maxOpenAlerts = 7;  // "acme-ops" starts with 6 open and 2 resolved alerts
    DemoService demo(std::move(fixture), arrivingEvery(std::chrono::milliseconds(5)));
    ServerCompatibility compatibility;
    const auto team = acmeClient(demo, compatibility);

    // Wait for enough arrivals to pass the limit on both counts.
    auto cursor = pull(team, 0, 0).cursor;
    for (const auto start = cursor; cursor < start + 20;) cursor = pull(team, cursor, 30).cursor;

    const auto all = pull(team, 0, 0).alerts;
    const auto resolved = std::ranges::count(all, std::string("resolved"), &AlertSnapshot::state);
    EXPECT_EQ(static_cast<std::int64_t>(all.size()) - resolved, 7);
    EXPECT_EQ(resolved, 7);
}

TEST(DemoServiceStop, AnswersAHeldPullAndStops) {
    auto demo = std::make_unique<DemoService>(
        loadFixture(defaultFixturePath()), DemoOptions{.hostedPort = 0, .boxPort = 0, .newAlertEvery = {}});
    ServerCompatibility compatibility;
    const auto box = *platform::Url::parse(demo->boxUrl());
    BrisaluneClient boxClient(box, std::nullopt, std::nullopt, nullptr, ClientIdentity::current(), compatibility);
    EXPECT_EQ(probeBox(boxClient), BoxProbe::box);
    const auto& seed = demo->fixture().box.accounts.front();
    boxClient.setSessionToken(login(boxClient, seed.email, seed.password).token);
    boxClient.setDataKey(issueKey(boxClient, "harbor").apiKey);
    const auto cursor = pull(boxClient, 0, 0).cursor;

    auto held = std::async(std::launch::async, [&] {
        try {
            return pull(boxClient, cursor, 60).alerts.size();
        } catch (const BrisaluneError&) {
            return std::size_t{0};  // cut off as the server went: as good as an answer
        }
    });
    ASSERT_TRUE(demo->box().waitForHeldPulls(1, patience));
    demo.reset();
    EXPECT_EQ(held.get(), 0u);
}

TEST(DemoFixture, SaysWhichFileIsUnusableAndWhy) {
    testkit::TempDir dir;
    std::ofstream(dir / "fixture.json") << R"({"hosted": {"accounts": [], "teams": []}})";
    try {
        loadFixture(dir / "fixture.json");
        ADD_FAILURE() << "an incomplete fixture loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_THAT(error.what(), HasSubstr((dir / "fixture.json").string()));
        EXPECT_THAT(error.what(), HasSubstr("hosted"));
    }
    EXPECT_THROW(loadFixture(dir / "missing.json"), std::runtime_error);
}

}  // namespace
}  // namespace brisalune::demo
