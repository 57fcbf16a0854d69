#include <brisalune/client/boxes/probe.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace brisalune {
namespace {

using standin::Reply;

platform::Url url(std::string_view text) { return *platform::Url::parse(text); }

class BoxProbeTest : public testkit::EndpointTest {
protected:
    BoxProbe probeWith(Reply reply) {
        server.on("GET", "/healthz", std::move(reply));
        return probeBox(client(std::nullopt, std::nullopt));
    }
};

TEST_F(BoxProbeTest, RoleDecidesAndAnythingElseIsUnreachable) {
    const std::string rest = R"("ok":true,"version":"1.2.0","tenants":3)";
    EXPECT_EQ(probeWith(Reply::json("{" + rest + R"(,"role":"self-host"})")), BoxProbe::box);
    EXPECT_EQ(last().rawTarget, "/healthz");
    EXPECT_FALSE(last().header("Authorization"));
    EXPECT_EQ(probeWith(Reply::json("{" + rest + R"(,"role":"hosted"})")), BoxProbe::accountPlane);
    EXPECT_EQ(probeWith(Reply::json("{" + rest + R"(,"role":"Self-Host"})")), BoxProbe::unknownRole);
    EXPECT_EQ(probeWith(Reply::json("{" + rest + "}")), BoxProbe::unknownRole);
    EXPECT_EQ(probeWith(Reply::json("{" + rest + R"(,"role":null})")), BoxProbe::unknownRole);

    EXPECT_EQ(probeWith(Reply::json(R"({"role":"self-host"})")), BoxProbe::unreachable);  // not a health record
    EXPECT_EQ(probeWith(Reply{200, {}, "<html>hi</html>"}), BoxProbe::unreachable);
    EXPECT_EQ(probeWith(Reply::json("{" + rest + R"(,"role":"self-host"})", 503)), BoxProbe::unreachable);

    auto gone = std::make_unique<standin::Server>();
    auto closed = url(gone->baseUrl());
    gone.reset();
    for (const auto& address : {closed, url("gopher://127.0.0.1:1/"), url("file://localhost/etc/passwd")}) {
        BrisaluneClient elsewhere(
            address, std::nullopt, std::nullopt, nullptr, ClientIdentity::current(), compatibility);
        EXPECT_EQ(probeBox(elsewhere), BoxProbe::unreachable) << address.text();
    }
}

TEST(BoxProbeMessage, TextsNameTheEnteredHost) {
    const auto hostedService = url("https://api.brisalune.example/");
    const auto entered = url("https://box.example.org:8443/some/path");
    EXPECT_EQ(boxProbeMessage(BoxProbe::box, entered, "Mac", hostedService), std::nullopt);
    EXPECT_EQ(
        boxProbeMessage(BoxProbe::unreachable, entered, "Mac", hostedService),
        "Couldn't reach a brisalune box at box.example.org. Check the address, and that the box is running and "
        "reachable from this Mac.");
    EXPECT_EQ(
        boxProbeMessage(BoxProbe::accountPlane, entered, "PC", hostedService),
        "box.example.org is api.brisalune.example's own server, not a box. Enter the address of the box you run "
        "\u2014 the machine you ran `brisalune pair` on.");
    EXPECT_EQ(
        boxProbeMessage(BoxProbe::unknownRole, entered, "Mac", hostedService),
        "Something answered at box.example.org, but it did not identify itself as a brisalune box. Check the "
        "address, or update the box.");
    // Without a host the whole address stands in.
    EXPECT_EQ(
        boxProbeMessage(BoxProbe::unknownRole, url("box.local/x"), "Mac", hostedService),
        "Something answered at box.local/x, but it did not identify itself as a brisalune box. Check the "
        "address, or update the box.");
}

}  // namespace
}  // namespace brisalune
