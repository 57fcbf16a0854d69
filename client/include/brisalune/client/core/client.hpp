#pragma once

// The one object through which the program talks to a server of the service: the request road.
// Each family declares its endpoints in its own header as functions taking the client first;
// they build a path, a query and an optional body and hand them to `send`. Thread-safe: any thread may call any
// endpoint, several at once; each request reads the credentials once.

#include <brisalune/client/core/client_identity.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/core/server_compatibility.hpp>
#include <brisalune/platform/http.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/json_document.hpp>
#include <brisalune/platform/url.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// Which credential a request carries.
enum class AuthPlane { none, session, data };

// One request as an endpoint describes it.
struct Call {
    std::string method;
    std::string path;                          // begins with "/", segments already escaped, no query
    std::vector<platform::QueryItem> query{};  // in this order; empty: no "?" at all
    AuthPlane plane = AuthPlane::session;
    // 60 seconds unless given; one of zero or less fails as timed out, and nothing is sent.
    std::optional<std::chrono::milliseconds> timeout{};
    // The longest the whole exchange may take, however steadily the answer comes; the
    // transport's bound unless given.
    std::optional<std::chrono::milliseconds> wholeTimeout{};
    http::Headers headers{};
    std::stop_token cancel{};  // a stop request abandons the call with a transport error
};

// What send gives back for every status. The body is parsed at most once, by whichever reader
// comes first (the compatibility gate, the decoder, the error mapping); the others share it.
struct Answer {
    int status = 0;
    json::Document body;
};

class BrisaluneClient {
public:
    explicit BrisaluneClient(
        platform::Url baseURL,
        std::optional<std::string> sessionToken = std::nullopt,
        std::optional<std::string> dataKey = std::nullopt,
        std::shared_ptr<http::Transport> transport = nullptr,
        ClientIdentity identity = ClientIdentity::current(),
        ServerCompatibility& compatibility = ServerCompatibility::shared());

    const platform::Url& baseURL() const noexcept { return baseURL_; }
    const ClientIdentity& identity() const noexcept { return identity_; }
    ServerCompatibility& compatibility() const noexcept { return compatibility_; }
    const std::shared_ptr<http::Transport>& transport() const noexcept { return transport_; }
    // The same client (address, credentials as they are now, identity, compatibility record) over
    // another transport, such as one that wraps this one's.
    std::shared_ptr<BrisaluneClient> over(std::shared_ptr<http::Transport> transport) const;

    void setSessionToken(std::optional<std::string> token);
    void setDataKey(std::optional<std::string> key);
    std::optional<std::string> sessionToken() const;
    std::optional<std::string> dataKey() const;
    bool hasDataKey() const;

    // ---- the request road ----

    // Sends one request and returns its status and body, whatever the status. Throws
    // BrisaluneError (malformed URL, missing credential, transfer failure, the compatibility
    // gate), or the encoder's own json::EncodeError for a body that cannot be written.
    Answer send(const Call& call) const;
    template <class Body>
    Answer send(const Call& call, const Body& body) const {
        return sendEncoded(call, [&] { return json::encode(body); });
    }

    // The base address without trailing slashes, then the path; none when that is no URL.
    std::optional<platform::Url> url(std::string_view path) const;
    // The plane's credential; throws unauthorized when the client lacks it.
    std::optional<std::string> token(AuthPlane plane) const;

    // What a non-2xx answer becomes (the caller throws it).
    static BrisaluneError error(int status, std::string_view body) { return errorForStatus(status, body); }
    static BrisaluneError error(int status, const json::Document& body) { return errorForStatus(status, body); }

    // Runs the compatibility gate on one answer: records it, then refuses an outdated client or
    // (on "/v1" paths) an outdated server.
    void checkCompatibility(
        int status, const http::Headers& headers, const json::Document& body, std::string_view path) const;

private:
    Answer sendEncoded(const Call& call, const std::function<std::string()>& encodeBody) const;
    // The request's address; throws transport "malformed URL" when there is none.
    std::string address(const Call& call) const;
    // "Bearer" and the plane's credential, read once; throws unauthorized when the client lacks it.
    std::optional<std::string> authorization(AuthPlane plane) const;
    // What `write` makes of the plane's credential, read under the lock; none for plane none.
    std::optional<std::string> withCredential(AuthPlane plane, std::string (*write)(const std::string&)) const;

    platform::Url baseURL_;
    std::shared_ptr<http::Transport> transport_;
    ClientIdentity identity_;
    std::string baseText_;   // the base address without trailing slashes
    std::string userAgent_;  // the identity's, written once
    std::string serverKey_;  // the base address's key in the compatibility record
    bool plainBase_ = false;  // a named host, no query, no fragment: a plain path is joined as it is
    ServerCompatibility& compatibility_;

    mutable std::mutex credentialsMutex_;
    std::optional<std::string> sessionToken_;
    std::optional<std::string> dataKey_;
};

// One identifier placed between two "/" of a path.
std::string escapedPathSegment(std::string_view text);

}  // namespace brisalune
