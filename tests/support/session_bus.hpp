#pragma once

namespace brisalune::testkit {

// The configuration file of every private D-Bus session a test starts (dbus-daemon
// --config-file): no service folders, so only the services the test starts itself answer on it,
// never a daemon the machine has installed.
const char* sessionBusConfig();

}  // namespace brisalune::testkit
