#include <brisalune/client/core/client.hpp>

#include <brisalune/client/core/client_outdated.hpp>
#include <brisalune/platform/text.hpp>

#include <memory>
#include <stdexcept>
#include <utility>

namespace brisalune {

BrisaluneClient::BrisaluneClient(
    platform::Url baseURL,
    std::optional<std::string> sessionToken,
    std::optional<std::string> dataKey,
    std::shared_ptr<http::Transport> transport,
    ClientIdentity identity,
    ServerCompatibility& compatibility)
    : baseURL_(std::move(baseURL))
    , transport_(transport ? std::move(transport) : http::curlTransport())
    , identity_(std::move(identity))
    , baseText_(baseURL_.text())
    , userAgent_(identity_.userAgent())
    , serverKey_(ServerCompatibility::serverKey(baseURL_))
    , compatibility_(compatibility)
    , sessionToken_(std::move(sessionToken))
    , dataKey_(std::move(dataKey)) {
    while (!baseText_.empty() && baseText_.back() == '/') baseText_.pop_back();
    const auto host = baseURL_.host();
    plainBase_ = host && !host->empty() && !baseURL_.query() && !baseURL_.fragment();
}

void BrisaluneClient::setSessionToken(std::optional<std::string> token) {
    std::lock_guard lock(credentialsMutex_);
    sessionToken_ = std::move(token);
}

void BrisaluneClient::setDataKey(std::optional<std::string> key) {
    std::lock_guard lock(credentialsMutex_);
    dataKey_ = std::move(key);
}

std::shared_ptr<BrisaluneClient> BrisaluneClient::over(std::shared_ptr<http::Transport> transport) const {
    return std::make_shared<BrisaluneClient>(
        baseURL_, sessionToken(), dataKey(), std::move(transport), identity_, compatibility_);
}

std::optional<std::string> BrisaluneClient::sessionToken() const {
    std::lock_guard lock(credentialsMutex_);
    return sessionToken_;
}

std::optional<std::string> BrisaluneClient::dataKey() const {
    std::lock_guard lock(credentialsMutex_);
    return dataKey_;
}

bool BrisaluneClient::hasDataKey() const { return dataKey().has_value(); }

std::optional<platform::Url> BrisaluneClient::url(std::string_view path) const {
    std::string text;
    text.reserve(baseText_.size() + path.size());
    text.append(baseText_).append(path);
    return platform::Url::parse(text);
}

std::optional<std::string> BrisaluneClient::token(AuthPlane plane) const {
    return withCredential(plane, [](const std::string& credential) { return credential; });
}

std::optional<std::string> BrisaluneClient::authorization(AuthPlane plane) const {
    return withCredential(plane, [](const std::string& credential) {
        constexpr std::string_view scheme = "Bearer ";
        std::string value;
        value.reserve(scheme.size() + credential.size());
        value.append(scheme).append(credential);
        return value;
    });
}

std::optional<std::string> BrisaluneClient::withCredential(
    AuthPlane plane, std::string (*write)(const std::string& credential)) const {
    if (plane == AuthPlane::none) return std::nullopt;
    std::lock_guard lock(credentialsMutex_);
    const auto& credential = plane == AuthPlane::session ? sessionToken_ : dataKey_;
    if (!credential) {
        throw BrisaluneError::unauthorized(plane == AuthPlane::session ? "not signed in" : "no tenant key");
    }
    return write(*credential);
}

namespace {

// RFC 3986 path characters: unreserved, sub-delims, ":", "@" and "/".
bool isPathChar(unsigned char c) {
    constexpr std::string_view others = "!$&'()*+,;=:@/";
    return platform::isUnreserved(c) || others.find(static_cast<char>(c)) != std::string_view::npos;
}

bool isHexDigit(unsigned char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

// An absolute path of path characters and well-formed escapes only: joined to a base address
// with a named host and neither query nor fragment, it stays a valid address, written as it is.
bool isPlainPath(std::string_view path) {
    if (!path.starts_with('/')) return false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c == '%') {
            if (i + 2 >= path.size() || !isHexDigit(static_cast<unsigned char>(path[i + 1])) ||
                !isHexDigit(static_cast<unsigned char>(path[i + 2]))) {
                return false;
            }
            i += 2;
        } else if (!isPathChar(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string BrisaluneClient::address(const Call& call) const {
    // The query's text holds unreserved characters, escapes, "=" and "&" only.
    std::optional<std::string> query;
    if (!call.query.empty()) query = platform::encodeQuery(call.query);
    if (plainBase_ && isPlainPath(call.path)) {
        const std::size_t length = baseText_.size() + call.path.size() + (query ? 1 + query->size() : 0);
        if (length > platform::Url::maxLength) throw BrisaluneError::transport("malformed URL");
        std::string text;
        text.reserve(length);
        text.append(baseText_).append(call.path);
        if (query) text.append(1, '?').append(*query);
        return text;
    }
    auto target = url(call.path);
    if (!target) throw BrisaluneError::transport("malformed URL");
    if (query) {
        try {
            target = target->withQuery(std::move(query));
        } catch (const std::length_error&) {
            throw BrisaluneError::transport("malformed URL");
        }
    }
    return target->text();
}

std::string escapedPathSegment(std::string_view text) {
    if (text == ".") return "%2E";
    if (text == "..") return "%2E%2E";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    auto encode = [&](std::string_view bytes) {
        for (unsigned char c : bytes) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    };
    // Letters, marks and digits of every script stay, with "-", ".", "_" and "~"; every other
    // byte is encoded, invalid UTF-8 included: nothing raw ever reaches the path.
    for (std::size_t at = 0; at < text.size();) {
        auto point = platform::decodeCodePoint(text, at);
        if (!point) {
            encode(text.substr(at, 1));
            ++at;
            continue;
        }
        char32_t c = point->value;
        bool allowed = c == '-' || c == '.' || c == '_' || c == '~' || platform::isAlphanumeric(c);
        if (allowed) {
            out += point->bytes;
        } else {
            encode(point->bytes);
        }
        at += point->bytes.size();
    }
    return out;
}

void BrisaluneClient::checkCompatibility(
    int status, const http::Headers& headers, const json::Document& body, std::string_view path) const {
    ServerStanding standing = compatibility_.recordAt(status, headers, path, serverKey_);
    if (auto outdated = ClientOutdatedBody::recognise(status, body)) {
        compatibility_.recordClientOutdated(*outdated, baseURL_);
        throw BrisaluneError::clientOutdated(*outdated);
    }
    if (isV1Path(path) && standing.kind() == ServerStanding::Kind::outdated) {
        throw BrisaluneError::serverOutdated(baseURL_, standing.version().value_or(""));
    }
}

Answer BrisaluneClient::send(const Call& call) const { return sendEncoded(call, nullptr); }

Answer BrisaluneClient::sendEncoded(const Call& call, const std::function<std::string()>& encodeBody) const {
    http::Request request;
    request.url = address(call);
    request.method = call.method;
    request.timeout = call.timeout.value_or(std::chrono::seconds(60));
    // The transport reads a time-out of zero or less as none at all: such a call would wait on a
    // silent server for ever. It has run out before it starts.
    if (request.timeout.count() <= 0) throw BrisaluneError::transport(std::string(http::timedOutText));
    request.headers.reserve(call.headers.size() + 3);  // our fields are added without growing it
    request.headers = call.headers;
    request.cancel = call.cancel;
    if (call.wholeTimeout) request.wholeTimeout = *call.wholeTimeout;
    request.headers.set("User-Agent", userAgent_);
    if (auto credential = authorization(call.plane)) request.headers.set("Authorization", std::move(*credential));
    if (encodeBody) {
        request.headers.set("Content-Type", "application/json");
        request.body = encodeBody();
    }

    http::Response response;
    try {
        response = transport_->perform(request);
    } catch (const http::NotSentError& error) {
        throw BrisaluneError::notSent(error.what());
    } catch (const http::TransportError& error) {
        throw BrisaluneError::transport(error.what());
    }
    json::Document body(std::move(response.body));
    checkCompatibility(response.status, response.headers, body, call.path);
    return {response.status, std::move(body)};
}

}  // namespace brisalune
