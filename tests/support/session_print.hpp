#pragma once

// Readable test failures for session loads.

#include <brisalune/client/accounts/session.hpp>

#include <ostream>

namespace brisalune {

inline void PrintTo(const SessionLoad& load, std::ostream* out) {
    switch (load.kind()) {
        case SessionLoad::Case::present: *out << "present " << json::encode(*load.session()); break;
        case SessionLoad::Case::absent: *out << "absent"; break;
        case SessionLoad::Case::unreadable: *out << "unreadable"; break;
    }
}

}  // namespace brisalune
