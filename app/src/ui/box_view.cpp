#include <brisalune/app/ui/box_view.hpp>

#include <brisalune/app/shell/window_presenter.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/client/boxes/box_address.hpp>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <initializer_list>
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

// The error shows under the form; a screen reader reads it with the field that the focus goes
// back to for the next try.
void showError(QLabel* label, const std::optional<std::string>& text, QWidget* field) {
    label->setText(text ? ui::lines(qText(*text)) : QString());
    label->setVisible(text.has_value());
    field->setAccessibleDescription(label->text());
}

// The rows naming the address a form's password goes to, and the warnings when it would travel
// in clear or carries a user name before its host; hidden without an address.
BoxAddressRows addAddressRows(QFormLayout* rows, const QString& prefix) {
    BoxAddressRows added{
        // However long the address, it shows whole: it wraps, even inside a long host name.
        .address = ui::text(QString(), prefix + QStringLiteral(".address"), Font::body, Tone::secondary, true),
        .userInfo = ui::text(QString(), prefix + QStringLiteral(".userInfo"), Font::caption, Tone::red, true),
        .warning = ui::text(QString(), prefix + QStringLiteral(".clearText"), Font::caption, Tone::red, true)};
    added.address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows->addRow(QStringLiteral("Box address"), added.address);
    rows->addRow(added.userInfo);
    rows->addRow(added.warning);
    return added;
}

// The address as a request reaches it: up to its path whole, however long the host; a long path
// cut, and whole on hover.
QString shownAddress(const platform::Url& box) {
    constexpr std::size_t longestPath = 80;
    const std::string reached = addressReached(box);
    const std::size_t path = reached.find_first_of("/?#", reached.find("//") + 2);
    if (path == std::string::npos || reached.size() - path <= longestPath) return qText(reached);
    return qText(reached.substr(0, path + longestPath)) + QChar(0x2026);
}

void showAddress(QFormLayout* rows, const BoxAddressRows& shown, const std::optional<platform::Url>& box) {
    const std::optional<std::string> clear = box ? clearTextWarning(*box) : std::nullopt;
    const std::optional<std::string> userInfo = box ? userInfoWarning(*box) : std::nullopt;
    shown.address->setText(box ? shownAddress(*box) : QString());
    shown.address->setToolTip(box ? ui::plainToolTip(qText(addressReached(*box))) : QString());
    shown.userInfo->setText(userInfo ? qText(*userInfo) : QString());
    shown.warning->setText(clear ? qText(*clear) : QString());
    rows->setRowVisible(shown.address, box.has_value());
    rows->setRowVisible(shown.userInfo, userInfo.has_value());
    rows->setRowVisible(shown.warning, clear.has_value());
}

// The chosen segment in the selection's colours and bold, the other as a plain button: a
// shade of grey alone does not tell them apart. As between radio buttons, Tab stops at the chosen
// one and the arrow keys choose the other.
void markSegment(QPushButton* segment, bool chosen) {
    segment->setFocusPolicy(chosen ? Qt::StrongFocus : Qt::ClickFocus);
    const QPalette standard = QApplication::palette();
    QPalette palette = standard;
    if (chosen) {
        palette.setColor(QPalette::Button, standard.color(QPalette::Highlight));
        palette.setColor(QPalette::ButtonText, standard.color(QPalette::HighlightedText));
    }
    segment->setPalette(palette);
    QFont font = segment->font();
    font.setBold(chosen);
    segment->setFont(font);
}

// Both segments as wide as the wider title in bold with two characters' room on either side:
// the switch keeps its width whichever is chosen, and the chosen title never touches its frame.
void fitSegments(const QButtonGroup& segments) {
    int widest = 0;
    for (QAbstractButton* segment : segments.buttons()) {
        QFont bold = segment->font();
        bold.setBold(true);
        const QFontMetrics metrics(bold);
        const QString title = BoxView::title(static_cast<BoxView::Path>(segments.id(segment)));
        widest = std::max(
            {widest, metrics.horizontalAdvance(title) + 4 * metrics.averageCharWidth(), segment->sizeHint().width()});
    }
    for (QAbstractButton* segment : segments.buttons()) segment->setFixedWidth(widest);
}

