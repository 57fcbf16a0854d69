#include <brisalune/app/ui/box_view.hpp>

#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/notices.hpp>

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <exception>
#include <string>

namespace brisalune {

namespace {

QLineEdit* field(const char* name, bool secret = false) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    if (secret) edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QPushButton* button(const char* name, const char* title) {
    auto* push = new QPushButton(QString::fromLatin1(title));
    push->setObjectName(QString::fromLatin1(name));
    return push;
}

// The text a failed box step shows: a join code's own problem, or the error as it stands.
QString failureText(const std::exception& error) { return qText(error.what()); }

}  // namespace

BoxView::BoxView(MacModel& model, Path first, QWidget* parent)
    : QWidget(parent), model_(model), pages_(new QStackedWidget), error_(new QLabel) {
    setObjectName(QStringLiteral("box"));
    pages_->setObjectName(QStringLiteral("box.pages"));
    error_->setObjectName(QStringLiteral("box.error"));
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    pages_->addWidget(makeJoinPage());
    pages_->addWidget(makeSignInPage());

    auto* switcher = new QComboBox;
    switcher->setObjectName(QStringLiteral("box.path"));
    switcher->addItems({QStringLiteral("Join with a code"), QStringLiteral("Sign in to a box")});
    connect(switcher, &QComboBox::currentIndexChanged, pages_, &QStackedWidget::setCurrentIndex);
    connect(pages_, &QStackedWidget::currentChanged, switcher, &QComboBox::setCurrentIndex);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(switcher);
    layout->addWidget(pages_);
    layout->addWidget(error_);
    showPath(first);
    connect(&model_, &MacModel::membershipsChanged, this, &BoxView::fillTeams);
    connect(&model_, &MacModel::sessionChanged, this, &BoxView::fillTeams);
}

BoxView::Path BoxView::path() const { return pages_->currentIndex() == 0 ? Path::join : Path::signIn; }

void BoxView::showPath(Path path) { pages_->setCurrentIndex(path == Path::join ? 0 : 1); }

QWidget* BoxView::makeJoinPage() {
    auto* page = new QWidget;
    joinCode_ = field("box.joinCode");
    displayName_ = field("box.displayName");
    seatEmail_ = field("box.seatEmail");
    seatPassword_ = field("box.seatPassword", true);
    join_ = button("box.join", "Join");
    auto* form = new QFormLayout(page);
    form->addRow(QStringLiteral("Join code"), joinCode_);
    form->addRow(QStringLiteral("Your name"), displayName_);
    form->addRow(QStringLiteral("Box e-mail"), seatEmail_);
    form->addRow(QStringLiteral("Box password"), seatPassword_);
    form->addRow(join_);
    connect(join_, &QPushButton::clicked, this, [this] { join(); });
    return page;
}

QWidget* BoxView::makeSignInPage() {
    auto* page = new QWidget;
    team_ = new QComboBox;
    team_->setObjectName(QStringLiteral("box.team"));
    email_ = field("box.email");
    password_ = field("box.password", true);
    signIn_ = button("box.signIn", "Sign in");
    boxTeam_ = new QComboBox;
    boxTeam_->setObjectName(QStringLiteral("box.boxTeam"));
    useTeam_ = button("box.useTeam", "Use this team");
    useTeam_->setEnabled(false);
    auto* form = new QFormLayout(page);
    form->addRow(QStringLiteral("Team"), team_);
    form->addRow(QStringLiteral("E-mail"), email_);
    form->addRow(QStringLiteral("Password"), password_);
    form->addRow(signIn_);
    form->addRow(QStringLiteral("Box team"), boxTeam_);
    form->addRow(useTeam_);
    connect(signIn_, &QPushButton::clicked, this, [this] { signIn(); });
    connect(useTeam_, &QPushButton::clicked, this, [this] { useTeam(); });
    fillTeams();
    return page;
}

void BoxView::fillTeams() {
    const QString chosen = team_->currentData().toString();
    team_->clear();
    for (const Membership& membership : model_.selfHostedMemberships())
        team_->addItem(qText(membership.tenantName), qText(membership.tenantId));
    const std::optional<StoredSession> session = model_.session();
    const QString active = session && session->activeTenantId ? qText(*session->activeTenantId) : QString();
    const int index = team_->findData(chosen.isEmpty() ? active : chosen);
    if (index >= 0) team_->setCurrentIndex(index);
}

QCoro::Task<> BoxView::join() {
    error_->clear();
    join_->setEnabled(false);
    try {
        const JoinCode code = JoinCode::parse(joinCode_->text().toStdString());
        const std::string displayName = displayName_->text().toStdString();
        const std::string email = seatEmail_->text().toStdString();
        const std::string password = seatPassword_->text().toStdString();
        co_await model_.joinBox(code, displayName, email, password);
        join_->setEnabled(true);
        done();
    } catch (const JoinCode::Failure&) {
        join_->setEnabled(true);
        error_->setText(QStringLiteral("That is not a usable join code."));
    } catch (const std::exception& error) {
        join_->setEnabled(true);
        error_->setText(failureText(error));
    }
}

QCoro::Task<> BoxView::signIn() {
    error_->clear();
    boxSignIn_.reset();
    boxTeam_->clear();
    useTeam_->setEnabled(false);
    signIn_->setEnabled(false);
    try {
        const std::string hostedTenantId = team_->currentData().toString().toStdString();
        const std::string email = email_->text().toStdString();
        const std::string password = password_->text().toStdString();
        BoxSignIn signedIn = co_await model_.signInToBox(hostedTenantId, email, password);
        for (const Membership& membership : signedIn.boxMemberships)
            boxTeam_->addItem(qText(membership.tenantName), qText(membership.tenantId));
        boxSignIn_ = std::move(signedIn);
        useTeam_->setEnabled(true);
    } catch (const std::exception& error) {
        error_->setText(failureText(error));
    }
    signIn_->setEnabled(true);
}

QCoro::Task<> BoxView::useTeam() {
    if (!boxSignIn_) co_return;
    error_->clear();
    useTeam_->setEnabled(false);
    const BoxSignIn signedIn = *boxSignIn_;
    try {
        const std::string boxTenantId = boxTeam_->currentData().toString().toStdString();
        co_await model_.useBoxTeam(signedIn.hostedTenantId, signedIn.client, boxTenantId);
        done();
    } catch (const std::exception& error) {
        error_->setText(failureText(error));
    }
    useTeam_->setEnabled(true);
}

void BoxView::done() {
    if (WindowPresenter* windows = WindowPresenter::of(this)) windows->close(WindowPresenter::Kind::box);
}

}  // namespace brisalune
