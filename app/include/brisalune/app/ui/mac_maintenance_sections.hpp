#pragma once

// The four sections of the maintenance-window editor: when a window runs, how it repeats, what it
// covers and on which status-page components it shows. None keeps state of its own: each shows
// what its binding reads when it is refreshed, and writes a whole changed value back through the
// binding. The editor refreshes every section after each write. Main thread only.
//
// A refresh only shows: it puts values on the widgets with their signals blocked, so showing a
// value (even one a spin box or date field clamps) never writes. It may run inside a signal of
// the section's own widgets, so widgets it no longer needs are deleted later, never at once.
//
// Object names, for tests (N and M count from 0 in the order shown):
//   "schedule": "schedule.timezone" (combo box), "schedule.repeats" (check box),
//     "schedule.starts", "schedule.ends" (date-time edits of the zone's wall clock),
//     "schedule.lasts" (spin box showing the length in words), "schedule.footer".
//   "recurrence": "recurrence.pattern", "recurrence.interval" (spin box), "recurrence.days" with
//     "recurrence.day.Mon" ... "recurrence.day.Sun" (checkable buttons), "recurrence.monthDay"
//     (spin box), "recurrence.ordinal", "recurrence.weekday", "recurrence.end" (combo boxes),
//     "recurrence.until" (date edit), "recurrence.count" (spin box), "recurrence.rule" (plain
//     text edit), "recurrence.skips" holding per skipped date "recurrence.skip.N" (its text) and
//     "recurrence.restore.N" (its button).
//   "scope": "scope.whole" (check box), then per group G in "checks", "sources", "rules":
//     "scope.G" (the group), "scope.G.toggle" (opens it), "scope.G.content", "scope.G.none"
//     and the entries' check boxes "scope.G.entry.N".
//   "statusPage": "statusPage.show" (check box), "statusPage.loading" (progress bar),
//     "statusPage.choices" holding "statusPage.empty", per page "statusPage.page.N" with
//     "statusPage.page.N.toggle", "statusPage.page.N.content" and the check boxes
//     "statusPage.page.N.entry.M", then "statusPage.unknown.N"; "statusPage.footer".

#include <brisalune/client/maintenance/component_choices.hpp>
#include <brisalune/client/maintenance/draft.hpp>
#include <brisalune/client/maintenance/scope_names.hpp>

#include <QGroupBox>

#include <functional>
#include <optional>

namespace brisalune {

// Two-way access to a value that someone else owns.
template <class T>
struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;
};

using DraftBinding = Binding<MaintenanceWindowDraft>;

// "When": the zone, whether the window repeats, its start, and its end or the length of each
// occurrence. Dates are edited as wall-clock times of the window's zone.
class MacScheduleSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit MacScheduleSection(DraftBinding draft, QWidget* parent = nullptr);
    void refresh();

private:
    struct Rows;
    DraftBinding draft_;
    Rows* rows_;
};

// "Repeats": the pattern, its interval, days and end, the rule text, and the skipped dates.
class MacRecurrenceSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit MacRecurrenceSection(DraftBinding draft, QWidget* parent = nullptr);
    void refresh();

private:
    struct Rows;
    DraftBinding draft_;
    Rows* rows_;
};

// "Covers": the whole project, or picked checks, sources and rules.
class MacScopeSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit MacScopeSection(Binding<MaintenanceScope> scope, QWidget* parent = nullptr);
    void setNames(MaintenanceScopeNames names);
    void refresh();

private:
    struct Rows;
    Binding<MaintenanceScope> scope_;
    MaintenanceScopeNames names_;
    Rows* rows_;
};

// "Status pages": whether the window shows on them, and on which components.
class MacStatusPageSection final : public QGroupBox {
    Q_OBJECT

public:
    explicit MacStatusPageSection(DraftBinding draft, QWidget* parent = nullptr);
    // None while the status pages are still loading.
    void setChoices(std::optional<MaintenanceComponentChoices> choices);
    void refresh();

private:
    struct Rows;
    DraftBinding draft_;
    std::optional<MaintenanceComponentChoices> choices_;
    Rows* rows_;
};

}  // namespace brisalune
