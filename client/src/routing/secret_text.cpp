#include <brisalune/client/detail/secret_answers.hpp>
#include <brisalune/client/routing/secret_text.hpp>

#include <brisalune/platform/json.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <optional>
#include <ostream>
#include <variant>

namespace brisalune {

std::ostream& operator<<(std::ostream& out, const SecretText&) { return out << SecretText::placeholder; }

namespace {

// A secret this long is no word of the server's own: it goes wherever it stands.
constexpr std::size_t longSecret = 8;

std::size_t characters(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++count) {
        const auto point = platform::decodeCodePoint(text, at);
        at += point ? point->bytes.size() : 1;
    }
    return count;
}

// The character starting at `at`, if it is one.
std::optional<char32_t> characterAt(std::string_view text, std::size_t at) {
    if (at >= text.size()) return std::nullopt;
    const auto point = platform::decodeCodePoint(text, at);
    return point ? std::optional(point->value) : std::nullopt;
}

std::optional<char32_t> lastCharacter(std::string_view text) {
    std::size_t at = text.size();
    while (at > 0 && (static_cast<unsigned char>(text[at - 1]) & 0xC0) == 0x80 && text.size() - at < 3) --at;
    return at > 0 ? characterAt(text, at - 1) : std::nullopt;
}

bool letterOrDigit(std::optional<char32_t> c) { return c && platform::isAlphanumeric(*c); }

// Whether the secret found at `at`, after the character `before`, is to go: a long one always, a
// short one only where no letter or digit of any script touches it (a secret "e" is not the "e"
// of "rejected").
bool removable(std::string_view text, std::size_t at, std::string_view secret, std::optional<char32_t> before) {
    if (characters(secret) >= longSecret) return true;
    const bool start = !letterOrDigit(before) || !letterOrDigit(characterAt(secret, 0));
    return start && (!letterOrDigit(characterAt(text, at + secret.size())) || !letterOrDigit(lastCharacter(secret)));
}

// The text with each non-empty secret replaced by the placeholder wherever it may go.
std::string withoutSecrets(std::string_view text, const std::vector<const SecretText*>& secrets) {
    std::vector<std::string_view> ordered;
    for (const auto* secret : secrets) {
        if (!secret->empty()) ordered.push_back(secret->reveal());
    }
    // The longest first, so a secret inside another one cannot leave part of it behind.
    std::ranges::sort(ordered, std::ranges::greater{}, &std::string_view::size);
    std::string out;
    std::optional<char32_t> before;
    for (std::size_t at = 0; at < text.size();) {
        const auto found = std::ranges::find_if(ordered, [&](std::string_view secret) {
            return text.substr(at).starts_with(secret) && removable(text, at, secret, before);
        });
        if (found != ordered.end()) {
            out += SecretText::placeholder;
            at += found->size();
            before = lastCharacter(*found);
            continue;
        }
        const auto point = platform::decodeCodePoint(text, at);
        const std::size_t length = point ? point->bytes.size() : 1;
        out += text.substr(at, length);
        before = point ? std::optional(point->value) : std::nullopt;
        at += length;
    }
    return out;
}

json::Value cleaned(const json::Value& value, const std::vector<const SecretText*>& secrets) {
    if (const auto* text = value.get<std::string>()) return withoutSecrets(*text, secrets);
    if (const auto* array = value.get<json::Array>()) {
        json::Array out;
        for (const auto& element : *array) out.push_back(cleaned(element, secrets));
        return out;
    }
    if (const auto* object = value.get<json::Object>()) {
        json::Object out;
        for (const auto& [key, member] : *object)
            out.insert_or_assign(key, cleaned(member, secrets));  // keys stay: the error is read by them
        return out;
    }
    return value;
}

}  // namespace

std::string answerWithoutSecrets(std::string_view body, const std::vector<const SecretText*>& secrets) {
    try {
        return json::write(cleaned(json::parse(body), secrets), json::Style::compact);
    } catch (const json::DecodeError&) {
        return {};
    } catch (const json::EncodeError&) {
        return {};
    }
}

}  // namespace brisalune
