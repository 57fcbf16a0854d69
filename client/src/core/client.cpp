#include <brisalune/client/core/client.hpp>

#include <brisalune/client/core/client_outdated.hpp>
#include <brisalune/platform/text.hpp>

#include <stdexcept>

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
    , compatibility_(compatibility)
    , sessionToken_(std::move(sessionToken))
    , dataKey_(std::move(dataKey)) {
    while (!baseText_.empty() && baseText_.back() == '/') baseText_.pop_back();
}

void BrisaluneClient::setSessionToken(std::optional<std::string> token) {
    std::lock_guard lock(credentialsMutex_);
    sessionToken_ = std::move(token);
}

void BrisaluneClient::setDataKey(std::optional<std::string> key) {
    std::lock_guard lock(credentialsMutex_);
    dataKey_ = std::move(key);
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
    switch (plane) {
        case AuthPlane::none: return std::nullopt;
        case AuthPlane::session:
            if (auto token = sessionToken()) return token;
            throw BrisaluneError::unauthorized("not signed in");
        case AuthPlane::data:
            if (auto key = dataKey()) return key;
            throw BrisaluneError::unauthorized("no tenant key");
    }
    return std::nullopt;
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
    ServerStanding standing = compatibility_.record(status, headers, path, baseURL_);
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
    auto target = url(call.path);
    if (!target) throw BrisaluneError::transport("malformed URL");
    if (!call.query.empty()) {
        try {
            target = target->withQuery(platform::encodeQuery(call.query));
        } catch (const std::length_error&) {
            throw BrisaluneError::transport("malformed URL");
        }
    }

    http::Request request;
    request.method = call.method;
    request.url = target->text();
    request.timeout = call.timeout.value_or(std::chrono::seconds(60));
    request.headers = call.headers;
    request.cancel = call.cancel;
    request.headers.set("User-Agent", userAgent_);
    if (auto credential = token(call.plane)) request.headers.set("Authorization", "Bearer " + *credential);
    if (encodeBody) {
        request.headers.set("Content-Type", "application/json");
        request.body = encodeBody();
    }

    http::Response response;
    try {
        response = transport_->perform(request);
    } catch (const http::TransportError& error) {
        throw BrisaluneError::transport(error.what());
    }
    json::Document body(std::move(response.body));
    checkCompatibility(response.status, response.headers, body, call.path);
    return {response.status, std::move(body)};
}

}  // namespace brisalune
