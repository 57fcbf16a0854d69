// Sign-out: the service is told first, in a fixed order; nothing it answers can stop the local end.

#include <app/model/model_fixture.hpp>

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Phase = MacModel::Phase;

class ModelSignOut : public testkit::ModelTest {};

TEST_F(ModelSignOut, KeysAreRevokedBeforeTheSessionEndsAndOnlyOnce) {
    launchWith(session());
    hosted.on("POST", "/v1/tenants/t2/keys", standin::Reply::json(R"({"error":"admin role required"})", 403));
    run(model->selectTenant("t2"));  // refused: t1 stays active, and t2 gets no key
    const std::optional<std::string> earlier = model->lastError();
    ASSERT_TRUE(earlier);
    EXPECT_EQ(model->session()->activeTenantId, "t1");
    EXPECT_EQ(alertIds(), std::vector<std::string>{"a1"});
    hosted.clearRequests();

    QCoro::Task<> first = model->signOut();
    EXPECT_TRUE(model->isTearingDown());
    QCoro::Task<> second = model->signOut();  // ignored while the first runs
    run(std::move(first));
    run(std::move(second));

    EXPECT_EQ(received(hosted), (std::vector<std::string>{"DELETE /v1/tenants/t1/keys/k1", "POST /v1/logout"}));
    EXPECT_EQ(authorizations(hosted), (std::vector<std::string>{"Bearer session-1", "Bearer session-1"}));
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->isTearingDown());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
    EXPECT_EQ(model->lastError(), earlier);  // the local end leaves it

    run(model->signOut());  // signed out already: nothing at all
    EXPECT_EQ(hosted.requests().size(), 2u);
}

TEST_F(ModelSignOut, AnUnreachableServerStillEndsInASignedOutModel) {
    StoredSession stored = session();
    stored.baseURL = *platform::Url::parse("http://127.0.0.1:" + std::to_string(standin::Server().port()));
    launchWith(stored);
    ASSERT_TRUE(model->alertsError());  // the account could not be read

    QSignalSpy tearing(model.get(), &MacModel::isTearingDownChanged);
    run(model->signOut());
    EXPECT_EQ(model->phase(), Phase::signedOut);
    EXPECT_FALSE(model->session());
    EXPECT_FALSE(model->alertsError());
    EXPECT_TRUE(keychain->load().is(SessionLoad::Case::absent));
    EXPECT_EQ(tearing.count(), 2);  // on, then off
}

TEST_F(ModelSignOut, TheKeychainItemGoesWithTheRealKeychain) {
    // The desktop's Secret Service of this test's D-Bus session.
    const auto store =
        std::make_shared<KeychainSessionStore>("app.brisalune.tests.model-" + dir.path().filename().string());
    store->save(session());
    model = std::make_shared<MacModel>(pushState, defaults, store, factory(), addresses());
    run(model->ensureLaunched());
    EXPECT_EQ(store->load().session(), model->session());

    run(model->signOut());
    EXPECT_TRUE(store->load().is(SessionLoad::Case::absent));
}

}  // namespace
}  // namespace brisalune
