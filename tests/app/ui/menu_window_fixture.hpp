#pragma once

// The menu window's content changed from outside, and the check that it stays where it belongs:
// inside the screen's available area, the edge toward the icon where it opened, as tall as its
// content allows, scrolling what does not fit.

#include <brisalune/app/ui/menu_window.hpp>

#include <QBoxLayout>
#include <QCoreApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace brisalune::testkit {

// Layouts settle one level per pass of the event loop; the window follows on a later pass.
inline void settleLayouts() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// `count` rows of `height` pixels at the top of the menu's content.
inline std::vector<QWidget*> addRows(MenuWindow& menu, int count, int height = 48) {
    auto* layout = static_cast<QBoxLayout*>(menu.content().layout());
    std::vector<QWidget*> rows;
    for (int i = 0; i < count; ++i) {
        auto* row = new QLabel(QStringLiteral("row %1").arg(i));
        row->setFixedHeight(height);
        layout->insertWidget(0, row);
        rows.push_back(row);
    }
    return rows;
}

inline void removeRows(std::vector<QWidget*>& rows) {
    for (QWidget* row : rows) delete row;
    rows.clear();
}

// The popup at `geometry`, opened at `icon` on `side`, with `edge` the line it touched then.
inline testing::AssertionResult staysPlaced(
    const MenuWindow& menu, const QRect& geometry, const QRect& available, MenuWindow::Side side, int edge) {
    const int content = menu.content().sizeHint().height();
    const bool below = side == MenuWindow::Side::below;
    const int touching = below ? geometry.top() : geometry.bottom() + 1;
    const int room = below ? available.bottom() + 1 - edge : edge - available.top();
    const bool scrolls = menu.scrollArea().verticalScrollBar()->isVisible();
    if (!available.contains(geometry))
        return testing::AssertionFailure() << "off the available area: " << geometry.x() << "," << geometry.y() << " "
                                           << geometry.width() << "x" << geometry.height();
    if (touching != edge) return testing::AssertionFailure() << "the edge moved from " << edge << " to " << touching;
    if (geometry.height() != std::min(content, room))
        return testing::AssertionFailure()
               << "height " << geometry.height() << " for content " << content << " in room " << room;
    if (scrolls != (content > room)) return testing::AssertionFailure() << "scroll bar shown: " << scrolls;
    return testing::AssertionSuccess();
}

}  // namespace brisalune::testkit
