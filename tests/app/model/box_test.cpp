// The box flows as far as the model goes: what is refused before any request, and what a box
// sign-in records.

#include <app/model/model_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

class ModelBox : public testkit::ModelTest {
protected:
    static bool boxError(const std::exception_ptr& failure, BoxConnectionError::Case expected) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const BoxConnectionError& error) {
            return error.is(expected);
        } catch (...) {
        }
        return false;
    }
};

TEST_F(ModelBox, TheHostedServiceIsNoBoxAndAMissingBoxAddressIsRefused) {
    serveHealth(hosted, "");
    launchWith(session());
    const StoredSession before = *model->session();
    hosted.clearRequests();

    const JoinCode code{.boxURL = hostedURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};
    EXPECT_TRUE(boxError(failureOf(model->joinBox(code, "Ops", "", "")), BoxConnectionError::Case::boxUnusable));
    EXPECT_EQ(received(hosted), std::vector<std::string>{"GET /healthz"});  // the probe only
    EXPECT_EQ(*model->session(), before);

    EXPECT_TRUE(boxError(
        failureOf(model->signInToBox("t1", "ops@box.example", "secret")), BoxConnectionError::Case::boxHasNoTenants));
    EXPECT_EQ(hosted.requests().size(), 1u);
    EXPECT_TRUE(box.requests().empty());
}

TEST_F(ModelBox, UsingABoxTeamKeepsItsKeyUnderTheHostedTeam) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    launchWith(stored);
    run(model->selectTenant("t2"));
    ASSERT_TRUE(model->needsBoxSignIn());
    EXPECT_EQ(model->selfHostedMemberships().size(), 1u);

    serveKey(box, "box-team", "bk", "box-key");
    servePull(box, {testkit::alertAnswer("x1", "firing")});
    box.clearRequests();
    const auto boxClient = client(boxURL(), "box-session", std::nullopt);
    run(model->useBoxTeam("t2", boxClient, "box-team"));

    EXPECT_EQ(model->session()->tenantKeys.at("t2"), (TenantKey{"bk", "box-key", "box-team"}));
    EXPECT_FALSE(model->session()->tenantKeys.contains("box-team"));
    EXPECT_EQ(model->session()->activeTenantId, "t2");
    EXPECT_FALSE(model->needsBoxSignIn());
    EXPECT_EQ(alertIds(), std::vector<std::string>{"x1"});
    const std::vector<std::string> sent = authorizations(box);  // the key issue, then the pull
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0], "Bearer box-session");
    EXPECT_EQ(sent[1], "Bearer box-key");
}

}  // namespace
}  // namespace brisalune
