#include <brisalune/platform/url.hpp>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace brisalune::platform {

namespace {

// Character classes of the URL grammar, one table lookup per byte.
enum CharClass : std::uint8_t {
    alpha = 1,
    digit = 2,
    hexDigit = 4,
    unreservedMark = 8,  // - . _ ~
    subDelim = 16,       // ! $ & ' ( ) * + , ; =
};

constexpr std::array<std::uint8_t, 256> makeClasses() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[c] |= alpha;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] |= alpha;
    for (int c = '0'; c <= '9'; ++c) table[c] |= digit | hexDigit;
    for (int c = 'a'; c <= 'f'; ++c) table[c] |= hexDigit;
    for (int c = 'A'; c <= 'F'; ++c) table[c] |= hexDigit;
    for (char c : std::string_view("-._~")) table[static_cast<unsigned char>(c)] |= unreservedMark;
    for (char c : std::string_view("!$&'()*+,;=")) table[static_cast<unsigned char>(c)] |= subDelim;
    return table;
}

constexpr auto classes = makeClasses();

constexpr bool has(unsigned char c, std::uint8_t mask) { return (classes[c] & mask) != 0; }
constexpr bool isAlpha(unsigned char c) { return has(c, alpha); }
constexpr bool isDigit(unsigned char c) { return has(c, digit); }
constexpr bool isHex(unsigned char c) { return has(c, hexDigit); }
constexpr bool isUnreservedChar(unsigned char c) { return has(c, alpha | digit | unreservedMark); }
constexpr bool isSchemeChar(unsigned char c) { return has(c, alpha | digit) || c == '+' || c == '-' || c == '.'; }
constexpr bool isRegNameChar(unsigned char c) { return has(c, alpha | digit | unreservedMark | subDelim); }
constexpr bool isUserInfoChar(unsigned char c) { return isRegNameChar(c) || c == ':'; }
constexpr bool isPathChar(unsigned char c) { return isRegNameChar(c) || c == ':' || c == '@' || c == '/'; }
constexpr bool isQueryChar(unsigned char c) { return isPathChar(c) || c == '?'; }

constexpr char hexDigits[] = "0123456789ABCDEF";

int hexValue(unsigned char c) {
    if (isDigit(c)) return c - '0';
    return (c | 0x20) - 'a' + 10;
}

void appendEscape(std::string& out, unsigned char c) {
    out += '%';
    out += hexDigits[c >> 4];
    out += hexDigits[c & 0x0F];
}

bool isEscapeAt(std::string_view text, std::size_t i) {
    return text[i] == '%' && i + 2 < text.size() && isHex(static_cast<unsigned char>(text[i + 1])) &&
           isHex(static_cast<unsigned char>(text[i + 2]));
}

// Length of the UTF-8 sequence starting at `i`, or 0 when it is not well formed (overlong
// forms, surrogates and code points above U+10FFFF included). C0 and C1 controls, DEL and
// the blank are refused as well: none of them may stand in a URL.
std::size_t acceptableSequence(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return lead > 0x20 && lead != 0x7F ? 1 : 0;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    if (lead == 0xC2 && byte(i + 1) < 0xA0) return 0;  // U+0080..U+009F
    return length;
}

