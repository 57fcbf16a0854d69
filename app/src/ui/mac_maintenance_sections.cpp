// Stand-in sections so that the editor builds; the real ones replace this file.

#include <brisalune/app/ui/mac_maintenance_sections.hpp>

#include <QString>

#include <utility>

namespace brisalune {

struct MacScheduleSection::Rows {};
struct MacRecurrenceSection::Rows {};
struct MacScopeSection::Rows {};
struct MacStatusPageSection::Rows {};

MacScheduleSection::MacScheduleSection(DraftBinding draft, QWidget* parent)
    : QGroupBox(QStringLiteral("When"), parent), draft_(std::move(draft)), rows_(nullptr) {}
void MacScheduleSection::refresh() {}

MacRecurrenceSection::MacRecurrenceSection(DraftBinding draft, QWidget* parent)
    : QGroupBox(QStringLiteral("Repeats"), parent), draft_(std::move(draft)), rows_(nullptr) {}
void MacRecurrenceSection::refresh() {}

MacScopeSection::MacScopeSection(Binding<MaintenanceScope> scope, QWidget* parent)
    : QGroupBox(QStringLiteral("Covers"), parent), scope_(std::move(scope)), rows_(nullptr) {}
void MacScopeSection::setNames(MaintenanceScopeNames names) { names_ = std::move(names); }
void MacScopeSection::refresh() {}

MacStatusPageSection::MacStatusPageSection(DraftBinding draft, QWidget* parent)
    : QGroupBox(QStringLiteral("Status pages"), parent), draft_(std::move(draft)), rows_(nullptr) {}
void MacStatusPageSection::setChoices(std::optional<MaintenanceComponentChoices> choices) {
    choices_ = std::move(choices);
}
void MacStatusPageSection::refresh() {}

}  // namespace brisalune
