#include <brisalune/client/boxes/portal_links.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using PortalLinks::Destination;

platform::Url url(std::string_view text) { return *platform::Url::parse(text); }

class PortalLinksTest : public ::testing::Test {
protected:
    const platform::Url hosted = url("https://api.brisalune.example");
    const platform::Url box = url("https://box.local:8443");
    StoredSession session{
        .baseURL = hosted,
        .sessionToken = "tok",
        .accountId = "acc",
        .email = "a@b",
        .activeTenantId = "h1",
        .tenantKeys =
            {{"b1", {.keyId = "k", .apiKey = "bk", .tenantId = "box-7"}},
             {"b2", {.keyId = "k2", .apiKey = "bk2", .tenantId = std::nullopt}}},
        .tenantHosts = {{"b1", box}, {"b2", box}}};
    std::vector<Membership> memberships{member("h1"), member("b1"), member("b2")};
    PortalOrigins origins{{hosted, url("https://app.brisalune.example")}, {box, url("HTTPS://Portal.Box:8443/")}};

    static Membership member(std::string id) {
        return {.tenantId = std::move(id), .tenantName = "T", .role = "owner", .roleName = {}, .dataPlaneURL = {}};
    }

    Destination destination(std::optional<std::string> tenant, std::string_view alert = "al1") {
        return PortalLinks::portalDestination(tenant, alert, memberships, session, origins, false);
    }
    static Destination portal(std::string_view text) { return {Destination::Portal{url(text)}}; }
};

TEST_F(PortalLinksTest, HostedTeamsLinkByTheirIdAndBoxTeamsByTheirBoxId) {
    EXPECT_EQ(destination(std::nullopt), portal("https://app.brisalune.example/t/h1/alerts/al1"));
    EXPECT_EQ(destination("b1", "a/b c"), portal("https://Portal.Box:8443/t/box-7/alerts/a%2Fb%20c"));
    EXPECT_EQ(PortalLinks::alertsPageURL("b1", session, origins, false), url("https://Portal.Box:8443/t/box-7/alerts"));
    EXPECT_EQ(
        PortalLinks::alertsPageURL("h1", session, origins, false), url("https://app.brisalune.example/t/h1/alerts"));
}

TEST_F(PortalLinksTest, NoTeamNoMembershipNoBoxIdNoOrigin) {
    EXPECT_EQ(destination("stranger"), Destination{Destination::UnknownTenant{}});
    session.activeTenantId.reset();
    EXPECT_EQ(destination(std::nullopt), Destination{Destination::UnknownTenant{}});
    session.activeTenantId = "h1";
    memberships = {member("b1"), member("b2")};
    EXPECT_EQ(destination(std::nullopt), Destination{Destination::UnknownTenant{}});  // the active team included

    EXPECT_EQ(destination("b2"), Destination{Destination::BoxSignInNeeded{"b2"}});
    EXPECT_EQ(PortalLinks::alertsPageURL("b2", session, origins, false), std::nullopt);

    memberships.push_back(member("h1"));
    origins.erase(hosted);
    EXPECT_EQ(destination("h1"), Destination{Destination::PortalOff{hosted}});
    EXPECT_EQ(PortalLinks::alertsPageURL("h1", session, origins, false), std::nullopt);
    origins[hosted] = url("http://app.brisalune.example");
    EXPECT_EQ(destination("h1"), Destination{Destination::PortalOff{hosted}});
}

TEST(PortalOrigin, OnlyBareHttpsOriginsOrLocalHttpWhenAllowed) {
    EXPECT_EQ(
        PortalLinks::portalOrigin(url("HTTPS://Portal.Example:8443/"), false), url("https://Portal.Example:8443"));
    EXPECT_EQ(PortalLinks::portalOrigin(url("https://p.example"), false), url("https://p.example"));
    for (const auto* refused :
         {"https://p.example/app",
          "https://p.example/?",
          "https://p.example/#",
          "https://u@p.example",
          "https://u:pw@p.example",
          "https://p.example?x=1",
          "ftp://p.example",
          "p.example",
          "/relative",
          "http://p.example"}) {
        EXPECT_EQ(PortalLinks::portalOrigin(url(refused), true), std::nullopt) << refused;
    }
    for (const auto* local : {"http://localhost:3000", "http://LOCALHOST", "http://127.0.0.1:80/", "http://[::1]:9"}) {
        EXPECT_EQ(PortalLinks::portalOrigin(url(local), false), std::nullopt) << local;
        EXPECT_TRUE(PortalLinks::portalOrigin(url(local), true)) << local;
    }
    EXPECT_EQ(PortalLinks::portalOrigin(url("http://[::1]:9/"), true), url("http://[::1]:9"));
}

}  // namespace
}  // namespace brisalune
