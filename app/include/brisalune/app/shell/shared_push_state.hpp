#pragma once

// The one push state of the process: this desktop's push host, the device-registration ledger and
// the pending-acknowledgement store in the standard user defaults, the desktop's notification
// service. Made on first use (after the QApplication), never released. Main thread only.

#include <brisalune/push/push_state.hpp>

namespace brisalune {

PushState& sharedPushState();

}  // namespace brisalune
