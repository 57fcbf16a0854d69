#pragma once

// The sign-in window's form: e-mail, password, the button, and the failure's text. Closes its own
// window once signed in.

#include <brisalune/app/model/mac_model.hpp>

#include <QCoroTask>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace brisalune {

class SignInView final : public QWidget {
    Q_OBJECT

public:
    explicit SignInView(MacModel& model, QWidget* parent = nullptr);

private:
    QCoro::Task<> submit();

    MacModel& model_;
    QLineEdit* email_;
    QLineEdit* password_;
    QPushButton* submit_;
    QLabel* error_;
};

}  // namespace brisalune
