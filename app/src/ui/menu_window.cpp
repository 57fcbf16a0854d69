#include <brisalune/app/ui/menu_window.hpp>

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace brisalune {

MenuWindow::MenuWindow(MenuEnvironment environment, Style style, QWidget* parent)
    : QWidget(parent), content_(new MenuContentView(std::move(environment))), style_(style) {
    setObjectName(QStringLiteral("menuWindow"));
    setWindowTitle(QStringLiteral("Brisalune"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    // The content's width is fixed; the window's height follows what it shows.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setStyle(style);
}

void MenuWindow::setStyle(Style style) {
    style_ = style;
    const bool wasVisible = isVisible();
    if (style == Style::popup) {
        setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    } else {
        setWindowFlags(
            Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
            Qt::WindowMinimizeButtonHint);
    }
    if (wasVisible) show();
}

QPoint MenuWindow::popUpPosition(QSize size, const QRect& anchor, const QRect& available) {
    int x = anchor.left();
    int y = anchor.bottom() + 1;
    if (y + size.height() > available.bottom() + 1) y = anchor.top() - size.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

void MenuWindow::popUp(const QRect& iconGeometry) {
    const QRect anchor = iconGeometry.isEmpty() ? QRect(QCursor::pos(), QSize(1, 1)) : iconGeometry;
    const QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    adjustSize();
    if (screen) move(popUpPosition(size(), anchor, screen->availableGeometry()));
    open();
}

void MenuWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (style_ != Style::popup) return;
    // A frameless popup still needs an edge against whatever lies under it.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MenuWindow::hideEvent(QHideEvent* event) {
    sinceHidden_.start();
    QWidget::hideEvent(event);
}

bool MenuWindow::wasJustClosed() const {
    // A press outside a popup closes it before the tray reports the same press as a click.
    constexpr qint64 samePress = 250;
    return sinceHidden_.isValid() && sinceHidden_.elapsed() < samePress;
}

void MenuWindow::open() {
    show();
    raise();
    activateWindow();
}

}  // namespace brisalune
