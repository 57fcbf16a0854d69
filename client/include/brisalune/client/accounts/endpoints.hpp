#pragma once

// Health, sign-up, login and password; the account and its teams; e-mail verification and
// password reset. Plane session unless a comment says otherwise.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/team/team.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// ---- health, sign-up, login, password ----

// What kind of server this is. Plane none.
Healthz healthz(const BrisaluneClient& client);
// Mails a token (verificationSent) or signs in at once; the token is not kept. Plane none.
SignupOutcome signup(const BrisaluneClient& client, std::string_view email, std::string_view password);
// The token is not kept. A 403 about verification throws emailNotVerified. Plane none.
AuthResponse login(const BrisaluneClient& client, std::string_view email, std::string_view password);
void changePassword(
    const BrisaluneClient& client,
    std::string_view email,
    std::string_view currentPassword,
    std::string_view newPassword);

// ---- account and teams ----

MeResponse me(const BrisaluneClient& client);
// Ends the session on the server; the token stays on the client.
void logout(const BrisaluneClient& client);
Account updateProfile(const BrisaluneClient& client, std::string_view displayName);
CreatedTenant createTenant(
    const BrisaluneClient& client,
    std::string_view name,
    const std::optional<platform::Url>& dataPlaneURL = std::nullopt);
std::vector<Membership> listTenants(const BrisaluneClient& client);
void renameTenant(const BrisaluneClient& client, std::string_view tenant, std::string_view name);
void deleteTenant(
    const BrisaluneClient& client, std::string_view tenant, std::string_view email, std::string_view currentPassword);
// Authenticated by the e-mail and password alone: plane none.
void deleteAccount(const BrisaluneClient& client, std::string_view email, std::string_view password);
EmailChangeOutcome changeEmail(
    const BrisaluneClient& client, std::string_view email, std::string_view currentPassword, std::string_view newEmail);
// The new address stands as both the account's e-mail and the new one.
EmailChangeOutcome changeEmail(
    const BrisaluneClient& client, std::string_view newEmail, std::string_view currentPassword);
PlanInfo tenantPlan(const BrisaluneClient& client, std::string_view tenant);
// Query "limit", then "before" and "action" when given.
std::vector<AuditEntry> auditLog(
    const BrisaluneClient& client,
    std::string_view tenant,
    const std::optional<std::string>& before,
    const std::optional<std::string>& action,
    std::int64_t limit);

// ---- one-time tokens ----

// Finishes a sign-up with the mailed token; the returned token is not kept. Plane none.
// A refused token throws invalidVerificationToken.
AuthResponse verifySignup(const BrisaluneClient& client, std::string_view token, std::string_view password);
// Finishes an e-mail change with the mailed token. A refused token throws
// invalidVerificationToken; an answer of changed: false, invalidResponse.
Account verifyEmailChange(const BrisaluneClient& client, std::string_view token);
// Plane none.
void requestPasswordReset(const BrisaluneClient& client, std::string_view email);
// Plane none. A refused token throws invalidResetToken; a success that does not confirm the
// change, invalidResponse.
void resetPassword(const BrisaluneClient& client, std::string_view token, std::string_view newPassword);

}  // namespace brisalune
