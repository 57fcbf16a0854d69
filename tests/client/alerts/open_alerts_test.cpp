#include <brisalune/client/alerts/open_alerts.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using Strings = std::vector<std::string>;

AlertSnapshot alert(std::string id, std::int64_t seq, std::string state, std::int64_t lastSeen = 10) {
    AlertSnapshot a;
    a.id = std::move(id);
    a.updatedSeq = seq;
    a.state = std::move(state);
    a.lastSeen = lastSeen;
    return a;
}

Strings merged(std::vector<AlertSnapshot> alerts) {
    Strings out;
    for (const auto& a : OpenAlerts::merge(alerts)) out.push_back(a.id + ":" + a.state);
    return out;
}

TEST(OpenAlertsMerge, HighestSequenceWinsBeforeResolvedAlertsAreDropped) {
    EXPECT_TRUE(merged({}).empty());
    EXPECT_TRUE(merged({alert("a", 5, "firing"), alert("a", 6, "resolved"), alert("b", 2, "resolved")}).empty());
    EXPECT_TRUE(merged({alert("a", 6, "resolved"), alert("a", 5, "firing")}).empty());
    EXPECT_EQ(merged({alert("a", 5, "firing"), alert("a", 5, "acked")}), Strings{"a:firing"});
    EXPECT_EQ(merged({alert("a", 1, "firing"), alert("a", 9, "acked"), alert("a", 3, "x")}), Strings{"a:acked"});
    EXPECT_EQ(merged({alert("caf\u00e9", 1, "firing"), alert("cafe\u0301", 2, "acked")}), Strings{"cafe\u0301:acked"});
}

TEST(OpenAlertsMerge, OnlyTheExactTextResolvedCloses) {
    EXPECT_EQ(
        merged({alert("a", 1, "Resolved", 3), alert("b", 1, "mystery", 2), alert("c", 1, "resolved ", 1)}),
        (Strings{"a:Resolved", "b:mystery", "c:resolved "}));
}

TEST(OpenAlertsMerge, LatestSeenFirstThenGreaterId) {
    EXPECT_EQ(
        merged(
            {alert("a1", 1, "firing", 5),
             alert("b2", 1, "firing", 5),
             alert("z", 1, "firing", 4),
             alert("c", 1, "acked", 9)}),
        (Strings{"c:acked", "b2:firing", "a1:firing", "z:firing"}));
}

TEST(OpenAlertsMerge, FirstSnapshotOfAnIdIsTakenWhateverItsSequence) {
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(merged({alert("a", lowest, "firing")}), Strings{"a:firing"});
    EXPECT_EQ(merged({alert("a", lowest, "firing"), alert("a", lowest, "acked")}), Strings{"a:firing"});
    EXPECT_EQ(merged({alert("a", lowest, "firing"), alert("a", lowest + 1, "acked")}), Strings{"a:acked"});
}

TEST(OpenAlertsMerge, MovingTheInputGivesTheSameList) {
    std::vector<AlertSnapshot> input{alert("a", 1, "firing", 1), alert("b", 2, "acked", 2), alert("a", 3, "acked", 3)};
    const auto copied = OpenAlerts::merge(input);
    EXPECT_EQ(OpenAlerts::merge(std::move(input)), copied);
    EXPECT_EQ(copied.size(), 2U);
}

}  // namespace
}  // namespace brisalune
