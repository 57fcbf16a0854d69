#pragma once

// What the menu shows about versions: the update nudge, the update-required section and the
// banners of old servers, with the user's dismissals kept in user defaults.

#include <brisalune/client/core/server_compatibility.hpp>
#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/url.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

// The fixed texts of the version rows.
namespace UpdateCopy {
inline constexpr std::string_view updateAvailable =
    "A new version of Brisalune is available. Please update when you can.";
inline constexpr std::string_view updateButton = "Update";
inline constexpr std::string_view clientOutdatedTitle = "Please update the app";
inline constexpr std::string_view clientOutdatedMessage =
    "This version of Brisalune is no longer supported. Update to keep going.";
inline constexpr std::string_view serverOlderBanner =
    "This server is running an older version of Brisalune. Some things may not work until it's updated.";
inline constexpr std::string_view serverOutdatedTitle = "This server needs updating";
inline constexpr std::string_view serverOutdatedMessage =
    "Ask whoever runs this server to update Brisalune. Your other workspaces still work.";
}  // namespace UpdateCopy

// What the menu shows about this app's version.
class CompatibilitySurface {
public:
    enum class Kind { nudge, blocked, none };

    CompatibilitySurface() = default;  // none
    static CompatibilitySurface nudge(std::string supportedMinimum);
    static CompatibilitySurface blocked(ClientOutdated outdated);
    static CompatibilitySurface none() { return {}; }

    Kind kind() const noexcept { return kind_; }
    const std::string& supportedMinimum() const noexcept { return supportedMinimum_; }    // nudge only
    const std::optional<ClientOutdated>& outdated() const noexcept { return outdated_; }  // blocked only

    friend bool operator==(const CompatibilitySurface&, const CompatibilitySurface&) = default;

private:
    Kind kind_ = Kind::none;
    std::string supportedMinimum_;
    std::optional<ClientOutdated> outdated_;
};

// What the menu shows about the active team's server.
class ServerSurface {
public:
    enum class Kind { blocked, none, banner };

    ServerSurface() = default;  // none
    static ServerSurface blocked(std::string version);
    static ServerSurface none() { return {}; }
    static ServerSurface banner() { return ServerSurface(Kind::banner); }

    Kind kind() const noexcept { return kind_; }
    const std::string& version() const noexcept { return version_; }  // blocked only

    friend bool operator==(const ServerSurface&, const ServerSurface&) = default;

private:
    explicit ServerSurface(Kind kind, std::string version = {}) : kind_(kind), version_(std::move(version)) {}

    Kind kind_ = Kind::none;
    std::string version_;
};

// Mirrors a `ServerCompatibility` and remembers dismissals for 24 hours. Thread-safe; never
// throws (a dismissal that user defaults cannot take holds until quit, and says so). Observers
// registered with `subscribe` are called on the thread that made the change, with no lock of the
// model or the record held, one notification at a time; they may read the model and call its
// operations, but must not destroy it.
class ClientCompatibilityModel {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::string_view dismissedMinimumKey = "compatibility.dismissedMinimum";
    static constexpr std::string_view nudgeDismissedAtKey = "compatibility.nudgeDismissedAt";
    static constexpr std::string_view serverBannersDismissedAtKey = "compatibility.serverBannersDismissedAt";
    static constexpr std::chrono::seconds snooze{86'400};

    // Unregisters its observer when destroyed; may outlive the model.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&&) noexcept = default;
        Subscription& operator=(Subscription&& other) noexcept;
        ~Subscription();

    private:
        friend class ClientCompatibilityModel;
        struct Hub;
        Subscription(std::weak_ptr<Hub> hub, std::uint64_t id) : hub_(std::move(hub)), id_(id) {}
        void reset() noexcept;

        std::weak_ptr<Hub> hub_;
        std::uint64_t id_ = 0;
    };

    // Reads the dismissals from `defaults`, takes the source's current state and follows it.
    // `source` and `defaults` must outlive the model.
    ClientCompatibilityModel(
        ServerCompatibility& source, platform::Defaults& defaults, Clock now = [] {
            return std::chrono::system_clock::now();
        });
    ClientCompatibilityModel(const ClientCompatibilityModel&) = delete;
    ClientCompatibilityModel& operator=(const ClientCompatibilityModel&) = delete;
    ~ClientCompatibilityModel();

    // Over the shared record, the standard user defaults and the system clock.
    static ClientCompatibilityModel& shared();

    CompatibilityState state() const;
    std::optional<std::string> dismissedMinimum() const;
    std::optional<std::chrono::system_clock::time_point> nudgeDismissedAt() const;
    std::map<std::string, std::chrono::system_clock::time_point> serverBannersDismissedAt() const;

    // The time on the model's clock, which its dismissals are measured by.
    std::chrono::system_clock::time_point now() const { return now_(); }

    CompatibilitySurface surface() const;
    ServerSurface serverSurface(const std::optional<platform::Url>& host) const;

    // Hide the nudge, or the server's banner, for the snooze at once and store that in user
    // defaults on the calling thread; false when it could not be stored, so that it shows again
    // at the next start.
    bool dismissNudge();
    bool dismissServerBanner(const platform::Url& host);
    // Asks the source to drop every refusal; `state` follows through the subscription.
    void clearClientOutdated();

    // `observer` is called after each change of `state` or of a dismissal; equal writes are silent.
    [[nodiscard]] Subscription subscribe(std::function<void()> observer);

private:
    struct Fields {
        CompatibilityState state;
        std::optional<std::string> dismissedMinimum;
        std::optional<std::chrono::system_clock::time_point> nudgeDismissedAt;
        std::map<std::string, std::chrono::system_clock::time_point> serverBannersDismissedAt;

        friend bool operator==(const Fields&, const Fields&) = default;
    };

    // Runs `apply` on the fields under the lock, then `persist` unlocked, then tells the
    // observers when the fields changed.
    template <class Apply, class Persist>
    void change(Apply&& apply, Persist&& persist);
    bool snoozed(std::chrono::system_clock::time_point dismissedAt) const;
    void pullState();

    ServerCompatibility& source_;
    platform::Defaults& defaults_;
    const Clock now_;
    mutable std::mutex mutex_;
    Fields fields_;
    std::shared_ptr<Subscription::Hub> hub_;
    std::shared_ptr<CompatibilityUpdates> updates_;
};

}  // namespace brisalune
