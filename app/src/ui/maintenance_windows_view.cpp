#include <brisalune/app/ui/maintenance_windows_view.hpp>

#include <brisalune/app/ui/mac_maintenance_editor.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/maintenance/endpoints.hpp>
#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/client/monitoring/project_endpoints.hpp>
#include <brisalune/client/roles/endpoints.hpp>
#include <brisalune/client/roles/route_keys.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <utility>

namespace brisalune {

using ui::Font;
using ui::Tone;

namespace {

// A text in the secondary style, centred in all the room there is.
QLabel* message(std::string_view text, const QString& objectName) {
    QLabel* label = ui::text(text, objectName, Font::body, Tone::secondary, true);
    label->setAlignment(Qt::AlignCenter);
    label->setContentsMargins(20, 20, 20, 20);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return label;
}

}  // namespace

// ---- one row -----------------------------------------------------------------------------------

std::string MacMaintenanceRow::occurrenceText(const MaintenanceWindow& window) {
    const platform::TimeZone zone = window.zone();
    if (window.current) return "Until " + MaintenanceFormat::dateTime(window.current->end, zone);
    if (window.nextOccurrences.empty()) return "No more occurrences";
    const MaintenanceOccurrence& next = window.nextOccurrences.front();
    return "Next: " + MaintenanceFormat::occurrenceRange(next.start, next.end, zone);
}

MacMaintenanceRow::MacMaintenanceRow(const MaintenanceWindow& window, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("maintenance.row"));
    auto* layout = ui::stack(this, 2);
    layout->setContentsMargins(0, 2, 0, 2);

    // The texts wrap: the list is only as wide as the sidebar, and cuts nothing off.
    auto* title = new QHBoxLayout;
    title->setSpacing(8);
    // The name takes the room there is (a wrapped label asks for little), the badge after it.
    title->addWidget(
        ui::text(
            ui::oneLine(qText(window.input.name)), QStringLiteral("row.name"), Font::headline, Tone::primary, true),
        1,
        Qt::AlignVCenter);
    if (window.active) {
        QLabel* badge =
            ui::text(QStringLiteral("In progress"), QStringLiteral("row.inProgress"), Font::caption, Tone::blue);
        QFont semibold = badge->font();
        semibold.setWeight(QFont::DemiBold);
        badge->setFont(semibold);
        title->addWidget(badge, 0, Qt::AlignVCenter);
    }
    layout->addLayout(title);

    layout->addWidget(
        ui::text(occurrenceText(window), QStringLiteral("row.occurrence"), Font::caption, Tone::secondary, true));
    layout->addWidget(ui::text(
        MaintenanceFormat::scheduleSummary(window),
        QStringLiteral("row.schedule"),
        Font::caption2,
        Tone::secondary,
        true));
    if (auto pages = MaintenanceFormat::statusPageSummary(window.input)) {
        layout->addWidget(ui::text(*pages, QStringLiteral("row.statusPages"), Font::caption2, Tone::secondary, true));
    }
}

// ---- the list ----------------------------------------------------------------------------------

namespace {

// One cell of the list: a row with room around it and a hairline under it, which parts it from
// the next.
class RowCell final : public QWidget {
public:
    explicit RowCell(MacMaintenanceRow* row) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 5, 8, 6);
        layout->addWidget(row);
    }

    int heightAt(int width) const { return hasHeightForWidth() ? heightForWidth(width) : sizeHint().height(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawLine(0, height() - 1, width(), height() - 1);
    }
};

}  // namespace

// Rows as wide as the list, their texts wrapped to it: never a scroll bar across.
class MaintenanceWindowList final : public QListWidget {
public:
    MaintenanceWindowList() {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setResizeMode(QListView::Adjust);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    }

    void add(const MaintenanceWindow& window) {
        auto* entry = new QListWidgetItem(this);
        entry->setData(Qt::UserRole, qText(window.id));
        auto* row = new MacMaintenanceRow(window);
        // The item draws no text of its own: a screen reader reads it as the row's texts.
        QStringList texts;
        for (const QLabel* label : row->findChildren<QLabel*>()) texts << label->text();
        entry->setData(Qt::AccessibleTextRole, texts.join(QStringLiteral(", ")));
        setItemWidget(entry, new RowCell(row));
    }

