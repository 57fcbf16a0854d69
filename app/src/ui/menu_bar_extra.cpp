#include <brisalune/app/ui/menu_bar_extra.hpp>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace brisalune {

MenuBarExtra::MenuBarExtra(MacModel& model, WindowPresenter& windows, QObject* parent)
    : QObject(parent), model_(model), menu_(std::make_unique<MenuWindow>(model)) {
    windows.provideTo(menu_.get());
    connect(&model_, &MacModel::openAlertsChanged, this, &MenuBarExtra::showCount);
}

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        QApplication::setQuitOnLastWindowClosed(true);
        openMenu();
        return;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    trayMenu_ = std::make_unique<QMenu>();
    QAction* open = trayMenu_->addAction(QStringLiteral("Open"));
    open->setObjectName(QStringLiteral("tray.open"));
    connect(open, &QAction::triggered, this, &MenuBarExtra::openMenu);
    QAction* quit = trayMenu_->addAction(QStringLiteral("Quit Brisalune"));
    quit->setObjectName(QStringLiteral("tray.quit"));
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);

    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setObjectName(QStringLiteral("tray"));
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) openMenu();
    });
    showCount();
    tray_->show();
}

void MenuBarExtra::openMenu() {
    menu_->show();
    menu_->raise();
    menu_->activateWindow();
    model_.refreshAlerts();
}

void MenuBarExtra::showCount() {
    if (!tray_) return;
    const int count = static_cast<int>(model_.openAlerts().size());
    tray_->setIcon(icon(count));
    tray_->setToolTip(toolTip(count));
}

QString MenuBarExtra::toolTip(int openCount) {
    if (openCount == 0) return QStringLiteral("Brisalune: no open alerts");
    if (openCount == 1) return QStringLiteral("Brisalune: 1 open alert");
    return QStringLiteral("Brisalune: %1 open alerts").arg(openCount);
}

QIcon MenuBarExtra::icon(int openCount) {
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(openCount > 0 ? QColor(0xd9, 0x3f, 0x3f) : QColor(0x5a, 0x6b, 0x7d));
    painter.drawEllipse(2, 2, 28, 28);
    if (openCount > 0) {
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(openCount > 99 ? 11 : 16);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(picture.rect(), Qt::AlignCenter,
                         openCount > 99 ? QStringLiteral("99+") : QString::number(openCount));
    }
    painter.end();
    return QIcon(picture);
}

}  // namespace brisalune
