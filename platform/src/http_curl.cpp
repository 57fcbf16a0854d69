#include <brisalune/platform/http.hpp>

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <mutex>
#include <new>
#include <optional>
#include <span>
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
// The whole exchange's bound when the request gives none: far above any real answer's time.
constexpr int wholeTimeoutsPerTimeout = 10;
constexpr auto shortestWholeTimeout = std::chrono::minutes(10);
// A body's announced length (within the answer's limit) is reserved up front, with room past
// the end so that a JSON parser reads it in place; a longer announcement is not trusted with
// memory in advance, whatever limit a caller set.
constexpr std::size_t longestReservedBody = std::size_t{64} << 20;
constexpr std::size_t bodySlack = 64;
// Every line of an answer's heads (interim ones and trailers included) together: far above a
// real server's, and below libcurl's own bound so that the failure names its cause.
constexpr std::size_t longestHead = std::size_t{256} << 10;

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

// Refuse what would be smuggled into the request head. The fields are checked when a handle
// writes them into its list; a handle that sends the same fields again has checked them already.
void checkMethod(const Request& request) {
    if (!isToken(request.method)) {
        throw TransportError("invalid request method");
    }
}

void checkFields(const Headers& headers) {
    for (const auto& [name, value] : headers) {
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
        case CURLE_OPERATION_TIMEDOUT: return std::string(timedOutText);
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

// --- one exchange (one hop of a redirect chain) ----------------------------

class HeaderList {
public:
    HeaderList() = default;
    ~HeaderList() { curl_slist_free_all(list_); }
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;

    void clear() {
        curl_slist_free_all(list_);
        list_ = nullptr;
    }
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

// Only the caller's fields go out: libcurl's own defaults are switched off (the ones it adds
// to a request body only when there is one).
void buildHeaderList(const Headers& headers, bool withBody, HeaderList& list) {
    list.clear();
    for (const auto& [name, value] : headers) {
        // "Name;" is libcurl's way to send a field with an empty value.
        list.append(value.empty() ? name + ";" : name + ": " + value);
    }
    static constexpr std::array<const char*, 3> defaults = {"Accept", "Content-Type", "Expect"};
    for (const char* name : std::span(defaults).first(withBody ? defaults.size() : 1)) {
        if (!headers.contains(name)) {
            list.append(std::string(name) + ":");
        }
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    return text;
}

// The state of the transfer under way; it lives with its handle, whose callbacks point at it.
struct Exchange {
    CURL* easy = nullptr;
    std::size_t maxBody = defaultMaxAnswerBytes;
    std::size_t maxErrorBody = defaultMaxErrorAnswerBytes;
    bool expectsBody = true;  // not for HEAD
    std::string body;
    // The fields of the answer's head as they arrive; a new status line (after an interim
    // answer, or a proxy's) starts over, and trailers after the head are not kept.
    std::vector<Headers::Field> fields;
    bool inHead = false;
    Clock::time_point lastActivity = Clock::now();
    // A byte moved since the driver last looked; it reads the clock then, once per turn,
    // rather than the callbacks once per line of the head.
    bool moved = false;
    curl_off_t lastUp = 0;
    curl_off_t lastDown = 0;
    bool outOfMemory = false;
    std::size_t headBytes = 0;
    bool headTooLarge = false;
    bool overLimit = false;     // a body too large for an answer: the exchange fails
    bool cutErrorBody = false;  // an error answer's body stopped at its limit: the answer stands

    explicit Exchange(CURL* handle) : easy(handle) {}

    void start(const Request& request) {
        maxBody = request.maxAnswerBytes;
        maxErrorBody = request.maxErrorAnswerBytes;
        expectsBody = request.method != "HEAD";
        body = std::string();
        fields.clear();
        inHead = false;
        lastActivity = Clock::now();
        moved = false;
        lastUp = 0;
        lastDown = 0;
        outOfMemory = false;
        headBytes = 0;
        headTooLarge = false;
        overLimit = false;
        cutErrorBody = false;
    }

    [[nodiscard]] Headers receivedHeaders() {
        Headers headers;
        headers.reserve(fields.size());
        for (auto& [name, value] : fields) {
            headers.add(std::move(name), std::move(value));
        }
        fields.clear();
        return headers;
    }

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
        grow(size, limit);
        body.append(data, size);
        return size;
    }

    // Doubling as usual, but never past what the limit lets in: a body at its limit holds no
    // more than that.
    void grow(std::size_t more, std::size_t limit) {
        const std::size_t needed = body.size() + more;
        if (needed > body.capacity()) {
            const std::size_t ceiling = limit > SIZE_MAX - bodySlack ? SIZE_MAX : limit + bodySlack;
            body.reserve(std::max(needed, std::min(body.capacity() * 2, ceiling)));
        }
    }

    // One line of a head: "Name: value", or the continuation of the field before it.
    void collect(std::string_view line) {
        if (isBlank(line.front())) {
            if (!fields.empty()) {
                const std::string_view more = trimmed(line);
                if (!more.empty()) {
                    fields.back().second.append(1, ' ').append(more);
                }
            }
            return;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return;
        }
        fields.emplace_back(std::string(line.substr(0, colon)), std::string(trimmed(line.substr(colon + 1))));
    }

    // Returning less than was given stops the transfer.
    std::size_t onHeaderLine(std::string_view line) {
        headBytes += line.size();
        if (headBytes > longestHead) {
            headTooLarge = true;
            return 0;
        }
        if (line.starts_with("HTTP/")) {
            fields.clear();
            inHead = true;
            return line.size();
        }
        if (line == "\r\n" || line == "\n") {
            inHead = false;
            if (announcesTooMuch()) {
                overLimit = true;
                return 0;
            }
            return line.size();
        }
        if (inHead) {
            collect(line);
        }
        return line.size();
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* exchange = static_cast<Exchange*>(self);
        exchange->moved = true;
        try {
            return exchange->take(data, size * count);
        } catch (const std::bad_alloc&) {
            exchange->outOfMemory = true;
            return 0;
        }
    }
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* exchange = static_cast<Exchange*>(self);
        exchange->moved = true;
        try {
            return exchange->onHeaderLine({data, size * count});
        } catch (const std::bad_alloc&) {
            exchange->outOfMemory = true;
            return 0;
        }
    }
    // Only a request body's upload needs it: the answer's bytes are seen by the two above.
    static int onProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
        auto* exchange = static_cast<Exchange*>(self);
        if (down != exchange->lastDown || up != exchange->lastUp) {
            exchange->lastDown = down;
            exchange->lastUp = up;
            exchange->moved = true;
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

// --- one libcurl handle with its own connection cache ----------------------

// An easy handle kept set up between requests: a request like the one before (same method,
// no body) changes only the options that differ, and its connection stays open.
class Handle {
public:
    explicit Handle(Setup setup) : setup_(setup), easy_(curl_easy_init()), multi_(curl_multi_init()), exchange_(easy_) {
        if (easy_ == nullptr || multi_ == nullptr) {
            release();
            throw std::bad_alloc();
        }
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, connectionsPerHandle);
    }
    ~Handle() { release(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    [[nodiscard]] CURL* easy() const { return easy_; }
    [[nodiscard]] CURLM* multi() const { return multi_; }
    [[nodiscard]] Exchange& exchange() { return exchange_; }
    [[nodiscard]] const char* errorText() const { return errorText_.data(); }

    // Sets the handle up for this request and readies its exchange.
    void prepare(const Request& request) {
        const bool withBody = carriesBody(request);
        if (!plainMethod_ || withBody || *plainMethod_ != request.method) {
            setUpAnew(request, withBody);
        }
        errorText_[0] = '\0';
        setUrl(request.url);
        const long connectTimeout = request.timeout.count() > 0 ? static_cast<long>(request.timeout.count()) : 0L;
        if (connectTimeout != connectTimeout_) {
            curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, connectTimeout);
            connectTimeout_ = connectTimeout;
        }
        if (!headerListFits(request.headers)) {
            sentHeaders_.reset();  // a list half built is never taken for the one that was asked for
            checkFields(request.headers);
            buildHeaderList(request.headers, withBody, headerList_);
            sentHeaders_ = request.headers;
            curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_.get());
        }
        exchange_.start(request);
    }

private:
    void release() {
        if (easy_ != nullptr) {
            curl_easy_cleanup(easy_);
        }
        if (multi_ != nullptr) {
            curl_multi_cleanup(multi_);
        }
    }

    // Every option from its default: what a request with a body or another method needs.
    void setUpAnew(const Request& request, bool withBody) {
        curl_easy_reset(easy_);
        plainMethod_.reset();
        url_.clear();
        connectTimeout_ = 0;
        sentHeaders_.reset();
        curl_easy_setopt(easy_, CURLOPT_SHARE, setup_.share);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_.data());
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        setup_.trust.apply(easy_);
        curl_easy_setopt(easy_, CURLOPT_PATH_AS_IS, 1L);
        curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(easy_, CURLOPT_MAXCONNECTS, connectionsPerHandle);
        setMethodAndBody(easy_, request);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Exchange::onBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &exchange_);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Exchange::onHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, &exchange_);
        if (withBody) {
            curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &Exchange::onProgress);
            curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, &exchange_);
            curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
        } else {
            // The body pointer and the method stay valid for the next request of this kind.
            plainMethod_ = request.method;
        }
    }

    // libcurl copies the address and parses it again for each transfer: set only a new one.
    void setUrl(const std::string& url) {
        if (url_ == url && !url_.empty()) {
            return;
        }
        url_.clear();  // never taken for the one set when setting fails
        if (curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK) {
            url_ = url;
        }
    }

    [[nodiscard]] bool headerListFits(const Headers& headers) const {
        return sentHeaders_ && sentHeaders_->size() == headers.size() &&
               std::equal(headers.begin(), headers.end(), sentHeaders_->begin());
    }

    Setup setup_;
    CURL* easy_;
    CURLM* multi_;
    Exchange exchange_;
    std::array<char, CURL_ERROR_SIZE> errorText_{};
    std::optional<std::string> plainMethod_;  // set up for a bodiless request of this method
    std::string url_;  // the address set on the handle; empty: none yet
    long connectTimeout_ = 0;
    HeaderList headerList_;
    std::optional<Headers> sentHeaders_;  // what headerList_ was built from, for this set-up
};

