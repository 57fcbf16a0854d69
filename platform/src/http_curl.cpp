#include <brisalune/platform/http.hpp>

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>
#include <new>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int maxRedirects = 16;
constexpr long connectionsPerHandle = 16;
constexpr std::size_t idleHandlesKept = 32;
constexpr auto longestPollWait = std::chrono::milliseconds(1000);
// A body's announced length (within the answer's limit) is reserved up front, with room past
// the end so that a JSON parser reads it in place; a longer announcement is not trusted with
// memory in advance, whatever limit a caller set.
constexpr std::size_t longestReservedBody = std::size_t{64} << 20;
constexpr std::size_t bodySlack = 64;

// --- request checks --------------------------------------------------------

bool isTokenChar(char c) {
    constexpr std::string_view extra = "!#$%&'*+-.^_`|~";
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           extra.find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) { return !text.empty() && std::ranges::all_of(text, isTokenChar); }

bool isFieldValue(std::string_view text) {
    return std::ranges::none_of(text, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

// Refuse what would be smuggled into the request head.
void checkRequest(const Request& request) {
    if (!isToken(request.method)) {
        throw TransportError("invalid request method");
    }
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name) || !isFieldValue(value)) {
            throw TransportError("invalid header field: " + name);
        }
    }
}

// POST, PUT and PATCH always carry a body, if only an empty one (Content-Length: 0).
bool carriesBody(const Request& request) {
    const std::string& method = request.method;
    return method != "HEAD" && (request.body || method == "POST" || method == "PUT" || method == "PATCH");
}

// --- errors ----------------------------------------------------------------

std::string describe(CURLcode code, const char* detail) {
    switch (code) {
        case CURLE_COULDNT_CONNECT: return "Could not connect to the server.";
        case CURLE_OPERATION_TIMEDOUT: return "The request timed out.";
        case CURLE_ABORTED_BY_CALLBACK: return "cancelled";
        case CURLE_COULDNT_RESOLVE_HOST: return "A server with the specified hostname could not be found.";
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT: return "unsupported URL";
        case CURLE_TOO_MANY_REDIRECTS: return "too many HTTP redirects";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
            return "An SSL error has occurred and a secure connection to the server cannot be made.";
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM: return "The network connection was lost.";
        default: break;
    }
    std::string text = curl_easy_strerror(code);
    if (detail != nullptr && *detail != '\0') {
        text.append(": ").append(detail);
    }
    return text;
}

