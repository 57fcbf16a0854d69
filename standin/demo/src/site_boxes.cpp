#include <brisalune/demo/site.hpp>

#include <brisalune/platform/json_decode.hpp>

#include <algorithm>

namespace brisalune::demo {

namespace {

constexpr std::int64_t defaultCodeLifetime = 24 * 60 * 60;

}  // namespace

// ---- on the hosted service ---------------------------------------------------------------------

standin::Reply Site::pairings(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    caller(request);
    return Reply::json(json::encode(PairingsResponse{pairings_[team(values.at("tenant")).id]}));
}

standin::Reply Site::pairTenant(const Request& request, const PathValues& values) {
    const auto body = json::decode<TenantPairBody>(request.body);
    if (body.boxAccountId.empty() || body.receipt.empty())
        throw Refusal{400, "box_account_id and receipt are required"};
    std::lock_guard lock(mutex_);
    const auto& account = caller(request).account;
    // A team is paired with one box at a time: a new pairing ends the one before.
    auto& pairings = pairings_[team(values.at("tenant")).id];
    for (auto& earlier : pairings)
        if (earlier.isActive()) earlier.revokedAt = now();
    pairings.push_back({account.id, body.boxAccountId, now(), std::nullopt});
    TenantPairing pairing{true, body.boxAccountId, "rk_" + std::to_string(++serial_), randomHex(24)};
    return Reply::json(json::encode(pairing));
}

// ---- on the box --------------------------------------------------------------------------------

standin::Reply Site::redeem(const Request& request, const PathValues&) {
    const auto body = json::decode<PairRedeemBody>(request.body);
    std::lock_guard lock(mutex_);
    PairingCode code{pairing_.boxTeam, false, 0};
    if (body.code != pairing_.code) {
        auto minted = pairingCodes_.find(body.code);
        if (minted == pairingCodes_.end() || minted->second.expiresAt < now().time_since_epoch().count()) {
            throw Refusal{404, "unknown or expired pairing code"};
        }
        code = minted->second;
    }
    const auto& teamId = team(code.teamId).id;
    Account account{"bxa_" + std::to_string(++serial_), "", body.displayName};
    std::string password = randomHex(16);  // a paired account signs in through its hosted account only
    if (code.seat) {
        if (!body.email || body.email->empty() || !body.password || body.password->empty()) {
            throw Refusal{400, "a seat needs an e-mail address and a password"};
        }
        if (std::ranges::any_of(accounts_, [&](const auto& a) { return a.account.email == *body.email; })) {
            throw Refusal{409, "that e-mail address already has an account on this box"};
        }
        account.email = *body.email;
        password = *body.password;
    } else {
        account.email = account.id + "@paired.box";
    }
    accounts_.push_back({account, password});
    BoxPairing pairing;
    pairing.apiKey = issueKeyFor(teamId, pairing.apiKeyId);
    pairing.tenantId = teamId;
    pairing.boxAccountId = account.id;
    pairing.receipt = "rcpt_" + randomHex(16);
    return Reply::json(json::encode(pairing));
}

standin::Reply Site::setRelay(const Request& request, const PathValues&) {
    auto body = json::decode<SetRelayBody>(request.body);
    std::lock_guard lock(mutex_);
    keyTeam(request);
    relay_ = std::move(body);
    return Reply::json(json::encode(SetRelayResponse{relay_->relayURL}));
}

standin::Reply Site::relayStatus(const Request& request, const PathValues&) {
    std::lock_guard lock(mutex_);
    const auto& team = keyTeam(request);
    RelayStatus status;
    status.configured = relay_.has_value();
    if (relay_) {
        status.relayURL = relay_->relayURL;
        status.enabled = true;
        status.projects.emplace();
        for (const auto& project : team.projects) {
            status.projects->push_back({project, relay_->relayURL, true, std::nullopt, 0});
        }
    }
    return Reply::json(json::encode(status));
}

standin::Reply Site::mintPairingCode(const Request& request, const PathValues&) {
    const auto body = json::decode<CreatePairingCodeBody>(request.body);
    std::lock_guard lock(mutex_);
    const auto& team = keyTeam(request);
    const auto lifetime = body.ttlSeconds.value_or(defaultCodeLifetime);
    MintedPairingCode minted{
        "pc_" + randomHex(12), std::nullopt, body.role, body.email, now().time_since_epoch().count() + lifetime};
    pairingCodes_[minted.code] = {team.id, true, minted.expiresAt};
    minted.joinCode = joinCode(minted.code, true);
    return Reply::json(json::encode(minted));
}

}  // namespace brisalune::demo
