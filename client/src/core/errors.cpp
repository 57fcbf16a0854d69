#include <brisalune/client/core/errors.hpp>

#include <brisalune/client/core/client_outdated.hpp>
#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/core/json_value.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <cctype>

namespace brisalune {

// ---- wire error bodies --------------------------------------------------------------------

namespace {

struct ReferencedBody {
    std::string error;
    std::vector<std::string> rules;
};
struct WireFieldError {
    std::optional<std::string> field;
    std::optional<std::string> rule;
    std::optional<std::string> message;
};
struct FieldsEnvelope {
    std::vector<WireFieldError> fields;
};
struct FieldErrorMap {
    std::optional<JSONValue> errors;  // a missing key and null both end in the fallback rule
};

}  // namespace

template <>
inline constexpr auto json::keys<ReferencedBody> =
    json::object(json::field("error", &ReferencedBody::error), json::field("rules", &ReferencedBody::rules));
template <>
inline constexpr auto json::keys<WireFieldError> = json::object(
    json::field("field", &WireFieldError::field),
    json::field("rule", &WireFieldError::rule),
    json::field("message", &WireFieldError::message));
template <>
inline constexpr auto json::keys<FieldsEnvelope> = json::object(json::field("fields", &FieldsEnvelope::fields));
template <>
inline constexpr auto json::keys<FieldErrorMap> = json::object(json::field("errors", &FieldErrorMap::errors));

namespace {

// An error's text is shown, notified and kept: a server's long story is cut to a few lines.
constexpr std::size_t longestErrorText = 1024;

// Every reading of an error body shares the document's one parse.
template <class T>
std::optional<T> tryDecode(const json::Document& body) {
    try {
        return json::decode<T>(body);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

std::string reasonText(const JSONValue& value) {
    if (const auto* text = value.get<std::string>()) return *text;
    return value.prettyText();
}

std::string withDetail(std::string_view prefix, const std::string& detail, std::string_view fallback) {
    std::string out(prefix);
    out += ": ";
    out += isMeaningful(detail) ? std::string_view(detail) : fallback;
    return out;
}

std::string joined(const std::vector<std::string>& texts, std::string_view separator) {
    std::string out;
    for (const auto& text : texts) {
        if (&text != &texts.front()) out += separator;
        out += text;
    }
    return out;
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string_view::npos) end = text.size();
        if (end > at) out.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

}  // namespace

bool isMeaningful(std::string_view text) {
    static constexpr std::string_view punctuation = ",;:-()";
    bool meaningful = false;
    bool valid = platform::forEachCodePoint(text, [&](const platform::CodePoint& point) {
        if (meaningful) return;
        bool blank = platform::isWhitespaceOrNewline(point.value) ||
                     (point.value < 0x80 && punctuation.find(static_cast<char>(point.value)) != std::string_view::npos);
        meaningful = !blank;
    });
    return meaningful || (!valid && !text.empty());
}

std::string errorMessage(const json::Document& body) {
    auto decoded = tryDecode<ErrorBody>(body);
    return decoded ? decoded->error : std::string();
}

std::string errorMessage(std::string_view body) { return errorMessage(json::Document(std::string(body))); }

std::vector<FieldError> fieldErrors(const json::Document& body, const std::string& message) {
    if (auto envelope = tryDecode<FieldsEnvelope>(body); envelope && !envelope->fields.empty()) {
        std::vector<FieldError> out;
        for (const auto& wire : envelope->fields) {
            std::string reason;
            if (wire.message && !wire.message->empty()) {
                reason = *wire.message;
            } else if (wire.rule && !wire.rule->empty()) {
                reason = *wire.rule;
            }
            out.push_back({wire.field.value_or(""), std::move(reason)});
        }
        return out;
    }
    if (auto map = tryDecode<FieldErrorMap>(body); map && map->errors) {
        if (const auto* array = map->errors->get<JSONValue::Array>()) {
            std::vector<FieldError> out;
            for (const auto& element : *array) out.push_back({"", reasonText(element)});
            return out;
        }
        if (const auto* object = map->errors->get<JSONValue::Object>()) {
            std::vector<FieldError> out;  // a std::map is already sorted by key
            for (const auto& [key, value] : *object) out.push_back({key, reasonText(value)});
            return out;
        }
    }
    if (message.empty()) return {};
    return {FieldError{"", message}};
}

std::vector<FieldError> fieldErrors(std::string_view body, const std::string& message) {
    return fieldErrors(json::Document(std::string(body)), message);
}

BrisaluneError errorForStatus(int status, const json::Document& body) {
    std::string message = errorMessage(body);
    if (auto outdated = ClientOutdatedBody::recognise(status, body)) return BrisaluneError::clientOutdated(*outdated);
    switch (status) {
        case 400:
        case 422: return BrisaluneError::validation(fieldErrors(body, message));
        case 401: return BrisaluneError::unauthorized(std::move(message));
        case 403: return BrisaluneError::forbidden(std::move(message));
        case 404: return BrisaluneError::notFound(std::move(message));
        case 409:
            if (auto referenced = tryDecode<ReferencedBody>(body)) return BrisaluneError::referenced(referenced->rules);
            return BrisaluneError::conflict(std::move(message));
        case 429: return BrisaluneError::rateLimited(std::move(message));
        default: return BrisaluneError::server(status, std::move(message));
    }
}

BrisaluneError errorForStatus(int status, std::string_view body) {
    return errorForStatus(status, json::Document(std::string(body)));
}

std::optional<std::string> neededRole(const BrisaluneError& error) {
    if (!error.is(BrisaluneError::Case::forbidden)) return std::nullopt;
    auto w = words(error.message());
    if (w.size() < 2 || w[1] != "role") return std::nullopt;
    bool required = w.size() == 3 && w[2] == "required";
    bool orAbove = w.size() == 5 && w[2] == "or" && w[3] == "above" && w[4] == "required";
    if (!required && !orAbove) return std::nullopt;
    return w[0];
}

// ---- the error ----------------------------------------------------------------------------

std::string BrisaluneError::validationSummary(const std::vector<FieldError>& errors) {
    std::vector<std::string> pieces;
    for (const auto& e : errors) pieces.push_back(e.field.empty() ? e.reason : e.field + " (" + e.reason + ")");
    return joined(pieces, ", ");
}

bool BrisaluneError::isEmailNotVerified() const {
    return case_ == Case::forbidden && lowered(message()).find("email not verified") != std::string::npos;
}

bool BrisaluneError::isWrongCurrentPassword() const {
    return case_ == Case::validation &&
           std::any_of(fieldErrors().begin(), fieldErrors().end(), [](const FieldError& e) {
               return e.field == "current_password";
           });
}

std::string BrisaluneError::describe() const {
    const Payload& p = payload_;
    switch (case_) {
        case Case::unauthorized:
            return withDetail("Not signed in", p.message, "the server gave no reason. Sign in again.");
        case Case::forbidden: {
            auto role = neededRole(*this);
            return withDetail(
                "Not allowed",
                role ? "your role can't do this; it needs " + *role + " or above." : p.message,
                "the server gave no reason.");
        }
        case Case::notFound: return withDetail("Not found", p.message, "the server gave no details.");
        case Case::rateLimited:
            return withDetail("Rate limited", p.message, "too many requests. Wait a few minutes, then try again.");
        case Case::conflict:
            return withDetail("Conflict", p.message, "something changed on the server. Reload, then try again.");
        case Case::referenced: {
            std::string rules = joined(p.texts, ", ");
            return isMeaningful(rules) ? "Still referenced by rules: " + rules
                                       : "Still referenced by rules, but the server did not name them.";
        }
        case Case::validation:
            return withDetail(
                "Invalid",
                validationSummary(p.fieldErrors),
                "the server did not say what was wrong. Check what you entered, then try again.");
        case Case::refused: return withDetail("Refused", joined(p.texts, "; "), "the server gave no details.");
        case Case::quota:
            if (isMeaningful(p.message)) return p.message;
            if (isMeaningful(p.limit)) return "A plan limit stops this: " + p.limit + ".";
            return "A plan limit stops this.";
        case Case::clientOutdated: return "This version of Brisalune is no longer supported. Update to keep going.";
        case Case::serverOutdated:
            return "Ask whoever runs this server to update Brisalune. Your other workspaces still work.";
        case Case::server:
            return withDetail("Server error " + std::to_string(p.status), p.message, "the server gave no details.");
        case Case::transport:
            if (p.unsent) return p.message;
            return withDetail("Connection failed", p.message, "check your network, then try again.");
        case Case::invalidResponse:
            return withDetail("Unexpected response", p.message, "the server's answer could not be read.");
        case Case::invalidResetToken: return "Invalid or expired reset token.";
        case Case::emailNotVerified:
            return "Email not verified. Paste the token mailed to that address to finish signing up.";
        case Case::invalidVerificationToken: return "Invalid or expired verification token.";
    }
    return {};
}

BrisaluneError::BrisaluneError(Case c, Payload payload) : case_(c), payload_(std::move(payload)) {
    if (payload_.message.size() > longestErrorText) {
        payload_.message = platform::shortened(payload_.message, longestErrorText);
    }
    description_ = platform::shortened(describe(), longestErrorText);
}

BrisaluneError BrisaluneError::unauthorized(std::string m) { return {Case::unauthorized, {.message = std::move(m)}}; }
BrisaluneError BrisaluneError::forbidden(std::string m) { return {Case::forbidden, {.message = std::move(m)}}; }
BrisaluneError BrisaluneError::notFound(std::string m) { return {Case::notFound, {.message = std::move(m)}}; }
BrisaluneError BrisaluneError::rateLimited(std::string m) { return {Case::rateLimited, {.message = std::move(m)}}; }
BrisaluneError BrisaluneError::conflict(std::string m) { return {Case::conflict, {.message = std::move(m)}}; }
BrisaluneError BrisaluneError::transport(std::string m) { return {Case::transport, {.message = std::move(m)}}; }
BrisaluneError BrisaluneError::notSent(std::string why) {
    return {Case::transport, {.message = std::move(why), .unsent = true}};
}
BrisaluneError BrisaluneError::invalidResponse(std::string m) {
    return {Case::invalidResponse, {.message = std::move(m)}};
}
BrisaluneError BrisaluneError::referenced(std::vector<std::string> rules) {
    return {Case::referenced, {.texts = std::move(rules)}};
}
BrisaluneError BrisaluneError::refused(std::vector<std::string> reasons) {
    return {Case::refused, {.texts = std::move(reasons)}};
}
BrisaluneError BrisaluneError::validation(std::vector<FieldError> errors) {
    return {Case::validation, {.fieldErrors = std::move(errors)}};
}
BrisaluneError BrisaluneError::quota(std::string limit, std::string message) {
    return {Case::quota, {.message = std::move(message), .limit = std::move(limit)}};
}
BrisaluneError BrisaluneError::clientOutdated(ClientOutdated outdated) {
    return {Case::clientOutdated, {.outdated = std::move(outdated)}};
}
BrisaluneError BrisaluneError::serverOutdated(platform::Url host, std::string version) {
    return {Case::serverOutdated, {.host = std::move(host), .version = std::move(version)}};
}
BrisaluneError BrisaluneError::server(int status, std::string message) {
    return {Case::server, {.message = std::move(message), .status = status}};
}
BrisaluneError BrisaluneError::invalidResetToken() { return {Case::invalidResetToken, {}}; }
BrisaluneError BrisaluneError::emailNotVerified() { return {Case::emailNotVerified, {}}; }
BrisaluneError BrisaluneError::invalidVerificationToken() { return {Case::invalidVerificationToken, {}}; }

}  // namespace brisalune
