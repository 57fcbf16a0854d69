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

TEST(OpenAlertsMerge, HighestSequenceWinsThenResolvedDropsThenLatestSeenFirst) {
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    const std::pair<std::vector<AlertSnapshot>, Strings> cases[] = {
        {{}, {}},
        {{alert("a", 5, "firing"), alert("a", 6, "resolved"), alert("b", 2, "resolved")}, {}},
        {{alert("a", 6, "resolved"), alert("a", 5, "firing")}, {}},
        {{alert("a", 5, "firing"), alert("a", 5, "acked")}, {"a:firing"}},
        {{alert("a", 1, "firing"), alert("a", 9, "acked"), alert("a", 3, "x")}, {"a:acked"}},
        {{alert("caf\u00e9", 1, "firing"), alert("cafe\u0301", 2, "acked")}, {"cafe\u0301:acked"}},
        // Only the exact text "resolved" closes.
        {{alert("a", 1, "Resolved", 3), alert("b", 1, "mystery", 2), alert("c", 1, "resolved ", 1)},
         {"a:Resolved", "b:mystery", "c:resolved "}},
        // Latest seen first, then the greater id.
        {{alert("a1", 1, "firing", 5),
          alert("b2", 1, "firing", 5),
          alert("z", 1, "firing", 4),
          alert("c", 1, "acked", 9)},
         {"c:acked", "b2:firing", "a1:firing", "z:firing"}},
        // The first snapshot of an id is taken whatever its sequence.
        {{alert("a", lowest, "firing"), alert("a", lowest, "acked")}, {"a:firing"}},
        {{alert("a", lowest, "firing"), alert("a", lowest + 1, "acked")}, {"a:acked"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(merged(cases[i].first), cases[i].second) << i;
}

TEST(OpenAlertsMerge, MovingTheInputGivesTheSameList) {
    std::vector<AlertSnapshot> input{alert("a", 1, "firing", 1), alert("b", 2, "acked", 2), alert("a", 3, "acked", 3)};
    const auto copied = OpenAlerts::merge(input);
    EXPECT_EQ(OpenAlerts::merge(std::move(input)), copied);
    EXPECT_EQ(copied.size(), 2U);
}

}  // namespace
}  // namespace brisalune