std::string sizeText(std::size_t bytes) {
    constexpr std::pair<std::size_t, const char*> units[] = {{1U << 30, "GB"}, {1U << 20, "MB"}, {1U << 10, "KB"}};
    for (const auto& [unit, name] : units) {
        if (bytes >= unit) {
            return std::to_string(bytes / unit) + " " + name;
        }
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string tooLarge(std::size_t limit) {
    return "The server's answer was too large: more than " + sizeText(limit) + ".";
}

// --- one libcurl handle with its own connection cache ----------------------

// Process-wide DNS and TLS-session caches; connections stay with each handle,
// since libcurl does not share connections safely between threads.
class Share {
public:
    Share() : share_(curl_share_init()) {
        if (share_ == nullptr) {
            throw std::bad_alloc();
        }
        curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Share::lock);
        curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Share::unlock);
        curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~Share() { curl_share_cleanup(share_); }
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    [[nodiscard]] CURLSH* get() const { return share_; }

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<Share*>(self)->mutexFor(data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* self) { static_cast<Share*>(self)->mutexFor(data).unlock(); }
    std::mutex& mutexFor(curl_lock_data data) {
        const auto index = static_cast<std::size_t>(data);
        return mutexes_[index < mutexes_.size() ? index : 0];
    }

    CURLSH* share_;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes_;
};

struct Handle {
    Handle() : easy(curl_easy_init()), multi(curl_multi_init()) {
        if (easy == nullptr || multi == nullptr) {
            release();
            throw std::bad_alloc();
        }
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, connectionsPerHandle);
    }
    ~Handle() { release(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    void release() {
        if (easy != nullptr) {
            curl_easy_cleanup(easy);
        }
        if (multi != nullptr) {
            curl_multi_cleanup(multi);
        }
    }

    CURL* easy;
    CURLM* multi;
    std::array<char, CURL_ERROR_SIZE> errorText{};
};

// --- one exchange (one hop of a redirect chain) ----------------------------

class HeaderList {
public:
    HeaderList() = default;
    ~HeaderList() { curl_slist_free_all(list_); }
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;

    void append(const std::string& line) {
        curl_slist* grown = curl_slist_append(list_, line.c_str());
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        list_ = grown;
    }
    [[nodiscard]] curl_slist* get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

// Only the caller's fields go out: libcurl's own defaults are switched off.
void buildHeaderList(const Headers& headers, HeaderList& list) {
    for (const auto& [name, value] : headers) {
        // "Name;" is libcurl's way to send a field with an empty value.
        list.append(value.empty() ? name + ";" : name + ": " + value);
    }
    for (const char* name : {"Accept", "Content-Type", "Expect"}) {
        if (!headers.contains(name)) {
            list.append(std::string(name) + ":");
        }
    }
}

struct Exchange {
    CURL* easy = nullptr;
    std::size_t maxBody = defaultMaxAnswerBytes;
    std::size_t maxErrorBody = defaultMaxErrorAnswerBytes;
    bool expectsBody = true;  // not for HEAD
    std::string body;
    Clock::time_point lastActivity = Clock::now();
    curl_off_t lastUp = 0;
    curl_off_t lastDown = 0;
    bool outOfMemory = false;
    bool overLimit = false;     // a body too large for an answer: the exchange fails
    bool cutErrorBody = false;  // an error answer's body stopped at its limit: the answer stands

    Exchange(CURL* handle, const Request& request)
        : easy(handle)
        , maxBody(request.maxAnswerBytes)
        , maxErrorBody(request.maxErrorAnswerBytes)
        , expectsBody(request.method != "HEAD") {}

    [[nodiscard]] long status() const {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }
    [[nodiscard]] static bool isError(long status) { return status >= 400; }
    [[nodiscard]] std::size_t limitFor(long status) const { return isError(status) ? maxErrorBody : maxBody; }

    [[nodiscard]] curl_off_t announcedLength() const {
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        return length;
    }

    // Refused before its first byte: an answer whose announced body is over the limit.
    [[nodiscard]] bool announcesTooMuch() const {
        const long code = status();
        const bool bodyFollows = expectsBody && code >= 200 && code != 204 && code != 304;
        const curl_off_t length = announcedLength();
        return bodyFollows && !isError(code) && length > 0 && static_cast<std::size_t>(length) > maxBody;
    }

    // A large body then arrives without being copied as it grows.
    void reserveAnnouncedLength(std::size_t limit) {
        const curl_off_t length = announcedLength();
        if (length > 0) {
            body.reserve(std::min({static_cast<std::size_t>(length), limit, longestReservedBody}) + bodySlack);
        }
    }

    // Returning less than was given stops the transfer: the rest of the body is never read.
    std::size_t take(const char* data, std::size_t size) {
        const long code = status();
        const std::size_t limit = limitFor(code);
        if (body.empty()) {
            reserveAnnouncedLength(limit);
        }
        const std::size_t room = limit - std::min(limit, body.size());
        if (size > room) {
            if (!isError(code)) {
                overLimit = true;
                return 0;
            }
            body.append(data, room);
            cutErrorBody = true;
            return 0;
        }
        body.append(data, size);
        return size;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* exchange = static_cast<Exchange*>(self);
        exchange->lastActivity = Clock::now();
        try {
            return exchange->take(data, size * count);
        } catch (const std::bad_alloc&) {
            exchange->outOfMemory = true;
            return 0;
        }
    }
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* exchange = static_cast<Exchange*>(self);
        exchange->lastActivity = Clock::now();
        const std::string_view line(data, size * count);
        const bool headEnds = line == "\r\n" || line == "\n";
        if (headEnds && exchange->announcesTooMuch()) {
            exchange->overLimit = true;
            return 0;
        }
        return size * count;
    }
    static int onProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
        auto* exchange = static_cast<Exchange*>(self);
        if (down != exchange->lastDown || up != exchange->lastUp) {
            exchange->lastDown = down;
            exchange->lastUp = up;
            exchange->lastActivity = Clock::now();
        }
        return 0;
    }
};

void setMethodAndBody(CURL* easy, const Request& request) {
    const std::string& method = request.method;
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        return;
    }
    if (carriesBody(request)) {
        // libcurl reads the body during the transfer: point at the request's own bytes.
        static const std::string noBody;
        const std::string& body = request.body ? *request.body : noBody;
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    }
    if (method != "POST" && !(method == "GET" && !request.body)) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
}

