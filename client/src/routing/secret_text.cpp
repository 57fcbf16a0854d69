#include <brisalune/client/detail/secret_answers.hpp>
#include <brisalune/client/routing/secret_text.hpp>

#include <brisalune/platform/json.hpp>

#include <algorithm>
#include <ostream>
#include <variant>

namespace brisalune {

std::ostream& operator<<(std::ostream& out, const SecretText&) { return out << SecretText::placeholder; }

namespace {

// The text with every occurrence of each non-empty secret replaced by the placeholder.
std::string withoutSecrets(std::string_view text, const std::vector<const SecretText*>& secrets) {
    std::vector<std::string_view> ordered;
    for (const auto* secret : secrets) {
        if (!secret->empty()) ordered.push_back(secret->reveal());
    }
    // The longest first, so a secret inside another one cannot leave part of it behind.
    std::ranges::sort(ordered, std::ranges::greater{}, &std::string_view::size);
    std::string out(text);
    for (std::string_view secret : ordered) {
        for (auto at = out.find(secret); at != std::string::npos;
             at = out.find(secret, at + SecretText::placeholder.size())) {
            out.replace(at, secret.size(), SecretText::placeholder);
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
            out.insert_or_assign(withoutSecrets(key, secrets), cleaned(member, secrets));
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
