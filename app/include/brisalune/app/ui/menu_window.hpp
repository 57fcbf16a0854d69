#pragma once

// The tray's window: where the user stands (phase, account), the team picker, the active team's
// open alerts with an acknowledge button each, and the account's actions. Follows the model as it
// changes; every widget carries an object name ("menu.*").

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/shell/window_presenter.hpp>

#include <QCoroTask>
#include <QWidget>

#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace brisalune {

class MenuWindow final : public QWidget {
    Q_OBJECT

public:
    explicit MenuWindow(MacModel& model, QWidget* parent = nullptr);

    static QString phaseText(MacModel::Phase phase);

private:
    void showState();
    void fillTeams();
    void fillAlerts();
    QCoro::Task<> acknowledge(std::string alertId, std::string title);
    void present(WindowPresenter::Kind kind);

    MacModel& model_;
    QLabel* phase_;
    QLabel* account_;
    QComboBox* teams_;
    QLabel* alertsError_;
    QLabel* lastError_;
    QWidget* alerts_;
    QVBoxLayout* alertRows_;
    QPushButton* signIn_;
    QPushButton* box_;
    QPushButton* refresh_;
    QPushButton* signOut_;
};

}  // namespace brisalune