    // Each row's height is what its wrapped texts need at the list's width.
    void fitRows() {
        const int width = viewport()->width();
        for (int index = 0; index < count(); ++index) {
            QListWidgetItem* entry = item(index);
            const auto* cell = static_cast<const RowCell*>(itemWidget(entry));
            const QSize fitted(width, cell->heightAt(width));
            if (entry->sizeHint() != fitted) entry->setSizeHint(fitted);
        }
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QListWidget::resizeEvent(event);
        fitRows();
    }
};

// ---- the window --------------------------------------------------------------------------------

MaintenanceWindowsView::MaintenanceWindowsView(MacModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , pages_(new QStackedLayout)
    , boxSignIn_(message(boxSignInText, QStringLiteral("maintenance.boxSignIn")))
    , noTeam_(message(noTeamText, QStringLiteral("maintenance.noTeam")))
    , split_(new QSplitter(Qt::Horizontal))
    , projectPicker_(new QComboBox)
    , list_(new MaintenanceWindowList)
    , emptyList_(ui::text(emptyListText, QStringLiteral("maintenance.empty"), Font::body, Tone::secondary))
    , newWindow_(ui::button(QStringLiteral("New Window"), QStringLiteral("maintenance.new")))
    , refresh_(ui::button(QStringLiteral("Refresh"), QStringLiteral("maintenance.refresh")))
    , error_(ui::text(QString(), QStringLiteral("maintenance.error"), Font::caption, Tone::red, true))
    , detail_(new QStackedLayout)
    , readOnly_(message(readOnlyText, QStringLiteral("maintenance.readOnly")))
    , choose_(message(chooseText, QStringLiteral("maintenance.choose")))
    , editorHolder_(new QWidget) {
    setObjectName(QStringLiteral("maintenance"));
    // Laid out for the default font; a larger one gets the room its texts take.
    const auto scaled = [this](int pixels) { return ui::fontScaled(font(), pixels); };
    // Never more than the screen holds.
    QSize least(scaled(760), scaled(520));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) least = least.boundedTo(screen->availableSize());
    setMinimumSize(least);
    setLayout(pages_);

    // The sidebar: project, list, buttons, error.
    auto* sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("maintenance.sidebar"));
    sidebar->setMinimumWidth(scaled(260));
    sidebar->setMaximumWidth(scaled(360));
    auto* side = ui::stack(sidebar, 8, 12);
    auto* picker = new QHBoxLayout;
    auto* projectLabel = new QLabel(QStringLiteral("Project"));
    projectLabel->setBuddy(projectPicker_);  // a screen reader names the list by it
    picker->addWidget(projectLabel);
    projectPicker_->setObjectName(QStringLiteral("maintenance.project"));
    picker->addWidget(projectPicker_, 1);
    side->addLayout(picker);
    list_->setObjectName(QStringLiteral("maintenance.list"));
    list_->setAccessibleName(WindowPresenter::title(WindowPresenter::Kind::maintenance));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    // A light highlight: the rows' own texts keep their tones on it, in light and dark themes.
    QPalette tinted = list_->palette();
    QColor highlight = tinted.color(QPalette::Highlight);
    highlight.setAlpha(70);
    tinted.setColor(QPalette::Highlight, highlight);
    list_->setPalette(tinted);
    emptyList_->setAlignment(Qt::AlignCenter);
    auto* listCell = new QGridLayout;
    listCell->addWidget(list_, 0, 0);
    listCell->addWidget(emptyList_, 0, 0, Qt::AlignCenter);
    side->addLayout(listCell, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(newWindow_);
    buttons->addStretch();
    buttons->addWidget(refresh_);
    side->addLayout(buttons);
    side->addWidget(error_);

    // The detail pane: a message, or the editor.
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("maintenance.detail"));
    pane->setMinimumWidth(scaled(460));
    pane->setLayout(detail_);
    editorHolder_->setObjectName(QStringLiteral("maintenance.editorHolder"));
    auto* holder = new QVBoxLayout(editorHolder_);
    holder->setContentsMargins(0, 0, 0, 0);
    detail_->addWidget(readOnly_);
    detail_->addWidget(choose_);
    detail_->addWidget(editorHolder_);

    split_->setObjectName(QStringLiteral("maintenance.split"));
    split_->setChildrenCollapsible(false);
    split_->addWidget(sidebar);
    split_->addWidget(pane);
    split_->setStretchFactor(1, 1);
    split_->setSizes({scaled(300), scaled(460)});

    pages_->addWidget(boxSignIn_);
    pages_->addWidget(noTeam_);
    pages_->addWidget(split_);

    connect(projectPicker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) setProject(projectPicker_->itemText(index).toStdString());
    });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> picked = list_->selectedItems();
        if (picked.isEmpty()) return;  // only the view clears the selection
        setSelection(Selection{Selection::Window{picked.front()->data(Qt::UserRole).toString().toStdString()}});
    });
    // Return on a row (or whatever the desktop takes as opening it) opens it, as a click does.
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        list_->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    });
    connect(newWindow_, &QPushButton::clicked, this, [this] { setSelection(Selection{Selection::New{}}); });
    // The team's project names first, when they could not be read.
    connect(refresh_, &QPushButton::clicked, this, [this] {
        if (projectsTeam_ == std::optional(activeTeam()))
            loadWindows();
        else
            loadTeam();
    });
    connect(&model_, &MacModel::sessionChanged, this, &MaintenanceWindowsView::followSession);
    connect(&model_, &MacModel::membershipsChanged, this, &MaintenanceWindowsView::followSession);
    followSession();
}

