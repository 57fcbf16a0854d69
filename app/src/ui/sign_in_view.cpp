#include <brisalune/app/ui/sign_in_view.hpp>

#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/menu_environment.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/platform/text.hpp>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

namespace brisalune {

namespace {

constexpr std::size_t maxShownEmailBytes = 320;

}  // namespace

using ui::Font;
using ui::Tone;

SignInView::SignInView(MacModel& model, QWidget* parent)
    : FixedWidthPane(width, parent)
    , model_(model)
    , form_(new QWidget)
    , email_(new QLineEdit)
    , password_(new QLineEdit)
    , error_(ui::text(QString(), QStringLiteral("signIn.error"), Font::caption, Tone::red, true))
    , joinBox_(ui::button(QStringLiteral("Join a self-hosted team\u2026"), QStringLiteral("signIn.joinBox")))
    , submit_(ui::button(QStringLiteral("Sign in"), QStringLiteral("signIn.submit")))
    , picker_(new TenantPicker(model))
    , signedIn_(new QWidget)
    , signedInAs_(ui::text(QString(), QStringLiteral("signIn.signedInAs"), Font::body, Tone::primary, true)) {
    setObjectName(QStringLiteral("signIn"));
    form_->setObjectName(QStringLiteral("signIn.form"));
    email_->setObjectName(QStringLiteral("signIn.email"));
    email_->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    password_->setObjectName(QStringLiteral("signIn.password"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);

    auto* formLayout = ui::stack(form_, 10);
    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->addRow(QStringLiteral("Email"), email_);
    fields->addRow(QStringLiteral("Password"), password_);
    formLayout->addLayout(fields);
    formLayout->addWidget(error_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(joinBox_, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    buttons->addWidget(submit_, 0, Qt::AlignVCenter);
    formLayout->addLayout(buttons);
    formLayout->addWidget(ui::text(
        QStringLiteral("No account yet? Create one at ") + qText(MenuEnvironment::publicWebDomain()) +
            QStringLiteral("."),
        QStringLiteral("signIn.footer"),
        Font::caption,
        Tone::secondary,
        true));
    ui::bindDefaultAction(form_, submit_);

    signedIn_->setObjectName(QStringLiteral("signIn.signedIn"));
    auto* signedInLayout = ui::stack(signedIn_, 12);
    QPushButton* done = ui::button(QStringLiteral("Done"), QStringLiteral("signIn.done"));
    signedInLayout->addWidget(signedInAs_);
    ui::addLeading(signedInLayout, done);
    ui::bindDefaultAction(signedIn_, done);

    auto* layout = ui::stack(this, 12, 20);
    layout->addWidget(form_);
    layout->addWidget(picker_);
    layout->addWidget(signedIn_);

    connect(email_, &QLineEdit::textChanged, this, &SignInView::followEnablement);
    connect(password_, &QLineEdit::textChanged, this, &SignInView::followEnablement);
    connect(submit_, &QPushButton::clicked, this, [this] { submit(); });
    connect(joinBox_, &QPushButton::clicked, this, [this] { ui::showWindow(this, WindowPresenter::Kind::box); });
    connect(done, &QPushButton::clicked, this, [this] { ui::closeWindow(this, WindowPresenter::Kind::signIn); });
    connect(&model_, &MacModel::phaseChanged, this, [this] {
        follow();
        if (model_.phase() == MacModel::Phase::signedIn) ui::closeWindow(this, WindowPresenter::Kind::signIn);
    });
    connect(&model_, &MacModel::sessionChanged, this, [this] {
        // A password typed for one session has no business with the next.
        password_->clear();
        follow();
    });
    connect(&model_, &MacModel::lastErrorChanged, this, &SignInView::follow);
    follow();
}

void SignInView::follow() {
    using Phase = MacModel::Phase;
    const Phase phase = model_.phase();
    form_->setVisible(phase == Phase::loading || phase == Phase::signedOut);
    picker_->setVisible(phase == Phase::selectingTenant);
    signedIn_->setVisible(phase == Phase::signedIn);

    const std::optional<StoredSession> session = model_.session();
    // An address is at most a few hundred bytes; a longer one from the server is cut, not laid out.
    const std::string email = session ? platform::shortened(session->email, maxShownEmailBytes) : std::string();
    signedInAs_->setText(QStringLiteral("Signed in as %1.").arg(ui::oneLine(qText(email))));
    const std::optional<std::string>& error = model_.lastError();
    error_->setText(error ? ui::lines(qText(*error)) : QString());
    error_->setVisible(error.has_value());
    // Read with the field the focus goes back to after a failure.
    password_->setAccessibleDescription(error_->text());
    followEnablement();
}

void SignInView::followEnablement() {
    joinBox_->setEnabled(model_.session().has_value());
    submit_->setEnabled(!busy_ && !email_->text().isEmpty() && !password_->text().isEmpty());
}

QCoro::Task<> SignInView::submit() {
    if (busy_ || email_->text().isEmpty() || password_->text().isEmpty()) co_return;
    const QPointer<SignInView> self(this);
    busy_ = true;
    followEnablement();
    const std::string email = email_->text().toStdString();
    const std::string password = password_->text().toStdString();
    co_await model_.signIn(email, password);
    if (!self) co_return;
    busy_ = false;
    // Wrong: what was typed stays for the next try, which starts at the password, selected so
    // that typing replaces it. Right: the new session cleared it.
    followEnablement();
    if (model_.lastError() && form_->isVisible()) {
        password_->setFocus(Qt::OtherFocusReason);
        password_->selectAll();
    }
}

void SignInView::hideEvent(QHideEvent* event) {
    // A window nobody sees holds no password; a minimised one is still the person's.
    if (!ui::byMinimise(*event)) password_->clear();
    FixedWidthPane::hideEvent(event);
}

}  // namespace brisalune
