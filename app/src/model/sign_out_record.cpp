#include <brisalune/app/model/sign_out_record.hpp>

#include <brisalune/platform/sha256.hpp>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace brisalune {

std::string SignOutRecord::of(const StoredSession& session) { return platform::sha256Hex(session.sessionToken); }

void SignOutRecord::write(platform::Defaults& defaults, const StoredSession& session) {
    defaults.set(key, of(session));
}

SignOutRecord::Found SignOutRecord::find(
    const platform::Defaults& defaults, const std::optional<StoredSession>& session) {
    // A value that does not decode reads as absent, yet its key is listed.
    const std::optional<std::string> named = defaults.string(key);
    if (!named) {
        const std::vector<std::string> keys = defaults.keys();
        return std::ranges::find(keys, key) != keys.end() ? Found::unreadable : Found::none;
    }
    const auto digit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (named->size() != 64 || !std::ranges::all_of(*named, digit)) return Found::unreadable;
    return session && *named == of(*session) ? Found::thisSession : Found::anotherSession;
}

void SignOutRecord::erase(platform::Defaults& defaults) { defaults.remove(key); }

}  // namespace brisalune
