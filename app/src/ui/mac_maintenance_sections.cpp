#include <brisalune/app/ui/mac_maintenance_sections.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/platform/calendar.hpp>
#include <brisalune/platform/text.hpp>

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace brisalune {

namespace {

using std::chrono::sys_seconds;
using Draft = MaintenanceWindowDraft;
using Recurrence = MaintenanceRecurrence;
using Weekday = MaintenanceRecurrence::Weekday;
using Kind = MaintenanceRecurrence::Kind;
using Pattern = MaintenanceRecurrence::Pattern;
using End = MaintenanceRecurrence::End;

// ---- writing ----

// Reads the whole value, changes it and writes it back; a change that answers false writes
// nothing.
template <class T, class Change>
void edit(const Binding<T>& binding, Change&& change) {
    T value = binding.get();
    if constexpr (std::is_same_v<decltype(change(value)), bool>) {
        if (!change(value)) return;
    } else {
        change(value);
    }
    binding.set(std::move(value));
}

// Reads the rule as a recurrence, changes that and writes it back in the writer's form.
template <class Change>
void editRecurrence(const DraftBinding& binding, Change&& change) {
    edit(binding, [&](Draft& draft) {
        Recurrence recurrence = draft.recurrence();
        change(recurrence, draft);
        draft.setRecurrence(recurrence);
    });
}

// Names and ids are the same text when Unicode says so: canonically equivalent forms match.
bool sameText(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (!platform::isValidUtf8(a) || !platform::isValidUtf8(b)) return false;
    return platform::nfc(a) == platform::nfc(b);
}

bool holds(const std::vector<std::string>& list, const std::string& entry) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& item) { return sameText(item, entry); });
}

// A pick switch: on appends the entry, off removes every copy of it.
void pick(std::vector<std::string>& list, const std::string& entry, bool on) {
    if (on) {
        list.push_back(entry);
    } else {
        std::erase_if(list, [&](const std::string& item) { return sameText(item, entry); });
    }
}

// ---- showing ----

// Puts a value on a widget without the widget telling anyone.
template <class Widget, class Show>
void quietly(Widget* widget, Show&& show) {
    const QSignalBlocker blocker(widget);
    show();
}

// The bounds a stepper offers of its own, kept apart from the range it has at the moment.
constexpr const char* ownMinimum = "brisalune.ownMinimum";
constexpr const char* ownMaximum = "brisalune.ownMaximum";

void setOwnRange(QSpinBox* box, int minimum, int maximum) {
    box->setProperty(ownMinimum, minimum);
    box->setProperty(ownMaximum, maximum);
    box->setRange(minimum, maximum);
}

