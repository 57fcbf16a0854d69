#include <brisalune/app/ui/mac_maintenance_editor.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/client/incidents/status_page_endpoints.hpp>
#include <brisalune/client/maintenance/component_choices.hpp>
#include <brisalune/client/maintenance/endpoints.hpp>
#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/client/maintenance/scope_names.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

#include <algorithm>
#include <array>
#include <exception>
#include <utility>

namespace brisalune {

using ui::Font;
using ui::Tone;
using Section = MaintenanceFormat::Section;

namespace {

constexpr std::string_view refusedText = "The server refused the window.";
constexpr std::string_view windowLimitText =
    "This project already has as many windows as it may keep. Delete one that is over first.";
constexpr std::string_view windowLimitMessage = "max_maintenance_windows";
constexpr std::string_view previewName = "Preview";
constexpr std::string_view previewBlockedText = "Fix the problems above to see when the window falls.";
constexpr std::string_view noOccurrencesText = "No occurrences ahead.";
// The widest a window's name shows in the question before it is deleted, at the default font.
constexpr int deleteNameWidth = 360;
constexpr std::string_view deleteActiveText =
    "It is in progress: it ends now, and alerts it held that are still firing page straight away.";
constexpr std::string_view deleteFutureText =
    "Its future occurrences are dropped. Past ones stay as they were in check history and on status pages.";

constexpr int descriptionMaxLines = 4;

const QString skippedTitle = QStringLiteral("Skipped");

// The error blocks, in the order of the form, by the section whose field errors they show.
struct ErrorBlock {
    Section section;
    const char* name;
};
constexpr std::array<ErrorBlock, 6> errorBlocks{{
    {Section::details, "details"},
    {Section::schedule, "schedule"},
    {Section::recurrence, "recurrence"},
    {Section::scope, "scope"},
    {Section::statusPage, "statusPage"},
    {Section::other, "other"},
}};

QString blockName(const ErrorBlock& block) { return QStringLiteral("editor.errors.") + QLatin1String(block.name); }

// Spaces and tabs only do not name a window; a line break does.
bool hasName(std::string_view name) { return name.find_first_not_of(" \t") != std::string_view::npos; }

// An error of the editor's own, about no field.
std::vector<FieldError> formError(std::string_view reason) { return {FieldError{{}, std::string(reason)}}; }

std::vector<FieldError> saveFailure(const BrisaluneError& error) {
    if (error.is(BrisaluneError::Case::validation)) {
        return error.fieldErrors().empty() ? formError(refusedText) : error.fieldErrors();
    }
    if (error.is(BrisaluneError::Case::rateLimited) && error.message().starts_with(windowLimitMessage)) {
        return formError(windowLimitText);
    }
    return formError(error.errorDescription());
}

std::vector<FieldError> previewFailure(const BrisaluneError& error) {
    if (error.is(BrisaluneError::Case::validation)) return error.fieldErrors();
    return formError(error.errorDescription());
}

// The lines the text takes at the field's width, wrapped lines counted.
int wrappedLines(const QPlainTextEdit* edit) {
    int lines = 0;
    for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
        lines += std::max(1, block.lineCount());
    }
    return lines;
}

// Tall enough for its text, from one to four lines; a scroll bar only beyond four.
void fitLines(QPlainTextEdit* edit) {
    const int lines = wrappedLines(edit);
    const int shown = std::clamp(lines, 1, descriptionMaxLines);
    const int margins = 2 * (edit->frameWidth() + qCeil(edit->document()->documentMargin())) + 2;
    edit->setFixedHeight(shown * edit->fontMetrics().lineSpacing() + margins);
    edit->setVerticalScrollBarPolicy(lines > descriptionMaxLines ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

// Fits the field again when a new width wraps its text otherwise.
class FitOnResize final : public QObject {
public:
    explicit FitOnResize(QPlainTextEdit* edit) : QObject(edit), edit_(edit) {
        edit->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) QTimer::singleShot(0, edit_, [edit = edit_] { fitLines(edit); });
        return QObject::eventFilter(watched, event);
    }

private:
    QPlainTextEdit* edit_;
};

// Makes `scroll` a frameless scroll area around `content`, which takes its width.
void holdScrolling(QScrollArea* scroll, QWidget* content, const QString& objectName) {
    scroll->setObjectName(objectName);
    ui::scrollToFocus(scroll);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
}

// The preview's pane: as tall as its header and about five occurrences at first, whatever it
// holds; the splitter above it gives it more.
class PreviewPane final : public QScrollArea {
public:
    explicit PreviewPane(QWidget* preview) { holdScrolling(this, preview, QStringLiteral("editor.previewPane")); }

    QSize sizeHint() const override {
        const QPushButton sample(QStringLiteral("Skip"));
        const int rows = 5 * (sample.sizeHint().height() + 4);
        return {QScrollArea::sizeHint().width(), fontMetrics().height() + rows + 56};
    }
    QSize minimumSizeHint() const override {
        return {QScrollArea::minimumSizeHint().width(), fontMetrics().height() * 5};
    }
};

}  // namespace

struct MacMaintenanceEditor::Parts {
    // One occurrence of the preview: the slots are reused while the number of occurrences stays.
    struct Row {
        QWidget* row;
        QLabel* range;
        QPushButton* skip;
    };

