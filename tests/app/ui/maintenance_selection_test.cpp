#include <brisalune/app/ui/maintenance_windows_view.hpp>

#include <gtest/gtest.h>

#include <unordered_set>

namespace brisalune {
namespace {

using Selection = MaintenanceWindowsView::Selection;

TEST(MaintenanceSelection, HashesAsItCompares) {
    const Selection a{Selection::Window{"w1"}};
    EXPECT_EQ(std::hash<Selection>{}(a), std::hash<Selection>{}(Selection{Selection::Window{"w1"}}));
    // A window with an empty id is still not the new-window selection.
    const std::unordered_set<Selection> set{
        a, Selection{Selection::Window{"w1"}}, Selection{Selection::Window{""}}, Selection{Selection::New{}},
        Selection{Selection::New{}}};
    EXPECT_EQ(set.size(), 3u);
}

}  // namespace
}  // namespace brisalune
