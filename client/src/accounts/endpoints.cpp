#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/accounts/one_time_token.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/calls.hpp>
#include <brisalune/client/detail/signed_in.hpp>

#include <optional>
#include <string>
#include <vector>

namespace brisalune {

namespace {

// ---- request bodies ----

struct ProfileBody {
    std::string displayName;
};
struct TenantNameBody {
    std::string name;
    std::optional<platform::Url> dataPlaneURL;
};
struct TenantDeleteBody {
    std::string email;
    std::string currentPassword;
};
struct AccountDeleteBody {
    std::string email;
    std::string password;
};
struct EmailChangeBody {
    std::string email;
    std::string currentPassword;
    std::string newEmail;
};
struct SignupVerifyBody {
    std::string token;
    std::string password;
};
struct EmailChangeVerifyBody {
    std::string token;
};
struct ResetRequestBody {
    std::string email;
};
struct ResetPasswordBody {
    std::string token;
    std::string newPassword;
};

// ---- answer envelopes ----

struct AccountResponse {
    Account account;
};
struct TenantRenameResponse {
    std::string name;
};
struct AuditResponse {
    std::vector<AuditEntry> entries;
};
struct EmailChangeVerifyResponse {
    std::optional<bool> changed;
    Account account;
};
struct RequestedResponse {
    bool requested = false;
};
struct ResetResponse {
    std::optional<bool> reset;
};

}  // namespace

template <>
inline constexpr auto json::keys<ProfileBody> = json::object(json::field("display_name", &ProfileBody::displayName));
template <>
inline constexpr auto json::keys<TenantNameBody> = json::object(
    json::field("name", &TenantNameBody::name), json::field("data_plane_url", &TenantNameBody::dataPlaneURL));
template <>
inline constexpr auto json::keys<TenantDeleteBody> = json::object(
    json::field("email", &TenantDeleteBody::email),
    json::field("current_password", &TenantDeleteBody::currentPassword));
template <>
inline constexpr auto json::keys<AccountDeleteBody> = json::object(
    json::field("email", &AccountDeleteBody::email), json::field("password", &AccountDeleteBody::password));
template <>
inline constexpr auto json::keys<EmailChangeBody> = json::object(
    json::field("email", &EmailChangeBody::email),
    json::field("current_password", &EmailChangeBody::currentPassword),
    json::field("new_email", &EmailChangeBody::newEmail));
template <>
inline constexpr auto json::keys<SignupVerifyBody> =
    json::object(json::field("token", &SignupVerifyBody::token), json::field("password", &SignupVerifyBody::password));
template <>
inline constexpr auto json::keys<EmailChangeVerifyBody> =
    json::object(json::field("token", &EmailChangeVerifyBody::token));
template <>
inline constexpr auto json::keys<ResetRequestBody> = json::object(json::field("email", &ResetRequestBody::email));
template <>
inline constexpr auto json::keys<ResetPasswordBody> = json::object(
    json::field("token", &ResetPasswordBody::token), json::field("new_password", &ResetPasswordBody::newPassword));

template <>
inline constexpr auto json::keys<AccountResponse> = json::object(json::field("account", &AccountResponse::account));
template <>
inline constexpr auto json::keys<TenantRenameResponse> = json::object(json::field("name", &TenantRenameResponse::name));
template <>
inline constexpr auto json::keys<AuditResponse> = json::object(json::field("entries", &AuditResponse::entries));
template <>
inline constexpr auto json::keys<EmailChangeVerifyResponse> = json::object(
    json::field("changed", &EmailChangeVerifyResponse::changed),
    json::field("account", &EmailChangeVerifyResponse::account));
template <>
inline constexpr auto json::keys<RequestedResponse> =
    json::object(json::field("requested", &RequestedResponse::requested));
template <>
inline constexpr auto json::keys<ResetResponse> = json::object(json::field("reset", &ResetResponse::reset));

// ---- account and teams ----

MeResponse me(const BrisaluneClient& client) { return fetch<MeResponse>(client, {.method = "GET", .path = "/v1/me"}); }

void logout(const BrisaluneClient& client) { perform(client, {.method = "POST", .path = "/v1/logout"}); }

Account updateProfile(const BrisaluneClient& client, std::string_view displayName) {
    return fetch<AccountResponse>(
               client, {.method = "PUT", .path = "/v1/account/profile"}, ProfileBody{std::string(displayName)})
        .account;
}

CreatedTenant createTenant(
    const BrisaluneClient& client, std::string_view name, const std::optional<platform::Url>& dataPlaneURL) {
    return fetch<CreatedTenant>(
        client, {.method = "POST", .path = "/v1/tenants"}, TenantNameBody{std::string(name), dataPlaneURL});
}

std::vector<Membership> listTenants(const BrisaluneClient& client) {
    return fetch<TenantsResponse>(client, {.method = "GET", .path = "/v1/tenants"}).tenants;
}

void renameTenant(const BrisaluneClient& client, std::string_view tenant, std::string_view name) {
    fetch<TenantRenameResponse>(
        client,
        {.method = "POST", .path = tenantPath(tenant, "/rename")},
        TenantNameBody{std::string(name), std::nullopt});
}

void deleteTenant(
    const BrisaluneClient& client, std::string_view tenant, std::string_view email, std::string_view currentPassword) {
    fetch<DeletedResponse>(
        client,
        {.method = "POST", .path = tenantPath(tenant, "/delete")},
        TenantDeleteBody{std::string(email), std::string(currentPassword)});
}

void deleteAccount(const BrisaluneClient& client, std::string_view email, std::string_view password) {
    fetch<DeletedResponse>(
        client,
        {.method = "POST", .path = "/v1/account/delete", .plane = AuthPlane::none},
        AccountDeleteBody{std::string(email), std::string(password)});
}

EmailChangeOutcome changeEmail(
    const BrisaluneClient& client,
    std::string_view email,
    std::string_view currentPassword,
    std::string_view newEmail) {
    auto answer = requireSuccess(client.send(
        {.method = "POST", .path = "/v1/account/email"},
        EmailChangeBody{std::string(email), std::string(currentPassword), std::string(newEmail)}));
    if (tokenMailed(answer)) return EmailChangeOutcome::verificationSent;
    decodeAnswer<ChangedResponse>(answer.body);
    return EmailChangeOutcome::changed;
}

EmailChangeOutcome changeEmail(
    const BrisaluneClient& client, std::string_view newEmail, std::string_view currentPassword) {
    return changeEmail(client, newEmail, currentPassword, newEmail);
}

PlanInfo tenantPlan(const BrisaluneClient& client, std::string_view tenant) {
    return fetch<PlanInfo>(client, {.method = "GET", .path = tenantPath(tenant, "/plan")});
}

std::vector<AuditEntry> auditLog(
    const BrisaluneClient& client,
    std::string_view tenant,
    const std::optional<std::string>& before,
    const std::optional<std::string>& action,
    std::int64_t limit) {
    std::vector<platform::QueryItem> query{{"limit", std::to_string(limit)}};
    if (before) query.push_back({"before", *before});
    if (action) query.push_back({"action", *action});
    return fetch<AuditResponse>(
               client, {.method = "GET", .path = tenantPath(tenant, "/audit"), .query = std::move(query)})
        .entries;
}

// ---- sign-up and e-mail verification ----

AuthResponse verifySignup(const BrisaluneClient& client, std::string_view token, std::string_view password) {
    auto answer = client.send(
        {.method = "POST", .path = "/v1/signup/verify", .plane = AuthPlane::none},
        SignupVerifyBody{std::string(token), std::string(password)});
    return signedIn(decodeAnswer<AuthResponse>(
        requireTokenAccepted(std::move(answer), &BrisaluneError::invalidVerificationToken).body));
}

Account verifyEmailChange(const BrisaluneClient& client, std::string_view token) {
    auto answer =
        client.send({.method = "POST", .path = "/v1/account/email/verify"}, EmailChangeVerifyBody{std::string(token)});
    auto verified = decodeAnswer<EmailChangeVerifyResponse>(
        requireTokenAccepted(std::move(answer), &BrisaluneError::invalidVerificationToken).body);
    if (verified.changed == false) {
        throw BrisaluneError::invalidResponse("The email-change route answered changed: false.");
    }
    return std::move(verified.account);
}

// ---- password reset ----

void requestPasswordReset(const BrisaluneClient& client, std::string_view email) {
    fetch<RequestedResponse>(
        client,
        {.method = "POST", .path = "/v1/account/password/reset-request", .plane = AuthPlane::none},
        ResetRequestBody{std::string(email)});
}

void resetPassword(const BrisaluneClient& client, std::string_view token, std::string_view newPassword) {
    auto answer = client.send(
        {.method = "POST", .path = "/v1/account/password/reset", .plane = AuthPlane::none},
        ResetPasswordBody{std::string(token), std::string(newPassword)});
    answer = requireTokenAccepted(std::move(answer), &BrisaluneError::invalidResetToken);
    auto result = decodeAnswer<ResetResponse>(answer.body);
    if (result.reset == false) throw BrisaluneError::invalidResponse("The password-reset route answered reset: false.");
    if (result.reset) return;
    // Some servers answer 2xx with an error text when they did not reset anything.
    if (std::string message = errorMessage(answer.body); isMeaningful(message)) {
        throw BrisaluneError::invalidResponse(
            "the server reported success but said \"" + message + "\", so the password was not changed.");
    }
}

}  // namespace brisalune
