#pragma once

// The process-wide record of what servers say about versions: one verdict per server, and the
// summary of all verdicts that the compatibility model shows.

#include <brisalune/platform/http.hpp>
#include <brisalune/platform/url.hpp>

#include <compare>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// A dotted release number: "2.3" and "2.3.0" are the same version.
struct ReleaseVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;

    // Two or three pieces of ASCII digits joined by "."; nothing else (no sign, suffix or blank).
    static std::optional<ReleaseVersion> parse(std::string_view text);

    // "major.minor.patch", patch always written.
    std::string description() const;

    friend auto operator<=>(const ReleaseVersion&, const ReleaseVersion&) = default;
};

struct ServerMinimums {
    ReleaseVersion supported;  // older servers still work, with a dismissable banner
    ReleaseVersion required;   // older servers are refused for "/v1" calls

    static constexpr ServerMinimums zero() { return {}; }

    friend bool operator==(const ServerMinimums&, const ServerMinimums&) = default;
};

// One server's standing; a default-constructed standing is `supported`.
class ServerStanding {
public:
    enum class Kind { unsupported, outdated, supported };

    ServerStanding() = default;
    // Below the supported minimum (the version text), or no version on a successful "/v1" answer.
    static ServerStanding unsupported(std::optional<std::string> version = std::nullopt);
    // Below the required minimum.
    static ServerStanding outdated(std::string version);
    static ServerStanding supported() { return {}; }

    Kind kind() const noexcept { return kind_; }
    // The server's version text; always present for `outdated`, never for `supported`.
    const std::optional<std::string>& version() const noexcept { return version_; }

    friend bool operator==(const ServerStanding&, const ServerStanding&) = default;

private:
    ServerStanding(Kind kind, std::optional<std::string> version);

    Kind kind_ = Kind::supported;
    std::optional<std::string> version_;
};

// A server's refusal of this client.
struct ClientOutdated {
    std::string client;
    std::optional<std::string> minVersion;

    friend bool operator==(const ClientOutdated&, const ClientOutdated&) = default;
};

// What the record publishes; default-constructed it is the empty state.
struct CompatibilityState {
    std::optional<std::string> serverVersion;       // the latest non-empty version header of any server
    std::optional<std::string> supportedMinimum;    // a supported minimum client version a server announced
    std::optional<ClientOutdated> outdated;         // while some server refuses this client
    std::map<std::string, ServerStanding> servers;  // server key -> standing, `supported` ones left out

    // The standing recorded under the URL's server key; `supported` when there is none.
    ServerStanding standing(const platform::Url& url) const;

    friend bool operator==(const CompatibilityState&, const CompatibilityState&) = default;
};

// True for "/v1" and paths below "/v1/".
bool isV1Path(std::string_view path) noexcept;

// A subscription to the states a `ServerCompatibility` publishes. It holds at most one state:
// the newest one not yet taken (a newer state replaces an untaken one). The record keeps only a
// weak reference, so dropping the last shared_ptr ends the subscription. Thread-safe.
class CompatibilityUpdates {
public:
    CompatibilityUpdates(const CompatibilityUpdates&) = delete;
    CompatibilityUpdates& operator=(const CompatibilityUpdates&) = delete;

    // Takes the waiting state, if any.
    std::optional<CompatibilityState> tryNext();
    // Waits for a state; none once `stop` is requested.
    std::optional<CompatibilityState> next(std::stop_token stop);
    // `wake` (replacing any earlier one) is called, on the publishing thread and with no lock of
    // the record held, each time a state is put; it is called at once when a state is already
    // waiting. It may run on several threads at once and should only take the state.
    void onValue(std::function<void()> wake);

private:
    friend class ServerCompatibility;

    CompatibilityUpdates() = default;
    // Stores the state and hands back the wake-up to call once the record's lock is released.
    std::function<void()> put(const CompatibilityState& state);

    std::mutex mutex_;
    std::condition_variable_any ready_;
    std::optional<CompatibilityState> waiting_;
    std::function<void()> wake_;
};

// Every operation may be called from any thread at any time. No operation throws, except for a
// failure to allocate.
class ServerCompatibility {
public:
    explicit ServerCompatibility(ServerMinimums minimums = ServerMinimums::zero());
    ServerCompatibility(const ServerCompatibility&) = delete;
    ServerCompatibility& operator=(const ServerCompatibility&) = delete;

    // The instance every client of the app records into; minimums 0.0.0 and 0.0.0.
    static ServerCompatibility& shared();

    const ServerMinimums& minimums() const noexcept { return minimums_; }

    // The last published state.
    CompatibilityState current() const;

    // A new subscription that holds the current state at once, then every published one.
    std::shared_ptr<CompatibilityUpdates> updates();

    // Records one answer of the server at `url` to a request on `path` (without query); reads
    // "X-Brisalune-Version" and "X-Brisalune-Client-Unsupported". Returns the server's standing.
    ServerStanding record(int status, const http::Headers& headers, std::string_view path, const platform::Url& url);
    // The same, for the server whose serverKey is `key`.
    ServerStanding recordAt(int status, const http::Headers& headers, std::string_view path, const std::string& key);
    // Marks the server at `url` as refusing this client.
    void recordClientOutdated(ClientOutdated outdated, const platform::Url& url);
    // Drops every server's refusal mark.
    void clearClientOutdated();

    // scheme "://" host ":" [port]: "https://example.com:" without an explicit port,
    // "https://example.com:443" with one; "" for a URL without a host (or no URL).
    static std::string serverKey(const platform::Url& url);
    static std::string serverKey(const std::optional<platform::Url>& url);

private:
    struct Verdict {
        std::optional<std::string> supportedMinimum;
        std::optional<ClientOutdated> outdated;
        ServerStanding server;

        // Whether an answer with this standing and minimum leaves the verdict as it is.
        [[nodiscard]] bool keeps(
            const std::optional<ServerStanding>& standing,
            bool v1,
            const std::optional<std::string>& minimum,
            int status) const;
    };
    class Delivery;

    // Changes the verdicts under the lock, publishes, then wakes the subscribers unlocked.
    template <class Change>
    void change(Change&& apply);
    // With the lock held: derives the state and, when it changed, puts it to every subscriber.
    void publish(std::optional<std::string> serverVersion, Delivery& delivery);
    std::optional<ServerStanding> standingOfAnswer(const std::optional<std::string>& version, bool v1Success) const;

    const ServerMinimums minimums_;
    mutable std::mutex mutex_;
    CompatibilityState current_;
    std::map<std::string, Verdict> verdicts_;
    std::vector<std::weak_ptr<CompatibilityUpdates>> subscribers_;
};

}  // namespace brisalune
