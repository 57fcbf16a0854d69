// Answers holding integers beyond 64 bits, which JSON allows and the service's
// free-form values may carry: they read as doubles, are ignored under unknown
// keys and refused by integer fields.
#include <brisalune/client/alerts/endpoints.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/client_outdated.hpp>
#include <brisalune/standin/server.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class WideNumbers : public testkit::EndpointTest {};

TEST_F(WideNumbers, SuccessAnswersDecodeUnlessAnIntegerFieldHoldsOne) {
    server.on(
        "GET",
        "/v1/pull",
        Reply::json(R"({"trace":123456789012345678901234,"cursor":7,"config_versions":{"p":2},"alerts":[],)"
                    R"("debug":{"ids":[-123456789012345678901234,1]}})"));
    PullResponse pulled = pull(client(), 0, 0);
    EXPECT_EQ(pulled.cursor, 7);
    EXPECT_EQ(pulled.configVersions, (std::map<std::string, std::int64_t>{{"p", 2}}));

    server.on(
        "GET", "/v1/pull", Reply::json(R"({"cursor":7,"config_versions":{"p":-99999999999999999999},"alerts":[]})"));
    auto refused = errorOf([&] { pull(client(), 0, 0); });
    EXPECT_EQ(refused.kind(), Case::invalidResponse);
    EXPECT_EQ(refused.message(), "dataCorrupted: config_versions.p: number out of range");
}

TEST_F(WideNumbers, ErrorBodiesKeepTheServersWordsAndFreeFormNumbersAreDoubles) {
    server.on("POST", "/v1/alerts/a1/ack", Reply::json(R"({"error":"gone","trace":123456789012345678901234})", 404));
    auto gone = errorOf([&] { acknowledge(client(), "a1"); });
    EXPECT_EQ(gone.kind(), Case::notFound);
    EXPECT_EQ(gone.message(), "gone");

    server.on("POST", "/v1/alerts/a1/ack", Reply::json(R"({"errors":{"limit":123456789012345678901234}})", 422));
    auto invalid = errorOf([&] { acknowledge(client(), "a1"); });
    ASSERT_EQ(invalid.fieldErrors().size(), 1u);
    EXPECT_EQ(invalid.fieldErrors()[0].reason, "1.2345678901234569e+23");
}

TEST_F(WideNumbers, AClientOutdatedBodyWithOneIsStillRecognised) {
    server.on(
        "GET",
        "/v1/pull",
        Reply::json(R"({"client":"ios","min_version":"2.0.0","build":123456789012345678901234})", 426));
    auto refused = errorOf([&] { pull(client(), 0, 0); });
    EXPECT_EQ(refused.kind(), Case::clientOutdated);
    EXPECT_EQ(refused.outdated(), (ClientOutdated{"ios", "2.0.0"}));

    server.on(
        "GET",
        "/v1/pull",
        Reply::json(R"({"code":"client_outdated","min_version":"3.1.0","seq":-99999999999999999999})"));
    auto onSuccess = errorOf([&] { pull(client(), 0, 0); });
    EXPECT_EQ(onSuccess.outdated(), (ClientOutdated{defaultClientName(), "3.1.0"}));
    EXPECT_EQ(compatibility.current().outdated, (ClientOutdated{defaultClientName(), "3.1.0"}));
}

}  // namespace
}  // namespace brisalune
