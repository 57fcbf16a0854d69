#pragma once

// The sign-in window's content. Follows the model's phase: the e-mail and password form until
// signed in, then the team picker, then "Signed in as …" with Done; it closes its window when the
// phase reaches signedIn. A failed sign-in keeps what was typed; the password is cleared when
// the window closes or hides and whenever the session changes, so nobody can sign back in with
// Return after a sign-out. 360 wide.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QCoroTask>

class QLabel;
class QLineEdit;
class QPushButton;

namespace brisalune {

class SignInView final : public ui::FixedWidthPane {
    Q_OBJECT

public:
    static constexpr int width = 360;

    explicit SignInView(MacModel& model, QWidget* parent = nullptr);

    bool isBusy() const noexcept { return busy_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void follow();
    void followEnablement();
    QCoro::Task<> submit();

    MacModel& model_;
    QWidget* form_;
    QLineEdit* email_;
    QLineEdit* password_;
    QLabel* error_;
    QPushButton* joinBox_;
    QPushButton* submit_;
    QWidget* picker_;
    QWidget* signedIn_;
    QLabel* signedInAs_;
    bool busy_ = false;
};

}  // namespace brisalune
