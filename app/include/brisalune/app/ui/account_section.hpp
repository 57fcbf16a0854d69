#pragma once

// The signed-in account's rows: its e-mail, the maintenance windows (once a team is chosen), the
// self-hosted box window, and signing out (disabled while a sign-out runs, and saying what it waits
// for); after a sign-out whose local step was refused, "Finish signing out" and why it was refused.

#include <brisalune/app/model/mac_model.hpp>

#include <QWidget>

class QLabel;
class QPushButton;

namespace brisalune {

namespace ui {
class ElidedLabel;
}

class AccountSection final : public QWidget {
    Q_OBJECT

public:
    explicit AccountSection(MacModel& model, QWidget* parent = nullptr);

private:
    void follow();

    MacModel& model_;
    ui::ElidedLabel* email_;
    QPushButton* maintenance_;
    QPushButton* signOut_;
    QLabel* waiting_;
    QLabel* error_;
};

}  // namespace brisalune
