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
    , waiting_(ui::text(
          QStringLiteral("Waiting for another program that holds Brisalune's settings file\u2026"),
          QStringLiteral("account.signOutWait"),
          ui::Font::caption,
          ui::Tone::secondary,
          true))
    , error_(ui::text(QString(), QStringLiteral("account.error"), ui::Font::caption, ui::Tone::red, true)) {
    setObjectName(QStringLiteral("account"));
    QPushButton* boxes = ui::button(QStringLiteral("Self-hosted boxes\u2026"), QStringLiteral("account.boxes"));
    auto* layout = ui::stack(this, 6);
    layout->addWidget(email_);
    ui::addLeading(layout, maintenance_);
    ui::addLeading(layout, boxes);
    ui::addLeading(layout, signOut_);
    layout->addWidget(waiting_);
    layout->addWidget(error_);

    connect(maintenance_, &QPushButton::clicked, this, [this] {
        ui::showWindow(this, WindowPresenter::Kind::maintenance);
    });
    connect(boxes, &QPushButton::clicked, this, [this] { ui::showWindow(this, WindowPresenter::Kind::box); });
    connect(signOut_, &QPushButton::clicked, this, [this] { model_.signOut(); });
    connect(&model_, &MacModel::sessionChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::phaseChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::signingOutChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::signOutWaitChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::lastErrorChanged, this, &AccountSection::follow);
    connect(&model_, &MacModel::signOutRefusalChanged, this, &AccountSection::follow);
    follow();
}

void AccountSection::follow() {
    const std::optional<StoredSession> session = model_.session();
    email_->setFullText(session ? qText(session->email) : QString());
    maintenance_->setVisible(model_.phase() == MacModel::Phase::signedIn);
    // A sign-out under way says so, and what it waits for when another program holds it up. One
    // refused is not over: the session stays ending until the person finishes it.
    const bool signingOut = model_.isSigningOut();
    signOut_->setEnabled(!signingOut);
    if (signingOut) {
        signOut_->setText(qText(model_.signingOutWords()));
    } else {
        signOut_->setText(model_.sessionIsEnding() ? QStringLiteral("Finish signing out") : QStringLiteral("Sign out"));
    }
    waiting_->setVisible(signingOut && model_.signOutWaitsForSettings());
    // Only a refused sign-out, while its session is held: the one line every surface agrees with.
    // Choosing a team, the picker shows it while it is the last failure.
    const std::optional<std::string>& refusal = model_.signOutRefusal();
    const bool shown = refusal && (model_.phase() == MacModel::Phase::signedIn || model_.lastError() != refusal);
    error_->setText(shown ? ui::lines(qText(*refusal)) : QString());
    error_->setVisible(shown);
}

}  // namespace brisalune
