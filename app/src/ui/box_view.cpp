#include <brisalune/app/ui/box_view.hpp>

#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/notices.hpp>

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <exception>
#include <utility>

namespace brisalune {

using ui::Font;
using ui::Tone;

namespace {

QLineEdit* field(const QString& objectName, bool secret = false) {
    auto* edit = new QLineEdit;
    edit->setObjectName(objectName);
    if (secret) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    }
    return edit;
}

QFormLayout* formRows() {
    auto* rows = new QFormLayout;
    rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return rows;
}

void showError(QLabel* label, const std::optional<std::string>& text) {
    label->setText(text ? qText(*text) : QString());
    label->setVisible(text.has_value());
}

}  // namespace

// ---- joining a box ----

JoinBoxForm::JoinBoxForm(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , code_(field(QStringLiteral("joinBox.code")))
    , name_(field(QStringLiteral("joinBox.name")))
    , seat_(new QWidget)
    , email_(field(QStringLiteral("joinBox.email")))
    , password_(field(QStringLiteral("joinBox.password"), true))
    , error_(ui::text(QString(), QStringLiteral("joinBox.error"), Font::caption, Tone::red, true))
    , join_(ui::button(QStringLiteral("Join"), QStringLiteral("joinBox.join"))) {
    setObjectName(QStringLiteral("joinBox"));
    code_->setPlaceholderText(QStringLiteral("blj_\u2026"));

    auto* layout = ui::stack(this, 10);
    auto* rows = formRows();
    rows->addRow(QStringLiteral("Join code"), code_);
    rows->addRow(QStringLiteral("Your name on the box"), name_);
    layout->addLayout(rows);

    seat_->setObjectName(QStringLiteral("joinBox.seat"));
    auto* seatLayout = ui::stack(seat_, 10);
    auto* seatRows = formRows();
    seatRows->addRow(QStringLiteral("Box email"), email_);
    seatRows->addRow(QStringLiteral("Box password"), password_);
    seatLayout->addLayout(seatRows);
    seatLayout->addWidget(ui::text(seatNote, QStringLiteral("joinBox.seatNote"), Font::caption, Tone::secondary, true));
    layout->addWidget(seat_);
    layout->addWidget(error_);
    layout->addWidget(join_, 0, Qt::AlignRight);
    ui::bindDefaultAction(this, join_);
    error_->hide();

    connect(code_, &QLineEdit::textChanged, this, &JoinBoxForm::follow);
    connect(join_, &QPushButton::clicked, this, [this] { submitJoin(); });
    follow();
}

std::optional<JoinCode> JoinBoxForm::parsedCode() const {
    try {
        return JoinCode::parse(code_->text().toStdString());
    } catch (const JoinCode::Failure&) {
        return std::nullopt;  // an unusable code only leaves Join disabled
    }
}

void JoinBoxForm::follow() {
    const std::optional<JoinCode> code = parsedCode();
    seat_->setVisible(code && code->seat);
    join_->setEnabled(!busy_ && code.has_value());
}

QCoro::Task<> JoinBoxForm::submitJoin() {
    const std::optional<JoinCode> parsed = parsedCode();
    if (!parsed || busy_) co_return;
    const QPointer<JoinBoxForm> self(this);
    WindowPresenter* windows = WindowPresenter::of(this);
    busy_ = true;
    showError(error_, std::nullopt);
    follow();

    const JoinCode code = *parsed;
    // A plain code carries no credentials, whatever the seat fields still hold.
    const std::string email = code.seat ? email_->text().toStdString() : std::string();
    const std::string password = code.seat ? password_->text().toStdString() : std::string();
    const std::string name = name_->text().toStdString();
    std::optional<std::string> failure;
    try {
        co_await model_.joinBox(code, name, email, password);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (!failure && windows) windows->close(WindowPresenter::Kind::box);
    if (!self) co_return;
    busy_ = false;
    if (failure) {
        showError(error_, failure);
    } else {
        password_->clear();  // joined: the box password must not be sent again by a stray Return
    }
    follow();
}

// ---- signing in to a box ----

BoxSignInForm::BoxSignInForm(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , none_(ui::text(noneText, QStringLiteral("boxSignIn.none"), Font::body, Tone::secondary, true))
    , credentials_(new QWidget)
    , team_(new QComboBox)
    , email_(field(QStringLiteral("boxSignIn.email")))
    , password_(field(QStringLiteral("boxSignIn.password"), true))
    , signIn_(ui::button(QStringLiteral("Sign in"), QStringLiteral("boxSignIn.submit")))
    , choice_(new QWidget)
    , boxTeam_(new QComboBox)
    , useTeam_(ui::button(QStringLiteral("Use this team"), QStringLiteral("boxSignIn.useTeam")))
    , error_(ui::text(QString(), QStringLiteral("boxSignIn.error"), Font::caption, Tone::red, true)) {
    setObjectName(QStringLiteral("boxSignIn"));
    team_->setObjectName(QStringLiteral("boxSignIn.team"));
    boxTeam_->setObjectName(QStringLiteral("boxSignIn.boxTeam"));

    credentials_->setObjectName(QStringLiteral("boxSignIn.credentials"));
    auto* credentialsLayout = ui::stack(credentials_, 10);
    auto* rows = formRows();
    rows->addRow(QStringLiteral("Team"), team_);
    rows->addRow(QStringLiteral("Box email"), email_);
    rows->addRow(QStringLiteral("Box password"), password_);
    credentialsLayout->addLayout(rows);
    credentialsLayout->addWidget(signIn_, 0, Qt::AlignRight);
    ui::bindDefaultAction(credentials_, signIn_);

    choice_->setObjectName(QStringLiteral("boxSignIn.choice"));
    auto* choiceLayout = ui::stack(choice_, 10);
    auto* choiceRows = formRows();
    choiceRows->addRow(QStringLiteral("Team on the box"), boxTeam_);
    choiceLayout->addLayout(choiceRows);
    choiceLayout->addWidget(useTeam_, 0, Qt::AlignRight);

    auto* layout = ui::stack(this, 10);
    layout->addWidget(none_);
    layout->addWidget(credentials_);
    layout->addWidget(choice_);
    layout->addWidget(error_);
    error_->hide();

    const auto choose = [this](QComboBox* picker) {
        return [this, picker](int index) {
            tenantId_ = index < 0 ? std::string() : picker->itemData(index).toString().toStdString();
            follow();
        };
    };
    connect(team_, &QComboBox::currentIndexChanged, this, choose(team_));
    connect(boxTeam_, &QComboBox::currentIndexChanged, this, choose(boxTeam_));
    connect(email_, &QLineEdit::textChanged, this, &BoxSignInForm::follow);
    connect(password_, &QLineEdit::textChanged, this, &BoxSignInForm::follow);
    connect(signIn_, &QPushButton::clicked, this, [this] { signIn(); });
    connect(useTeam_, &QPushButton::clicked, this, [this] {
        if (pending_) useTeam(*pending_, tenantId_);
    });
    connect(&model_, &MacModel::membershipsChanged, this, &BoxSignInForm::follow);
    connect(&model_, &MacModel::sessionChanged, this, &BoxSignInForm::follow);
    follow();
}

void BoxSignInForm::showEvent(QShowEvent* event) {
    // Not while a box sign-in waits for its team: tenantId then names a team on the box.
    if (!pending_) preselect();
    QWidget::showEvent(event);
}

void BoxSignInForm::preselect() {
    const std::vector<Membership> teams = model_.selfHostedMemberships();
    if (model_.needsBoxSignIn()) {
        const std::optional<StoredSession> session = model_.session();
        tenantId_ = session && session->activeTenantId ? *session->activeTenantId : std::string();
    } else {
        tenantId_ = teams.empty() ? std::string() : teams.front().tenantId;
    }
    follow();
}

void BoxSignInForm::fill(QComboBox* picker, const std::vector<Membership>& teams) {
    const QSignalBlocker quiet(picker);
    picker->clear();
    for (const Membership& team : teams) picker->addItem(qText(team.tenantName), qText(team.tenantId));
    picker->setCurrentIndex(tenantId_.empty() ? -1 : picker->findData(qText(tenantId_)));
}

void BoxSignInForm::follow() {
    const std::vector<Membership> teams = model_.selfHostedMemberships();
    const bool noTeams = teams.empty();
    none_->setVisible(noTeams);
    credentials_->setVisible(!noTeams && !pending_);
    choice_->setVisible(!noTeams && pending_.has_value());
    if (pending_) {
        fill(boxTeam_, pending_->boxMemberships);
    } else {
        fill(team_, teams);
    }
    signIn_->setEnabled(!busy_ && !tenantId_.empty() && !email_->text().isEmpty() && !password_->text().isEmpty());
    useTeam_->setEnabled(!busy_ && !tenantId_.empty());
}

void BoxSignInForm::setError(std::optional<std::string> text) { showError(error_, text); }

QCoro::Task<> BoxSignInForm::signIn() {
    if (busy_) co_return;
    const QPointer<BoxSignInForm> self(this);
    busy_ = true;
    setError(std::nullopt);
    follow();
    const std::string hostedTenantId = tenantId_;
    const std::string email = email_->text().toStdString();
    const std::string password = password_->text().toStdString();
    std::optional<BoxSignIn> result;
    std::optional<std::string> failure;
    try {
        result = co_await model_.signInToBox(hostedTenantId, email, password);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (!self) co_return;
    if (failure) {
        busy_ = false;
        setError(failure);
        follow();
        co_return;
    }
    password_->clear();  // signed in to the box: its password has done its work
    if (result->boxMemberships.size() == 1) {
        const std::string onlyTeam = result->boxMemberships.front().tenantId;
        co_await useTeam(std::move(*result), onlyTeam);
        co_return;
    }
    tenantId_ = result->boxMemberships.empty() ? std::string() : result->boxMemberships.front().tenantId;
    pending_ = std::move(result);
    busy_ = false;
    follow();
}

QCoro::Task<> BoxSignInForm::useTeam(BoxSignIn signIn, std::string boxTenantId) {
    const QPointer<BoxSignInForm> self(this);
    WindowPresenter* windows = WindowPresenter::of(this);
    busy_ = true;
    follow();
    std::optional<std::string> failure;
    try {
        co_await model_.useBoxTeam(signIn.hostedTenantId, signIn.client, boxTenantId);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (!failure && windows) windows->close(WindowPresenter::Kind::box);
    if (!self) co_return;
    busy_ = false;
    if (failure) {
        setError(failure);
    } else {
        // Done with this sign-in: the next visit starts from the credentials again.
        pending_.reset();
        preselect();
    }
    follow();
}

// ---- the window ----

BoxView::BoxView(MacModel& model, Path first, QWidget* parent)
    : FixedWidthPane(width, parent)
    , model_(model)
    , path_(first)
    , signInFirst_(ui::text(
          QStringLiteral("Sign in to Brisalune first."),
          QStringLiteral("box.signInFirst"),
          Font::body,
          Tone::secondary,
          true))
    , switcher_(new QWidget)
    , segments_(new QButtonGroup(this)) {
    setObjectName(QStringLiteral("box"));
    switcher_->setObjectName(QStringLiteral("box.path"));
    auto* segmentLine = new QHBoxLayout(switcher_);
    segmentLine->setContentsMargins(0, 0, 0, 0);
    segmentLine->setSpacing(0);
    segmentLine->addStretch(1);
    for (Path path : {Path::join, Path::signIn}) {
        QPushButton* segment = ui::button(
            title(path), path == Path::join ? QStringLiteral("box.path.join") : QStringLiteral("box.path.signIn"));
        segment->setCheckable(true);
        segment->setChecked(path == path_);
        segments_->addButton(segment, static_cast<int>(path));
        segmentLine->addWidget(segment);
    }
    segmentLine->addStretch(1);
    segments_->setExclusive(true);

    auto* layout = ui::stack(this, 16, 20);
    layout->addWidget(signInFirst_);
    layout->addWidget(switcher_);
    connect(segments_, &QButtonGroup::idClicked, this, [this](int id) { showPath(static_cast<Path>(id)); });
    connect(&model_, &MacModel::sessionChanged, this, &BoxView::follow);
    placeForm();
    follow();
}

QString BoxView::title(Path path) {
    return path == Path::join ? QStringLiteral("Join a box") : QStringLiteral("Sign in to a box");
}

void BoxView::showPath(Path path) {
    segments_->button(static_cast<int>(path))->setChecked(true);
    if (path == path_) return;
    path_ = path;
    placeForm();
    follow();
}

void BoxView::placeForm() {
    // The form leaves with its state; the new one starts afresh.
    delete form_;
    if (path_ == Path::join) {
        form_ = new JoinBoxForm(model_);
    } else {
        form_ = new BoxSignInForm(model_);
    }
    layout()->addWidget(form_);
}

void BoxView::follow() {
    const bool signedIn = model_.session().has_value();
    signInFirst_->setVisible(!signedIn);
    switcher_->setVisible(signedIn);
    form_->setVisible(signedIn);
}

}  // namespace brisalune
