#include <brisalune/client/team/endpoints.hpp>

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/detail/calls.hpp>

namespace brisalune {

namespace {

struct KeysResponse {
    std::vector<APIKeyInfo> keys;
};

std::string keysPath(std::string_view tenant) { return tenantPath(tenant) + "/keys"; }

}  // namespace

template <>
inline constexpr auto json::keys<KeysResponse> = json::object(json::field("keys", &KeysResponse::keys));

std::vector<APIKeyInfo> listKeys(const BrisaluneClient& client, std::string_view tenant) {
    return fetch<KeysResponse>(client, {.method = "GET", .path = keysPath(tenant)}).keys;
}

IssuedKey issueKey(const BrisaluneClient& client, std::string_view tenant) {
    return fetch<IssuedKey>(client, {.method = "POST", .path = keysPath(tenant)});
}

void revokeKey(const BrisaluneClient& client, std::string_view tenant, std::string_view id) {
    perform(client, {.method = "DELETE", .path = keysPath(tenant) + segment(id)});
}

}  // namespace brisalune
