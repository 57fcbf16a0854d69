#pragma once

// The demo's first hosted account signed in with a key for one of its teams, which is active:
// what the app keeps once a person has signed in and chosen that team.

#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/team/endpoints.hpp>
#include <brisalune/demo/demo_service.hpp>

#include <string>

namespace brisalune::testkit {

inline StoredSession demoSession(const demo::DemoService& demo, const std::string& tenantId = "acme-ops") {
    const platform::Url hosted = *platform::Url::parse(demo.hostedUrl());
    const demo::AccountSeed& account = demo.fixture().hosted.accounts.front();
    const AuthResponse answer = login(BrisaluneClient(hosted), account.email, account.password);
    const IssuedKey key = issueKey(BrisaluneClient(hosted, answer.token), tenantId);
    return {
        .baseURL = hosted,
        .sessionToken = answer.token,
        .accountId = answer.account.id,
        .email = answer.account.email,
        .activeTenantId = tenantId,
        .tenantKeys = {{tenantId, TenantKey{.keyId = key.id, .apiKey = key.apiKey, .tenantId = tenantId}}},
        .tenantHosts = {}};
}

}  // namespace brisalune::testkit
