#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/core/client.hpp>

namespace brisalune {

IssuedKey issueKey(const BrisaluneClient& client, std::string_view tenant) {
    return fetch<IssuedKey>(client, {.method = "POST", .path = "/v1/tenants/" + escapedPathSegment(tenant) + "/keys"});
}

void revokeKey(const BrisaluneClient& client, std::string_view tenant, std::string_view id) {
    perform(client, {.method = "DELETE",
                    .path = "/v1/tenants/" + escapedPathSegment(tenant) + "/keys/" + escapedPathSegment(id)});
}

}  // namespace brisalune
