#pragma once

// The window of the tray: the menu's content in a frameless popup that opens at the tray icon
// (at the pointer when the tray gives no place) and closes on a click elsewhere; or, on a
// desktop without a tray, an ordinary window, so that the app is never out of reach.

#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/menu_environment.hpp>

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

namespace brisalune {

class MenuWindow final : public QWidget {
    Q_OBJECT

public:
    enum class Style { popup, ordinary };

    explicit MenuWindow(MenuEnvironment environment, Style style = Style::popup, QWidget* parent = nullptr);

    Style style() const noexcept { return style_; }
    void setStyle(Style style);
    MenuContentView& content() const noexcept { return *content_; }

    // Opens the popup by the icon's place on the screen, or by the pointer when it is empty.
    void popUp(const QRect& iconGeometry);
    // Shows, raises and activates the window where it is (the ordinary style's way).
    void open();

    // Where a popup of `size` opens: under the anchor (the icon, or a point), else above it,
    // its left edge at the anchor's, kept inside `available`.
    static QPoint popUpPosition(QSize size, const QRect& anchor, const QRect& available);

    // The popup closed a moment ago: a click on the icon that closed it is not a new click.
    bool wasJustClosed() const;

protected:
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QElapsedTimer sinceHidden_;
    MenuContentView* content_;
    Style style_;
};

}  // namespace brisalune