MaintenanceWindowsView::~MaintenanceWindowsView() = default;

std::optional<std::string> MaintenanceWindowsView::activeTeam() const {
    const std::optional<StoredSession> session = model_.session();
    return session ? session->activeTenantId : std::nullopt;
}

std::shared_ptr<BrisaluneClient> MaintenanceWindowsView::client() const {
    const std::optional<std::string> team = activeTeam();
    return team ? model_.client(*team) : nullptr;
}

bool MaintenanceWindowsView::mayChangeWindows() const {
    if (permissions_) return permissions_->may(RoutePattern::createMaintenanceWindow, project_);
    const std::optional<Membership> membership = model_.currentMembership();
    if (!membership) return true;
    return RolePermissions(membership->role).may(RoutePattern::createMaintenanceWindow, project_);
}

bool MaintenanceWindowsView::stillShows(const Asked& asked) const {
    return asked.team == activeTeam() && asked.project == project_ && asked.ticket == windowsTicket_;
}

// ---- the active team ---------------------------------------------------------------------------

void MaintenanceWindowsView::followSession() {
    const std::optional<std::string> team = activeTeam();
    if (!loadedTeam_ || *loadedTeam_ != team) {
        loadedTeam_ = team;
        // What was shown belongs to the other team: an editor left open would save there, and
        // its project name would be asked of this team before this team's own names are in.
        windows_.clear();
        projects_.clear();
        if (!project_.empty()) carriedProject_ = std::exchange(project_, std::string());
        projectsTeam_.reset();
        loadError_.reset();
        setSelection(std::nullopt);
        showProjects();
        showWindows();
        showError();
        if (shown_) loadTeam();
    }
    showLayout();
    showDetail();
}

void MaintenanceWindowsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Brought back from the taskbar it goes on as it was: only a new showing loads again.
    if (event->spontaneous() || shown_) return;
    shown_ = true;
    // No control has the focus at first: a drop-down would change by the wheel with a focus it
    // does not show. Tab goes on from here to the project.
    setFocus(Qt::OtherFocusReason);
    // The picker lists this team's projects: the chosen one's windows load beside the names.
    // Else no project is chosen until the names are in.
    const bool listed = projectsTeam_ == std::optional(activeTeam());
    loadTeam();
    if (listed) loadWindows();
}

void MaintenanceWindowsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous() || !shown_) return;
    shown_ = false;
    // What is on its way now is dropped; the next showing asks again.
    ++teamTicket_;
    ++windowsTicket_;
}

QCoro::Task<> MaintenanceWindowsView::loadTeam() {
    const std::uint64_t ticket = ++teamTicket_;
    const QPointer<MaintenanceWindowsView> self(this);
    co_await loadPermissions(ticket);
    if (!self || ticket != teamTicket_) co_return;
    co_await loadProjects(ticket);
}

