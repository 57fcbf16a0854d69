#pragma once

// Letting the blocking pools run dry before a test reads the window or ends. A request's
// continuation may start the next request (the projects, then a project's windows), so the pools
// count as settled only once they stay idle across the events that the last one posted.

#include <brisalune/push/await_blocking.hpp>

#include <support/qt_application.hpp>

#include <QCoreApplication>

#include <chrono>

namespace brisalune::testkit {

// False when a pool was still busy after `limit`.
inline bool settlePool(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    do {
        if (!processEventsUntil(blockingCallsIdle, limit)) return false;
        QCoreApplication::processEvents();
    } while (!blockingCallsIdle());
    return true;
}

}  // namespace brisalune::testkit
