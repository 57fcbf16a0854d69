#include <brisalune/app/ui/menu_environment.hpp>

#include <brisalune/app/shell/app_config.hpp>
#include <brisalune/app/ui/notices.hpp>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <utility>
#include <vector>

namespace brisalune {

std::string MenuEnvironment::publicWebDomain() {
    return MacAppConfig::appPageURL().host().value_or(MacAppConfig::appPageURL().text());
}

platform::Url MenuEnvironment::updateFallbackURL() { return MacAppConfig::appPageURL(); }

void MenuEnvironment::openInBrowser(const platform::Url& url) { QDesktopServices::openUrl(QUrl(qText(url.text()))); }

namespace {

// A desktop's notification settings: the program that opens them, found on PATH.
struct SettingsProgram {
    QString path;
    QStringList arguments;
};

std::optional<SettingsProgram> notificationSettingsProgram() {
    struct Pane {
        const char* desktop;  // as XDG_CURRENT_DESKTOP names it
        const char* program;
        QStringList arguments;
    };
    const std::vector<Pane> panes = {
        {"GNOME", "gnome-control-center", {QStringLiteral("notifications")}},
        {"Unity", "gnome-control-center", {QStringLiteral("notifications")}},
        {"KDE", "systemsettings", {QStringLiteral("kcm_notifications")}},
        {"XFCE", "xfce4-notifyd-config", {}},
        {"X-Cinnamon", "cinnamon-settings", {QStringLiteral("notifications")}},
        {"MATE", "mate-notification-properties", {}},
        {"LXQt", "lxqt-config-notificationd", {}},
    };
    // A list such as "ubuntu:GNOME"; the first desktop with a program present wins.
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& desktop : desktops) {
        for (const Pane& pane : panes) {
            if (desktop.compare(QLatin1String(pane.desktop), Qt::CaseInsensitive) != 0) continue;
            const QString path = QStandardPaths::findExecutable(QString::fromLatin1(pane.program));
            if (!path.isEmpty()) return SettingsProgram{path, pane.arguments};
        }
    }
    return std::nullopt;
}

}  // namespace

bool MenuEnvironment::openDesktopNotificationSettings() {
    const std::optional<SettingsProgram> program = notificationSettingsProgram();
    return program && QProcess::startDetached(program->path, program->arguments);
}

bool MenuEnvironment::desktopHasNotificationSettings() { return notificationSettingsProgram().has_value(); }

void MenuEnvironment::quitApplication() { QCoreApplication::quit(); }

}  // namespace brisalune