QCoro::Task<> MaintenanceWindowsView::loadPermissions(std::uint64_t ticket) {
    permissions_.reset();
    showDetail();
    const std::shared_ptr<BrisaluneClient> client = this->client();
    if (!client) co_return;
    const QPointer<MaintenanceWindowsView> self(this);
    const auto ask = [client] { return roles(*client); };
    std::optional<RolesResponse> answer;
    try {
        answer = co_await awaitBlocking(ask);
    } catch (const std::exception&) {
        answer.reset();  // the membership's role decides instead
    }
    if (!self || ticket != teamTicket_ || !answer) co_return;
    permissions_.emplace(std::move(*answer));
    showDetail();
}

QCoro::Task<> MaintenanceWindowsView::loadProjects(std::uint64_t ticket) {
    const std::optional<std::string> team = activeTeam();
    const std::shared_ptr<BrisaluneClient> client = this->client();
    if (!client) co_return;
    const QPointer<MaintenanceWindowsView> self(this);
    const auto ask = [client] { return allProjects(*client); };
    std::vector<ProjectInfo> answer;
    std::optional<std::string> failure;
    try {
        answer = co_await awaitBlocking(ask);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (!self || ticket != teamTicket_) co_return;
    if (failure) {
        loadError_ = failure;
        showError();
        co_return;
    }
    std::vector<std::string> names;
    for (const ProjectInfo& project : answer) names.push_back(project.name);
    std::ranges::sort(names);
    projects_ = std::move(names);
    projectsTeam_ = team;
    showProjects();
    // A project still listed stays chosen, and so does one chosen before a team change.
    std::string chosen = project_.empty() ? std::exchange(carriedProject_, std::string()) : project_;
    if (std::ranges::find(projects_, chosen) == projects_.end()) {
        chosen = projects_.empty() ? std::string() : projects_.front();
    }
    setProject(std::move(chosen));
    loadError_.reset();
    showError();
}

// ---- the project and its windows ---------------------------------------------------------------

void MaintenanceWindowsView::setProject(std::string name) {
    if (name == project_) return;
    // A new window's draft goes along to the project now chosen. An editor of a stored window,
    // or of one being stored, would save or delete in the old one.
    const bool keepNew =
        selection_ && selection_->get<Selection::New>() && !(editor_ && (editor_->existing() || editor_->isBusy()));
    const std::optional<MaintenanceWindowDraft> draft =
        keepNew && editor_ ? std::optional(editor_->draft()) : std::nullopt;
    project_ = std::move(name);
    showProjects();
    setSelection(std::nullopt);
    if (keepNew) setSelection(Selection{Selection::New{}});
    if (draft && editor_) editor_->setDraft(*draft);
    showDetail();
    loadWindows();
}

QCoro::Task<> MaintenanceWindowsView::loadWindows() {
    const Asked asked{activeTeam(), project_, ++windowsTicket_};
    const std::shared_ptr<BrisaluneClient> client = this->client();
    if (!client || project_.empty()) {
        windows_.clear();
        showWindows();
        co_return;
    }
    const QPointer<MaintenanceWindowsView> self(this);
    const auto ask = [client, project = project_] { return maintenanceWindows(*client, project); };
    std::optional<std::vector<MaintenanceWindow>> answer;
    std::optional<std::string> failure;
    bool offered = true;
    try {
        answer = co_await awaitBlocking(ask);
    } catch (const BrisaluneError& error) {
        offered = !error.is(BrisaluneError::Case::notFound);
        failure = offered ? error.errorDescription() : std::string(notOfferedText);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // Another team, another project or a newer load: this answer is no longer what is shown.
    if (!self || !stillShows(asked)) co_return;
    if (answer) windows_ = std::move(*answer);
    if (!offered) windows_.clear();
    loadError_ = failure;
    if (selection_) {
        const Selection::Window* picked = selection_->get<Selection::Window>();
        const bool listed = !picked || std::ranges::any_of(windows_, [&](const auto& w) { return w.id == picked->id; });
        if (!listed) setSelection(std::nullopt);
    }
    if (editor_ && editor_->existing()) {
        const auto listed = std::ranges::find(windows_, editor_->existing()->id, &MaintenanceWindow::id);
        if (listed != windows_.end()) editor_->setListed(*listed);
    }
    followSave(asked);
    showWindows();
    showError();
}

QCoro::Task<> MaintenanceWindowsView::windowSaved(
    std::optional<MaintenanceWindow> window, std::optional<Selection> from) {
    // The list that comes in next selects it: this reload's, or, when a hide drops that one, the
    // next showing's.
    saved_ = Saved{activeTeam(), project_, window ? std::optional(window->id) : std::nullopt, std::move(from)};
    co_await loadWindows();
}

void MaintenanceWindowsView::followSave(const Asked& asked) {
    const std::optional<Saved> saved = std::exchange(saved_, std::nullopt);
    if (!saved || saved->team != asked.team || saved->project != asked.project) return;
    // The person picked something else before the save ended or while the list reloaded: the
    // list shows what was stored, and the editor now open keeps what was typed in it.
    if (selection_ != saved->from) return;
    // Only a window the list holds is selected: else the pane would offer a blank create form.
    const bool listed = saved->id && std::ranges::any_of(windows_, [&](const auto& w) { return w.id == *saved->id; });
    setSelection(listed ? std::optional(Selection{Selection::Window{*saved->id}}) : std::nullopt);
}

void MaintenanceWindowsView::setSelection(std::optional<Selection> selection) {
    if (selection == selection_) {
        showSelection();
        return;
    }
    selection_ = std::move(selection);
    if (editor_) {
        editor_->hide();
        editor_->deleteLater();  // it may be the caller, inside its own save
        editor_ = nullptr;
    }
    showSelection();
    showDetail();
}

// ---- showing the state -------------------------------------------------------------------------

void MaintenanceWindowsView::showLayout() {
    if (model_.needsBoxSignIn()) {
        pages_->setCurrentWidget(boxSignIn_);
    } else if (client()) {
        pages_->setCurrentWidget(split_);
    } else {
        pages_->setCurrentWidget(noTeam_);
    }
}

void MaintenanceWindowsView::showProjects() {
    const QSignalBlocker quiet(projectPicker_);
    projectPicker_->clear();
    for (const std::string& name : projects_) projectPicker_->addItem(qText(name));
    projectPicker_->setCurrentIndex(projectPicker_->findText(qText(project_), Qt::MatchExactly));
}

void MaintenanceWindowsView::showWindows() {
    {
        const QSignalBlocker quiet(list_);
        list_->clear();
        for (const MaintenanceWindow& window : windows_) list_->add(window);
        list_->fitRows();
    }
    emptyList_->setVisible(windows_.empty() && !loadError_ && !project_.empty());
    showSelection();
}

void MaintenanceWindowsView::showSelection() {
    const QSignalBlocker quiet(list_);
    const Selection::Window* picked = selection_ ? selection_->get<Selection::Window>() : nullptr;
    list_->clearSelection();
    for (int row = 0; picked && row < list_->count(); ++row) {
        QListWidgetItem* item = list_->item(row);
        if (item->data(Qt::UserRole).toString().toStdString() != picked->id) continue;
        item->setSelected(true);
        list_->setCurrentItem(item);
    }
}

void MaintenanceWindowsView::showDetail() {
    const bool may = mayChangeWindows();
    newWindow_->setVisible(may);
    newWindow_->setEnabled(!project_.empty());
    const std::shared_ptr<BrisaluneClient> client = this->client();
    if (!may) {
        detail_->setCurrentWidget(readOnly_);
    } else if (client && selection_) {
        if (!editor_) {
            std::optional<MaintenanceWindow> existing;
            if (const auto* picked = selection_->get<Selection::Window>()) {
                const auto found = std::ranges::find(windows_, picked->id, &MaintenanceWindow::id);
                if (found != windows_.end()) existing = *found;
            }
            const bool projectLimited = permissions_ && permissions_->projects.has_value();
            const QPointer<MaintenanceWindowsView> self(this);
            auto onSaved = [self, from = selection_](std::optional<MaintenanceWindow> window) {
                if (self) self->windowSaved(std::move(window), from);
            };
            editor_ = new MacMaintenanceEditor(client, project_, std::move(existing), onSaved, projectLimited);
            editorHolder_->layout()->addWidget(editor_);
        }
        detail_->setCurrentWidget(editorHolder_);
    } else {
        detail_->setCurrentWidget(choose_);
    }
}

void MaintenanceWindowsView::showError() {
    error_->setText(loadError_ ? ui::lines(qText(*loadError_)) : QString());
    error_->setVisible(loadError_.has_value());
    emptyList_->setVisible(windows_.empty() && !loadError_ && !project_.empty());
}

}  // namespace brisalune
