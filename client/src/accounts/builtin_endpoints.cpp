#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/accounts/one_time_token.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/signed_in.hpp>

#include <algorithm>
#include <string>

namespace brisalune {

namespace {

struct PasswordChangeBody {
    std::string email;
    std::string currentPassword;
    std::string newPassword;
};

}  // namespace

template <>
inline constexpr auto json::keys<PasswordChangeBody> = json::object(
    json::field("email", &PasswordChangeBody::email),
    json::field("current_password", &PasswordChangeBody::currentPassword),
    json::field("new_password", &PasswordChangeBody::newPassword));

namespace {

// "verified" anywhere in the text, ASCII letters compared without regard to case.
bool speaksOfVerification(std::string_view text) {
    static constexpr std::string_view word = "verified";
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::search(text.begin(), text.end(), word.begin(), word.end(), [&](char a, char b) {
               return lower(a) == b;
           }) != text.end();
}

}  // namespace

Healthz healthz(const BrisaluneClient& client) {
    return fetch<Healthz>(client, {.method = "GET", .path = "/healthz", .plane = AuthPlane::none});
}

SignupOutcome signup(const BrisaluneClient& client, std::string_view email, std::string_view password) {
    auto answer = requireSuccess(client.send(
        {.method = "POST", .path = "/v1/signup", .plane = AuthPlane::none},
        CredentialsBody{std::string(email), std::string(password)}));
    if (tokenMailed(answer)) return {SignupOutcome::VerificationSent{}};
    return {SignupOutcome::Authenticated{signedIn(decodeAnswer<AuthResponse>(answer.body))}};
}

AuthResponse login(const BrisaluneClient& client, std::string_view email, std::string_view password) {
    auto answer = client.send(
        {.method = "POST", .path = "/v1/login", .plane = AuthPlane::none},
        CredentialsBody{std::string(email), std::string(password)});
    if (answer.status == 403) {
        std::string message = errorMessage(answer.body);
        if (isMeaningful(message) && speaksOfVerification(message)) throw BrisaluneError::emailNotVerified();
    }
    return signedIn(decodeAnswer<AuthResponse>(requireSuccess(std::move(answer)).body));
}

void changePassword(
    const BrisaluneClient& client,
    std::string_view email,
    std::string_view currentPassword,
    std::string_view newPassword) {
    fetch<ChangedResponse>(
        client,
        {.method = "POST", .path = "/v1/account/password"},
        PasswordChangeBody{std::string(email), std::string(currentPassword), std::string(newPassword)});
}

}  // namespace brisalune
