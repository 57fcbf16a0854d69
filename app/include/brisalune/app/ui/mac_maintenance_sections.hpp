#pragma once

// The four sections of the maintenance-window editor: when a window runs, how it repeats, what it
// covers and on which status-page components it shows. None keeps state of its own: each shows
// what its binding reads when it is refreshed, and writes a whole changed value back through the
// binding. The editor refreshes every section after each write. Main thread only.

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