    QLineEdit* name = nullptr;
    QPlainTextEdit* description = nullptr;
    MacScheduleSection* schedule = nullptr;
    MacRecurrenceSection* recurrence = nullptr;
    MacScopeSection* scope = nullptr;
    MacStatusPageSection* statusPage = nullptr;
    std::array<QWidget*, errorBlocks.size()> errors{};
    QLabel* previewHeader = nullptr;
    QLabel* previewNote = nullptr;
    QWidget* form = nullptr;        // the sections, in their scroll area
    QWidget* previewBox = nullptr;  // holds the rows
    QVBoxLayout* previewRows = nullptr;
    std::vector<Row> rows;
    QPushButton* save = nullptr;
    QPushButton* remove = nullptr;  // none for a new window
    QMessageBox* deleteDialog = nullptr;
    QTimer* previewPause = nullptr;
};

MacMaintenanceEditor::MacMaintenanceEditor(
    std::shared_ptr<BrisaluneClient> client,
    std::string project,
    std::optional<MaintenanceWindow> existing,
    OnSaved onSaved,
    bool projectLimited,
    QWidget* parent)
    : QWidget(parent)
    , client_(std::move(client))
    , project_(std::move(project))
    , existing_(std::move(existing))
    , onSaved_(std::move(onSaved))
    , projectLimited_(projectLimited)
    , draft_(
          existing_ ? MaintenanceWindowDraft::initFromWindow(*existing_)
                    : MaintenanceWindowDraft::initNew(
                          MaintenanceWindowDraft::currentInstant(), platform::TimeZone::current()))
    , parts_(std::make_unique<Parts>()) {
    setObjectName(QStringLiteral("editor"));
    parts_->previewPause = new QTimer(this);
    parts_->previewPause->setSingleShot(true);
    parts_->previewPause->setTimerType(Qt::PreciseTimer);
    parts_->previewPause->setInterval(previewPause);
    connect(parts_->previewPause, &QTimer::timeout, this, [this] { refreshPreview(previewGeneration_); });

    buildLayout();

    offerChoices();
    parts_->scope->setNames(names_);
    showDraft();
}

void MacMaintenanceEditor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Brought back from the taskbar it goes on as it was: only a new showing loads again.
    if (event->spontaneous() || shown_) return;
    shown_ = true;
    restartPreview();
    loadNames();
    loadStatusPages();
}

void MacMaintenanceEditor::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous() || !shown_) return;
    shown_ = false;
    ++showing_;
    namesLookup_.request_stop();
    namesLookup_ = std::stop_source();
    parts_->previewPause->stop();
    ++previewGeneration_;
}

