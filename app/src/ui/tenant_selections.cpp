#include <brisalune/app/ui/tenant_selections.hpp>

#include <QPointer>

namespace brisalune {

TenantSelections::TenantSelections(MacModel& model) : QObject(&model), model_(model) {
    setObjectName(QStringLiteral("tenantSelections"));
}

TenantSelections& TenantSelections::of(MacModel& model) {
    if (auto* existing = model.findChild<TenantSelections*>(QString(), Qt::FindDirectChildrenOnly)) return *existing;
    return *new TenantSelections(model);
}

bool TenantSelections::select(const std::string& tenantId) {
    if (!running_.insert(tenantId).second) return false;
    Q_EMIT runningChanged();
    run(tenantId);
    return true;
}

QCoro::Task<> TenantSelections::run(std::string tenantId) {
    const QPointer<TenantSelections> self(this);
    // The model reports a failure itself (lastError) and never throws.
    co_await model_.selectTenant(tenantId);
    if (!self) co_return;
    running_.erase(tenantId);
    Q_EMIT runningChanged();
}

}  // namespace brisalune
