#pragma once

// The offer of a newer release, shown while the update checker holds one whose download address
// is https on the manifest's own host: "Brisalune <version> is available", Download, Dismiss, and
// below them what of the offer the settings file could not take. The menu window shows it only
// while it is due (downloadAddress); it keeps its texts current.

#include <brisalune/app/ui/menu_environment.hpp>

#include <QWidget>

#include <optional>

class QLabel;

namespace brisalune {

class UpdateRow final : public QWidget {
    Q_OBJECT

public:
    explicit UpdateRow(const MenuEnvironment& environment, QWidget* parent = nullptr);

    // The offer's download address when the row is due.
    static std::optional<platform::Url> downloadAddress(const SiteUpdates& updates);

private:
    void follow();

    const MenuEnvironment& environment_;
    QLabel* text_;
    QLabel* unwritten_;
};

}  // namespace brisalune
