#pragma once

// One-time tokens the service mails to confirm a sign-up, an e-mail change or a password
// reset: how an answer says one was mailed, and how it says one was refused.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/errors.hpp>

#include <string_view>

namespace brisalune {

// Whether the text holds "token" or "tokens" as a whole word, in any letter case (letters,
// digits and "_" are word characters).
bool mentionsTokenWord(std::string_view text);

// Whether a non-2xx answer refuses the token its request carried: status 400, 404, 409, 410 or
// 422 with a non-blank error text that names the token, and no field error beyond that text.
bool refusesToken(const Answer& answer);

// Returns a 2xx answer; otherwise throws `refused()` when the answer refuses the token, else the
// ordinary mapped error.
Answer requireTokenAccepted(Answer answer, BrisaluneError (*refused)());

// Whether a 2xx answer says a token was mailed instead of completing at once: status 202
// (whatever the body), or a body whose "verification" holds any text.
bool tokenMailed(const Answer& answer);

}  // namespace brisalune