MacMaintenanceEditor::~MacMaintenanceEditor() {
    namesLookup_.request_stop();
    // The children outlive `parts_` by a moment: nothing they say may reach this editor then.
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

void MacMaintenanceEditor::buildLayout() {
    Parts& parts = *parts_;
    const DraftBinding wholeDraft{
        [this] { return draft_; }, [this](MaintenanceWindowDraft draft) { setDraft(std::move(draft)); }};
    const Binding<MaintenanceScope> scope{
        [this] { return draft_.scope; },
        [this](MaintenanceScope value) {
            MaintenanceWindowDraft draft = draft_;
            draft.scope = std::move(value);
            setDraft(std::move(draft));
        }};
    parts.schedule = new MacScheduleSection(wholeDraft);
    parts.recurrence = new MacRecurrenceSection(wholeDraft);
    parts.scope = new MacScopeSection(scope);
    parts.statusPage = new MacStatusPageSection(wholeDraft);
    parts.schedule->setObjectName(QStringLiteral("editor.schedule"));
    parts.recurrence->setObjectName(QStringLiteral("editor.recurrence"));
    parts.scope->setObjectName(QStringLiteral("editor.scope"));
    parts.statusPage->setObjectName(QStringLiteral("editor.statusPage"));

    for (std::size_t i = 0; i < errorBlocks.size(); ++i) {
        QVBoxLayout* rows = nullptr;
        parts.errors[i] = ui::group(blockName(errorBlocks[i]), 2, &rows);
        rows->setContentsMargins(8, 0, 8, 0);
        parts.errors[i]->hide();
    }
    const auto errorsOf = [&parts](Section section) { return parts.errors[static_cast<std::size_t>(section)]; };

    // Name and description, with their errors in the same box.
    auto* details = new QGroupBox;
    details->setObjectName(QStringLiteral("editor.details"));
    auto* detailsLayout = ui::stack(details, 6, 10);
    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    parts.name = new QLineEdit;
    parts.name->setObjectName(QStringLiteral("editor.name"));
    parts.description = new QPlainTextEdit;
    parts.description->setObjectName(QStringLiteral("editor.description"));
    parts.description->setTabChangesFocus(true);
    fields->addRow(QStringLiteral("Name"), parts.name);
    fields->addRow(QStringLiteral("Description"), parts.description);
    detailsLayout->addLayout(fields);
    detailsLayout->addWidget(errorsOf(Section::details));

    // The preview of the next occurrences, its header above its box as the sections' titles are.
    auto* preview = new QWidget;
    preview->setObjectName(QStringLiteral("editor.preview"));
    auto* previewStack = ui::stack(preview, 4, 12);
    parts.previewHeader = ui::text(QString(), QStringLiteral("editor.previewHeader"));
    auto* previewBox = new QGroupBox;
    parts.previewBox = previewBox;
    auto* previewLayout = ui::stack(previewBox, 6, 10);
    parts.previewNote = ui::text(QString(), QStringLiteral("editor.previewNote"), Font::body, Tone::secondary, true);
    parts.previewRows = new QVBoxLayout;
    parts.previewRows->setSpacing(4);
    previewLayout->addWidget(parts.previewNote);
    previewLayout->addLayout(parts.previewRows);
    previewStack->addWidget(parts.previewHeader);
    previewStack->addWidget(previewBox);
    previewStack->addStretch(1);

    auto* form = parts.form = new QWidget;
    form->setObjectName(QStringLiteral("editor.form"));
    auto* formLayout = ui::stack(form, 8, 12);
    formLayout->addWidget(details);
    formLayout->addWidget(parts.schedule);
    formLayout->addWidget(errorsOf(Section::schedule));
    formLayout->addWidget(parts.recurrence);
    formLayout->addWidget(errorsOf(Section::recurrence));
    formLayout->addWidget(parts.scope);
    formLayout->addWidget(errorsOf(Section::scope));
    formLayout->addWidget(parts.statusPage);
    formLayout->addWidget(errorsOf(Section::statusPage));
    formLayout->addStretch(1);

    // The preview is a pane of its own under the form: it shows whatever the form's length, and
    // its rows stay put while the form above them grows (a skipped date adds a row there).
    auto* split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("editor.split"));
    split->setChildrenCollapsible(false);
    auto* formScroll = new QScrollArea;
    holdScrolling(formScroll, form, QStringLiteral("editor.scroll"));
    split->addWidget(formScroll);
    split->addWidget(new PreviewPane(preview));
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(12, 12, 12, 12);
    if (existing_) {
        parts.remove = ui::button(QStringLiteral("Delete\u2026"), QStringLiteral("editor.delete"));
        bar->addWidget(parts.remove);
        connect(parts.remove, &QPushButton::clicked, this, &MacMaintenanceEditor::confirmDelete);
    }
    bar->addStretch(1);
    parts.save =
        ui::button(existing_ ? QStringLiteral("Save") : QStringLiteral("Create"), QStringLiteral("editor.save"));
    bar->addWidget(parts.save);

    // Errors about no field, after the preview and always in sight.
    QWidget* other = errorsOf(Section::other);
    other->layout()->setContentsMargins(20, 6, 20, 6);

    auto* layout = ui::stack(this, 0);
    layout->addWidget(split, 1);
    layout->addWidget(other);
    layout->addWidget(ui::divider(QStringLiteral("editor.divider")));
    layout->addLayout(bar);
    ui::bindDefaultAction(this, parts.save);

    connect(parts.save, &QPushButton::clicked, this, [this] { save(); });
    connect(parts.name, &QLineEdit::textEdited, this, &MacMaintenanceEditor::editText);
    connect(parts.description, &QPlainTextEdit::textChanged, this, &MacMaintenanceEditor::editText);
    // From one to four lines tall, as the text needs.
    connect(
        parts.description->document()->documentLayout(),
        &QAbstractTextDocumentLayout::documentSizeChanged,
        this,
        [this] { fitLines(parts_->description); });
    new FitOnResize(parts.description);
    fitLines(parts.description);
}