bool isAcceptableText(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = acceptableSequence(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Every byte is allowed by `allowed`, a well-formed escape, or (when `nonAscii`) part of a
// non-ASCII character, which the text will carry encoded.
bool isValidComponent(std::string_view part, bool (*allowed)(unsigned char), bool nonAscii) {
    for (std::size_t i = 0; i < part.size(); ++i) {
        const auto c = static_cast<unsigned char>(part[i]);
        if (c == '%') {
            if (!isEscapeAt(part, i)) return false;
            i += 2;
        } else if (c >= 0x80 ? !nonAscii : !allowed(c)) {
            return false;
        }
    }
    return true;
}

bool isAllowed(unsigned char c, bool (*allowed)(unsigned char)) { return c < 0x80 && allowed(c); }

std::optional<std::string_view> cutAfter(std::string_view& text, char delimiter) {
    const auto at = text.find(delimiter);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view tail = text.substr(at + 1);
    text = text.substr(0, at);
    return tail;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    }
    return true;
}

// Schemes whose addresses are useless without a host.
bool requiresHost(std::string_view scheme) {
    return equalsIgnoringCase(scheme, "http") || equalsIgnoringCase(scheme, "https");
}

// dec-octet "." dec-octet "." dec-octet "." dec-octet, without leading zeros.
bool isIpv4(std::string_view text) {
    int octets = 0;
    std::size_t i = 0;
    while (true) {
        const std::size_t start = i;
        int value = 0;
        while (i < text.size() && isDigit(static_cast<unsigned char>(text[i])) && i - start < 3) {
            value = value * 10 + (text[i] - '0');
            ++i;
        }
        const std::size_t digits = i - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
        if (++octets == 4) return i == text.size();
        if (i >= text.size() || text[i] != '.') return false;
        ++i;
    }
}

// Counts the 16-bit groups of a run of h16 separated by ":", the last of which may be an
// IPv4 address (two groups); none when the run is malformed.
std::optional<int> ipv6Groups(std::string_view run, bool mayEndInIpv4) {
    if (run.empty()) return 0;
    int groups = 0;
    while (true) {
        const auto colon = run.find(':');
        const std::string_view piece = run.substr(0, colon);
        if (colon == std::string_view::npos && mayEndInIpv4 && piece.find('.') != std::string_view::npos) {
            return isIpv4(piece) ? std::optional(groups + 2) : std::nullopt;
        }
        if (piece.empty() || piece.size() > 4) return std::nullopt;
        for (char c : piece) {
            if (!isHex(static_cast<unsigned char>(c))) return std::nullopt;
        }
        ++groups;
        if (colon == std::string_view::npos) return groups;
        run.remove_prefix(colon + 1);
    }
}

bool isIpv6(std::string_view text) {
    const auto gap = text.find("::");
    if (gap == std::string_view::npos) {
        const auto groups = ipv6Groups(text, true);
        return groups == 8;
    }
    const std::string_view left = text.substr(0, gap);
    const std::string_view right = text.substr(gap + 2);
    if (right.find("::") != std::string_view::npos) return false;
    const auto leftGroups = ipv6Groups(left, false);
    const auto rightGroups = ipv6Groups(right, true);
    return leftGroups && rightGroups && *leftGroups + *rightGroups <= 7;
}

// "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
bool isIpvFuture(std::string_view text) {
    if (text.size() < 4 || (text[0] | 0x20) != 'v') return false;
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 1 || dot + 1 == text.size()) return false;
    for (std::size_t i = 1; i < dot; ++i) {
        if (!isHex(static_cast<unsigned char>(text[i]))) return false;
    }
    for (std::size_t i = dot + 1; i < text.size(); ++i) {
        if (!isUserInfoChar(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

bool isValidHost(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        if (host.size() < 2 || host.back() != ']') return false;
        const std::string_view literal = host.substr(1, host.size() - 2);
        return isIpv6(literal) || isIpvFuture(literal);
    }
    return isValidComponent(host, isRegNameChar, false);
}

// *DIGIT, at most 65535; empty means no port.
bool parsePort(std::string_view text, std::optional<int>& port) {
    if (text.empty()) return true;
    long value = 0;
    for (char c : text) {
        if (!isDigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
        if (value > 65535) return false;
    }
    port = static_cast<int>(value);
    return true;
}

}  // namespace

// The raw pieces of a reference, cut at its delimiters; delimiters are ASCII and never occur
// inside a UTF-8 sequence, so cutting before validation is safe.
struct RawReference {
    std::optional<std::string_view> scheme;
    std::optional<std::string_view> userInfo;
    std::optional<std::string_view> host;  // present exactly when there is an authority
    std::optional<std::string_view> port;
    std::string_view path;
    std::optional<std::string_view> query;
    std::optional<std::string_view> fragment;
};

namespace {

RawReference split(std::string_view text) {
    RawReference raw;
    std::size_t schemeEnd = 0;
    if (isAlpha(static_cast<unsigned char>(text[0]))) {
        while (schemeEnd < text.size() && isSchemeChar(static_cast<unsigned char>(text[schemeEnd]))) ++schemeEnd;
        if (schemeEnd < text.size() && text[schemeEnd] == ':') {
            raw.scheme = text.substr(0, schemeEnd);
            text.remove_prefix(schemeEnd + 1);
        }
    }
    raw.fragment = cutAfter(text, '#');
    raw.query = cutAfter(text, '?');
    if (text.substr(0, 2) == "//") {
        text.remove_prefix(2);
        const auto slash = text.find('/');
        std::string_view authority = text.substr(0, slash);
        text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
        const auto at = authority.find('@');
        if (at != std::string_view::npos) {
            raw.userInfo = authority.substr(0, at);
            authority.remove_prefix(at + 1);
        }
        // An IPv6 literal holds colons of its own; the port follows its closing bracket.
        const auto bracket = authority.starts_with('[') ? authority.find(']') : 0;
        const auto colon = bracket == std::string_view::npos ? bracket : authority.find(':', bracket);
        raw.host = authority.substr(0, colon);
        if (colon != std::string_view::npos) raw.port = authority.substr(colon + 1);
    }
    raw.path = text;
    return raw;
}

bool isValid(const RawReference& raw, std::optional<int>& port) {
    if (raw.host) {
        if (raw.userInfo && !isValidComponent(*raw.userInfo, isUserInfoChar, false)) return false;
        if (!isValidHost(*raw.host)) return false;
        if (raw.port && !parsePort(*raw.port, port)) return false;
    }
    if (raw.scheme && requiresHost(*raw.scheme) && (!raw.host || raw.host->empty())) return false;
    // A relative path's first segment cannot hold a colon: it would read as a scheme.
    if (!raw.scheme && !raw.host && raw.path.substr(0, raw.path.find('/')).find(':') != std::string_view::npos) {
        return false;
    }
    return isValidComponent(raw.path, isPathChar, true) &&
           (!raw.query || isValidComponent(*raw.query, isQueryChar, true)) &&
           (!raw.fragment || isValidComponent(*raw.fragment, isQueryChar, true));
}

}  // namespace

// Lays the validated pieces out in the text, encoding non-ASCII bytes, and records where
// each component stands.
class UrlBuilder {
public:
    static Url build(const RawReference& raw, std::optional<int> port) {
        Url url;
        std::string& out = url.text_;
        if (raw.scheme) {
            url.scheme_ = append(out, *raw.scheme);
            out += ':';
        }
        if (raw.host) {
            out += "//";
            if (raw.userInfo) {
                std::string_view user = *raw.userInfo;
                const auto password = cutAfter(user, ':');
                url.user_ = append(out, user);
                if (password) {
                    out += ':';
                    url.password_ = append(out, *password);
                }
                out += '@';
            }
            url.host_ = append(out, *raw.host);
            if (raw.port) {
                out += ':';
                append(out, *raw.port);
            }
            url.port_ = port;
        }
        url.path_ = append(out, raw.path);
        if (raw.query) {
            out += '?';
            url.query_ = append(out, *raw.query);
        }
        if (raw.fragment) {
            out += '#';
            url.fragment_ = append(out, *raw.fragment);
        }
        return url;
    }

private:
    static Url::Slice append(std::string& out, std::string_view part) {
        const std::size_t start = out.size();
        for (char c : part) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x80) {
                appendEscape(out, byte);
            } else {
                out += c;
            }
        }
        return {start, out.size() - start};
    }
};

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty() || text.size() > maxLength || !isAcceptableText(text)) return std::nullopt;
    const RawReference raw = split(text);
    std::optional<int> port;
    if (!isValid(raw, port)) return std::nullopt;
    Url url = UrlBuilder::build(raw, port);
    if (url.text_.size() > maxLength) return std::nullopt;
    return url;
}

