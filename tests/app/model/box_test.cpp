// The box flows as far as the model goes: what is refused before any request, and what a box
// sign-in records.

#include <app/model/model_fixture.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

class ModelBox : public testkit::ModelTest {
protected:
    // Whether the task fails with that box error (waitFor itself would wait forever on a throw).
    template <class T>
    static bool failsWith(QCoro::Task<T>&& task, BoxConnectionError::Case expected) {
        return QCoro::waitFor(boxFailure(std::move(task), expected));
    }

private:
    template <class T>
    static QCoro::Task<bool> boxFailure(QCoro::Task<T> task, BoxConnectionError::Case expected) {
        try {
            co_await task;
        } catch (const BoxConnectionError& error) {
            co_return error.is(expected);
        } catch (...) {
        }
        co_return false;
    }
};

TEST_F(ModelBox, TheHostedServiceIsNoBoxAndAMissingBoxAddressIsRefused) {
    serveHealth(hosted, "");
    launchWith(session());
    const StoredSession before = *model->session();
    hosted.clearRequests();

    const JoinCode code{.boxURL = hostedURL(), .hostedTenantId = "t1", .code = "pair-1", .seat = false};
    EXPECT_TRUE(failsWith(model->joinBox(code, "Ops", "", ""), BoxConnectionError::Case::boxUnusable));
    EXPECT_EQ(received(hosted), std::vector<std::string>{"GET /healthz"});  // the probe only
    EXPECT_EQ(*model->session(), before);

    EXPECT_TRUE(
        failsWith(model->signInToBox("t1", "ops@box.example", "secret"), BoxConnectionError::Case::boxHasNoTenants));
    EXPECT_EQ(hosted.requests().size(), 1u);
    EXPECT_TRUE(box.requests().empty());
}

TEST_F(ModelBox, UsingABoxTeamKeepsItsKeyUnderTheHostedTeam) {
    StoredSession stored = session();
    stored.tenantHosts.emplace("t2", boxURL());
    launchWith(stored);
    run(model->selectTenant("t2"));
    ASSERT_TRUE(model->needsBoxSignIn());

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