void MacMaintenanceEditor::setDraft(MaintenanceWindowDraft draft) {
    const bool inputChanged = draft.input() != draft_.input();
    const bool componentsChanged = draft.components != draft_.components;
    draft_ = std::move(draft);
    if (inputChanged) {
        saveErrors_.clear();  // the last save's errors were about what would have been sent
        restartPreview();
    }
    if (componentsChanged) offerChoices();
    showDraft();
}

void MacMaintenanceEditor::editText() {
    MaintenanceWindowDraft draft = draft_;
    draft.name = parts_->name->text().toStdString();
    draft.description = parts_->description->toPlainText().toStdString();
    if (draft != draft_) setDraft(std::move(draft));
}

void MacMaintenanceEditor::restartPreview() {
    ++previewGeneration_;  // an answer still on its way is for an older draft
    // Hidden, it asks for nothing: the next showing does.
    if (shown_) parts_->previewPause->start();
}

void MacMaintenanceEditor::offerChoices() {
    std::optional<MaintenanceComponentChoices> choices;
    if (statusPages_) choices.emplace(*statusPages_, draft_.components, project_, !projectLimited_);
    parts_->statusPage->setChoices(std::move(choices));
}

void MacMaintenanceEditor::showDraft() {
    // A section that writes while being redrawn sends everything round once more, not deeper.
    if (refreshing_) {
        redrawAgain_ = true;
        return;
    }
    refreshing_ = true;
    for (int pass = 0; pass < 3; ++pass) {
        redrawAgain_ = false;
        parts_->schedule->refresh();
        parts_->recurrence->refresh();
        parts_->scope->refresh();
        parts_->statusPage->refresh();
        if (!redrawAgain_) break;
    }
    refreshing_ = false;
    // A refresh may have added rows (a skipped date): Tab reaches them where they show.
    ui::keepTabOrderInPlace(parts_->form);
    parts_->recurrence->setVisible(draft_.recurring);

    const QString name = qText(draft_.name);
    if (parts_->name->text() != name) parts_->name->setText(name);
    const QString description = qText(draft_.description);
    if (parts_->description->toPlainText() != description) {
        const QSignalBlocker quiet(parts_->description);
        parts_->description->setPlainText(description);
    }
    followSave();
    showPreview();
    showErrors();
}

