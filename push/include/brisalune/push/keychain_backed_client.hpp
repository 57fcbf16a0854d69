#pragma once

// A client for one team's data, built straight from the session stored in the keychain, for
// when the push module acknowledges an alert without the application model. Only reads the
// stored session.

#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/core/client.hpp>

#include <memory>
#include <optional>
#include <string>

namespace brisalune::KeychainBackedClient {

struct TenantClient {
    std::shared_ptr<BrisaluneClient> client;  // carries the team's key and no session token
    std::optional<std::string> tenantId;      // the team the client serves
};

// The given team when the stored session holds its key, else the active team; both parts none
// when there is no readable session, no team or no key for it. Blocks on the keychain: call it
// off the main thread.
TenantClient clientForTenant(const std::optional<std::string>& tenantId, SessionStoring& sessions);

}  // namespace brisalune::KeychainBackedClient