// Attaches the easy handle to its multi handle for one transfer.
class Attached {
public:
    explicit Attached(Handle& handle) : handle_(handle) {
        if (curl_multi_add_handle(handle_.multi(), handle_.easy()) != CURLM_OK) {
            throw TransportError("could not start the transfer");
        }
    }
    ~Attached() { curl_multi_remove_handle(handle_.multi(), handle_.easy()); }
    Attached(const Attached&) = delete;
    Attached& operator=(const Attached&) = delete;

private:
    Handle& handle_;
};

// When the whole exchange must have ended; none when neither time-out is given.
std::optional<Clock::time_point> deadlineOf(const Request& request) {
    auto whole = request.wholeTimeout;
    if (whole.count() <= 0) {
        if (request.timeout.count() <= 0) {
            return std::nullopt;
        }
        const auto most = std::chrono::milliseconds::max() / wholeTimeoutsPerTimeout;
        whole = std::max<std::chrono::milliseconds>(
            std::min(request.timeout, most) * wholeTimeoutsPerTimeout, shortestWholeTimeout);
    }
    const auto now = Clock::now();
    const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
    return now + std::min(whole, room);
}

// How long the poll may wait for the next byte, or none when the exchange has been silent for
// its whole time-out or has run past its deadline. The clock is read here only, once per turn of
// the driver.
std::optional<int> pollWaitMs(
    Exchange& exchange, std::chrono::milliseconds timeout, std::optional<Clock::time_point> deadline) {
    const auto now = Clock::now();
    if (exchange.moved) {
        exchange.lastActivity = now;
        exchange.moved = false;
    }
    const bool silent = timeout.count() > 0 && now - exchange.lastActivity >= timeout;
    if (silent || (deadline && now >= *deadline)) {
        return std::nullopt;
    }
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - exchange.lastActivity);
    auto wait = timeout.count() > 0 ? timeout - idle : longestPollWait;
    if (deadline) {
        wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(*deadline - now));
    }
    wait = std::clamp(wait + std::chrono::milliseconds(1), std::chrono::milliseconds(0), longestPollWait);
    return static_cast<int>(wait.count());
}

