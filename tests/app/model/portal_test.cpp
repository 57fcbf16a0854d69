// Portal origins: asked of every server of the session, normalised, kept across restarts.

#include <app/model/model_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Destination = PortalLinks::Destination;

class ModelPortal : public testkit::ModelTest {
protected:
    static platform::Url url(const std::string& text) { return *platform::Url::parse(text); }

    StoredSession onBox() const {
        StoredSession stored = session();
        stored.tenantHosts = {{"t2", boxURL()}, {"t3", boxURL()}};
        stored.tenantKeys.emplace("t2", TenantKey{"bk", "box-key", "box-team"});
        return stored;
    }
};

TEST_F(ModelPortal, EachServerIsAskedOnceAndTheOriginsAreKept) {
    serveMe({membership("t1"), membership("t2"), membership("t3")});
    serveHealth(hosted, "");                        // names none: the hosted fallback
    serveHealth(box, "https://Box.example:8443/");  // trailing "/" dropped
    launchWith(onBox());

    EXPECT_EQ(count(hosted, "GET /healthz"), 1u);
    EXPECT_EQ(count(box, "GET /healthz"), 1u);
    const PortalOrigins expected{{hostedURL(), url(webOrigin)}, {boxURL(), url("https://Box.example:8443")}};
    EXPECT_EQ(model->portalOrigins(), expected);
    EXPECT_EQ(MacModel::loadPortalOrigins(defaults), expected);

    EXPECT_EQ(model->alertsPageURL(), url(std::string(webOrigin) + "/t/t1/alerts"));
    EXPECT_EQ(
        model->alertPortalDestination("t2", "a1"),
        (Destination{Destination::Portal{url("https://Box.example:8443/t/box-team/alerts/a1")}}));
    EXPECT_EQ(model->alertPortalDestination("t3", "a1"), (Destination{Destination::BoxSignInNeeded{"t3"}}));
    EXPECT_EQ(model->alertPortalDestination("t9", "a1"), (Destination{Destination::UnknownTenant{}}));
}

TEST_F(ModelPortal, UnusableOriginsAreDroppedAndAnUnreachableBoxKeepsItsOwn) {
    serveHealth(box, "https://box.example");
    launchWith(onBox());
    ASSERT_EQ(model->portalOrigins().at(boxURL()), url("https://box.example"));

    for (const char* refused :
         {"http://box.example",
          "https://box.example/portal",
          "https://box.example/?q=1",
          "https://user:pw@box.example"}) {
        serveHealth(box, "https://box.example");
        run(model->refreshPortalOrigins());
        serveHealth(box, refused);
        run(model->refreshPortalOrigins());
        EXPECT_FALSE(model->portalOrigins().contains(boxURL())) << refused;
    }

    serveHealth(box, "https://box.example");
    run(model->refreshPortalOrigins());
    box.on("GET", "/healthz", standin::Reply::json(R"({"error":"down"})", 503));
    run(model->refreshPortalOrigins());
    EXPECT_EQ(model->portalOrigins().at(boxURL()), url("https://box.example"));
    EXPECT_EQ(model->alertPortalDestination("t9", "a1"), (Destination{Destination::UnknownTenant{}}));
}

TEST_F(ModelPortal, StoredOriginsAreReadEntryByEntry) {
    defaults.set(
        MacModel::portalOriginsKey,
        platform::DefaultsValue::Map{{"https://a.example", "https://pa.example"}, {"not a url", "https://pb.example"}});
    EXPECT_EQ(
        MacModel::loadPortalOrigins(defaults), (PortalOrigins{{url("https://a.example"), url("https://pa.example")}}));
    EXPECT_EQ(makeModel()->portalOrigins().size(), 1u);

    defaults.set(
        MacModel::portalOriginsKey,
        platform::DefaultsValue::Map{{"https://a.example", "https://pa.example"}, {"https://b.example", 3}});
    EXPECT_TRUE(MacModel::loadPortalOrigins(defaults).empty());

    // Without a session nothing is asked and nothing written.
    run(model->refreshPortalOrigins());
    EXPECT_TRUE(hosted.requests().empty());
    EXPECT_EQ(defaults.value(MacModel::portalOriginsKey)->get<platform::DefaultsValue::Map>()->size(), 2u);
    EXPECT_FALSE(model->alertsPageURL());
}

}  // namespace
}  // namespace brisalune
