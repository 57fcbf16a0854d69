#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/boxes/box_link.hpp>
#include <brisalune/client/boxes/endpoints.hpp>
#include <brisalune/client/detail/url_paths.hpp>
#include <brisalune/client/team/endpoints.hpp>

namespace brisalune {

BoxConnectionError BoxConnectionError::boxUnusable(std::string message) {
    return {Case::boxUnusable, std::move(message)};
}

BoxConnectionError BoxConnectionError::boxHasNoTenants() {
    return {
        Case::boxHasNoTenants,
        "That box account is not a member of any tenant on the box. Ask whoever runs it to add you, or to issue "
        "a pairing code instead."};
}

BoxConnectionError BoxConnectionError::pairingRefused() {
    return {
        Case::pairingRefused,
        "The hosted service did not pair this team with that box, so nothing was changed. If the team is moving "
        "to a new box, ask its owner to remove the current pairing first."};
}

BoxConnectionError BoxConnectionError::signInEnded() {
    return {Case::signInEnded, "That box sign-in belonged to a session that has ended. Sign in to the box again."};
}

BoxConnectionError BoxConnectionError::sessionEnded() {
    return {
        Case::sessionEnded,
        "The session this began in has ended, so this computer kept nothing of the box. Sign in and try again."};
}

BoxConnectionError BoxConnectionError::sessionEnding() {
    return {
        Case::sessionEnded,
        "Brisalune is signing out of the session this began in, so this computer kept nothing of the box."};
}

BoxConnectionError BoxConnectionError::boxMoved() {
    return {
        Case::boxMoved,
        "This team moved to another box while you were signing in, so this computer kept no key from the box you "
        "signed in to. Sign in to the team's box again."};
}

BoxConnectionError BoxConnectionError::joinMoved() {
    return {
        Case::boxMoved,
        "This team moved to another box while this computer was joining it, so it kept no key from the box you "
        "joined. Ask for a join code of the team's new box, or sign in to it."};
}

namespace {

// The hosted service pairs the team with this box account, or keeps the pairing it has: only
// its answer counts. A box may name any account id, and an older pairing of the same hosted
// account says nothing about which box it links.
TenantPairing pairWithHostedTeam(const BoxLink& link, std::string_view hostedTenantId, const BoxPairing& redeemed) {
    TenantPairing pairing = pairTenant(*link.accountClient, hostedTenantId, redeemed.boxAccountId, redeemed.receipt);
    if (!pairing.paired || pairing.boxAccountId != redeemed.boxAccountId) throw BoxConnectionError::pairingRefused();
    return pairing;
}

// Points the box's relay at the hosted service, when the pairing came with relay credentials
// and an account is still signed in.
void installRelay(
    const BoxLink& link,
    const TenantPairing& pairing,
    const BoxPairing& redeemed,
    std::string_view hostedTenantId,
    const platform::Url& boxAddress) {
    if (!pairing.relayKeyId || !pairing.relaySecret) return;
    auto account = link.account();
    if (!account) return;
    auto relayURL = detail::appendingPathSegments(account->accountHost, {"v1", "relay", *pairing.relayKeyId});
    if (!relayURL) throw BrisaluneError::transport("malformed URL");
    auto dataClient = link.clientFactory(boxAddress, std::nullopt, redeemed.apiKey);
    setRelay(*dataClient, *relayURL, *pairing.relaySecret, std::string(hostedTenantId), boxAddress);
}

}  // namespace

BoxPairing redeemBoxCode(
    const BoxLink& link,
    std::string_view pairingCode,
    const std::optional<std::string>& displayName,
    const platform::Url& boxAddress,
    const std::optional<SeatCredentials>& seat) {
    // No hosted account to pair with: the code is not spent on the box for nothing.
    if (!link.accountClient) throw BoxConnectionError::sessionEnded();
    auto boxClient = link.clientFactory(boxAddress, std::nullopt, std::nullopt);
    return redeemPairingCode(
        *boxClient,
        pairingCode,
        displayName,
        seat ? std::optional(seat->email) : std::nullopt,
        seat ? std::optional(seat->password) : std::nullopt);
}

BoxConnection finishBoxPairing(
    const BoxLink& link, std::string_view hostedTenantId, const BoxPairing& redeemed, const platform::Url& boxAddress) {
    const TenantPairing pairing = pairWithHostedTeam(link, hostedTenantId, redeemed);
    installRelay(link, pairing, redeemed, hostedTenantId, boxAddress);
    return {.host = boxAddress, .key = redeemedKey(redeemed)};
}

TenantKey redeemedKey(const BoxPairing& redeemed) {
    return {.keyId = redeemed.apiKeyId, .apiKey = redeemed.apiKey, .tenantId = redeemed.tenantId};
}

BoxConnection pairBox(
    const BoxLink& link,
    std::string_view hostedTenantId,
    std::string_view pairingCode,
    const std::optional<std::string>& displayName,
    const platform::Url& boxAddress,
    const std::optional<SeatCredentials>& seat) {
    const BoxPairing redeemed = redeemBoxCode(link, pairingCode, displayName, boxAddress, seat);
    return finishBoxPairing(link, hostedTenantId, redeemed, boxAddress);
}

BoxSignIn signInToBox(
    const BoxLink& link,
    std::string_view hostedTenantId,
    const platform::Url& boxAddress,
    std::string_view email,
    std::string_view password) {
    auto boxClient = link.clientFactory(boxAddress, std::nullopt, std::nullopt);
    boxClient->setSessionToken(login(*boxClient, email, password).token);
    // The box session is the box's to end, also when the account read fails or is not sent.
    const auto endBoxSession = [&] {
        const ClientFactory& ending = link.endingFactory ? link.endingFactory : link.clientFactory;
        signOutOfBox(*ending(boxAddress, boxClient->sessionToken(), std::nullopt));
    };
    MeResponse boxAccount;
    try {
        boxAccount = me(*boxClient);
    } catch (...) {
        endBoxSession();
        throw;
    }
    if (boxAccount.memberships.empty()) {
        endBoxSession();
        throw BoxConnectionError::boxHasNoTenants();
    }
    return {
        .hostedTenantId = std::string(hostedTenantId),
        .boxMemberships = std::move(boxAccount.memberships),
        .client = std::move(boxClient)};
}

void signOutOfBox(const BrisaluneClient& boxClient) noexcept {
    try {
        logout(boxClient);
    } catch (...) {
        // The token dies with its client anyway; the box expires the session in its own time.
    }
}

TenantKey connectBoxTenant(const BoxSignIn& signIn, std::string_view boxTenantId) {
    IssuedKey issued = issueKey(*signIn.client, boxTenantId);
    signOutOfBox(*signIn.client);
    return {.keyId = std::move(issued.id), .apiKey = std::move(issued.apiKey), .tenantId = std::string(boxTenantId)};
}

}  // namespace brisalune
