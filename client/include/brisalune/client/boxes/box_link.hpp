#pragma once

// Connecting the app to a self-hosted box: joining one with a join code (redeem the code on the
// box, pair the hosted team with the box account, install the hosted relay on the box), and
// signing in to one with box credentials, then issuing a key for the box team the user picks.
//
// The flows block on each request in turn and keep nothing. They never touch the stored
// session: the caller stores what they return under the hosted team's id (the key in
// tenantKeys, the box's address in tenantHosts), and only once the whole flow has succeeded. A
// flow that fails part-way leaves what its finished steps did on the servers.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/boxes/pairing.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/client_factory.hpp>
#include <brisalune/platform/url.hpp>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// A box that cannot be used as asked; what() is the user-facing text.
class BoxConnectionError : public std::exception {
public:
    enum class Case {
        boxUnusable,      // the message says why (the probe's verdict text)
        boxHasNoTenants,  // the box account belongs to no team on the box
        pairingRefused,   // the hosted service kept the team's pairing with another box account
        signInEnded,      // a box sign-in of a session that is no longer the signed-in one
        sessionEnded,     // signed out or in again while a join or a team choice ran: nothing kept
        boxMoved,         // the team left the box signed in to: nothing kept, sign in to its box again
    };

    static BoxConnectionError boxUnusable(std::string message);
    static BoxConnectionError boxHasNoTenants();
    static BoxConnectionError pairingRefused();
    static BoxConnectionError signInEnded();
    static BoxConnectionError sessionEnded();
    // The same case while the sign-out that cut it has not finished: it may yet be refused.
    static BoxConnectionError sessionEnding();
    static BoxConnectionError boxMoved();
    // The same case, told to a join: the team left the box joined to.
    static BoxConnectionError joinMoved();

    Case kind() const noexcept { return case_; }
    bool is(Case c) const noexcept { return case_ == c; }
    const std::string& errorDescription() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    BoxConnectionError(Case c, std::string description) : case_(c), description_(std::move(description)) {}

    Case case_;
    std::string description_;
};

// The e-mail and password the user picks for a seat on the box (a seat join code).
struct SeatCredentials {
    std::string email;
    std::string password;
};

// The signed-in hosted account that a join links the box to.
struct BoxLinkAccount {
    std::string accountId;
    platform::Url accountHost;  // the hosted service's base address
};

// What the box flows need from their caller.
struct BoxLink {
    std::shared_ptr<BrisaluneClient> accountClient;  // the hosted account client, with the session token
    ClientFactory clientFactory;
    // The hosted account signed in right now, or none. Asked anew each time a join needs it,
    // on the thread that runs the join, so a sign-out during a join is seen.
    std::function<std::optional<BoxLinkAccount>()> account;
    // What ends a box session a flow opened and cannot hand over, when clientFactory's clients may
    // have stopped sending (empty: clientFactory).
    ClientFactory endingFactory{};
};

// A joined box: its address and the key the box issued for its team (`tenantId` is the box's
// own id of the team, which may differ from the hosted one).
struct BoxConnection {
    platform::Url host;
    TenantKey key;
};

// A box account that has signed in and waits for the user to pick one of its box teams.
struct BoxSignIn {
    std::string hostedTenantId;
    std::vector<Membership> boxMemberships;   // in the box's order; never empty
    std::shared_ptr<BrisaluneClient> client;  // the box, with the box session token

    const std::string& id() const noexcept { return hostedTenantId; }
};

// Joins a box with a pairing code (the join code's fields; the seat only for a seat code).
// Redeems the code on the box, asks the hosted service to pair the team with the new box
// account and, when the service hands out relay credentials, installs the relay on the box.
// The service decides: an answer that does not pair the team with this box account throws
// pairingRefused, so a team is never moved to another box behind the service's back.
// Otherwise throws the first failing step's BrisaluneError.
BoxConnection pairBox(
    const BoxLink& link,
    std::string_view hostedTenantId,
    std::string_view pairingCode,
    const std::optional<std::string>& displayName,
    const platform::Url& boxAddress,
    const std::optional<SeatCredentials>& seat);

// pairBox in its two halves, for a caller that takes back the box's new key when the second one
// fails: the redemption on the box (sessionEnded without an account client, before the code is
// spent), then the hosted service's pairing and the relay.
BoxPairing redeemBoxCode(
    const BoxLink& link,
    std::string_view pairingCode,
    const std::optional<std::string>& displayName,
    const platform::Url& boxAddress,
    const std::optional<SeatCredentials>& seat);
BoxConnection finishBoxPairing(
    const BoxLink& link, std::string_view hostedTenantId, const BoxPairing& redeemed, const platform::Url& boxAddress);
// The key a redemption gave, for the box's own id of the team.
TenantKey redeemedKey(const BoxPairing& redeemed);

// Signs in to the box for a hosted team and reads the box account's teams. Throws the login's
// or the account read's BrisaluneError, or boxHasNoTenants; a box session it got and does not
// hand over is signed out (through the link's endingFactory).
BoxSignIn signInToBox(
    const BoxLink& link,
    std::string_view hostedTenantId,
    const platform::Url& boxAddress,
    std::string_view email,
    std::string_view password);

// Issues a key on the box for the chosen box team, then signs the box session out: the key is
// all this computer keeps. Throws the key issue's BrisaluneError.
TenantKey connectBoxTenant(const BoxSignIn& signIn, std::string_view boxTenantId);

// Ends the box session that the client carries (POST /v1/logout). Never throws: a failure
// leaves the session to expire on the box.
void signOutOfBox(const BrisaluneClient& boxClient) noexcept;

}  // namespace brisalune
