// The tray application: one per user, the delegate first, then the tray scene, then start-up.

#include <brisalune/app/shell/app_delegate.hpp>
#include <brisalune/app/shell/instance_beacon.hpp>
#include <brisalune/app/shell/instance_lock.hpp>
#include <brisalune/app/ui/menu_bar_extra.hpp>

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>

int main(int argc, char** argv) {
    using namespace brisalune;
    std::optional<InstanceLock> lock;
    const std::filesystem::path lockFile = InstanceLock::standardFile();
    try {
        lock = InstanceLock::acquire(lockFile);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brisalune: %s\n", error.what());
        return 1;
    }
    if (!lock) {  // another one runs: it owns the settings, and shows its window for this start
        const bool shown = InstanceBeacon::ring(InstanceBeacon::fileFor(lockFile));
        std::fprintf(stderr, "brisalune: already running%s\n", shown ? ": its window is brought up" : "");
        return 0;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brisalune"));
    QApplication::setQuitOnLastWindowClosed(false);

    MacAppDelegate delegate(MacAppDelegate::Setup::standard());
    MenuBarExtra scene({.model = delegate.model(), .updates = delegate.updates()}, delegate.windows());
    QObject::connect(
        &application, &QCoreApplication::aboutToQuit, &delegate, &MacAppDelegate::applicationWillTerminate);
    InstanceBeacon beacon(InstanceBeacon::fileFor(lockFile));
    QObject::connect(&beacon, &InstanceBeacon::rung, &scene, &MenuBarExtra::openMenu);
    scene.show();
    QTimer::singleShot(0, &delegate, &MacAppDelegate::applicationDidFinishLaunching);
    return MacAppDelegate::finishQuitting(QApplication::exec());
}