std::optional<std::string> Url::slice(const std::optional<Slice>& part) const {
    if (!part) return std::nullopt;
    return text_.substr(part->pos, part->size);
}

std::optional<std::string> Url::scheme() const {
    auto scheme = slice(scheme_);
    if (scheme) {
        for (char& c : *scheme) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return scheme;
}

std::optional<std::string> Url::user() const { return slice(user_); }
std::optional<std::string> Url::password() const { return slice(password_); }
std::optional<std::string> Url::host() const { return slice(host_); }
std::string Url::path() const { return text_.substr(path_.pos, path_.size); }
std::optional<std::string> Url::query() const { return slice(query_); }
std::optional<std::string> Url::fragment() const { return slice(fragment_); }

Url Url::withQuery(std::optional<std::string> encodedQuery) const {
    std::string text = text_.substr(0, path_.pos + path_.size);
    if (encodedQuery) {
        text += '?';
        const std::string_view query = *encodedQuery;
        for (std::size_t i = 0; i < query.size(); ++i) {
            const auto c = static_cast<unsigned char>(query[i]);
            if (c == '%' ? isEscapeAt(query, i) : isAllowed(c, isQueryChar)) {
                text += query[i];
            } else {
                appendEscape(text, c);
            }
        }
    }
    if (fragment_) {
        text += '#';
        text += text_.substr(fragment_->pos, fragment_->size);
    }
    // A bare "?q" without its query would be the empty text, which is no URL.
    if (text.empty()) throw std::invalid_argument("removing the query leaves an empty URL reference");
    // Every piece is valid by now, so only the length can make it fail.
    auto url = parse(text);
    if (!url) throw std::length_error("URL longer than " + std::to_string(maxLength) + " bytes");
    return std::move(*url);
}

bool isUnreserved(unsigned char c) noexcept { return isUnreservedChar(c); }

std::string percentEncode(std::string_view bytes, bool (*allowed)(unsigned char)) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAllowed(byte, allowed)) {
            out += c;
        } else {
            appendEscape(out, byte);
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (!isEscapeAt(text, i)) return std::nullopt;
        out += static_cast<char>(
            hexValue(static_cast<unsigned char>(text[i + 1])) * 16 + hexValue(static_cast<unsigned char>(text[i + 2])));
        i += 2;
    }
    return out;
}

std::string encodeQuery(const std::vector<QueryItem>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const QueryItem& item = items[i];
        if (i > 0) out += '&';
        out += percentEncode(item.name, isUnreserved);
        if (item.value) {
            out += '=';
            out += percentEncode(*item.value, isUnreserved);
        }
    }
    return out;
}

std::vector<QueryItem> decodeQuery(std::string_view encodedQuery) {
    const auto decoded = [](std::string_view part) {
        auto bytes = percentDecode(part);
        return bytes ? std::move(*bytes) : std::string(part);
    };
    std::vector<QueryItem> items;
    if (encodedQuery.empty()) return items;
    while (true) {
        const auto amp = encodedQuery.find('&');
        std::string_view piece = encodedQuery.substr(0, amp);
        const auto value = cutAfter(piece, '=');
        items.push_back({decoded(piece), value ? std::optional(decoded(*value)) : std::nullopt});
        if (amp == std::string_view::npos) return items;
        encodedQuery.remove_prefix(amp + 1);
    }
}

}  // namespace brisalune::platform
