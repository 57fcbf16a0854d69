#pragma once

// The window of the tray: the menu's content in a frameless popup that opens at the tray icon
// (at the pointer when the tray gives no place) and closes on a click elsewhere; or, on a
// desktop without a tray, an ordinary window, so that the app is never out of reach.
//
// The window follows its content's height while it is open, within the screen's available area:
// the popup keeps the edge toward the icon where it opened, and content taller than the room on
// that side scrolls inside the window.

#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/menu_environment.hpp>

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

#include <optional>

class QScrollArea;

namespace brisalune {

class MenuWindow final : public QWidget {
    Q_OBJECT

public:
    enum class Style { popup, ordinary };
    // Which side of the anchor the popup is on: hanging under it, or standing above it.
    enum class Side { below, above };

    explicit MenuWindow(MenuEnvironment environment, Style style = Style::popup, QWidget* parent = nullptr);

    Style style() const noexcept { return style_; }
    // An open window taking the other style closes, and opens again in it as if opened first.
    void setStyle(Style style);
    MenuContentView& content() const noexcept { return *content_; }
    QScrollArea& scrollArea() const noexcept { return *scroll_; }

    // Opens the popup by the icon's place on the screen, or by the pointer when it is empty.
    void popUp(const QRect& iconGeometry);
    // Shows, raises and activates the window where it is (the ordinary style's way), bringing it
    // back from a minimise; a hidden one is sized for its content first.
    void open();

    // The side a popup of this content height opens on: under the anchor when it fits there,
    // else above when it fits there, else the side with more room.
    static Side sideFor(int contentHeight, const QRect& anchor, const QRect& available);
    // The popup's place for content of `content` size on `side` of the anchor: the edge toward
    // the anchor touches it, the height is at most the room on that side (a scroll bar of
    // `scrollBarWidth` then widens it), the left edge is the anchor's, all inside `available`.
    static QRect popUpGeometry(
        QSize content, int scrollBarWidth, const QRect& anchor, const QRect& available, Side side);
    // Where a popup of `size` opens: popUpGeometry's corner on the side sideFor chooses.
    static QPoint popUpPosition(QSize size, const QRect& anchor, const QRect& available);

    // The popup closed a moment ago: a click on the icon that closed it is not a new click.
    bool wasJustClosed() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Anchor {
        QRect rect;
        Side side = Side::below;
    };

    // Sizes and places the window for its content's height now.
    void fit();
    void fitSoon();
    void fixSize(QSize size);
    void polishContent();
    QRect availableArea() const;
    int scrollBarWidth() const;

    QElapsedTimer sinceHidden_;
    MenuContentView* content_;
    QScrollArea* scroll_;
    Style style_;
    std::optional<Anchor> anchor_;  // the popup's, from its last popUp
    bool fitPending_ = false;
};

}  // namespace brisalune
