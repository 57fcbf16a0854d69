// The demo's web site over real HTTP: where the app's portal links, its update row and its
// app-page link lead.
#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/boxes/portal_links.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/client/updates/site_release.hpp>
#include <brisalune/client/version.hpp>
#include <brisalune/demo/demo_service.hpp>
#include <brisalune/demo/web_site.hpp>
#include <brisalune/platform/http.hpp>
#include <brisalune/platform/json.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brisalune::demo {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class DemoWebSiteTest : public ::testing::Test {
protected:
    DemoService demo{loadFixture(defaultFixturePath()), DemoOptions{.newAlertEvery = std::chrono::milliseconds(0)}};

    http::Response get(const std::string& url) const {
        http::Request request;
        request.url = url;
        return http::curlTransport()->perform(request);
    }
    // The page at the address, which must be HTML.
    std::string page(const std::string& url, int status = 200) const {
        const http::Response answer = get(url);
        EXPECT_EQ(answer.status, status) << url;
        EXPECT_THAT(answer.headers.get("Content-Type").value_or(""), StartsWith("text/html")) << url;
        return answer.body;
    }
    std::string portal(const std::string& team, const std::string& alert) const {
        const auto origin = *platform::Url::parse(demo.webUrl());
        StoredSession session;
        session.baseURL = *platform::Url::parse(demo.hostedUrl());
        session.activeTenantId = team;
        const std::vector<Membership> memberships{{team, team, "admin", std::nullopt, std::nullopt}};
        const auto destination = PortalLinks::portalDestination(
            team, alert, memberships, session, {{session.baseURL, origin}}, true);
        const auto* link = destination.get<PortalLinks::Destination::Portal>();
        return link ? link->url.text() : std::string();
    }
};

TEST_F(DemoWebSiteTest, TheAppsPortalLinksLeadToPagesOfTheAlertAndItsTeam) {
    const std::string address = portal("acme-ops", "a1c0000000000001");
    ASSERT_EQ(address, demo.webUrl() + "/t/acme-ops/alerts/a1c0000000000001");
    EXPECT_THAT(
        page(address),
        AllOf(
            HasSubstr("<h1>Checkout error rate above 5%</h1>"),
            HasSubstr("payment declined for order 88412"),
            HasSubstr("INC-42"),
            HasSubstr("href=\"/t/acme-ops/alerts\"")));

    // The team's list links every alert, as the service holds it now: acknowledged included.
    const auto hosted = *platform::Url::parse(demo.hostedUrl());
    const auto& seed = demo.fixture().hosted.accounts.front();
    const std::string session = login(BrisaluneClient(hosted), seed.email, seed.password).token;
    const BrisaluneClient team(hosted, std::nullopt, issueKey(BrisaluneClient(hosted, session), "acme-ops").apiKey);
    acknowledge(team, "a1c0000000000002");
    const std::string list = page(demo.webUrl() + "/t/acme-ops/alerts");
    EXPECT_THAT(list, AllOf(HasSubstr("<h1>Acme Operations</h1>"), HasSubstr("href=\"/t/acme-ops/alerts/a1c0000000000001\"")));
    EXPECT_THAT(page(demo.webUrl() + "/t/acme-ops/alerts/a1c0000000000002"), HasSubstr("<td>acked</td>"));

    // The box's team, under the id the box knows it by; the box announces the site as its portal.
    EXPECT_THAT(page(demo.webUrl() + "/t/harbor/alerts/b0c0000000000001"), HasSubstr("Secret in logs"));
    const http::Response health = get(demo.boxUrl() + "/healthz");
    EXPECT_EQ(json::parse(health.body).get<json::Object>()->at("portal_origin"), json::Value(demo.webUrl()));
    EXPECT_FALSE(json::parse(get(demo.hostedUrl() + "/healthz").body).get<json::Object>()->contains("portal_origin"));

    // What the demo does not have is a page that says so; every page home links home.
    EXPECT_THAT(page(demo.webUrl() + "/t/acme-ops/alerts/nope", 404), HasSubstr("has no alert nope"));
    EXPECT_THAT(page(demo.webUrl() + "/t/nobody/alerts", 404), HasSubstr("no team nobody"));
    EXPECT_THAT(page(demo.webUrl() + "/elsewhere", 404), HasSubstr("href=\"/\""));
    EXPECT_THAT(page(demo.webUrl() + "/"), HasSubstr("href=\"/t/harbor/alerts\""));
}