void MacMaintenanceEditor::followSave() { parts_->save->setEnabled(!busy_ && hasName(draft_.name)); }

void MacMaintenanceEditor::showPreview() {
    Parts& parts = *parts_;
    parts.previewHeader->setText(QStringLiteral("Next occurrences (%1)").arg(qText(draft_.timezone)));
    if (!previewErrors_.empty()) {
        parts.previewNote->setText(qText(previewBlockedText));
    } else if (preview_.empty()) {
        parts.previewNote->setText(qText(noOccurrencesText));
    }
    parts.previewNote->setVisible(!previewErrors_.empty() || preview_.empty());

    // Rows change in number only when an answer arrives, never inside a row's own Skip.
    if (parts.rows.size() != preview_.size()) {
        for (const Parts::Row& row : parts.rows) delete row.row;
        parts.rows.clear();
        QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        digits.setPointSizeF(parts.previewNote->font().pointSizeF());
        for (std::size_t i = 0; i < preview_.size(); ++i) {
            const QString n = QString::number(i);
            auto* row = new QWidget;
            auto* line = new QHBoxLayout(row);
            line->setContentsMargins(0, 0, 0, 0);
            QLabel* range = ui::text(QString(), QStringLiteral("editor.preview.row.") + n);
            range->setFont(digits);
            QPushButton* skip = ui::button(QStringLiteral("Skip"), QStringLiteral("editor.preview.skip.") + n);
            // As wide as "Skipped": the button keeps its place when its title changes.
            skip->setMinimumWidth(QPushButton(skippedTitle).sizeHint().width());
            line->addWidget(range, 0, Qt::AlignVCenter);
            line->addStretch(1);
            line->addWidget(skip, 0, Qt::AlignVCenter);
            parts.previewRows->addWidget(row);
            row->show();  // with the answer, not at the layout's next turn, whose rows would lag it
            parts.rows.push_back({row, range, skip});
            connect(skip, &QPushButton::clicked, this, [this, i] {
                if (i >= preview_.size()) return;
                MaintenanceWindowDraft draft = draft_;
                draft.skipOccurrence(preview_[i].start);
                setDraft(std::move(draft));
            });
        }
        ui::keepTabOrderInPlace(parts.previewBox);  // the rows come before Save, as they show
    }
    const platform::TimeZone zone = draft_.zone();
    for (std::size_t i = 0; i < preview_.size(); ++i) {
        const MaintenanceOccurrence& occurrence = preview_[i];
        const Parts::Row& row = parts.rows[i];
        row.range->setText(qText(MaintenanceFormat::occurrenceRange(occurrence.start, occurrence.end, zone)));
        row.skip->setAccessibleDescription(row.range->text());  // which one, to a screen reader
        // A skipped occurrence stays where it was, struck out, until the next answer leaves it out.
        const bool skipped = draft_.recurring && isSkipped(occurrence);
        QFont struck = row.range->font();
        struck.setStrikeOut(skipped);
        row.range->setFont(struck);
        ui::setTone(row.range, skipped ? Tone::secondary : Tone::primary);
        ui::setTitle(row.skip, skipped ? skippedTitle : QStringLiteral("Skip"));
        row.skip->setEnabled(!skipped);
        row.skip->setVisible(draft_.recurring);
    }
}

