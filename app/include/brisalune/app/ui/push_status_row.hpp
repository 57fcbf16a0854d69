#pragma once

// The line that says whether this computer gets push notifications about the account's teams,
// with the one action that helps: asking for permission, or opening the notification settings
// (only where the desktop has settings to open). Without a notification service it says that
// none can be shown. Where the platform has no push service at all, it says calmly what the app
// does instead; the red error is for real failures. Follows the push state as it changes.

#include <brisalune/app/ui/menu_environment.hpp>
#include <brisalune/push/push_state.hpp>

#include <QWidget>

class QLabel;
class QPushButton;

namespace brisalune {

class PushStatusRow final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::string_view deniedText = "Notifications are off, for all your teams.";
    // Denied where nothing but a missing notification service denies: no setting can help.
    static constexpr std::string_view noServiceText =
        "Notifications can't be shown: no notification service is running.";
    static constexpr std::string_view requestingText =
        "Look for Brisalune's request in the top-right corner, or in Notification Center, and choose Allow.";
    static constexpr std::string_view requestFailedText =
        "macOS didn't let Brisalune ask. Allow it in System Settings \u2192 Notifications.";
    static constexpr std::string_view notRegisteredPrefix = "Not registered for push: ";
    static constexpr std::string_view onText = "Notifications on for all your teams";
    static constexpr std::string_view registeringText = "Registering for push\u2026";
    // No platform push service: the app's own notifications stand in for pushed ones.
    static constexpr std::string_view localText =
        "Brisalune itself notifies you of each new firing alert of the team shown, checking every 5 minutes and "
        "each time this menu opens.";

    PushStatusRow(PushState& push, const MenuEnvironment& environment, QWidget* parent = nullptr);

private:
    void follow();

    PushState& push_;
    const MenuEnvironment& environment_;
    QLabel* message_;
    QWidget* on_;
    QLabel* onText_;
    QPushButton* settings_;
    QPushButton* turnOn_;
};

}  // namespace brisalune
