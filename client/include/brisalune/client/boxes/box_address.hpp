#pragma once

// Whether what is sent to a box's address can be read on the way there. A box on a LAN may well
// speak plain http; the forms that send a password to it say so before anything is sent.

#include <brisalune/platform/url.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

// "localhost", an IPv4 address in 127.0.0.0/8 in canonical dotted form, or "[::1]" (letter case
// aside): the transport reaches it without a name lookup, and the traffic never leaves this
// machine.
bool isLoopbackHost(std::string_view host);

// Plain http to a host other than loopback: passwords, keys and secrets sent there travel
// unencrypted.
bool sendsInClear(const platform::Url& address);

// The warning line for such an address; none when the address is https or loopback.
std::optional<std::string> clearTextWarning(const platform::Url& address);

// The address as a request reaches it: without a user-info part ("name:secret@" before the
// host), which names no host but goes to the host as a user name.
std::string addressReached(const platform::Url& address);

// The line that calls out such a user-info part and names the host the address reaches; none
// without one.
std::optional<std::string> userInfoWarning(const platform::Url& address);

// Same scheme, host (letter case aside), port and path: the same box, where a key issued by one
// is good. Trailing slashes aside, as the client drops them before it adds a request's path.
bool sameBox(const platform::Url& a, const platform::Url& b);

}  // namespace brisalune