bool MacMaintenanceEditor::isSkipped(const MaintenanceOccurrence& occurrence) const {
    // The draft's own rule decides which skipped date an occurrence is.
    MaintenanceWindowDraft probe = draft_;
    probe.skipOccurrence(occurrence.start);
    return probe.exdates == draft_.exdates;
}

void MacMaintenanceEditor::showErrors() {
    const std::vector<FieldError>& source = saveErrors_.empty() ? previewErrors_ : saveErrors_;
    for (std::size_t b = 0; b < errorBlocks.size(); ++b) {
        QWidget* block = parts_->errors[b];
        qDeleteAll(block->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly));
        int shown = 0;
        for (const FieldError& error : source) {
            if (MaintenanceFormat::section(error.field) != errorBlocks[b].section) continue;
            const QString name = blockName(errorBlocks[b]) + QLatin1Char('.') + QString::number(shown++);
            block->layout()->addWidget(ui::text(ui::lines(qText(error.reason)), name, Font::caption, Tone::red, true));
        }
        const bool hiddenSection = errorBlocks[b].section == Section::recurrence && !draft_.recurring;
        block->setVisible(shown > 0 && !hiddenSection);
    }
}

void MacMaintenanceEditor::setListed(const MaintenanceWindow& window) {
    if (existing_ && existing_->id == window.id) existing_ = window;
}

