#pragma once

// "Sign out" as this computer keeps it until the sign-out has ended here: written before its first
// call, so that a sign-out the program does not live to finish (the display lost, SIGKILL, a
// crash, the power) is finished by the next start. It names the session itself by a digest of
// its token, never the token: the same account signed in again is another session. It lives in
// the settings file, written as every setting is (staged, synced, renamed).

#include <brisalune/client/accounts/session.hpp>
#include <brisalune/platform/defaults.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

class SignOutRecord {
public:
    static constexpr std::string_view key = "brisalune.signing-out";

    enum class Found { none, thisSession, anotherSession, unreadable };

    // What the record holds for `session`.
    static std::string of(const StoredSession& session);
    // Throws what a settings write throws.
    static void write(platform::Defaults& defaults, const StoredSession& session);
    // Whether the record there names `session` (a record with no session held names another).
    static Found find(const platform::Defaults& defaults, const std::optional<StoredSession>& session);
    // Throws what a settings write throws; writes nothing when there is no record.
    static void erase(platform::Defaults& defaults);
};

}  // namespace brisalune
