#include <brisalune/client/detail/secret_answers.hpp>
#include <brisalune/client/routing/secret_text.hpp>

#include <brisalune/platform/json.hpp>

#include <algorithm>
#include <ostream>
#include <variant>

namespace brisalune {

std::ostream& operator<<(std::ostream& out, const SecretText&) { return out << SecretText::placeholder; }

namespace {

// Letters, digits and the underscore, and any byte of a character beyond ASCII: what words are
// made of.
bool wordByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= 'a' && byte <= 'z') || c == '_';
}

// Whether the secret found at `at` stands on its own there, not as part of a longer word: a
// secret "e" is not the "e" of "rejected".
bool standsAlone(std::string_view text, std::size_t at, std::string_view secret) {
    const std::size_t end = at + secret.size();
    const bool start = at == 0 || !wordByte(secret.front()) || !wordByte(text[at - 1]);
    return start && (end == text.size() || !wordByte(secret.back()) || !wordByte(text[end]));
}

// The text with each non-empty secret replaced by the placeholder wherever it stands on its own.
std::string withoutSecrets(std::string_view text, const std::vector<const SecretText*>& secrets) {
    std::vector<std::string_view> ordered;
    for (const auto* secret : secrets) {
        if (!secret->empty()) ordered.push_back(secret->reveal());
    }
    // The longest first, so a secret inside another one cannot leave part of it behind.
    std::ranges::sort(ordered, std::ranges::greater{}, &std::string_view::size);
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const auto found = std::ranges::find_if(ordered, [&](std::string_view secret) {
            return text.substr(at).starts_with(secret) && standsAlone(text, at, secret);
        });
        if (found == ordered.end()) {
            out += text[at++];
        } else {
            out += SecretText::placeholder;
            at += found->size();
        }
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
