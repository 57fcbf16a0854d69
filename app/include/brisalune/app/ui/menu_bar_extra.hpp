#pragma once

// The application's one scene: a tray icon carrying the number of open alerts, whose click (or
// "Open" in its context menu, for trays that send no click) pops up the menu window at the icon.
// On a desktop with no tray at start, the menu window opens as an ordinary window, and closing it
// quits, until a tray comes up: the icon goes there, and from then on closing the window does not
// quit. A tray that goes away takes the app back to its start without one. On Wayland, where no
// client places its windows, the icon opens an ordinary window too.
//
// MenuBarIcon draws the icon: the mark alone while nothing is open, else the mark in red with the
// count on it ("99+" beyond 99), grey instead of red while the alerts cannot be refreshed or the
// session is ending (a sign-out runs or waits to be finished; the tooltip then says so). The
// tray's picture is redrawn only when the count or that changes.

#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/menu_environment.hpp>
#include <brisalune/app/ui/menu_window.hpp>
#include <brisalune/app/ui/tray_watch.hpp>

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class QMenu;
class QSystemTrayIcon;

namespace brisalune {

namespace MenuBarIcon {
inline constexpr int markSize = 18;   // points, as the menu bar shows it
inline constexpr int drawnSize = 64;  // pixels of the tray picture, which the tray scales
inline constexpr int countCap = 99;

// The mark, 18 × 18: untinted (the tray's neutral grey) or in the given colour.
QPixmap markImage(std::optional<QColor> tint = std::nullopt, int size = markSize);
// The system red the mark takes while alerts are open.
QColor alertTint();
// The count as the icon shows it: "99+" beyond the cap.
QString countText(int openCount);
// "Brisalune", or "<n> open alerts": the tooltip, and the icon's name for accessibility.
QString accessibilityLabel(int openCount);
// The same, saying that the count is the last one known when the alerts could not be refreshed.
QString accessibilityLabel(int openCount, const std::optional<std::string>& refreshError);
// The tray's picture for a count; a count that is not up to date is drawn in grey, not red.
QPixmap picture(int openCount, bool upToDate = true);
}  // namespace MenuBarIcon

class MenuBarExtra final : public QObject {
    Q_OBJECT

public:
    MenuBarExtra(MenuEnvironment environment, WindowPresenter& windows, QObject* parent = nullptr);
    ~MenuBarExtra() override;

    // Puts the icon in the tray, or opens the menu window when the desktop has no tray.
    void show();
    // Puts the icon in the tray, whether the desktop reports one or not.
    void showInTray();
    // Pops the menu window up at the icon (at the pointer when the tray tells no place).
    void openMenu();
    // A click on the icon: opens the menu, or closes it when it is open.
    void toggleMenu();

    MenuWindow& menuWindow() const noexcept { return *menu_; }
    // None before show() and on a desktop without a tray.
    QSystemTrayIcon* trayIcon() const noexcept { return tray_.get(); }
    // How many times the tray's picture was drawn.
    int pictureDraws() const noexcept { return pictureDraws_; }

    // The tray's picture and tooltip for a count.
    static QIcon icon(int openCount, bool upToDate = true);
    static QString toolTip(int openCount, const std::optional<std::string>& refreshError = std::nullopt);

private:
    void showCount();
    void trayCameUp();
    void trayWentAway();
    // The window stands in for the icon until a tray comes up.
    void standIn();
    // Opens the stand-in window once the model has launched, or after launchPatience.
    void openOnceLaunched();
    void openAfterLaunch();
    // Open and not minimised.
    bool isMenuShown() const;

    MacModel& model_;
    std::unique_ptr<MenuWindow> menu_;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    TrayWatch trayWatch_;
    struct Shown {
        int count;
        bool upToDate;
        bool operator==(const Shown&) const = default;
    };
    std::optional<Shown> shown_;
    int pictureDraws_ = 0;
    static constexpr std::chrono::seconds launchPatience{3};
    QTimer launchWait_{this};  // a named child: the end of the patience can be watched
    bool waitingToOpen_ = false;
};

}  // namespace brisalune
