#pragma once

// The one QApplication of a widget test program, made on first use. Without a display of its
// own the tests draw off screen.

#include <QApplication>
#include <QInputDevice>
#include <QtGlobal>

namespace brisalune::testkit {

inline QApplication& widgetsApplication() {
    static int argc = 1;
    static char name[] = "brisalune-app-tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's list of input devices must outlive the application, which deletes the devices that
    // synthesised key events made: so it is made first (statics end in reverse order).
    static const auto devices = QInputDevice::devices();
    static QApplication application(argc, argv);
    return application;
}

}  // namespace brisalune::testkit
