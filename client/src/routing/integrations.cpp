#include <brisalune/client/routing/integrations.hpp>

#include <brisalune/platform/text.hpp>

#include <algorithm>

namespace brisalune {

std::optional<std::string_view> DeliveryEvent::named(std::string_view text) {
    for (std::string_view event : all) {
        if (event == text) return event;
    }
    return std::nullopt;
}

std::optional<IntegrationDisabledCause> Integration::disabledCause() const {
    if (enabled) return std::nullopt;
    // An error text of blanks still counts as one: it is not trimmed.
    if (consecutiveFailures >= 1 && lastError && !lastError->empty()) return IntegrationDisabledCause::circuitOpen;
    return IntegrationDisabledCause::silenced;
}

bool Integration::isRelay() const { return type == "webhook" && name == relayName; }

namespace {

// The text without white space and newlines at either end.
std::string_view trimmed(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        auto point = platform::decodeCodePoint(text, at);
        length = point ? point->bytes.size() : 1;
        if (point && platform::isWhitespaceOrNewline(point->value)) continue;
        begin = std::min(begin, at);
        end = at + length;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view();
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool Integration::isRelayName(std::string_view text) {
    // The relay's name is ASCII: its letters are folded as ASCII.
    return std::ranges::equal(trimmed(text), relayName, {}, asciiLower, asciiLower);
}

std::vector<const SecretText*> IntegrationDraft::secrets() const {
    std::vector<const SecretText*> out;
    for (const auto* field : {&secret, &token, &webhookUrl}) {
        if (*field) out.push_back(&**field);
    }
    return out;
}

}  // namespace brisalune
