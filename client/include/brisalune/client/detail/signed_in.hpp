#pragma once

// The one check every answer that signs someone in passes. Endpoint sources only.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/core/errors.hpp>

#include <utility>

namespace brisalune {

// An answer without a session token signs nobody in: kept, it would read as signed in until the
// first request was refused.
inline AuthResponse signedIn(AuthResponse answer) {
    if (answer.token.empty()) throw BrisaluneError::invalidResponse("The sign-in answer carried no session token.");
    return answer;
}

}  // namespace brisalune