// The session's token, to tell a new session from a change of the same one.
std::optional<std::string> sessionToken(const MacModel& model) {
    const std::optional<StoredSession> session = model.session();
    return session ? std::optional(session->sessionToken) : std::nullopt;
}

}  // namespace

// ---- joining a box ----

JoinBoxForm::JoinBoxForm(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , rows_(formRows())
    , code_(field(QStringLiteral("joinBox.code")))
    , name_(field(QStringLiteral("joinBox.name")))
    , email_(field(QStringLiteral("joinBox.email")))
    , password_(field(QStringLiteral("joinBox.password"), true))
    , seatNote_(ui::text(seatNote, QStringLiteral("joinBox.seatNote"), Font::caption, Tone::secondary, true))
    , error_(ui::text(QString(), QStringLiteral("joinBox.error"), Font::caption, Tone::red, true))
    , join_(ui::button(QStringLiteral("Join"), QStringLiteral("joinBox.join")))
    , sessionToken_(sessionToken(model)) {
    setObjectName(QStringLiteral("joinBox"));
    setFocusProxy(code_);
    ui::setPlaceholder(code_, QStringLiteral("blj_\u2026"));

    // One form for every row, the seat's too, so that labels and fields share their columns.
    auto* layout = ui::stack(this, 10);
    rows_->addRow(QStringLiteral("Join code"), code_);
    address_ = addAddressRows(rows_, QStringLiteral("joinBox"));
    rows_->addRow(QStringLiteral("Your name on the box"), name_);
    rows_->addRow(QStringLiteral("Box email"), email_);
    rows_->addRow(QStringLiteral("Box password"), password_);
    rows_->addRow(seatNote_);
    layout->addLayout(rows_);
    layout->addWidget(error_);
    layout->addWidget(join_, 0, Qt::AlignRight);
    ui::bindDefaultAction(this, join_);
    error_->hide();

    connect(code_, &QLineEdit::textChanged, this, &JoinBoxForm::follow);
    connect(join_, &QPushButton::clicked, this, [this] { submitJoin(); });
    connect(&model_, &MacModel::signingOutChanged, this, &JoinBoxForm::follow);
    connect(&model_, &MacModel::sessionChanged, this, [this] {
        // Another account, or none: nothing typed for the one before stays.
        std::optional<std::string> now = sessionToken(model_);
        if (now == sessionToken_) return;
        sessionToken_ = std::move(now);
        forget();
    });
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
    const bool seat = code && code->seat;
    for (QWidget* row : std::initializer_list<QWidget*>{email_, password_, seatNote_}) rows_->setRowVisible(row, seat);
    showAddress(rows_, address_, code ? std::optional(code->boxURL) : std::nullopt);
    join_->setEnabled(!busy_ && code.has_value() && !model_.sessionIsEnding());
}

void JoinBoxForm::forget() {
    for (QLineEdit* typed : {code_, name_, email_, password_}) typed->clear();
    showError(error_, std::nullopt, code_);
    follow();
}

QCoro::Task<> JoinBoxForm::submitJoin() {
    const std::optional<JoinCode> parsed = parsedCode();
    if (!parsed || busy_) co_return;
    const QPointer<JoinBoxForm> self(this);
    WindowPresenter* windows = WindowPresenter::of(this);
    busy_ = true;
    showError(error_, std::nullopt, code_);
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
        // What was typed stays for the next try.
        showError(error_, failure, code_);
    } else {
        // Spent: neither waits in the window, nor goes out again on a stray Return.
        password_->clear();
        code_->clear();
    }
    follow();
    if (failure) {
        // Selected: a code pasted next replaces it.
        code_->setFocus(Qt::OtherFocusReason);
        code_->selectAll();
    }
}

void JoinBoxForm::hideEvent(QHideEvent* event) {
    // A window nobody sees holds no code and no password; a minimised one is still the person's.
    if (!ui::byMinimise(*event)) {
        code_->clear();
        password_->clear();
    }
    QWidget::hideEvent(event);
}

// ---- signing in to a box ----

