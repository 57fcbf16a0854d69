#include <brisalune/app/ui/menu_bar_extra.hpp>

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

#include <utility>

namespace brisalune {

// ---- the icon ----

namespace MenuBarIcon {

namespace {

const QColor neutral{0x9a, 0x9e, 0xa4};

// A crescent: a disc with a smaller disc taken out of its upper right.
QPainterPath crescent(qreal size) {
    QPainterPath disc;
    disc.addEllipse(QRectF(size * 0.06, size * 0.06, size * 0.88, size * 0.88));
    QPainterPath bite;
    bite.addEllipse(QRectF(size * 0.30, size * -0.02, size * 0.76, size * 0.76));
    return disc.subtracted(bite);
}

}  // namespace

QColor alertTint() { return {0xe5, 0x34, 0x2c}; }

QPixmap markImage(std::optional<QColor> tint, int size) {
    QPixmap mark(size, size);
    mark.fill(Qt::transparent);
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(crescent(size), neutral);
    if (tint) {
        // Only what the mark drew takes the tint; the background stays transparent.
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.fillRect(mark.rect(), *tint);
    }
    return mark;
}

QString countText(int openCount) {
    return openCount > countCap ? QStringLiteral("%1+").arg(countCap) : QString::number(openCount);
}

QString accessibilityLabel(int openCount) {
    return openCount < 1 ? QStringLiteral("Brisalune") : QStringLiteral("%1 open alerts").arg(openCount);
}

QPixmap picture(int openCount) {
    if (openCount < 1) return markImage(std::nullopt, drawnSize);
    QPixmap canvas = markImage(alertTint(), drawnSize);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPixelSize(countText(openCount).size() > 2 ? 26 : 34);
    painter.setFont(font);
    const QString text = countText(openCount);
    const QFontMetrics metrics(font);
    const int height = metrics.height() + 2;
    const int width = std::max(height, metrics.horizontalAdvance(text) + 12);
    const QRectF badge(drawnSize - width, drawnSize - height, width, height);
    painter.setPen(QPen(Qt::white, 3));
    painter.setBrush(alertTint());
    painter.drawRoundedRect(badge.adjusted(1.5, 1.5, -1.5, -1.5), height / 2.0, height / 2.0);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, text);
    return canvas;
}

}  // namespace MenuBarIcon

// ---- the scene ----

MenuBarExtra::MenuBarExtra(MenuEnvironment environment, WindowPresenter& windows, QObject* parent)
    : QObject(parent), model_(environment.model), menu_(std::make_unique<MenuWindow>(std::move(environment))) {
    windows.provideTo(menu_.get());
    connect(&model_, &MacModel::openAlertsChanged, this, &MenuBarExtra::showCount);
}

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Nowhere to put an icon: the window stands in for it, and closing it ends the app.
        menu_->setStyle(MenuWindow::Style::ordinary);
        QApplication::setQuitOnLastWindowClosed(true);
        menu_->open();
        return;
    }
    showInTray();
}

void MenuBarExtra::showInTray() {
    if (tray_) return;
    QApplication::setQuitOnLastWindowClosed(false);
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->setObjectName(QStringLiteral("tray.menu"));
    QAction* open = trayMenu_->addAction(QStringLiteral("Open"));
    open->setObjectName(QStringLiteral("tray.open"));
    connect(open, &QAction::triggered, this, &MenuBarExtra::openMenu);

    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setObjectName(QStringLiteral("tray"));
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) toggleMenu();
    });
    showCount();
    tray_->show();
}

void MenuBarExtra::openMenu() {
    if (menu_->style() == MenuWindow::Style::ordinary) {
        menu_->open();
        return;
    }
    menu_->popUp(tray_ ? tray_->geometry() : QRect());
}

void MenuBarExtra::toggleMenu() {
    if (menu_->style() == MenuWindow::Style::popup) {
        if (menu_->isVisible()) {
            menu_->hide();
            return;
        }
        if (menu_->wasJustClosed()) return;
    }
    openMenu();
}

void MenuBarExtra::showCount() {
    if (!tray_) return;
    const int count = static_cast<int>(model_.openAlerts().size());
    if (shownCount_ == count) return;
    shownCount_ = count;
    ++pictureDraws_;
    tray_->setIcon(icon(count));
    tray_->setToolTip(toolTip(count));
}

QIcon MenuBarExtra::icon(int openCount) { return QIcon(MenuBarIcon::picture(openCount)); }

QString MenuBarExtra::toolTip(int openCount) { return MenuBarIcon::accessibilityLabel(openCount); }

}  // namespace brisalune
