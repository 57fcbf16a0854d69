#include <brisalune/app/ui/menu_environment.hpp>

#include <brisalune/app/shell/app_config.hpp>
#include <brisalune/app/ui/notices.hpp>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include <utility>
#include <vector>

namespace brisalune {

std::string MenuEnvironment::publicWebDomain() {
    return MacAppConfig::appPageURL().host().value_or(MacAppConfig::appPageURL().text());
}

platform::Url MenuEnvironment::updateFallbackURL() { return MacAppConfig::appPageURL(); }

void MenuEnvironment::openInBrowser(const platform::Url& url) { QDesktopServices::openUrl(QUrl(qText(url.text()))); }

bool MenuEnvironment::openDesktopNotificationSettings() {
    // Each desktop opens its notification pane by a program of its own; the first one present wins.
    const std::vector<std::pair<QString, QStringList>> panes = {
        {QStringLiteral("gnome-control-center"), {QStringLiteral("notifications")}},
        {QStringLiteral("systemsettings"), {QStringLiteral("kcm_notifications")}},
        {QStringLiteral("xfce4-notifyd-config"), {}},
    };
    for (const auto& [program, arguments] : panes) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty() && QProcess::startDetached(path, arguments)) return true;
    }
    return false;
}

void MenuEnvironment::quitApplication() { QCoreApplication::quit(); }

}  // namespace brisalune
