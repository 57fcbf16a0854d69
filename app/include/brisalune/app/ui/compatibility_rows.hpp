#pragma once

// The four views of a version mismatch between this app and a server: the dismissable update
// nudge, the dismissable banner of an older server, and the two blocking sections that replace
// the menu's content when this app or the team's server is too old. Their texts are UpdateCopy's;
// the menu window decides which of them shows.

#include <brisalune/app/ui/menu_environment.hpp>
#include <brisalune/platform/url.hpp>

#include <QObject>
#include <QWidget>

#include <memory>
#include <optional>

class QHideEvent;
class QLabel;

namespace brisalune {

// Where both "Update" buttons lead: the offered release's download when the checker holds an
// offer whose address is usable for its manifest, else the app's page on the web site.
platform::Url updateDestination(const SiteUpdates& updates);

// Tells of every change of the compatibility model, on the main thread, for as long as it lives
// (the model may report from any thread).
class CompatibilityWatch final : public QObject {
    Q_OBJECT

public:
    CompatibilityWatch(ClientCompatibilityModel& compatibility, QObject* parent);

Q_SIGNALS:
    void changed();

private:
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    ClientCompatibilityModel::Subscription subscription_;
};

// The shape both dismissable rows share. A dismissal the settings file could not take is said
// below the row's line, and the row stays shown, though asked to hide, until a later dismissal
// is written or the window it is in closes: otherwise it would hide before anyone read that.
class DismissableRow : public QWidget {
    Q_OBJECT

public:
    void setVisible(bool visible) override;

protected:
    DismissableRow(const QString& name, QWidget* parent);

    QLabel* unwritten() const noexcept { return unwritten_; }
    // After each press of the row's dismiss button: whether its dismissal was written.
    void dismissed(bool written);
    void hideEvent(QHideEvent* event) override;

private:
    QLabel* unwritten_;
    bool wanted_ = true;  // what the row was last asked to be
};

class CompatibilityNudgeRow final : public DismissableRow {
    Q_OBJECT

public:
    explicit CompatibilityNudgeRow(const MenuEnvironment& environment, QWidget* parent = nullptr);
};

class ServerBannerRow final : public DismissableRow {
    Q_OBJECT

public:
    explicit ServerBannerRow(const MenuEnvironment& environment, QWidget* parent = nullptr);

    // The server the banner is about: the active team's host.
    void setHost(std::optional<platform::Url> host) { host_ = std::move(host); }
    const std::optional<platform::Url>& host() const noexcept { return host_; }

private:
    std::optional<platform::Url> host_;
};

class UpdateRequiredSection final : public QWidget {
    Q_OBJECT

public:
    explicit UpdateRequiredSection(const MenuEnvironment& environment, QWidget* parent = nullptr);
};

class ServerOutdatedSection final : public QWidget {
    Q_OBJECT

public:
    explicit ServerOutdatedSection(QWidget* parent = nullptr);
};

}  // namespace brisalune
