#pragma once

// The team switches the views start, one per team at a time. A press on a team whose selection
// is still running is ignored: a second selection would issue a second key for the team, and
// only the last one stored would ever be revoked. One per model, shared by every view of it.

#include <brisalune/app/model/mac_model.hpp>

#include <QCoroTask>
#include <QObject>

#include <set>
#include <string>

namespace brisalune {

class TenantSelections final : public QObject {
    Q_OBJECT

public:
    // The model's own, made on first use and owned by the model.
    static TenantSelections& of(MacModel& model);

    bool isRunning(const std::string& tenantId) const { return running_.contains(tenantId); }
    // Starts MacModel::selectTenant for the team; false (and nothing started) while one runs.
    bool select(const std::string& tenantId);

Q_SIGNALS:
    void runningChanged();

private:
    explicit TenantSelections(MacModel& model);
    QCoro::Task<> run(std::string tenantId);

    MacModel& model_;
    std::set<std::string> running_;
};

}  // namespace brisalune
