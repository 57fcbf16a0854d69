#include <brisalune/client/boxes/join_code.hpp>
#include <brisalune/platform/base64.hpp>
#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>

namespace brisalune {

namespace {

// The JSON inside a join code.
struct Payload {
    std::string u;          // the box's base address
    std::string t;          // the hosted tenant id
    std::string c;          // the pairing code
    std::optional<bool> s;  // seat
    std::int64_t v = 0;     // format version
};

}  // namespace

// clang-format off
template <>
inline constexpr auto json::keys<Payload> = json::object(
    json::field("u", &Payload::u),
    json::field("t", &Payload::t),
    json::field("c", &Payload::c),
    json::field("s", &Payload::s),
    json::field("v", &Payload::v));
// clang-format on

namespace {

bool isBlankAt(std::string_view text, std::size_t at, std::size_t size) {
    auto point = platform::decodeCodePoint(text, at);
    return point && point->bytes.size() == size && platform::isWhitespaceOrNewline(point->value);
}

// Drops white space and line breaks from both ends; bytes that are not UTF-8 stop the trim.
std::string_view trimmed(std::string_view text) {
    while (!text.empty()) {
        auto point = platform::decodeCodePoint(text, 0);
        if (!point || !platform::isWhitespaceOrNewline(point->value)) break;
        text.remove_prefix(point->bytes.size());
    }
    while (!text.empty()) {
        // The last code point starts at most four bytes from the end, after its continuation bytes.
        std::size_t size = 1;
        while (size < 4 && size < text.size() && (text[text.size() - size] & 0xC0) == 0x80) ++size;
        if (!isBlankAt(text, text.size() - size, size)) break;
        text.remove_suffix(size);
    }
    return text;
}

// base64url, with or without padding, to standard padded base64.
std::string standardBase64(std::string_view text) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '-', '+');
    std::replace(out.begin(), out.end(), '_', '/');
    if (std::size_t rest = out.size() % 4; rest != 0) out.append(4 - rest, '=');
    return out;
}

Payload decodePayload(std::string_view encoded) {
    auto bytes = platform::unbase64(standardBase64(encoded));
    if (!bytes) throw JoinCode::Failure::damaged();
    try {
        return json::decode<Payload>(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    } catch (const json::DecodeError&) {
        throw JoinCode::Failure::damaged();
    }
}

}  // namespace

const char* JoinCode::Failure::what() const noexcept {
    switch (case_) {
        case Case::unsupportedVersion: return "join code of an unsupported version";
        case Case::notAJoinCode: return "not a join code";
        case Case::damaged: return "damaged join code";
    }
    return "join code failure";
}

JoinCode JoinCode::parse(std::string_view text) {
    text = trimmed(text);
    if (!text.starts_with(prefix)) throw Failure::notAJoinCode();
    Payload payload = decodePayload(text.substr(prefix.size()));
    if (payload.v != supportedVersion) throw Failure::unsupportedVersion(payload.v);
    auto boxURL = platform::Url::parse(payload.u);
    if (!boxURL || !boxURL->host() || boxURL->host()->empty()) throw Failure::damaged();
    if (payload.t.empty() || payload.c.empty()) throw Failure::damaged();
    return {
        .boxURL = std::move(*boxURL),
        .hostedTenantId = std::move(payload.t),
        .code = std::move(payload.c),
        .seat = payload.s == true};
}

}  // namespace brisalune
