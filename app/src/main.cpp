// The tray application: one per user, the delegate first, then the tray scene, then start-up. The
// desktop's ways of ending it are a quit like the menu's from the first moment.

#include <brisalune/app/shell/app_delegate.hpp>
#include <brisalune/app/shell/instance_beacon.hpp>
#include <brisalune/app/shell/instance_lock.hpp>
#include <brisalune/app/shell/quit_signals.hpp>
#include <brisalune/app/ui/menu_bar_extra.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>

namespace {

int run(int argc, char** argv) {
    using namespace brisalune;
    QuitSignals::install();
    const std::filesystem::path lockFile = InstanceLock::standardFile();
    const std::optional<InstanceLock> lock = InstanceLock::acquire(lockFile);
    if (!lock) {  // another one runs: it owns the settings, and shows its window for this start
        const bool shown = InstanceBeacon::ring(InstanceBeacon::fileFor(lockFile));
        std::fprintf(stderr, "brisalune: already running%s\n", shown ? ": its window is brought up" : "");
        return 0;
    }

    QApplication application(argc, argv);
    ui::installWheelGuard();
    ui::installListKeyGuard();
    QApplication::setApplicationName(QStringLiteral("Brisalune"));
    QApplication::setQuitOnLastWindowClosed(false);
    QuitSignals::quitOn(application);

    MacAppDelegate delegate(MacAppDelegate::Setup::standard());
    MenuBarExtra scene({.model = delegate.model(), .updates = delegate.updates()}, delegate.windows());
    QObject::connect(
        &application, &QCoreApplication::aboutToQuit, &delegate, &MacAppDelegate::applicationWillTerminate);
    InstanceBeacon beacon(InstanceBeacon::fileFor(lockFile));
    QObject::connect(&beacon, &InstanceBeacon::rung, &scene, &MenuBarExtra::openMenu);
    scene.show();
    QTimer::singleShot(0, &delegate, &MacAppDelegate::applicationDidFinishLaunching);
    const int status = MacAppDelegate::finishQuitting(QApplication::exec());
    QuitSignals::clearUpEnded();
    return status;
}

}  // namespace

// What keeps the app from starting (no home folder, a lock that cannot be made) is said in words.
int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brisalune: %s\n", error.what());
        return 1;
    }
}
