#include <brisalune/client/answers.hpp>
#include <brisalune/client/client.hpp>

namespace brisalune {

IssuedKey BrisaluneClient::issueKey(std::string_view tenant) const {
    return fetch<IssuedKey>(*this, {.method = "POST", .path = "/v1/tenants/" + escapedPathSegment(tenant) + "/keys"});
}

void BrisaluneClient::revokeKey(std::string_view tenant, std::string_view id) const {
    perform(*this, {.method = "DELETE",
                    .path = "/v1/tenants/" + escapedPathSegment(tenant) + "/keys/" + escapedPathSegment(id)});
}

}  // namespace brisalune
