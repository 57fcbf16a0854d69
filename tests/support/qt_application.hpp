#pragma once

// The one QCoreApplication of a test program, made on first use; D-Bus, timers and coroutines
// on the main thread need it.

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>

namespace brisalune::testkit {

// The program's application: one a widget test program made first (see qt_widgets_application.hpp),
// else a core one made here.
inline QCoreApplication& coreApplication() {
    if (auto* existing = QCoreApplication::instance()) return *existing;
    static int argc = 1;
    static char name[] = "brisalune-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

// Runs the event loop until `done` holds; false when `limit` passed first.
template <class F>
bool processEventsUntil(F done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    coreApplication();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace brisalune::testkit