// Drives the transfer, giving up when no byte moved for the request's time-out, when the
// exchange's deadline has passed, or when the request is cancelled (a stop request wakes the
// poll at once).
CURLcode run(
    Handle& handle,
    std::chrono::milliseconds timeout,
    std::optional<Clock::time_point> deadline,
    const std::stop_token& cancel) {
    Exchange& exchange = handle.exchange();
    CURLM* multi = handle.multi();
    Attached attached(handle);
    std::stop_callback wake(cancel, [multi] { curl_multi_wakeup(multi); });
    int running = 1;
    while (true) {
        if (cancel.stop_requested()) {
            return CURLE_ABORTED_BY_CALLBACK;
        }
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            return CURLE_OUT_OF_MEMORY;
        }
        if (running == 0) {
            break;
        }
        const auto wait = pollWaitMs(exchange, timeout, deadline);
        if (!wait) {
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (curl_multi_poll(multi, nullptr, 0, *wait, nullptr) != CURLM_OK) {
            return CURLE_OUT_OF_MEMORY;
        }
    }
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &pending)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle.easy()) {
            return message->data.result;
        }
    }
    return CURLE_GOT_NOTHING;
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

// The request for the next hop, or nothing when the answer is final. Only what the caller asked
// as a GET or a HEAD goes on to another origin: an answer from a server that a change (a DELETE,
// a POST turned GET) was never sent to would read as the change's own.
std::optional<Request> nextHop(CURL* easy, const Request& current, int status, const std::string& callerMethod) {
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
        throw RedirectRefusedError("unsupported URL");
    }
    if (from && from->scheme == "https" && to->scheme == "http") {
        throw RedirectRefusedError(
            "The server redirected a secure connection to an insecure address; it was not followed.");
    }
    const bool becomesGet = status == 303 || ((status == 301 || status == 302) && current.method == "POST");
    if (becomesGet && current.method != "HEAD") {
        next.method = "GET";
        next.body.reset();
        next.headers.remove("Content-Type");
        next.headers.remove("Content-Length");
    }
    if (!from || *from != *to) {
        // What was sent (a password, say) goes only where the caller sent it, and a change is
        // answered only by the server it was sent to.
        if (carriesBody(next) || (callerMethod != "GET" && callerMethod != "HEAD")) {
            throw RedirectRefusedError(
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
    explicit HandlePool(Setup setup) : setup_(setup) {}

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
        return {*this, std::make_unique<Handle>(setup_)};
    }

private:
    void recycle(std::unique_ptr<Handle> handle) {
        std::lock_guard lock(mutex_);
        if (idle_.size() < idleHandlesKept) {
            idle_.push_back(std::move(handle));
        }
    }

    Setup setup_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Handle>> idle_;
};

class CurlTransport final : public Transport {
public:
    explicit CurlTransport(Trust trust = {}) : trust_(std::move(trust)) {}

    Response perform(const Request& request) override {
        checkMethod(request);
        const auto lease = pool_.acquire();
        Handle& handle = *lease;
        const Request* hop = &request;
        std::optional<Request> redirected;  // the caller's request is copied only for a redirect
        const auto deadline = deadlineOf(request);
        for (int redirects = 0;; ++redirects) {
            Response response = performOnce(handle, *hop, deadline);
            auto next = nextHop(handle.easy(), *hop, response.status, request.method);
            if (!next) {
                return response;
            }
            if (redirects == maxRedirects) {
                throw RedirectRefusedError(describe(CURLE_TOO_MANY_REDIRECTS, nullptr));
            }
            redirected = std::move(*next);
            hop = &*redirected;
        }
    }

private:
    static Response performOnce(Handle& handle, const Request& request, std::optional<Clock::time_point> deadline) {
        handle.prepare(request);
        const CURLcode result = run(handle, request.timeout, deadline, request.cancel);
        Exchange& exchange = handle.exchange();
        // Taken from the handle at once: a failure lets go of what was read, rather than leaving
        // it with the idle handle.
        Response response{static_cast<int>(exchange.status()), exchange.receivedHeaders(), std::move(exchange.body)};
        exchange.body = std::string();
        if (exchange.outOfMemory) {
            throw std::bad_alloc();
        }
        if (exchange.overLimit) {
            throw TransportError(tooLarge(request.maxAnswerBytes));
        }
        if (exchange.headTooLarge) {
            throw TransportError(tooLarge(longestHead));
        }
        if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && exchange.cutErrorBody)) {
            throw TransportError(failure(handle, result));
        }
        return response;
    }

    // Once the request went out, libcurl's refusals of what came back are the server's doing.
    static std::string failure(Handle& handle, CURLcode result) {
        long sent = 0;
        curl_easy_getinfo(handle.easy(), CURLINFO_REQUEST_SIZE, &sent);
        if (sent > 0 && result == CURLE_UNSUPPORTED_PROTOCOL) {
            return "non-HTTP response";  // no status line, or one that is not HTTP's
        }
        if (sent > 0 && result == CURLE_OUT_OF_MEMORY) {
            return tooLarge(CURL_MAX_HTTP_HEADER);  // libcurl's refusal of one overlong line of a head
        }
        return describe(result, handle.errorText());
    }

    Trust trust_;
    Share share_;  // outlives the pool's handles, which use it
    HandlePool pool_{{share_.get(), trust_}};
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
