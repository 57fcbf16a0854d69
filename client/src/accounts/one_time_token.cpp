#include <brisalune/client/accounts/one_time_token.hpp>

#include <brisalune/client/detail/answers.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

namespace {

// A 2xx answer that mailed a token instead of completing names it under "verification".
struct VerificationSentBody {
    std::optional<std::string> verification;
};

}  // namespace

template <>
inline constexpr auto json::keys<VerificationSentBody> =
    json::object(json::field("verification", &VerificationSentBody::verification));

namespace {

// The code point at `at`; an undecodable byte stands for itself as a character of no word.
platform::CodePoint pointAt(std::string_view text, std::size_t at) {
    if (auto point = platform::decodeCodePoint(text, at)) return *point;
    return {U'\uFFFD', text.substr(at, 1)};
}

bool isWordCharacter(char32_t c) { return c == U'_' || platform::isAlphanumeric(c); }

bool wordCharacterAt(std::string_view text, std::size_t at) {
    return at < text.size() && isWordCharacter(pointAt(text, at).value);
}

// Case-insensitive match of one lower-case ASCII letter, with the two non-ASCII characters
// whose case folding lands on a letter of the word (KELVIN SIGN, LATIN SMALL LETTER LONG S).
bool foldsTo(char32_t c, char letter) {
    char32_t lower = static_cast<unsigned char>(letter);
    if (c == lower || c == lower - (U'a' - U'A')) return true;
    return (letter == 'k' && c == U'\u212A') || (letter == 's' && c == U'\u017F');
}

// Where "token", with an optional "s", ends when it starts at `at`; none when it does not.
std::optional<std::size_t> wordEnd(std::string_view text, std::size_t at) {
    for (char letter : std::string_view("token")) {
        if (at >= text.size()) return std::nullopt;
        auto point = pointAt(text, at);
        if (!foldsTo(point.value, letter)) return std::nullopt;
        at += point.bytes.size();
    }
    if (at < text.size()) {
        auto point = pointAt(text, at);
        if (foldsTo(point.value, 's')) at += point.bytes.size();
    }
    return at;
}

bool isSuccess(int status) { return status >= 200 && status <= 299; }

}  // namespace

bool mentionsTokenWord(std::string_view text) {
    bool afterWordCharacter = false;
    for (std::size_t at = 0; at < text.size();) {
        if (!afterWordCharacter) {
            if (auto end = wordEnd(text, at); end && !wordCharacterAt(text, *end)) return true;
        }
        auto point = pointAt(text, at);
        afterWordCharacter = isWordCharacter(point.value);
        at += point.bytes.size();
    }
    return false;
}

bool refusesToken(const Answer& answer) {
    static constexpr std::array statuses{400, 404, 409, 410, 422};
    if (std::find(statuses.begin(), statuses.end(), answer.status) == statuses.end()) return false;
    std::string message = errorMessage(answer.body);
    if (!isMeaningful(message) || !mentionsTokenWord(message)) return false;
    return fieldErrors(answer.body, message) == std::vector<FieldError>{{"", message}};
}

Answer requireTokenAccepted(Answer answer, BrisaluneError (*refused)()) {
    if (!isSuccess(answer.status) && refusesToken(answer)) throw refused();
    return requireSuccess(std::move(answer));
}

bool tokenMailed(const Answer& answer) {
    if (answer.status == 202) return true;
    try {
        return json::decode<VerificationSentBody>(answer.body).verification.has_value();
    } catch (const json::DecodeError&) {
        return false;  // not that shape: the answer completed the request
    }
}

}  // namespace brisalune
