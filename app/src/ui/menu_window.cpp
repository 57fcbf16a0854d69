#include <brisalune/app/ui/menu_window.hpp>

#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace brisalune {

namespace {

// The edge of the popup toward the anchor, and the room from it to the far side of `available`.
struct Room {
    int edge;
    int height;
};

Room roomOn(MenuWindow::Side side, const QRect& anchor, const QRect& available) {
    const int top = available.top();
    const int end = available.bottom() + 1;
    if (side == MenuWindow::Side::below) {
        const int edge = std::clamp(anchor.bottom() + 1, top, end);
        return {edge, end - edge};
    }
    const int edge = std::clamp(anchor.top(), top, end);
    return {edge, edge - top};
}

}  // namespace

MenuWindow::MenuWindow(MenuEnvironment environment, Style style, QWidget* parent)
    : QWidget(parent), content_(new MenuContentView(std::move(environment))), scroll_(new QScrollArea), style_(style) {
    setObjectName(QStringLiteral("menuWindow"));
    setWindowTitle(QStringLiteral("Brisalune"));
    scroll_->setObjectName(QStringLiteral("menuWindow.scroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setWidgetResizable(true);
    ui::scrollToFocus(scroll_);
    scroll_->setWidget(content_);
    // The window's own background shows through, and with it the popup's edge.
    scroll_->viewport()->setAutoFillBackground(false);
    content_->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(scroll_);
    // The content's width is fixed; the window's height follows what it shows (see fit).
    content_->installEventFilter(this);
    setStyle(style);
    fit();
}

void MenuWindow::setStyle(Style style) {
    const bool reopen = isVisible() && style != style_;
    if (reopen) {
        // Closed as it was (a popup leaves no control focused), it opens again in a native window
        // of its own, placed as one opened first. The old one, the focus window already, is not
        // activated again: the ring would stay where Qt last had the focus while the keys move
        // another's. And the popup's place may leave no room for a frame.
        hide();
        destroy();
        setAttribute(Qt::WA_Moved, false);
    }
    style_ = style;
    if (style == Style::popup) {
        setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    } else {
        setWindowFlags(
            Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
            Qt::WindowMinimizeButtonHint);
    }
    // Qt turns quit-on-close off for a popup; without a tray the ordinary window is all there is
    // of the app, and closing it quits (once a tray holds the icon, the app no longer quits on
    // its last window closed).
    setAttribute(Qt::WA_QuitOnClose, style == Style::ordinary);
    if (reopen) open();
}

MenuWindow::Side MenuWindow::sideFor(int contentHeight, const QRect& anchor, const QRect& available) {
    const int below = roomOn(Side::below, anchor, available).height;
    const int above = roomOn(Side::above, anchor, available).height;
    if (contentHeight <= below) return Side::below;
    if (contentHeight <= above) return Side::above;
    return below >= above ? Side::below : Side::above;
}

QRect MenuWindow::popUpGeometry(
    QSize content, int scrollBarWidth, const QRect& anchor, const QRect& available, Side side) {
    const Room room = roomOn(side, anchor, available);
    const bool scrolls = content.height() > room.height;
    const int height = std::max(1, std::min(content.height(), room.height));
    const int width = content.width() + (scrolls ? scrollBarWidth : 0);
    const int x =
        std::clamp(anchor.left(), available.left(), std::max(available.left(), available.right() + 1 - width));
    const int y = side == Side::below ? room.edge : room.edge - height;
    return {x, y, width, height};
}

QPoint MenuWindow::popUpPosition(QSize size, const QRect& anchor, const QRect& available) {
    return popUpGeometry(size, 0, anchor, available, sideFor(size.height(), anchor, available)).topLeft();
}

void MenuWindow::popUp(const QRect& iconGeometry) {
    polishContent();
    const QRect anchor = iconGeometry.isEmpty() ? QRect(QCursor::pos(), QSize(1, 1)) : iconGeometry;
    anchor_ = Anchor{anchor, Side::below};
    anchor_->side = sideFor(content_->sizeHint().height(), anchor, availableArea());
    fit();
    open();
}

QRect MenuWindow::availableArea() const {
    const QScreen* screen =
        anchor_ && style_ == Style::popup ? QGuiApplication::screenAt(anchor_->rect.center()) : this->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1 << 15, 1 << 15);
}

int MenuWindow::scrollBarWidth() const {
    return QWidget::style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll_->verticalScrollBar());
}

void MenuWindow::fixSize(QSize size) {
    if (minimumSize() != size || maximumSize() != size) setFixedSize(size);
}

void MenuWindow::fit() {
    fitPending_ = false;
    const QSize content = content_->sizeHint();
    const QRect available = availableArea();
    if (style_ == Style::popup && anchor_) {
        const QRect placed = popUpGeometry(content, scrollBarWidth(), anchor_->rect, available, anchor_->side);
        fixSize(placed.size());
        if (pos() != placed.topLeft()) move(placed.topLeft());
        return;
    }
    // Not anchored: as tall as the content up to the available height, frame included, and
    // moved up when it would reach past the bottom.
    const int frame = isVisible() ? std::max(0, frameGeometry().height() - height()) : 0;
    const int room = std::max(1, available.height() - frame);
    const bool scrolls = content.height() > room;
    fixSize({content.width() + (scrolls ? scrollBarWidth() : 0), std::min(content.height(), room)});
    if (!isVisible()) return;
    const int overhang = frameGeometry().bottom() - available.bottom();
    if (overhang > 0) move(x(), std::max(available.top(), y() - overhang));
}

void MenuWindow::fitSoon() {
    if (fitPending_) return;
    fitPending_ = true;
    // After the content's layout has taken the change in.
    QMetaObject::invokeMethod(this, &MenuWindow::fit, Qt::QueuedConnection);
}

bool MenuWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::LayoutRequest) fitSoon();
    return QWidget::eventFilter(watched, event);
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
    // The popup opens each time as the first time, with no control focused: Qt would give the
    // focus back to the one that had it, also to one hidden while the popup was closed.
    if (style_ == Style::popup && focusWidget()) focusWidget()->clearFocus();
    QWidget::hideEvent(event);
}

bool MenuWindow::wasJustClosed() const {
    // A press outside a popup closes it before the tray reports the same press as a click.
    constexpr qint64 samePress = 250;
    return sinceHidden_.isValid() && sinceHidden_.elapsed() < samePress;
}

void MenuWindow::polishContent() {
    // The style's fonts and margins reach the content when it is polished, which show() would do
    // only after the window took its size from the content unpolished.
    content_->ensurePolished();
    // A hidden window's layouts hand a change on to the one above only once shown: one made deep
    // inside since the content was last measured (the alerts a launch loaded) would be left out.
    for (QWidget* widget : content_->findChildren<QWidget*>()) widget->updateGeometry();
    if (QLayout* layout = content_->layout()) layout->activate();
}

void MenuWindow::open() {
    if (!isVisible()) {
        // Mapped at its final size: a compositor places a window by the size it first has.
        polishContent();
        fit();
    }
    WindowPresenter::bringUp(*this);
    // Activated, the ordinary window gives its first control the focus, where keys act at once:
    // the ring shows it from the start, as Qt shows it only once the keyboard moved the focus
    // (a show clears that mark).
    if (style_ == Style::ordinary) setAttribute(Qt::WA_KeyboardFocusChange);
}

}  // namespace brisalune
