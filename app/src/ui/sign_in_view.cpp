#include <brisalune/app/ui/sign_in_view.hpp>

#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/notices.hpp>

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

namespace brisalune {

SignInView::SignInView(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , email_(new QLineEdit)
    , password_(new QLineEdit)
    , submit_(new QPushButton(QStringLiteral("Sign in")))
    , error_(new QLabel) {
    setObjectName(QStringLiteral("signIn"));
    email_->setObjectName(QStringLiteral("signIn.email"));
    password_->setObjectName(QStringLiteral("signIn.password"));
    password_->setEchoMode(QLineEdit::Password);
    submit_->setObjectName(QStringLiteral("signIn.submit"));
    submit_->setDefault(true);
    error_->setObjectName(QStringLiteral("signIn.error"));
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("E-mail"), email_);
    form->addRow(QStringLiteral("Password"), password_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(error_);
    layout->addWidget(submit_);

    connect(submit_, &QPushButton::clicked, this, [this] { submit(); });
    connect(password_, &QLineEdit::returnPressed, submit_, &QPushButton::click);
}

QCoro::Task<> SignInView::submit() {
    submit_->setEnabled(false);
    error_->clear();
    const std::string email = email_->text().toStdString();
    const std::string password = password_->text().toStdString();
    co_await model_.signIn(email, password);
    submit_->setEnabled(true);
    if (model_.lastError() || !model_.session()) {
        error_->setText(qText(model_.lastError().value_or("")));
        co_return;
    }
    password_->clear();
    if (WindowPresenter* windows = WindowPresenter::of(this)) windows->close(WindowPresenter::Kind::signIn);
}

}  // namespace brisalune
