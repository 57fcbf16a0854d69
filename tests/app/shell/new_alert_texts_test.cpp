// New alerts whose server gave them no title, and a team with no name or one that turns the
// direction of what follows it, as their notifications name them.

#include <app/model/delegate_fixture.hpp>
#include <support/alert_answer.hpp>
#include <support/qt_application.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

class NewAlertTexts : public testkit::DelegateTest {
protected:
    void TearDown() override {
        delegate->applicationWillTerminate();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return !delegate->isRefreshLoopRunning(); }));
    }
    void refresh() {
        auto refreshing = delegate->model().refreshAlerts();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return refreshing.isReady(); }));
    }
    // A firing alert with the rule given.
    static std::string firing(const std::string& id, const std::string& rule) {
        std::string answer = testkit::alertAnswer(id, "firing");
        return answer.replace(answer.find(R"("rule":"r")"), 10, R"("rule":")" + rule + R"(")");
    }
    // The team t1 named `name`; a pull of a1, then of a1 and the untitled n1 … n4.
    void announce(const std::string& name) {
        serveMe({R"({"tenant_id":"t1","tenant_name":")" + name + R"(","role":"member"})"});
        keychain->save(session());
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(testkit::processEventsUntil([&] { return delegate->model().hasLaunched(); }));
        servePull(hosted, {firing("a1", "Disk full")});
        refresh();
        servePull(
            hosted,
            {firing("a1", "Disk full"), firing("n1", ""), firing("n2", " "), firing("n3", ""), firing("n4", "")});
        refresh();
    }
};

TEST_F(NewAlertTexts, AnAlertWithoutATitleIsNamedByItsIdAndANamelessTeamByItsId) {
    announce("");
    ASSERT_EQ(center->shown.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        const NotificationRequest& shown = center->shown[i];
        EXPECT_EQ("brisalune.alert." + shown.title, shown.identifier);
    }
    EXPECT_EQ(center->shown.back().body, "Open Brisalune to see the open alerts of t1.");
}

TEST_F(NewAlertTexts, ATeamNameThatTurnsDirectionsEndsBeforeTheSentenceDoes) {
    announce("\u202e\u05e6\u05d5\u05d5\u05ea");  // an override, then a Hebrew name
    ASSERT_EQ(center->shown.size(), 4u);
    EXPECT_EQ(
        center->shown.back().body,
        "Open Brisalune to see the open alerts of \u2068\u202e\u05e6\u05d5\u05d5\u05ea\u2069.");
}

}  // namespace
}  // namespace brisalune
