// Another program holding the settings file's lock, as a slow second instance does, while the
// user acknowledges: the UI thread goes on reading its settings, and nothing the user gave is
// lost.

#include <app/model/model_fixture.hpp>
#include <support/held_settings_lock.hpp>

#include <brisalune/client/alerts/pending_ack_store.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using standin::Reply;

class ModelSettingsLock : public testkit::ModelTest {
protected:
    // The acknowledgements kept in the settings file itself, as the app keeps them.
    std::shared_ptr<PendingAckStore> fileAcks =
        std::make_shared<PendingAckStore>(PendingAckStore::inFile(defaults.file()));
};

TEST_F(ModelSettingsLock, AnAcknowledgementWaitingForTheLockLeavesTheUiItsReadsAndGoesThrough) {
    launchWith(session());
    hosted.on("POST", "/v1/alerts/a1/ack", Reply::json(testkit::alertAnswer("a1", "acked")));
    servePull(hosted, {testkit::alertAnswer("a1", "acked")});

    testkit::HeldSettingsLock held(defaults.file());
    QCoro::Task<AckAttemptOutcome> ack = model->acknowledge("a1", "Disk full", fileAcks);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return held.waitedOnHere(); }));
    // What the menu reads meanwhile (the failure report) does not wait for the acknowledgement's
    // first write: it finds nothing written yet.
    EXPECT_TRUE(fileAcks->all().empty()) << "the UI thread waited for the acknowledgement's write";
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 0u);

    // Its record is written once the other program lets go, never past it.
    held.release();
    const AckAttemptOutcome outcome = run(std::move(ack));
    EXPECT_TRUE(outcome.get<AckAttemptOutcome::Acknowledged>());
    EXPECT_EQ(count(hosted, "POST /v1/alerts/a1/ack"), 1u);
    EXPECT_TRUE(fileAcks->all().empty());  // settled, and its record removed
    EXPECT_EQ(model->openAlerts().front().state, "acked");
}

}  // namespace
}  // namespace brisalune