// The certificate authorities a transport trusts; none given: the system's.
struct Trust {
    std::optional<std::string> authoritiesPem;

    void apply(CURL* easy) const {
        if (!authoritiesPem) {
            return;
        }
        curl_blob blob{
            .data = const_cast<char*>(authoritiesPem->data()), .len = authoritiesPem->size(), .flags = CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    }
};

struct Setup {
    CURLSH* share;
    const Trust& trust;
};

void configure(Handle& handle, const Request& request, const HeaderList& headers, Exchange& exchange, Setup setup) {
    CURL* easy = handle.easy;
    curl_easy_reset(easy);
    handle.errorText.fill('\0');
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_SHARE, setup.share);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, handle.errorText.data());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    setup.trust.apply(easy);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXCONNECTS, connectionsPerHandle);
    if (request.timeout.count() > 0) {
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    setMethodAndBody(easy, request);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Exchange::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Exchange::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Exchange::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
}

// Attaches the easy handle to its multi handle for one transfer.
class Attached {
public:
    explicit Attached(Handle& handle) : handle_(handle) {
        if (curl_multi_add_handle(handle_.multi, handle_.easy) != CURLM_OK) {
            throw TransportError("could not start the transfer");
        }
    }
    ~Attached() { curl_multi_remove_handle(handle_.multi, handle_.easy); }
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;

private:
    Handle& handle_;
};

int pollWaitMs(const Exchange& exchange, std::chrono::milliseconds timeout) {
    auto wait = longestPollWait;
    if (timeout.count() > 0) {
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exchange.lastActivity);
        wait = std::clamp(timeout - idle + std::chrono::milliseconds(1), std::chrono::milliseconds(0), wait);
    }
    return static_cast<int>(wait.count());
}

bool idleTooLong(const Exchange& exchange, std::chrono::milliseconds timeout) {
    return timeout.count() > 0 && Clock::now() - exchange.lastActivity >= timeout;
}

// Drives the transfer, giving up when no byte moved for the request's time-out or when the
// request is cancelled (a stop request wakes the poll at once).
CURLcode run(
    Handle& handle, const Exchange& exchange, std::chrono::milliseconds timeout, const std::stop_token& cancel) {
    Attached attached(handle);
    std::stop_callback wake(cancel, [&handle] { curl_multi_wakeup(handle.multi); });
    int running = 1;
    while (true) {
        if (cancel.stop_requested()) {
            return CURLE_ABORTED_BY_CALLBACK;
        }
        if (curl_multi_perform(handle.multi, &running) != CURLM_OK) {
            return CURLE_OUT_OF_MEMORY;
        }
        if (running == 0) {
            break;
        }
        if (idleTooLong(exchange, timeout)) {
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (curl_multi_poll(handle.multi, nullptr, 0, pollWaitMs(exchange, timeout), nullptr) != CURLM_OK) {
            return CURLE_OUT_OF_MEMORY;
        }
    }
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(handle.multi, &pending)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle.easy) {
            return message->data.result;
        }
    }
    return CURLE_GOT_NOTHING;
}

Headers receivedHeaders(CURL* easy) {
    Headers headers;
    curl_header* previous = nullptr;
    while (curl_header* field = curl_easy_nextheader(easy, CURLH_HEADER, -1, previous)) {
        headers.add(field->name, field->value);
        previous = field;
    }
    return headers;
}

// --- redirects -------------------------------------------------------------

struct Origin {
    std::string scheme;
    std::string host;
    std::string port;

    bool operator==(const Origin&) const = default;
};

std::string urlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, CURLU_DEFAULT_PORT) != CURLUE_OK) {
        return {};
    }
    std::string copy(text);
    curl_free(text);
    std::ranges::transform(copy, copy.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return copy;
}

