#include <brisalune/demo/site.hpp>

#include <brisalune/client/team/team.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <algorithm>

namespace brisalune::demo {

namespace {

standin::Reply noContent() {
    standin::Reply reply;
    reply.status = 204;
    return reply;
}

}  // namespace

standin::Reply Site::healthz(const Request&, const PathValues&) {
    std::lock_guard lock(mutex_);
    Healthz health;
    health.role = std::string(kind_ == SiteKind::hosted ? DaemonRole::hosted : DaemonRole::selfHost);
    health.healthy = true;
    health.version = seed_.version;
    health.tenants = static_cast<std::int64_t>(teams_.size());
    const std::optional<std::string>& portal = seed_.portalOrigin ? seed_.portalOrigin : addresses_.portal;
    if (portal) health.portalOrigin = platform::Url::parse(*portal);
    return Reply::json(json::encode(health));
}

standin::Reply Site::login(const Request& request, const PathValues&) {
    const auto credentials = json::decode<CredentialsBody>(request.body);
    std::lock_guard lock(mutex_);
    auto account = std::ranges::find_if(accounts_, [&](const AccountRecord& a) {
        return a.account.email == credentials.email && a.password == credentials.password;
    });
    if (account == accounts_.end()) throw Refusal{401, "wrong e-mail address or password"};
    std::string token = "sess_" + randomHex(20);
    sessions_[token] = account->account.id;
    return Reply::json(json::encode(AuthResponse{account->account, std::move(token)}));
}

standin::Reply Site::logout(const Request& request, const PathValues&) {
    std::lock_guard lock(mutex_);
    caller(request);
    sessions_.erase(*bearer(request));
    return noContent();
}

standin::Reply Site::me(const Request& request, const PathValues&) {
    std::lock_guard lock(mutex_);
    return Reply::json(json::encode(MeResponse{caller(request).account, memberships()}));
}

standin::Reply Site::tenants(const Request& request, const PathValues&) {
    std::lock_guard lock(mutex_);
    caller(request);
    return Reply::json(json::encode(TenantsResponse{memberships()}));
}

standin::Reply Site::issueKey(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    caller(request);
    IssuedKey key;
    key.apiKey = issueKeyFor(team(values.at("tenant")).id, key.id);
    return Reply::json(json::encode(key));
}

standin::Reply Site::revokeKey(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    caller(request);
    const auto removed = std::erase_if(keys_, [&](const auto& entry) {
        return entry.second.id == values.at("key") && entry.second.teamId == values.at("tenant");
    });
    if (removed == 0) throw Refusal{404, "no such key"};
    return noContent();
}

standin::Reply Site::registerDevice(const Request& request, const PathValues&) {
    const auto body = json::decode<RegisterDeviceBody>(request.body);
    std::lock_guard lock(mutex_);
    auto& devices = devices_[caller(request).account.id];
    const auto seen = now();
    auto known = std::ranges::find(devices, body.token, &Device::token);
    if (known == devices.end()) {
        devices.push_back({body.token, body.platform, seen, seen});
    } else {
        known->platform = body.platform;
        known->lastSeenAt = seen;
    }
    return Reply::json(json::encode(RegisteredResponse{true}));
}

standin::Reply Site::devices(const Request& request, const PathValues&) {
    std::lock_guard lock(mutex_);
    return Reply::json(json::encode(DevicesResponse{devices_[caller(request).account.id]}));
}

standin::Reply Site::deleteDevice(const Request& request, const PathValues& values) {
    std::lock_guard lock(mutex_);
    auto& devices = devices_[caller(request).account.id];
    if (std::erase_if(devices, [&](const Device& d) { return d.token == values.at("device"); }) == 0) {
        throw Refusal{404, "no such device"};
    }
    return noContent();
}

}  // namespace brisalune::demo
