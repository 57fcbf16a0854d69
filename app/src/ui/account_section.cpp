#include <brisalune/app/ui/account_section.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace brisalune {

AccountSection::AccountSection(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , email_(ui::elidedText(QString(), QStringLiteral("account.email"), ui::Font::caption, ui::Tone::secondary))
    , maintenance_(ui::button(QStringLiteral("Maintenance windows\u2026"), QStringLiteral("account.maintenance")))
    , signOut_(ui::button(QStringLiteral("Sign out"), QStringLiteral("account.signOut")))
    , error_(ui::text(QString(), QStringLiteral("account.error"), ui::Font::caption, ui::Tone::red, true)) {
    setObjectName(QStringLiteral("account"));
    QPushButton* boxes = ui::button(QStringLiteral("Self-hosted boxes\u2026"), QStringLiteral("account.boxes"));
    auto* layout = ui::stack(this, 6);
    layout->addWidget(email_);
    ui::addLeading(layout, maintenance_);
    ui::addLeading(layout, boxes);
    ui::addLeading(layout, signOut_);
    layout->addWidget(error_);

    connect(maintenance_, &QPushButton::clicked, this, [this] {
        ui::showWindow(this, WindowPresenter::Kind::maintenance);
    });
    connect(boxes, &QPushButton::clicked, this, [this] { ui::showWindow(this, WindowPresenter::Kind::box); });
    connect(signOut_, &QPushButton::clicked, this, [this] { model_.signOut(); });
    connect(&model_, &MacModel::sessionChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::phaseChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::isTearingDownChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::lastErrorChanged, this, &AccountSection::follow);
    follow();
}

void AccountSection::follow() {
    const std::optional<StoredSession> session = model_.session();
    email_->setFullText(session ? qText(session->email) : QString());
    maintenance_->setVisible(model_.phase() == MacModel::Phase::signedIn);
    signOut_->setEnabled(!model_.isTearingDown());
    // Signed in, nothing else shows the model's last failure (a sign-out the keyring refused);
    // choosing a team, the picker does.
    const std::optional<std::string>& error = model_.lastError();
    const bool shown = error && model_.phase() == MacModel::Phase::signedIn;
    error_->setText(shown ? ui::lines(qText(*error)) : QString());
    error_->setVisible(shown);
}

}  // namespace brisalune