void MacMaintenanceEditor::confirmDelete() {
    if (!existing_) return;
    if (!parts_->deleteDialog) {
        auto* dialog = new QMessageBox(this);
        dialog->setObjectName(QStringLiteral("editor.deleteDialog"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setIcon(QMessageBox::Warning);
        dialog->setTextFormat(Qt::PlainText);
        QPushButton* confirm = dialog->addButton(QStringLiteral("Delete Window"), QMessageBox::DestructiveRole);
        confirm->setObjectName(QStringLiteral("editor.deleteConfirm"));
        dialog->setDefaultButton(dialog->addButton(QMessageBox::Cancel));
        connect(confirm, &QPushButton::clicked, this, [this] { deleteWindow(); });
        parts_->deleteDialog = dialog;
    }
    // The stored window as it is now: a save or the list since the last time may have renamed
    // it. Its name on one line, cut to a width a question can show.
    const QFont font = parts_->deleteDialog->font();
    const QString name = ui::cutToWidth(
        QFontMetrics(font), ui::oneLine(qText(existing_->input.name)), ui::fontScaled(font, deleteNameWidth));
    const QString title = QStringLiteral("Delete \"%1\"?").arg(name);
    parts_->deleteDialog->setWindowTitle(title);
    parts_->deleteDialog->setText(title);
    parts_->deleteDialog->setInformativeText(qText(existing_->active ? deleteActiveText : deleteFutureText));
    parts_->deleteDialog->open();
}

QCoro::Task<> MacMaintenanceEditor::save() {
    if (busy_) co_return;  // one request at a time: a second would store the window twice
    std::vector<FieldError> local = draft_.validationErrors();
    if (!local.empty()) {
        saveErrors_ = std::move(local);
        showErrors();
        co_return;
    }
    const QPointer<MacMaintenanceEditor> self(this);
    busy_ = true;
    followSave();

    const OnSaved tell = onSaved_;  // the owner hears of a stored window even when this editor went
    const std::optional<std::string> windowId = existing_ ? std::optional(existing_->id) : std::nullopt;
    const auto store = [client = client_, project = project_, windowId, input = draft_.input()] {
        return windowId ? updateMaintenanceWindow(*client, project, *windowId, input)
                        : createMaintenanceWindow(*client, project, input);
    };
    std::optional<MaintenanceWindow> stored;
    std::vector<FieldError> failure;
    try {
        stored = co_await awaitBlocking(store);
    } catch (const BrisaluneError& error) {
        failure = saveFailure(error);
    } catch (const std::exception& error) {
        failure = formError(error.what());
    }
    if (!self) {
        if (stored) tell(std::move(stored));
        co_return;
    }
    if (stored) {
        // From now on this editor edits the stored window: a second press while the owner is
        // still reloading its list updates it, never creates another one.
        if (!existing_) ui::setTitle(parts_->save, QStringLiteral("Save"));
        existing_ = *stored;
        tell(std::move(stored));  // the owner may replace this editor while being told
        if (!self) co_return;
    } else {
        saveErrors_ = std::move(failure);
    }
    busy_ = false;
    followSave();
    showErrors();
}

QCoro::Task<> MacMaintenanceEditor::deleteWindow() {
    if (!existing_) co_return;
    const QPointer<MacMaintenanceEditor> self(this);
    const OnSaved tell = onSaved_;
    const auto remove = [client = client_, project = project_, id = existing_->id] {
        deleteMaintenanceWindow(*client, project, id);
    };
    std::optional<std::string> failure;
    try {
        co_await awaitBlocking(remove);
    } catch (const BrisaluneError& error) {
        // Gone already, deleted by someone else: what was asked for is done.
        if (!error.is(BrisaluneError::Case::notFound)) failure = error.errorDescription();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (!self) {
        if (!failure) tell(std::nullopt);
        co_return;
    }
    if (failure) {
        saveErrors_ = formError(*failure);
        showErrors();
        co_return;
    }
    tell(std::nullopt);
}

QCoro::Task<> MacMaintenanceEditor::loadNames() {
    const QPointer<MacMaintenanceEditor> self(this);
    const std::uint64_t showing = showing_;
    const auto lookUp = [client = client_, project = project_, cancel = namesLookup_.get_token()] {
        return maintenanceScopeNames(*client, project, cancel);
    };
    MaintenanceScopeNames names = co_await awaitBlocking(lookUp);
    if (!self || showing != showing_) co_return;
    names_ = std::move(names);
    parts_->scope->setNames(names_);
    parts_->scope->refresh();
    ui::keepTabOrderInPlace(parts_->form);
}

QCoro::Task<> MacMaintenanceEditor::loadStatusPages() {
    const QPointer<MacMaintenanceEditor> self(this);
    const std::uint64_t showing = showing_;
    const auto load = [client = client_] { return listStatusPages(*client); };
    std::vector<StatusPage> pages;
    try {
        pages = co_await awaitBlocking(load);
    } catch (const std::exception&) {
        // Not reported: the section then offers no components.
    }
    if (!self || showing != showing_) co_return;
    statusPages_ = std::move(pages);
    offerChoices();
    parts_->statusPage->refresh();
    ui::keepTabOrderInPlace(parts_->form);
}

QCoro::Task<> MacMaintenanceEditor::refreshPreview(std::uint64_t generation) {
    std::vector<FieldError> blocking = draft_.previewBlockingErrors();
    if (!blocking.empty()) {
        preview_.clear();
        previewErrors_ = std::move(blocking);
        showPreview();
        showErrors();
        co_return;
    }
    MaintenanceWindowInput input = draft_.previewInput();
    if (input.name.empty()) input.name = previewName;  // the draft keeps its empty name

    const QPointer<MacMaintenanceEditor> self(this);
    const auto ask = [client = client_, project = project_, input = std::move(input)] {
        return previewMaintenanceOccurrences(*client, project, input, previewCount);
    };
    std::vector<MaintenanceOccurrence> occurrences;
    std::vector<FieldError> failure;
    try {
        occurrences = co_await awaitBlocking(ask);
    } catch (const BrisaluneError& error) {
        failure = previewFailure(error);
    } catch (const std::exception& error) {
        failure = formError(error.what());
    }
    if (!self || generation != previewGeneration_) co_return;  // the draft has changed since
    preview_ = std::move(occurrences);
    previewErrors_ = std::move(failure);
    showPreview();
    showErrors();
}

}  // namespace brisalune
