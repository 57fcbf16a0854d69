#pragma once

// The menu window's content: from the model's phase and the compatibility and update state, which
// rows and sections show, top to bottom (the update nudge or offer, the old-server banner, the
// main block by phase or the blocking sections, the push row and the account section once signed
// in, the application section always). It decides again on each change of what it follows, each
// time it is shown, and, while shown, when a dismissal of the nudge or the banner runs out. Each
// time it is shown it refreshes the notification settings and then the open alerts. 320 wide;
// its height follows its content.
//
// TenantPicker, the content while no team is chosen, is shared with the sign-in window.

#include <brisalune/app/ui/alerts_section.hpp>
#include <brisalune/app/ui/menu_environment.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QCoroTask>
#include <QWidget>

#include <chrono>
#include <optional>

class QLabel;
class QProgressBar;
class QVBoxLayout;

namespace brisalune {

class AccountSection;
class AppSection;
class CompatibilityNudgeRow;
class CompatibilityWatch;
class ContinuousTimer;
class PushStatusRow;
class ServerBannerRow;
class ServerOutdatedSection;
class UpdateRequiredSection;
class UpdateRow;

class TenantPicker final : public QWidget {
    Q_OBJECT

public:
    explicit TenantPicker(MacModel& model, QWidget* parent = nullptr);

private:
    void followTeams();
    void followError();

    MacModel& model_;
    QProgressBar* waiting_;
    QLabel* empty_;
    QWidget* buttons_;
    QVBoxLayout* buttonsLayout_;
    QLabel* error_;
};

class MenuContentView final : public ui::FixedWidthPane {
    Q_OBJECT

public:
    static constexpr int width = 320;

    explicit MenuContentView(MenuEnvironment environment, QWidget* parent = nullptr);
    ~MenuContentView() override;

    const MenuEnvironment& environment() const noexcept { return environment_; }
    MenuNotice& notice() noexcept { return *notice_; }
    // The active team's server: its own host, else the session's; none without an active team.
    std::optional<platform::Url> activeHost() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void follow();
    // While shown, follows again when the first dismissal in force at `seen` runs out: `seen` is
    // read before the rows were, so that one running out while they were being read is not missed.
    void followAtExpiry(std::chrono::system_clock::time_point seen);
    QCoro::Task<> refreshOnShow(int generation);

    MenuEnvironment environment_;
    MenuNotice* notice_;
    CompatibilityWatch* watch_;
    CompatibilityNudgeRow* nudge_;
    UpdateRow* update_;
    ServerBannerRow* banner_;
    UpdateRequiredSection* updateRequired_;
    ServerOutdatedSection* serverOutdated_;
    QWidget* loading_;
    QWidget* signedOut_;
    TenantPicker* tenantPicker_;
    AlertsSection* alerts_;
    QWidget* accountRows_;
    AppSection* app_;
    ContinuousTimer* expiry_;  // when a dismissed row comes back
    bool shown_ = false;
    int shows_ = 0;  // counts each show and hide: a refresh started for an earlier show stops
};

}  // namespace brisalune