BoxSignInForm::BoxSignInForm(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , none_(ui::text(noneText, QStringLiteral("boxSignIn.none"), Font::body, Tone::secondary, true))
    , credentials_(new QWidget)
    , team_(ui::choices(QStringLiteral("boxSignIn.team")))
    , email_(field(QStringLiteral("boxSignIn.email")))
    , password_(field(QStringLiteral("boxSignIn.password"), true))
    , signIn_(ui::button(QStringLiteral("Sign in"), QStringLiteral("boxSignIn.submit")))
    , choice_(new QWidget)
    , boxTeam_(ui::choices(QStringLiteral("boxSignIn.boxTeam")))
    , useTeam_(ui::button(QStringLiteral("Use this team"), QStringLiteral("boxSignIn.useTeam")))
    , error_(ui::text(QString(), QStringLiteral("boxSignIn.error"), Font::caption, Tone::red, true))
    , rows_(formRows())
    , sessionToken_(sessionToken(model)) {
    setObjectName(QStringLiteral("boxSignIn"));
    setFocusProxy(team_);

    credentials_->setObjectName(QStringLiteral("boxSignIn.credentials"));
    auto* credentialsLayout = ui::stack(credentials_, 10);
    rows_->addRow(QStringLiteral("Team"), team_);
    address_ = addAddressRows(rows_, QStringLiteral("boxSignIn"));
    rows_->addRow(QStringLiteral("Box email"), email_);
    rows_->addRow(QStringLiteral("Box password"), password_);
    credentialsLayout->addLayout(rows_);
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
    connect(&model_, &MacModel::signingOutChanged, this, &BoxSignInForm::follow);
    connect(&model_, &MacModel::sessionChanged, this, [this] {
        // Another account, or none: its credentials and its box sign-in go with it.
        std::optional<std::string> now = sessionToken(model_);
        if (now != sessionToken_) {
            sessionToken_ = std::move(now);
            forget();
        }
        follow();
    });
    follow();
}

BoxSignInForm::~BoxSignInForm() {
    // A sign-in left waiting for its team is signed out on the box, not left open there.
    dropPending();
}

void BoxSignInForm::dropPending() {
    // One whose team is being used ends with that step.
    if (pending_ && !busy_) model_.abandonBoxSignIn(std::exchange(pending_, std::nullopt)->client);
}

void BoxSignInForm::forget() {
    email_->clear();
    password_->clear();
    setError(std::nullopt);
    dropPending();
    preselect();
}

void BoxSignInForm::showEvent(QShowEvent* event) {
    // Not while a box sign-in waits for its team (tenantId then names a team on the box), nor
    // for a window brought back from a minimise, whose choice is as the person left it.
    if (!pending_ && !ui::byMinimise(*event)) preselect();
    QWidget::showEvent(event);
}

void BoxSignInForm::hideEvent(QHideEvent* event) {
    // A window nobody sees holds no password and no box sign-in; it opens again afresh. A
    // minimised one is still the person's.
    if (!ui::byMinimise(*event)) {
        password_->clear();
        setError(std::nullopt);
        dropPending();
        follow();
    }
    QWidget::hideEvent(event);
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
    for (const Membership& team : teams)
        picker->addItem(ui::oneLine(ui::shownName(team.tenantName, team.tenantId)), qText(team.tenantId));
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
    const std::optional<StoredSession> session = model_.session();
    const bool recorded = !pending_ && session && session->hasOwnHost(tenantId_);
    showAddress(rows_, address_, recorded ? std::optional(session->hostForTenant(tenantId_)) : std::nullopt);
    // Nothing of a session goes once its sign-out has begun, the box password included.
    const bool sends = !busy_ && !tenantId_.empty() && !model_.sessionIsEnding();
    signIn_->setEnabled(sends && !email_->text().isEmpty() && !password_->text().isEmpty());
    useTeam_->setEnabled(sends);
}

void BoxSignInForm::setError(std::optional<std::string> text) { showError(error_, text, password_); }

QCoro::Task<> BoxSignInForm::signIn() {
    if (busy_) co_return;
    const QPointer<BoxSignInForm> self(this);
    MacModel& model = model_;
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
    const bool several = result && result->boxMemberships.size() != 1;
    if (!self || (several && !isVisible())) {
        // The form went away or was closed meanwhile: nobody is left to choose a team with it.
        if (result) model.abandonBoxSignIn(result->client);
        if (self) {
            busy_ = false;
            follow();
        }
        co_return;
    }
    if (failure) {
        // What was typed stays for the next try.
        busy_ = false;
        setError(failure);
        follow();
        password_->setFocus(Qt::OtherFocusReason);
        password_->selectAll();  // typing replaces it
        co_return;
    }
    if (!several) {
        const std::string onlyTeam = result->boxMemberships.front().tenantId;
        co_await useTeam(std::move(*result), onlyTeam);
        co_return;
    }
    password_->clear();  // done with: a team on the box is chosen next
    tenantId_ = result->boxMemberships.empty() ? std::string() : result->boxMemberships.front().tenantId;
    pending_ = std::move(result);
    busy_ = false;
    follow();
}

QCoro::Task<> BoxSignInForm::useTeam(BoxSignIn signIn, std::string boxTenantId) {
    const QPointer<BoxSignInForm> self(this);
    MacModel& model = model_;
    WindowPresenter* windows = WindowPresenter::of(this);
    // The one-team shortcut holds its sign-in nowhere else: a failure leaves nothing to retry with.
    const bool shortcut = !pending_;
    busy_ = true;
    follow();
    std::optional<std::string> failure;
    bool moved = false;  // the team left that box: the model ended its sign-in
    try {
        co_await model.useBoxTeam(signIn.hostedTenantId, signIn.client, boxTenantId);
    } catch (const BoxConnectionError& error) {
        failure = error.what();
        moved = error.is(BoxConnectionError::Case::boxMoved);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure && !moved && (shortcut || !self)) co_await model.abandonBoxSignIn(signIn.client);
    if (!failure && windows) windows->close(WindowPresenter::Kind::box);
    if (!self) co_return;
    busy_ = false;
    if (failure && !isVisible()) dropPending();  // closed meanwhile: no choice waits in it
    if (moved) {
        // Nothing left to choose from: the credentials again, for the team's box as it now stands.
        pending_.reset();
        preselect();
    }
    if (failure) {
        setError(failure);
    } else {
        // Done with this sign-in: the next visit starts from the credentials again.
        pending_.reset();
        password_->clear();
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
    , signingOut_(ui::text(
          QStringLiteral("Brisalune is signing out of this session, so nothing can be joined or signed in to."),
          QStringLiteral("box.signingOut"),
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
        segment->setAutoExclusive(true);  // the arrow keys move between the two
        segment->setChecked(path == path_);
        markSegment(segment, path == path_);
        connect(segment, &QPushButton::toggled, segment, [segment](bool on) { markSegment(segment, on); });
        ui::followPalette(segment, "segment", [segment] { markSegment(segment, segment->isChecked()); });
        segments_->addButton(segment, static_cast<int>(path));
        segmentLine->addWidget(segment);
    }
    segmentLine->addStretch(1);
    segments_->setExclusive(true);
    fitSegments(*segments_);

    auto* layout = ui::stack(this, 16, 20);
    layout->addWidget(signInFirst_);
    layout->addWidget(switcher_);
    layout->addWidget(signingOut_);
    connect(segments_, &QButtonGroup::idClicked, this, [this](int id) { showPath(static_cast<Path>(id)); });
    connect(&model_, &MacModel::sessionChanged, this, &BoxView::follow);
    connect(&model_, &MacModel::signingOutChanged, this, &BoxView::follow);
    placeForm();
    follow();
}

void BoxView::showEvent(QShowEvent* event) {
    fitSegments(*segments_);  // to the font the window shows in
    FixedWidthPane::showEvent(event);
    // The window first opens with the form's first field ready for typing (a pasted join code),
    // not on the chosen segment; later it keeps where the person left it.
    if (!window()->focusWidget()) form_->setFocus(Qt::OtherFocusReason);
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
    // Why the forms' buttons are disabled: nothing of a session goes once its sign-out has begun.
    signingOut_->setVisible(signedIn && model_.sessionIsEnding());
    form_->setVisible(signedIn);
}

}  // namespace brisalune
