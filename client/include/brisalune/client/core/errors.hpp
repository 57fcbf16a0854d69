#pragma once

// The one error every API call throws, with the text the user sees for each case, and the
// mapping from a non-2xx answer to it.

#include <brisalune/client/core/server_compatibility.hpp>
#include <brisalune/platform/json_document.hpp>
#include <brisalune/platform/url.hpp>

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// One validation problem; `field` is empty when it concerns no particular field.
struct FieldError {
    std::string field;
    std::string reason;

    friend bool operator==(const FieldError&, const FieldError&) = default;
};

class BrisaluneError : public std::exception {
public:
    enum class Case {
        unauthorized,
        forbidden,
        notFound,
        rateLimited,
        conflict,
        referenced,
        validation,
        refused,
        quota,
        clientOutdated,
        serverOutdated,
        server,
        transport,
        invalidResponse,
        invalidResetToken,
        emailNotVerified,
        invalidVerificationToken,
    };

    static BrisaluneError unauthorized(std::string message);
    static BrisaluneError forbidden(std::string message);
    static BrisaluneError notFound(std::string message);
    static BrisaluneError rateLimited(std::string message);
    static BrisaluneError conflict(std::string message);
    static BrisaluneError referenced(std::vector<std::string> rules);
    static BrisaluneError validation(std::vector<FieldError> errors);
    static BrisaluneError refused(std::vector<std::string> reasons);
    static BrisaluneError quota(std::string limit, std::string message);
    static BrisaluneError clientOutdated(ClientOutdated outdated);
    static BrisaluneError serverOutdated(platform::Url host, std::string version);
    static BrisaluneError server(int status, std::string message);
    static BrisaluneError transport(std::string message);
    // A transport failure of a request held back before it went (why: the whole text).
    static BrisaluneError notSent(std::string why);
    static BrisaluneError invalidResponse(std::string message);
    static BrisaluneError invalidResetToken();
    static BrisaluneError emailNotVerified();
    static BrisaluneError invalidVerificationToken();

    Case kind() const noexcept { return case_; }
    bool is(Case c) const noexcept { return case_ == c; }

    // The payloads; each is empty for the cases that do not carry it.
    const std::string& message() const noexcept { return payload_.message; }           // message, quota's message
    const std::vector<std::string>& texts() const noexcept { return payload_.texts; }  // rules, refusals
    const std::vector<FieldError>& fieldErrors() const noexcept { return payload_.fieldErrors; }
    const std::string& limit() const noexcept { return payload_.limit; }
    const std::optional<ClientOutdated>& outdated() const noexcept { return payload_.outdated; }
    const std::optional<platform::Url>& host() const noexcept { return payload_.host; }
    const std::string& version() const noexcept { return payload_.version; }
    int status() const noexcept { return payload_.status; }

    // The user-facing text.
    const std::string& errorDescription() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool isEmailNotVerified() const;
    bool isWrongCurrentPassword() const;

    // "field (reason)" or "reason", joined with ", ".
    static std::string validationSummary(const std::vector<FieldError>& errors);

private:
    struct Payload {
        std::string message{};
        std::vector<std::string> texts{};
        std::vector<FieldError> fieldErrors{};
        std::string limit{};
        std::optional<ClientOutdated> outdated{};
        std::optional<platform::Url> host{};
        std::string version{};
        int status = 0;
        bool unsent = false;  // transport: nothing went, so no connection failed
    };

    BrisaluneError(Case c, Payload payload);
    std::string describe() const;

    Case case_;
    Payload payload_;
    std::string description_;
};

// The role a refusal names ("admin role required", "member role or above required"), or none.
std::optional<std::string> neededRole(const BrisaluneError& error);

// Blank: nothing but white space, newlines and , ; : - ( ).
bool isMeaningful(std::string_view text);

// Each reading below takes the body as text or as an answer's document; the document is parsed
// once however many of them read it.

// The error body's "error" text; empty when the body is not such a body.
std::string errorMessage(const json::Document& body);
std::string errorMessage(std::string_view body);

// The validation problems of a 400/422 body; `message` stands in when the body lists none.
std::vector<FieldError> fieldErrors(const json::Document& body, const std::string& message);
std::vector<FieldError> fieldErrors(std::string_view body, const std::string& message);

// What a non-2xx answer becomes. Never throws: the caller throws the result.
BrisaluneError errorForStatus(int status, const json::Document& body);
BrisaluneError errorForStatus(int status, std::string_view body);

}  // namespace brisalune
