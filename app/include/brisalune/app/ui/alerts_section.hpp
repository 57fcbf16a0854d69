#pragma once

// The heart of the signed-in menu: the team's name (or a picker with two teams or more), the
// number of open alerts with the first five of them, each opening in the web portal, and "Open
// portal"; or, when the team's box is not signed in here, a note and the way to the box window.
// Under it the alert refresh's error and the menu's one-line notice. While the session is ending
// (a sign-out runs or waits to be finished), the list and the picker are greyed and the refresh's
// error is not shown.

#include <brisalune/app/ui/menu_environment.hpp>

#include <QAbstractButton>
#include <QObject>
#include <QWidget>

#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace brisalune {

// The menu window's one-line notice, which the alerts section sets and clears.
class MenuNotice final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    const std::optional<std::string>& text() const noexcept { return text_; }
    void set(std::optional<std::string> text);

Q_SIGNALS:
    void changed();

private:
    std::optional<std::string> text_;
};

// One alert: its rule on one line, then "project · state"; pressing it opens the alert.
class AlertRow final : public QAbstractButton {
    Q_OBJECT

public:
    AlertRow(const AlertSnapshot& alert, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void followEnabled();
};

class AlertsSection final : public QWidget {
    Q_OBJECT

public:
    static constexpr int listedAlerts = 5;

    AlertsSection(const MenuEnvironment& environment, MenuNotice& notice, QWidget* parent = nullptr);

    void openAlert(const std::string& alertId);
    void openPortal();
    // Where "Open portal" points when the team has no portal page: the team's host says so.
    std::string portalFallbackNotice() const;

private:
    void followTeams();
    void followBody();
    void followAlerts();
    // A session that is ending: the list and the team picker greyed and closed to the pointer and
    // to Tab.
    void followLife();
    void followErrors();

    const MenuEnvironment& environment_;
    MacModel& model_;
    MenuNotice& notice_;
    QLabel* teamName_;
    QWidget* picker_;
    QComboBox* teams_;
    QWidget* boxBody_;
    QWidget* alertsBody_;
    QLabel* count_;
    QWidget* rows_;
    QVBoxLayout* rowsLayout_;
    QLabel* error_;
    QLabel* noticeLine_;
};

}  // namespace brisalune
