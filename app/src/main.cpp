// The tray application: one per user, the delegate first, then the tray scene, then start-up.

#include <brisalune/app/shell/app_delegate.hpp>
#include <brisalune/app/shell/instance_lock.hpp>
#include <brisalune/app/ui/menu_bar_extra.hpp>

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <optional>

int main(int argc, char** argv) {
    using namespace brisalune;
    std::optional<InstanceLock> lock;
    try {
        lock = InstanceLock::acquire();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brisalune: %s\n", error.what());
        return 1;
    }
    if (!lock) {  // another one runs: it owns the settings
        std::fprintf(stderr, "brisalune: already running\n");
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brisalune"));
    QApplication::setQuitOnLastWindowClosed(false);

    MacAppDelegate delegate(MacAppDelegate::Setup::standard());
    MenuBarExtra scene({.model = delegate.model(), .updates = delegate.updates()}, delegate.windows());
    QObject::connect(
        &application, &QCoreApplication::aboutToQuit, &delegate, &MacAppDelegate::applicationWillTerminate);
    scene.show();
    QTimer::singleShot(0, &delegate, &MacAppDelegate::applicationDidFinishLaunching);
    return MacAppDelegate::finishQuitting(QApplication::exec());
}
