#pragma once

// Revoking every team key of the stored session at sign-out, each on the server that issued
// it, and reporting the keys that could not be shown to be revoked or dead.

#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/client_factory.hpp>
#include <brisalune/platform/url.hpp>

#include <optional>
#include <string>
#include <vector>

namespace brisalune {

namespace KeyRevocation {

// A key that sign-out did not show to be revoked or dead.
struct Survivor {
    std::string tenantId;  // its entry in tenantKeys
    std::string keyId;
    std::optional<platform::Url> host;  // the team's box; none for a hosted team

    friend bool operator==(const Survivor&, const Survivor&) = default;
};

// Tries every key of `session.tenantKeys` side by side, each on a thread of its own, so that a
// server that holds one key's requests keeps no other key from being tried: the revoke, then,
// when the revoke is refused, a one-project page with the key itself to see whether it still
// works. A hosted team's key is revoked through `accountClient`; a box team's by the key itself,
// on the data plane and under the box's own id of the team (`TenantKey::tenantId`): no box
// session is held here, so a box that wants one refuses, and the probe decides. The factory is
// called in the caller's thread only. Never throws for a failed request; changes nothing.
std::vector<Survivor> revokeAll(
    const StoredSession& session, const BrisaluneClient& accountClient, const ClientFactory& clientFactory);

}  // namespace KeyRevocation

}  // namespace brisalune