// A value written elsewhere (a typed rule, another client) may lie outside the stepper's own
// bounds: the stepper then stretches to show it as it is, never a clamped value that the draft
// does not hold, and shrinks back once the value is inside them again.
void showValue(QSpinBox* box, std::int64_t value) {
    const int shown = static_cast<int>(
        std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    const int minimum = std::min(box->property(ownMinimum).toInt(), shown);
    const int maximum = std::max(box->property(ownMaximum).toInt(), shown);
    if (box->minimum() == minimum && box->maximum() == maximum && box->value() == shown) return;
    quietly(box, [&] {
        box->setRange(minimum, maximum);
        box->setValue(shown);
    });
}

void showIndex(QComboBox* box, int index) {
    if (box->currentIndex() != index) quietly(box, [&] { box->setCurrentIndex(index); });
}

void showChecked(QAbstractButton* button, bool on) {
    if (button->isChecked() != on) quietly(button, [&] { button->setChecked(on); });
}

void showText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

void showTitle(QAbstractButton* button, std::string_view title) {
    const QString text = buttonTitle(title);
    if (button->text() != text) button->setText(text);
}

// A widget that may be the one whose signal is running: out of sight now, deleted later.
void retire(QWidget* widget) {
    if (QLayout* layout = widget->parentWidget() ? widget->parentWidget()->layout() : nullptr) {
        layout->removeWidget(widget);
    }
    widget->hide();
    widget->deleteLater();
}

// A row added to a widget already on screen: shown at once, not when Qt next gets round to it.
void addShown(QLayout* layout, QWidget* widget) {
    layout->addWidget(widget);
    widget->show();
}

// ---- the zone's wall clock ----

// Qt's date fields know no zone: they edit the wall-clock fields of the window's zone, held as
// a QDateTime in UTC that stands for no instant of its own.
std::optional<QDateTime> wallClock(sys_seconds instant, const platform::TimeZone& zone) {
    const auto fields = platform::GregorianCalendar(zone).fields(instant);
    if (!fields) return std::nullopt;
    const int year = static_cast<int>(fields->year > 0 ? fields->year : fields->year - 1);  // Qt has no year 0
    return QDateTime(QDate(year, fields->month, fields->day), QTime(fields->hour, fields->minute), Qt::UTC);
}

std::optional<sys_seconds> instantOf(QDate date, QTime time, const platform::TimeZone& zone) {
    const std::int64_t year = date.year() > 0 ? date.year() : date.year() + 1;
    return platform::GregorianCalendar(zone).instant(year, date.month(), date.day(), time.hour(), time.minute());
}

void configureWallClock(QDateTimeEdit* edit, const QString& format) {
    edit->setTimeSpec(Qt::UTC);
    edit->setDateTimeRange(
        QDateTime(QDate(100, 1, 1), QTime(0, 0), Qt::UTC), QDateTime(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC));
    edit->setDisplayFormat(format);
    edit->setCalendarPopup(true);
}

void showWallClock(QDateTimeEdit* edit, sys_seconds instant, const platform::TimeZone& zone) {
    const auto wall = wallClock(instant, zone);
    if (wall && edit->dateTime() != *wall) quietly(edit, [&] { edit->setDateTime(*wall); });
}

const QString dateTimeFormat = QStringLiteral("yyyy-MM-dd  HH:mm");
const QString dateFormat = QStringLiteral("yyyy-MM-dd");

// ---- controls ----

// A stepper whose value reads as a length ("1 d 2 h 30 min"): it steps, nobody types into it.
class DurationStepper final : public QSpinBox {
public:
    DurationStepper(int minimum, int maximum, int step) {
        setOwnRange(this, minimum, maximum);
        setSingleStep(step);
        lineEdit()->setReadOnly(true);
        // Wide enough for the longest text, which neither end of the range has.
        const QFontMetrics metrics(font());
        setMinimumWidth(
            sizeHint().width() + metrics.horizontalAdvance(QStringLiteral("88 d 23 h 45 min")) -
            metrics.horizontalAdvance(textFromValue(maximum)));
    }

protected:
    QString textFromValue(int minutes) const override { return qText(MaintenanceFormat::duration(minutes)); }
    int valueFromText(const QString&) const override { return value(); }
    QValidator::State validate(QString&, int&) const override { return QValidator::Acceptable; }
};

QSpinBox* stepper(const QString& name, int minimum, int maximum, int step = 1) {
    auto* box = new QSpinBox;
    box->setObjectName(name);
    setOwnRange(box, minimum, maximum);
    box->setSingleStep(step);
    return box;
}

QComboBox* picker(const QString& name, const QStringList& options) {
    auto* box = new QComboBox;
    box->setObjectName(name);
    box->addItems(options);
    return box;
}

QCheckBox* toggle(const QString& title, const QString& name) {
    auto* box = new QCheckBox(title);
    box->setObjectName(name);
    return box;
}

QFormLayout* form() {
    auto* layout = new QFormLayout;
    layout->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    layout->setHorizontalSpacing(12);
    layout->setVerticalSpacing(8);
    return layout;
}

QVBoxLayout* sectionStack(QGroupBox* section, const QString& name, const QString& title) {
    section->setObjectName(name);
    section->setTitle(title);
    return ui::stack(section, 10, 10);
}

QLabel* footer(const QString& text, const QString& name) {
    return ui::text(text, name, ui::Font::caption, ui::Tone::secondary, true);
}

// Check boxes for a list of entries that changes: the boxes are reused in order, new ones are
// added under them, and those no longer needed are retired (the one whose signal runs may be
// among them). A switch reports the entry it showed when it was switched.
class SwitchList {
public:
    using Switched = std::function<void(const std::string& entry, bool on)>;
    struct Item {
        std::string entry;
        std::string label;
        bool on = false;
    };

    SwitchList(QVBoxLayout* layout, QString namePrefix, Switched switched)
        : layout_(layout), prefix_(std::move(namePrefix)), switched_(std::move(switched)) {}

    void show(const std::vector<Item>& items) {
        while (boxes_.size() > items.size()) {
            retire(boxes_.back());
            boxes_.pop_back();
        }
        entries_.clear();
        for (std::size_t index = 0; index < items.size(); ++index) {
            if (index == boxes_.size()) boxes_.push_back(make(index));
            entries_.push_back(items[index].entry);
            showTitle(boxes_[index], items[index].label);
            showChecked(boxes_[index], items[index].on);
        }
    }

private:
    QCheckBox* make(std::size_t index) {
        auto* box = toggle(QString(), prefix_ + QString::number(index));
        addShown(layout_, box);
        QObject::connect(box, &QCheckBox::toggled, &guard_, [this, index, box](bool on) {
            if (index >= boxes_.size() || boxes_[index] != box) return;
            const std::string entry = entries_[index];  // the write rebuilds the list
            switched_(entry, on);
        });
        return box;
    }

    QVBoxLayout* layout_;
    QString prefix_;
    Switched switched_;
    std::vector<QCheckBox*> boxes_;
    std::vector<std::string> entries_;
    QObject guard_;  // the boxes' connections end with the list
};

// A collapsible group of switches: a title with an arrow that opens and closes the rows under
// it when clicked. It starts closed.
class PickGroup final : public QWidget {
public:
    PickGroup(const QString& name, SwitchList::Switched switched)
        : toggle_(new QToolButton)
        , content_(new QWidget)
        , rows_(ui::stack(content_, 4))
        , switches_(rows_, name + QStringLiteral(".entry."), std::move(switched)) {
        setObjectName(name);
        toggle_->setObjectName(name + QStringLiteral(".toggle"));
        toggle_->setAutoRaise(true);
        toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        toggle_->setArrowType(Qt::RightArrow);
        content_->setObjectName(name + QStringLiteral(".content"));
        content_->setVisible(false);
        rows_->setContentsMargins(24, 0, 0, 4);
        auto* outer = ui::stack(this, 2);
        ui::addLeading(outer, toggle_);
        outer->addWidget(content_);
        QObject::connect(toggle_, &QToolButton::clicked, this, [this] { setOpen(!open_); });
    }

    QToolButton* toggle() const { return toggle_; }
    QVBoxLayout* rows() const { return rows_; }
    SwitchList& switches() { return switches_; }

    bool isOpen() const { return open_; }
    void setOpen(bool open) {
        open_ = open;
        toggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        content_->setVisible(open);
    }

private:
    bool open_ = false;
    QToolButton* toggle_;
    QWidget* content_;
    QVBoxLayout* rows_;
    SwitchList switches_;
};

// ---- the recurrence's words ----

constexpr std::array<std::int64_t, 5> ordinals{1, 2, 3, 4, -1};

QString unitOf(Kind kind) {
    switch (kind) {
        case Kind::daily: return QStringLiteral(" day(s)");
        case Kind::weekly: return QStringLiteral(" week(s)");
        case Kind::monthlyOnDay:
        case Kind::monthlyOnWeekday: return QStringLiteral(" month(s)");
        case Kind::custom: break;
    }
    return {};
}

template <class Value, std::size_t count>
int indexOf(const std::array<Value, count>& options, Value value) {
    const auto found = std::find(options.begin(), options.end(), value);
    return found == options.end() ? -1 : static_cast<int>(found - options.begin());
}

std::string componentLabel(const MaintenanceComponentChoices::Choice& choice) {
    return choice.group.empty() ? choice.name : choice.group + " \u00b7 " + choice.name;
}

// The scope's three groups: the names offered and the picks.
struct ScopeGroup {
    const char* key;
    const char* title;
    std::vector<std::string> MaintenanceScope::*picked;
    std::vector<std::string> MaintenanceScopeNames::*offered;
};

constexpr std::array<ScopeGroup, 3> scopeGroups{{
    {"checks", "Checks", &MaintenanceScope::checks, &MaintenanceScopeNames::checks},
    {"sources", "Sources", &MaintenanceScope::sources, &MaintenanceScopeNames::sources},
    {"rules", "Rules", &MaintenanceScope::rules, &MaintenanceScopeNames::rules},
}};

// The offered names and the picks the project no longer offers, in byte order, duplicates kept.
std::vector<std::string> scopeEntries(const std::vector<std::string>& offered, const std::vector<std::string>& picked) {
    std::vector<std::string> entries = offered;
    for (const std::string& entry : picked) {
        if (!holds(offered, entry)) entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

// ---- "When" ----

struct MacScheduleSection::Rows : QObject {
    using QObject::QObject;

    QFormLayout* form = brisalune::form();
    QComboBox* timezone = picker(QStringLiteral("schedule.timezone"), zoneIdentifiers());
    QCheckBox* repeats = toggle(QStringLiteral("Repeats"), QStringLiteral("schedule.repeats"));
    QDateTimeEdit* starts = new QDateTimeEdit;
    QDateTimeEdit* ends = new QDateTimeEdit;
    QSpinBox* lasts = new DurationStepper(15, 129600, 15);

    static QStringList zoneIdentifiers() {
        QStringList identifiers;
        for (const std::string& identifier : platform::TimeZone::knownIdentifiers()) identifiers << qText(identifier);
        return identifiers;
    }
};

MacScheduleSection::MacScheduleSection(DraftBinding binding, QWidget* parent)
    : QGroupBox(parent), draft_(std::move(binding)), rows_(new Rows(this)) {
    QVBoxLayout* outer = sectionStack(this, QStringLiteral("schedule"), QStringLiteral("When"));
    rows_->timezone->setMaxVisibleItems(20);
    rows_->starts->setObjectName(QStringLiteral("schedule.starts"));
    rows_->ends->setObjectName(QStringLiteral("schedule.ends"));
    rows_->lasts->setObjectName(QStringLiteral("schedule.lasts"));
    configureWallClock(rows_->starts, dateTimeFormat);
    configureWallClock(rows_->ends, dateTimeFormat);
    rows_->form->addRow(QStringLiteral("Timezone"), rows_->timezone);
    rows_->form->addRow(rows_->repeats);
    rows_->form->addRow(QStringLiteral("Starts"), rows_->starts);
    rows_->form->addRow(QStringLiteral("Ends"), rows_->ends);
    rows_->form->addRow(QStringLiteral("Lasts"), rows_->lasts);
    outer->addLayout(rows_->form);
    outer->addWidget(footer(
        QStringLiteral("Wall-clock times in the timezone: 02:00 stays 02:00 across daylight saving."),
        QStringLiteral("schedule.footer")));

    connect(rows_->timezone, &QComboBox::currentIndexChanged, rows_, [this](int index) {
        if (index < 0) return;
        const std::string identifier = rows_->timezone->itemText(index).toStdString();
        edit(draft_, [&](Draft& draft) { draft.setTimeZone(identifier); });
    });
    connect(rows_->repeats, &QCheckBox::toggled, rows_, [this](bool on) {
        edit(draft_, [&](Draft& draft) { draft.recurring = on; });
    });
    const auto writeInstant = [this](sys_seconds Draft::*field) {
        return [this, field](const QDateTime& wall) {
            edit(draft_, [&](Draft& draft) {
                const auto instant = instantOf(wall.date(), wall.time(), draft.zone());
                if (instant) draft.*field = *instant;
                return instant.has_value();
            });
        };
    };
    connect(rows_->starts, &QDateTimeEdit::dateTimeChanged, rows_, writeInstant(&Draft::start));
    connect(rows_->ends, &QDateTimeEdit::dateTimeChanged, rows_, writeInstant(&Draft::end));
    connect(rows_->lasts, &QSpinBox::valueChanged, rows_, [this](int minutes) {
        edit(draft_, [&](Draft& draft) { draft.durationMinutes = minutes; });
    });
    refresh();
}

void MacScheduleSection::refresh() {
    const Draft draft = draft_.get();
    const platform::TimeZone zone = draft.zone();
    Rows& rows = *rows_;
    showIndex(rows.timezone, rows.timezone->findText(qText(draft.timezone)));
    showChecked(rows.repeats, draft.recurring);
    showWallClock(rows.starts, draft.start, zone);
    if (const auto earliest = wallClock(draft.start, zone); earliest && rows.ends->minimumDateTime() != *earliest) {
        quietly(rows.ends, [&] { rows.ends->setMinimumDateTime(*earliest); });
    }
    showWallClock(rows.ends, draft.end, zone);
    showValue(rows.lasts, draft.durationMinutes);
    rows.form->setRowVisible(rows.ends, !draft.recurring);
    rows.form->setRowVisible(rows.lasts, draft.recurring);
}

// ---- "Repeats" ----

struct MacRecurrenceSection::Rows : QObject {
    using QObject::QObject;

    QFormLayout* form = brisalune::form();
    QComboBox* pattern = picker(QStringLiteral("recurrence.pattern"), patternLabels());
    QSpinBox* interval = stepper(QStringLiteral("recurrence.interval"), 1, 99);
    QWidget* days = new QWidget;
    std::vector<QPushButton*> dayButtons;
    QSpinBox* monthDay = stepper(QStringLiteral("recurrence.monthDay"), 1, 31);
    QComboBox* ordinal = picker(QStringLiteral("recurrence.ordinal"), ordinalLabels());
    QComboBox* weekday = picker(QStringLiteral("recurrence.weekday"), weekdayNames());
    QComboBox* end = picker(
        QStringLiteral("recurrence.end"),
        {QStringLiteral("Never"), QStringLiteral("On a date"), QStringLiteral("After a number of times")});
    QDateEdit* until = new QDateEdit;
    QSpinBox* count = stepper(QStringLiteral("recurrence.count"), 1, 999);
    QPlainTextEdit* rule = new QPlainTextEdit;
    QWidget* skips = new QWidget;
    struct SkipRow {
        QWidget* row;
        QLabel* text;
        QPushButton* restore;
    };
    std::vector<SkipRow> skipRows;
    std::vector<std::string> skipped;  // the entries the rows show, in their order
    std::function<void(const std::string&)> restore;

    static QStringList patternLabels() {
        QStringList labels;
        for (const Kind kind : Recurrence::allKinds) labels << qText(Recurrence::label(kind));
        return labels;
    }
    static QStringList ordinalLabels() {
        QStringList labels;
        for (const std::int64_t ordinal : ordinals) labels << qText(MaintenanceFormat::ordinalWord(ordinal));
        return labels;
    }
    static QStringList weekdayNames() {
        QStringList names;
        for (const Weekday day : Recurrence::allWeekdays) names << qText(Recurrence::name(day));
        return names;
    }

    void showPattern(const Recurrence& recurrence);
    void showEnd(const Recurrence& recurrence, const platform::TimeZone& zone);
    void showRule(const std::string& text);
    void showSkips(const std::vector<std::string>& exdates, const platform::TimeZone& zone);
    void fitRule();
};

void MacRecurrenceSection::Rows::showPattern(const Recurrence& recurrence) {
    const Kind kind = recurrence.kind();
    showIndex(pattern, indexOf(Recurrence::allKinds, kind));
    form->setRowVisible(interval, kind != Kind::custom);
    if (const auto every = recurrence.interval()) {
        if (interval->suffix() != unitOf(kind)) quietly(interval, [&] { interval->setSuffix(unitOf(kind)); });
        showValue(interval, *every);
    }
    const auto* weekly = recurrence.pattern.get<Pattern::Weekly>();
    form->setRowVisible(days, weekly != nullptr);
    for (std::size_t index = 0; index < dayButtons.size(); ++index) {
        const Weekday day = Recurrence::allWeekdays[index];
        showChecked(
            dayButtons[index],
            weekly && std::find(weekly->weekdays.begin(), weekly->weekdays.end(), day) != weekly->weekdays.end());
    }
    const auto* onDay = recurrence.pattern.get<Pattern::MonthlyOnDay>();
    form->setRowVisible(monthDay, onDay != nullptr);
    if (onDay) showValue(monthDay, onDay->day);
    const auto* onWeekday = recurrence.pattern.get<Pattern::MonthlyOnWeekday>();
    form->setRowVisible(ordinal, onWeekday != nullptr);
    form->setRowVisible(weekday, onWeekday != nullptr);
    if (onWeekday) {
        showIndex(ordinal, indexOf(ordinals, onWeekday->ordinal));
        showIndex(weekday, indexOf(Recurrence::allWeekdays, onWeekday->weekday));
    }
}

void MacRecurrenceSection::Rows::showEnd(const Recurrence& recurrence, const platform::TimeZone& zone) {
    const bool modelled = recurrence.kind() != Kind::custom;
    const auto* last = recurrence.end.get<End::Until>();
    const auto* times = recurrence.end.get<End::Count>();
    form->setRowVisible(end, modelled);
    form->setRowVisible(until, modelled && last);
    form->setRowVisible(count, modelled && times);
    showIndex(end, last ? 1 : times ? 2 : 0);
    if (last) {
        const auto wall = wallClock(last->instant, zone);
        if (wall && until->date() != wall->date()) quietly(until, [&] { until->setDate(wall->date()); });
    }
    if (times) showValue(count, times->count);
}

void MacRecurrenceSection::Rows::showRule(const std::string& text) {
    // Only a text that differs is put back: the user may be typing in it.
    const QString shown = qText(text);
    if (rule->toPlainText() != shown) quietly(rule, [&] { rule->setPlainText(shown); });
}

// The rule field grows downwards with its lines, from two up to eight; past that it scrolls.
void MacRecurrenceSection::Rows::fitRule() {
    const int lines = static_cast<int>(rule->document()->size().height());
    const int shown = std::clamp(lines, 2, 8);
    const double text = shown * QFontMetricsF(rule->font()).lineSpacing();
    rule->setVerticalScrollBarPolicy(lines > shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    rule->setFixedHeight(
        static_cast<int>(std::ceil(text + 2 * rule->document()->documentMargin())) + 2 * rule->frameWidth());
}

MacRecurrenceSection::MacRecurrenceSection(DraftBinding binding, QWidget* parent)
    : QGroupBox(parent), draft_(std::move(binding)), rows_(new Rows(this)) {
    QVBoxLayout* outer = sectionStack(this, QStringLiteral("recurrence"), QStringLiteral("Repeats"));
    Rows& rows = *rows_;
    rows.days->setObjectName(QStringLiteral("recurrence.days"));
    auto* dayLine = new QHBoxLayout(rows.days);
    dayLine->setContentsMargins(0, 0, 0, 0);
    dayLine->setSpacing(4);
    for (const Weekday day : Recurrence::allWeekdays) {
        const std::string_view name = Recurrence::shortName(day);
        QPushButton* button = ui::toggleButton(name, QStringLiteral("recurrence.day.") + qText(name));
        // As wide as the widest day, so that the week fits the narrowest pane.
        button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("Wed")) + 22);
        dayLine->addWidget(button, 0, Qt::AlignVCenter);
        rows.dayButtons.push_back(button);
        connect(button, &QPushButton::toggled, rows_, [this, day](bool on) {
            editRecurrence(draft_, [&](Recurrence& recurrence, const Draft&) {
                const auto* weekly = recurrence.pattern.get<Pattern::Weekly>();
                Pattern::Weekly next{
                    recurrence.interval().value_or(1), weekly ? weekly->weekdays : std::vector<Weekday>{}};
                if (on) {
                    next.weekdays.push_back(day);
                } else {
                    std::erase(next.weekdays, day);
                }
                recurrence.pattern.value = std::move(next);
            });
        });
    }
    dayLine->addStretch(1);
    rows.until->setObjectName(QStringLiteral("recurrence.until"));
    configureWallClock(rows.until, dateFormat);
    rows.rule->setObjectName(QStringLiteral("recurrence.rule"));
    rows.rule->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    rows.rule->setTabChangesFocus(true);
    rows.rule->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    rows.skips->setObjectName(QStringLiteral("recurrence.skips"));
    ui::stack(rows.skips, 4);

    rows.form->addRow(QStringLiteral("Pattern"), rows.pattern);
    rows.form->addRow(QStringLiteral("Every"), rows.interval);
    rows.form->addRow(rows.days);  // the whole width: the week must fit the narrowest pane
    rows.form->addRow(QStringLiteral("On day"), rows.monthDay);
    rows.form->addRow(QStringLiteral("On the"), rows.ordinal);
    rows.form->addRow(QStringLiteral("Weekday"), rows.weekday);
    rows.form->addRow(QStringLiteral("Ends"), rows.end);
    rows.form->addRow(QStringLiteral("Last day"), rows.until);
    rows.form->addRow(QStringLiteral("Times"), rows.count);
    rows.form->addRow(QStringLiteral("RRULE"), rows.rule);
    outer->addLayout(rows.form);
    outer->addWidget(rows.skips);

    connect(rows.pattern, &QComboBox::currentIndexChanged, rows_, [this](int index) {
        if (index < 0) return;
        editRecurrence(draft_, [&](Recurrence& recurrence, const Draft& draft) {
            recurrence.setKind(Recurrence::allKinds[static_cast<std::size_t>(index)], draft.start, draft.zone());
        });
    });
    connect(rows.interval, &QSpinBox::valueChanged, rows_, [this](int every) {
        editRecurrence(draft_, [&](Recurrence& recurrence, const Draft&) { recurrence.setInterval(every); });
    });
    connect(rows.monthDay, &QSpinBox::valueChanged, rows_, [this](int day) {
        editRecurrence(draft_, [&](Recurrence& recurrence, const Draft&) {
            recurrence.pattern.value = Pattern::MonthlyOnDay{recurrence.interval().value_or(1), day};
        });
    });
    const auto writeOnWeekday = [this](auto change) {
        editRecurrence(draft_, [&](Recurrence& recurrence, const Draft&) {
            const auto* shown = recurrence.pattern.get<Pattern::MonthlyOnWeekday>();
            Pattern::MonthlyOnWeekday next = shown ? *shown : Pattern::MonthlyOnWeekday{};
            next.interval = recurrence.interval().value_or(1);
            change(next);
            recurrence.pattern.value = next;
        });
    };
    connect(rows.ordinal, &QComboBox::currentIndexChanged, rows_, [writeOnWeekday](int index) {
        if (index < 0) return;
        writeOnWeekday(
            [&](Pattern::MonthlyOnWeekday& next) { next.ordinal = ordinals[static_cast<std::size_t>(index)]; });
    });
    connect(rows.weekday, &QComboBox::currentIndexChanged, rows_, [writeOnWeekday](int index) {
        if (index < 0) return;
        writeOnWeekday([&](Pattern::MonthlyOnWeekday& next) {
            next.weekday = Recurrence::allWeekdays[static_cast<std::size_t>(index)];
        });
    });
    connect(rows.end, &QComboBox::currentIndexChanged, rows_, [this](int choice) {
        if (choice < 0) return;
        editRecurrence(draft_, [&](Recurrence& recurrence, const Draft& draft) {
            constexpr std::int64_t ninetyDays = 7'776'000;
            if (choice == 0) recurrence.end.value = End::Never{};
            if (choice == 1)
                recurrence.end.value =
                    End::Until{draft.lastSecondOfDay(draft.start + std::chrono::seconds{ninetyDays})};
            if (choice == 2) recurrence.end.value = End::Count{10};
        });
    });
    connect(rows.until, &QDateEdit::dateChanged, rows_, [this](QDate date) {
        editRecurrence(draft_, [&](Recurrence& recurrence, const Draft& draft) {
            // Noon: a day's midnight may fall in a clock change.
            if (const auto instant = instantOf(date, QTime(12, 0), draft.zone())) {
                recurrence.end.value = End::Until{draft.lastSecondOfDay(*instant)};
            }
        });
    });
    connect(rows.count, &QSpinBox::valueChanged, rows_, [this](int times) {
        editRecurrence(draft_, [&](Recurrence& recurrence, const Draft&) { recurrence.end.value = End::Count{times}; });
    });
    connect(rows.rule, &QPlainTextEdit::textChanged, rows_, [this] {
        edit(draft_, [&](Draft& draft) { draft.rrule = rows_->rule->toPlainText().toStdString(); });
    });
    connect(rows.rule->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, rows_, [this] {
        rows_->fitRule();
    });
    rows.restore = [this](const std::string& entry) {
        edit(draft_, [&](Draft& draft) { std::erase(draft.exdates, entry); });
    };
    rows.fitRule();
    refresh();
}

void MacRecurrenceSection::refresh() {
    const Draft draft = draft_.get();
    const Recurrence recurrence = draft.recurrence();
    const platform::TimeZone zone = draft.zone();
    rows_->showPattern(recurrence);
    rows_->showEnd(recurrence, zone);
    rows_->showRule(draft.rrule);
    rows_->showSkips(draft.exdates, zone);
}

void MacRecurrenceSection::Rows::showSkips(const std::vector<std::string>& exdates, const platform::TimeZone& zone) {
    while (skipRows.size() > exdates.size()) {
        retire(skipRows.back().row);
        skipRows.pop_back();
    }
    for (std::size_t index = skipRows.size(); index < exdates.size(); ++index) {
        auto* row = new QWidget;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        const QString number = QString::number(index);
        QLabel* text = ui::text(QString(), QStringLiteral("recurrence.skip.") + number);
        QPushButton* button = ui::button(QStringLiteral("Restore"), QStringLiteral("recurrence.restore.") + number);
        line->addWidget(text, 0, Qt::AlignVCenter);
        line->addStretch(1);
        line->addWidget(button, 0, Qt::AlignVCenter);
        addShown(skips->layout(), row);
        skipRows.push_back({row, text, button});
        connect(button, &QPushButton::clicked, this, [this, index] {
            if (index >= skipped.size()) return;
            const std::string entry = skipped[index];  // the write rebuilds the rows
            restore(entry);
        });
    }
    skipped = exdates;
    for (std::size_t index = 0; index < exdates.size(); ++index) {
        showText(
            skipRows[index].text,
            QStringLiteral("Skips ") + qText(MaintenanceFormat::wallClockText(exdates[index], zone)));
        // A screen reader tells one "Restore" from the next by the date beside it.
        skipRows[index].restore->setAccessibleDescription(skipRows[index].text->text());
    }
    skips->setVisible(!exdates.empty());
}

// ---- "Covers" ----

struct MacScopeSection::Rows : QObject {
    using QObject::QObject;

    QCheckBox* whole = toggle(QStringLiteral("Whole project"), QStringLiteral("scope.whole"));
    std::array<PickGroup*, scopeGroups.size()> groups{};
    std::array<QLabel*, scopeGroups.size()> none{};
};

MacScopeSection::MacScopeSection(Binding<MaintenanceScope> binding, QWidget* parent)
    : QGroupBox(parent), scope_(std::move(binding)), rows_(new Rows(this)) {
    QVBoxLayout* outer = sectionStack(this, QStringLiteral("scope"), QStringLiteral("Covers"));
    outer->addWidget(rows_->whole);
    for (std::size_t index = 0; index < scopeGroups.size(); ++index) {
        const ScopeGroup& kind = scopeGroups[index];
        const QString name = QStringLiteral("scope.") + QLatin1String(kind.key);
        auto* group = new PickGroup(name, [this, picked = kind.picked](const std::string& entry, bool on) {
            edit(scope_, [&](MaintenanceScope& scope) { pick(scope.*picked, entry, on); });
        });
        QLabel* none = ui::text(
            QStringLiteral("None in this project"),
            name + QStringLiteral(".none"),
            ui::Font::body,
            ui::Tone::secondary);
        group->rows()->insertWidget(0, none);
        outer->addWidget(group);
        rows_->groups[index] = group;
        rows_->none[index] = none;
    }
    connect(rows_->whole, &QCheckBox::toggled, rows_, [this](bool on) {
        // The whole project drops every pick.
        if (on) {
            scope_.set(MaintenanceScope::defaultScope());
        } else {
            edit(scope_, [](MaintenanceScope& scope) { scope.project = false; });
        }
    });
    refresh();
}

void MacScopeSection::setNames(MaintenanceScopeNames names) {
    names_ = std::move(names);
    refresh();
}

void MacScopeSection::refresh() {
    const MaintenanceScope scope = scope_.get();
    showChecked(rows_->whole, scope.project);
    for (std::size_t index = 0; index < scopeGroups.size(); ++index) {
        const ScopeGroup& kind = scopeGroups[index];
        const std::vector<std::string>& picked = scope.*kind.picked;
        const std::vector<std::string> entries = scopeEntries(names_.*kind.offered, picked);
        PickGroup* group = rows_->groups[index];
        group->setVisible(!scope.project);
        showTitle(group->toggle(), std::string(kind.title) + " (" + std::to_string(picked.size()) + ")");
        rows_->none[index]->setVisible(entries.empty());
        std::vector<SwitchList::Item> items;
        for (const std::string& entry : entries) items.push_back({entry, entry, holds(picked, entry)});
        group->switches().show(items);
    }
}

// ---- "Status pages" ----

struct MacStatusPageSection::Rows : QObject {
    using QObject::QObject;

    QCheckBox* show = toggle(QStringLiteral("Show on status page"), QStringLiteral("statusPage.show"));
    QProgressBar* loading = new QProgressBar;
    QWidget* choices = new QWidget;
    QLabel* empty = ui::text(
        QStringLiteral("The team's status pages have no components yet."),
        QStringLiteral("statusPage.empty"),
        ui::Font::body,
        ui::Tone::secondary,
        true);
    QWidget* pages = new QWidget;
    QWidget* unknownBox = new QWidget;
    QLabel* footer = brisalune::footer(QString(), QStringLiteral("statusPage.footer"));
    SwitchList::Switched switched;
    std::unique_ptr<SwitchList> unknown;
    std::vector<PickGroup*> pageGroups;
    std::optional<std::vector<MaintenanceComponentChoices::Page>> builtPages;
    std::set<std::string> openPages;  // by page id, so that a rebuilt group stays open

    void showPages(
        const std::vector<MaintenanceComponentChoices::Page>& offered, const std::vector<std::string>& picked);
    void buildPages(const std::vector<MaintenanceComponentChoices::Page>& offered);
};

void MacStatusPageSection::Rows::buildPages(const std::vector<MaintenanceComponentChoices::Page>& offered) {
    for (PickGroup* group : pageGroups) retire(group);
    pageGroups.clear();
    for (std::size_t index = 0; index < offered.size(); ++index) {
        const std::string& id = offered[index].id;
        auto* group = new PickGroup(QStringLiteral("statusPage.page.") + QString::number(index), switched);
        showTitle(group->toggle(), offered[index].title);
        group->setOpen(openPages.contains(id));
        connect(group->toggle(), &QToolButton::clicked, this, [this, group, id] {
            if (group->isOpen()) {
                openPages.insert(id);
            } else {
                openPages.erase(id);
            }
        });
        addShown(pages->layout(), group);
        pageGroups.push_back(group);
    }
    builtPages = offered;
}

void MacStatusPageSection::Rows::showPages(
    const std::vector<MaintenanceComponentChoices::Page>& offered, const std::vector<std::string>& picked) {
    if (builtPages != offered) buildPages(offered);
    for (std::size_t index = 0; index < offered.size(); ++index) {
        std::vector<SwitchList::Item> items;
        for (const MaintenanceComponentChoices::Choice& choice : offered[index].components) {
            items.push_back({choice.id, componentLabel(choice), holds(picked, choice.id)});
        }
        pageGroups[index]->switches().show(items);
    }
}

MacStatusPageSection::MacStatusPageSection(DraftBinding binding, QWidget* parent)
    : QGroupBox(parent), draft_(std::move(binding)), rows_(new Rows(this)) {
    QVBoxLayout* outer = sectionStack(this, QStringLiteral("statusPage"), QStringLiteral("Status pages"));
    Rows& rows = *rows_;
    rows.loading->setObjectName(QStringLiteral("statusPage.loading"));
    rows.loading->setRange(0, 0);
    rows.loading->setTextVisible(false);
    rows.choices->setObjectName(QStringLiteral("statusPage.choices"));
    rows.pages->setObjectName(QStringLiteral("statusPage.pages"));
    ui::stack(rows.pages, 2);
    QVBoxLayout* unknownRows = ui::stack(rows.unknownBox, 4);
    QVBoxLayout* choiceRows = ui::stack(rows.choices, 6);
    choiceRows->addWidget(rows.empty);
    choiceRows->addWidget(rows.pages);
    choiceRows->addWidget(rows.unknownBox);
    outer->addWidget(rows.show);
    outer->addWidget(rows.loading);
    outer->addWidget(rows.choices);
    outer->addWidget(rows.footer);

    rows.switched = [this](const std::string& id, bool on) {
        edit(draft_, [&](Draft& draft) { pick(draft.components, id, on); });
    };
    rows.unknown = std::make_unique<SwitchList>(unknownRows, QStringLiteral("statusPage.unknown."), rows.switched);
    connect(rows.show, &QCheckBox::toggled, rows_, [this](bool on) {
        edit(draft_, [&](Draft& draft) { draft.statusPage = on; });
    });
    refresh();
}

void MacStatusPageSection::setChoices(std::optional<MaintenanceComponentChoices> choices) {
    choices_ = std::move(choices);
    refresh();
}

void MacStatusPageSection::refresh() {
    const Draft draft = draft_.get();
    Rows& rows = *rows_;
    showChecked(rows.show, draft.statusPage);
    showText(
        rows.footer,
        draft.statusPage
            ? QStringLiteral("The picked components show maintenance while the window runs, and each page lists "
                             "it a week ahead. Maintenance time is left out of their uptime; an outage during it "
                             "still counts.")
            : QStringLiteral("Off: the window stays off every status page. The components its scope covers still "
                             "leave its time out of uptime."));
    rows.loading->setVisible(draft.statusPage && !choices_);
    rows.choices->setVisible(draft.statusPage && choices_);
    if (!choices_) return;
    rows.empty->setVisible(choices_->pages.empty() && choices_->unknown.empty());
    rows.showPages(choices_->pages, draft.components);
    std::vector<SwitchList::Item> unknown;
    for (const std::string& id : choices_->unknown) {
        unknown.push_back({id, "Unknown component (no longer on a page)", holds(draft.components, id)});
    }
    rows.unknown->show(unknown);
}

}  // namespace brisalune