TEST_F(DemoWebSiteTest, TextsFromTheServiceAreEscaped) {
    Fixture fixture = loadFixture(defaultFixturePath());
    fixture.hosted.teams.front().name = "R&D <b>ops</b>";
    fixture.hosted.teams.front().alerts.front().rule = "<script>alert(\"x\")</script>";
    DemoService tricky(std::move(fixture), DemoOptions{.newAlertEvery = std::chrono::milliseconds(0)});
    const std::string body = page(tricky.webUrl() + "/t/acme-ops/alerts/a1c0000000000001");
    EXPECT_THAT(body, AllOf(Not(HasSubstr("<script>")), Not(HasSubstr("<b>ops"))));
    EXPECT_THAT(body, AllOf(HasSubstr("&lt;script&gt;alert(&quot;x&quot;)"), HasSubstr("R&amp;D &lt;b&gt;ops")));
}

TEST_F(DemoWebSiteTest, TheManifestOffersTheNextReleaseWithADownloadPageOnTheSite) {
    const http::Response answer = get(demo.manifestUrl());
    ASSERT_EQ(answer.status, 200);
    const std::optional<SiteRelease> release = SiteRelease::decode(answer.body);
    ASSERT_TRUE(release);
    EXPECT_EQ(*release, demo.release());
    EXPECT_EQ(release->versionCode, std::stoll(build::buildNumber) + 1);
    EXPECT_NE(release->versionName, build::version);
    // The app offers it: the download is on the manifest's own origin.
    const auto manifest = *platform::Url::parse(demo.manifestUrl());
    ASSERT_EQ(SiteRelease::offeredRelease(release, std::stoll(build::buildNumber), 0, manifest), release);
    EXPECT_THAT(release->url, StartsWith(demo.webUrl() + "/downloads/"));
    EXPECT_THAT(
        page(release->url),
        AllOf(HasSubstr("<h1>Brisalune " + release->versionName + "</h1>"), HasSubstr(*release->sha256)));
    // The app's page (its update link when no download is usable) leads there too.
    EXPECT_THAT(
        page(demo.webUrl() + "/download"), HasSubstr("href=\"" + platform::Url::parse(release->url)->path() + "\""));
}

TEST(DemoOfferedManifest, FillsOnlyWhatTheFixtureLeavesOut) {
    const ReleaseSeed bare{"/latest.json", json::Object{{"notes", "Faster."}}};
    const json::Value filled = offeredManifest(bare, "http://127.0.0.1:9", "0.1.0", 1);
    const SiteRelease release = *SiteRelease::decode(json::write(filled));
    EXPECT_EQ(release.versionCode, 2);
    EXPECT_EQ(release.versionName, "0.2.0");
    EXPECT_EQ(release.url, "http://127.0.0.1:9/downloads/brisalune-desktop-0.2.0.tar.gz");
    EXPECT_EQ(release.notes, "Faster.");
    EXPECT_EQ(SiteRelease::decode(json::write(offeredManifest(bare, "http://w", "1.9.4", 30)))->versionName, "1.10.0");
    EXPECT_EQ(SiteRelease::decode(json::write(offeredManifest(bare, "http://w", "nightly", 30)))->versionName, "nightly.1");

    const ReleaseSeed given{
        "/latest.json", json::Object{{"version_code", 7.0}, {"version_name", "7"}, {"url", "https://x/7.tgz"}}};
    EXPECT_EQ(offeredManifest(given, "http://w", "0.1.0", 1), given.manifest);
}

}  // namespace
}  // namespace brisalune::demo
