#pragma once

// What concerns the app itself: the launch-at-login switch, the running version, the manual
// update check with its one-line result, and quitting. The switch's object is made the first
// time the section is shown.

#include <brisalune/app/ui/menu_environment.hpp>

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;

namespace brisalune {

class AppSection final : public QWidget {
    Q_OBJECT

public:
    explicit AppSection(const MenuEnvironment& environment, QWidget* parent = nullptr);
    ~AppSection() override;

    // None until the section was first shown.
    LaunchAtLogin* launchAtLogin() const noexcept { return launchAtLogin_.get(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void followLaunchAtLogin();
    void followUpdates();

    const MenuEnvironment& environment_;
    std::unique_ptr<LaunchAtLogin> launchAtLogin_;
    QCheckBox* launchSwitch_;
    QLabel* launchError_;
    QLabel* updatesOff_;
    QPushButton* check_;
    QLabel* checkResult_;
};

}  // namespace brisalune
