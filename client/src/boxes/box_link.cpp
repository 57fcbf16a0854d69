#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/boxes/box_link.hpp>
#include <brisalune/client/boxes/endpoints.hpp>
#include <brisalune/client/detail/url_paths.hpp>
#include <brisalune/client/team/endpoints.hpp>

#include <algorithm>

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

namespace {

// Whether the hosted team already has an active pairing with the signed-in account. Any
// failure to tell counts as "no".
bool alreadyPaired(const BoxLink& link, std::string_view hostedTenantId) {
    auto account = link.account();
    if (!account) return false;
    std::vector<Pairing> pairings;
    try {
        pairings = listPairings(*link.accountClient, hostedTenantId);
    } catch (const std::exception&) {
        return false;
    }
    return std::any_of(pairings.begin(), pairings.end(), [&](const Pairing& pairing) {
        return pairing.accountId == account->accountId && pairing.isActive();
    });
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

BoxConnection pairBox(
    const BoxLink& link,
    std::string_view hostedTenantId,
    std::string_view pairingCode,
    const std::optional<std::string>& displayName,
    const platform::Url& boxAddress,
    const std::optional<SeatCredentials>& seat) {
    auto boxClient = link.clientFactory(boxAddress, std::nullopt, std::nullopt);
    BoxPairing redeemed = redeemPairingCode(
        *boxClient,
        pairingCode,
        displayName,
        seat ? std::optional(seat->email) : std::nullopt,
        seat ? std::optional(seat->password) : std::nullopt);
    if (!alreadyPaired(link, hostedTenantId)) {
        TenantPairing pairing =
            pairTenant(*link.accountClient, hostedTenantId, redeemed.boxAccountId, redeemed.receipt);
        installRelay(link, pairing, redeemed, hostedTenantId, boxAddress);
    }
    return {
        .host = boxAddress,
        .key = {.keyId = redeemed.apiKeyId, .apiKey = redeemed.apiKey, .tenantId = redeemed.tenantId}};
}

BoxSignIn signInToBox(
    const BoxLink& link,
    std::string_view hostedTenantId,
    const platform::Url& boxAddress,
    std::string_view email,
    std::string_view password) {
    auto boxClient = link.clientFactory(boxAddress, std::nullopt, std::nullopt);
    boxClient->setSessionToken(login(*boxClient, email, password).token);
    MeResponse boxAccount = me(*boxClient);
    if (boxAccount.memberships.empty()) throw BoxConnectionError::boxHasNoTenants();
    return {
        .hostedTenantId = std::string(hostedTenantId),
        .boxMemberships = std::move(boxAccount.memberships),
        .client = std::move(boxClient)};
}

TenantKey connectBoxTenant(const BoxSignIn& signIn, std::string_view boxTenantId) {
    IssuedKey issued = issueKey(*signIn.client, boxTenantId);
    return {.keyId = std::move(issued.id), .apiKey = std::move(issued.apiKey), .tenantId = std::string(boxTenantId)};
}

}  // namespace brisalune