std::optional<Origin> originOf(const std::string& address) {
    CURLU* url = curl_url();
    if (url == nullptr) {
        throw std::bad_alloc();
    }
    std::optional<Origin> origin;
    if (curl_url_set(url, CURLUPART_URL, address.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        origin = Origin{urlPart(url, CURLUPART_SCHEME), urlPart(url, CURLUPART_HOST), urlPart(url, CURLUPART_PORT)};
    }
    curl_url_cleanup(url);
    return origin;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The request for the next hop, or nothing when the answer is final.
std::optional<Request> nextHop(CURL* easy, const Request& current, int status) {
    char* location = nullptr;
    if (!isRedirect(status) || curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location) != CURLE_OK ||
        location == nullptr) {
        return std::nullopt;
    }
    Request next = current;
    next.url = location;
    const auto from = originOf(current.url);
    const auto to = originOf(next.url);
    if (!to || (to->scheme != "http" && to->scheme != "https")) {
        throw TransportError("unsupported URL");
    }
    if (from && from->scheme == "https" && to->scheme == "http") {
        throw TransportError("The server redirected a secure connection to an insecure address; it was not followed.");
    }
    const bool becomesGet = status == 303 || ((status == 301 || status == 302) && current.method == "POST");
    if (becomesGet && current.method != "HEAD") {
        next.method = "GET";
        next.body.reset();
        next.headers.remove("Content-Type");
        next.headers.remove("Content-Length");
    }
    if (!from || *from != *to) {
        // What was sent (a password, say) goes only where the caller sent it.
        if (carriesBody(next)) {
            throw TransportError(
                "The server redirected this request to another server; it was not followed, so what it carried "
                "was not sent there.");
        }
        // Credentials never travel to another origin, nor does a Host meant for the first.
        for (const char* name : {"Authorization", "Cookie", "Host"}) {
            next.headers.remove(name);
        }
    }
    return next;
}

// --- the transport ---------------------------------------------------------

// Idle handles, the most recently used last: its connections are the warmest.
class HandlePool {
public:
    class Lease {
    public:
        Lease(HandlePool& pool, std::unique_ptr<Handle> handle) : pool_(pool), handle_(std::move(handle)) {}
        ~Lease() { pool_.recycle(std::move(handle_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        Handle& operator*() const { return *handle_; }

    private:
        HandlePool& pool_;
        std::unique_ptr<Handle> handle_;
    };

    Lease acquire() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                auto handle = std::move(idle_.back());
                idle_.pop_back();
                return {*this, std::move(handle)};
            }
        }
        return {*this, std::make_unique<Handle>()};
    }

private:
    void recycle(std::unique_ptr<Handle> handle) {
        std::lock_guard lock(mutex_);
        if (idle_.size() < idleHandlesKept) {
            idle_.push_back(std::move(handle));
        }
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<Handle>> idle_;
};

class CurlTransport final : public Transport {
public:
    explicit CurlTransport(Trust trust = {}) : trust_(std::move(trust)) {}

    Response perform(const Request& request) override {
        checkRequest(request);
        const auto lease = pool_.acquire();
        Handle& handle = *lease;
        Request hop = request;
        for (int redirects = 0;; ++redirects) {
            Response response = performOnce(handle, hop);
            auto next = nextHop(handle.easy, hop, response.status);
            if (!next) {
                return response;
            }
            if (redirects == maxRedirects) {
                throw TransportError(describe(CURLE_TOO_MANY_REDIRECTS, nullptr));
            }
            hop = std::move(*next);
        }
    }

private:
    Response performOnce(Handle& handle, const Request& request) {
        HeaderList headers;
        buildHeaderList(request.headers, headers);
        Exchange exchange(handle.easy, request);
        configure(handle, request, headers, exchange, {share_.get(), trust_});
        const CURLcode result = run(handle, exchange, request.timeout, request.cancel);
        if (exchange.outOfMemory) {
            throw std::bad_alloc();
        }
        if (exchange.overLimit) {
            throw TransportError(tooLarge(request.maxAnswerBytes));
        }
        if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && exchange.cutErrorBody)) {
            throw TransportError(describe(result, handle.errorText.data()));
        }
        long status = 0;
        curl_easy_getinfo(handle.easy, CURLINFO_RESPONSE_CODE, &status);
        return Response{static_cast<int>(status), receivedHeaders(handle.easy), std::move(exchange.body)};
    }

    Trust trust_;
    Share share_;  // outlives the pool's handles, which use it
    HandlePool pool_;
};

void initialiseCurl() {
    static const bool done = [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw TransportError("could not initialise libcurl");
        }
        return true;
    }();
    (void)done;
}

}  // namespace

std::shared_ptr<Transport> curlTransport() {
    static const std::shared_ptr<Transport> shared = [] {
        initialiseCurl();
        return std::make_shared<CurlTransport>();
    }();
    return shared;
}

std::shared_ptr<Transport> curlTransportTrusting(std::string authoritiesPem) {
    initialiseCurl();
    return std::make_shared<CurlTransport>(Trust{std::move(authoritiesPem)});
}

}  // namespace brisalune::http
