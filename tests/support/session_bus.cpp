#include <support/session_bus.hpp>

namespace brisalune::testkit {

const char* sessionBusConfig() { return BRISALUNE_SESSION_BUS_CONFIG; }

}  // namespace brisalune::testkit
