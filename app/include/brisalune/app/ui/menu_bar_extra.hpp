#pragma once

// The application's one scene: a tray icon showing the number of open alerts, whose click or
// "Open" entry shows the menu window. Without a tray the menu window opens as an ordinary window
// and closing it quits. Opening the menu refreshes the alerts.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/menu_window.hpp>

#include <QIcon>
#include <QObject>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace brisalune {

class MenuBarExtra final : public QObject {
    Q_OBJECT

public:
    MenuBarExtra(MacModel& model, WindowPresenter& windows, QObject* parent = nullptr);
    ~MenuBarExtra() override;

    // Puts the icon in the tray, or opens the menu window when there is no tray.
    void show();
    // Shows and raises the menu window, and refreshes the alerts.
    void openMenu();

    MenuWindow& menuWindow() const noexcept { return *menu_; }
    // None when the desktop has no tray.
    QSystemTrayIcon* trayIcon() const noexcept { return tray_.get(); }

    // The tray's picture: the mark, with the count when there are open alerts.
    static QIcon icon(int openCount);
    static QString toolTip(int openCount);

private:
    void showCount();

    MacModel& model_;
    std::unique_ptr<MenuWindow> menu_;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
};

}  // namespace brisalune
