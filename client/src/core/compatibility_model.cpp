#include <brisalune/client/core/compatibility_model.hpp>

#include <exception>
#include <utility>
#include <vector>

namespace brisalune {

namespace {

using TimePoint = std::chrono::system_clock::time_point;

std::map<std::string, TimePoint> readBannerDates(const platform::Defaults& defaults, std::string_view key) {
    const auto stored = defaults.value(key);
    const auto* map = stored ? stored->get<platform::DefaultsValue::Map>() : nullptr;
    if (!map) return {};
    std::map<std::string, TimePoint> dates;
    for (const auto& [server, value] : *map) {
        const auto* date = value.get<std::chrono::sys_seconds>();
        if (!date) return {};  // one foreign value spoils the whole map
        dates.emplace(server, *date);
    }
    return dates;
}

std::chrono::sys_seconds storedDate(TimePoint time) { return std::chrono::floor<std::chrono::seconds>(time); }

// A dismissal that cannot be stored still holds until quit; the caller is told it was not stored.
template <class Write>
bool written(Write&& write) noexcept {
    try {
        write();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

// Surfaces

CompatibilitySurface CompatibilitySurface::nudge(std::string supportedMinimum) {
    CompatibilitySurface surface;
    surface.kind_ = Kind::nudge;
    surface.supportedMinimum_ = std::move(supportedMinimum);
    return surface;
}

CompatibilitySurface CompatibilitySurface::blocked(ClientOutdated outdated) {
    CompatibilitySurface surface;
    surface.kind_ = Kind::blocked;
    surface.outdated_ = std::move(outdated);
    return surface;
}

ServerSurface ServerSurface::blocked(std::string version) { return ServerSurface(Kind::blocked, std::move(version)); }

// Observers and the model's lifetime meet in the hub: `serial` runs one change with its
// notification at a time and lets the destructor wait for a state being applied elsewhere.
struct ClientCompatibilityModel::Subscription::Hub {
    std::recursive_mutex serial;
    ClientCompatibilityModel* model = nullptr;
    std::map<std::uint64_t, std::shared_ptr<const std::function<void()>>> observers;
    std::uint64_t nextId = 1;

    // With `serial` held. Observers removed by an earlier callback are skipped.
    void notify() {
        std::vector<std::uint64_t> ids;
        ids.reserve(observers.size());
        for (const auto& [id, observer] : observers) ids.push_back(id);
        for (const auto id : ids) {
            const auto found = observers.find(id);
            if (found == observers.end()) continue;
            const auto observer = found->second;
            (*observer)();
        }
    }
};

ClientCompatibilityModel::Subscription& ClientCompatibilityModel::Subscription::operator=(
    Subscription&& other) noexcept {
    if (this != &other) {
        reset();
        hub_ = std::move(other.hub_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

ClientCompatibilityModel::Subscription::~Subscription() { reset(); }

void ClientCompatibilityModel::Subscription::reset() noexcept {
    if (const auto hub = hub_.lock()) {
        std::lock_guard serial(hub->serial);
        hub->observers.erase(id_);
    }
    hub_.reset();
}

// Model

ClientCompatibilityModel::ClientCompatibilityModel(ServerCompatibility& source, platform::Defaults& defaults, Clock now)
    : source_(source), defaults_(defaults), now_(std::move(now)), hub_(std::make_shared<Subscription::Hub>()) {
    fields_.dismissedMinimum = defaults_.string(dismissedMinimumKey);
    if (const auto date = defaults_.date(nudgeDismissedAtKey)) fields_.nudgeDismissedAt = *date;
    fields_.serverBannersDismissedAt = readBannerDates(defaults_, serverBannersDismissedAtKey);
    fields_.state = source_.current();

    hub_->model = this;
    updates_ = source_.updates();
    updates_->onValue([hub = hub_] {
        std::lock_guard serial(hub->serial);
        if (hub->model) hub->model->pullState();
    });
}

ClientCompatibilityModel::~ClientCompatibilityModel() {
    std::lock_guard serial(hub_->serial);
    hub_->model = nullptr;
}

ClientCompatibilityModel& ClientCompatibilityModel::shared() {
    static ClientCompatibilityModel model(ServerCompatibility::shared(), platform::Defaults::standard());
    return model;
}

template <class Apply, class Persist>
void ClientCompatibilityModel::change(Apply&& apply, Persist&& persist) {
    std::lock_guard serial(hub_->serial);
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        const Fields before = fields_;
        apply(fields_);
        changed = !(fields_ == before);
    }
    persist();
    if (changed) hub_->notify();
}

void ClientCompatibilityModel::pullState() {
    // Taking and applying under `serial` keeps a stale state from overtaking a newer one.
    std::lock_guard serial(hub_->serial);
    if (auto next = updates_->tryNext()) {
        change([&](Fields& fields) { fields.state = std::move(*next); }, [] {});
    }
}

CompatibilityState ClientCompatibilityModel::state() const {
    std::lock_guard lock(mutex_);
    return fields_.state;
}

std::optional<std::string> ClientCompatibilityModel::dismissedMinimum() const {
    std::lock_guard lock(mutex_);
    return fields_.dismissedMinimum;
}

std::optional<TimePoint> ClientCompatibilityModel::nudgeDismissedAt() const {
    std::lock_guard lock(mutex_);
    return fields_.nudgeDismissedAt;
}

std::map<std::string, TimePoint> ClientCompatibilityModel::serverBannersDismissedAt() const {
    std::lock_guard lock(mutex_);
    return fields_.serverBannersDismissedAt;
}

// A dismissal dated more than a snooze after now was timed by a clock far ahead then, or set far
// back since: waiting for the clock to catch up could hide the row for years, so its snooze is
// over. One dated less ahead than that keeps its snooze, as a clock set back a little does.
bool ClientCompatibilityModel::snoozed(TimePoint dismissedAt) const {
    const auto age = now_() - dismissedAt;
    return age > -snooze && age < snooze;
}

CompatibilitySurface ClientCompatibilityModel::surface() const {
    std::unique_lock lock(mutex_);
    const auto outdated = fields_.state.outdated;
    const auto supportedMinimum = fields_.state.supportedMinimum;
    const bool sameMinimum = fields_.dismissedMinimum == supportedMinimum;
    const auto dismissedAt = fields_.nudgeDismissedAt;
    lock.unlock();

    if (outdated) return CompatibilitySurface::blocked(*outdated);
    if (!supportedMinimum) return CompatibilitySurface::none();
    if (sameMinimum && dismissedAt && snoozed(*dismissedAt)) return CompatibilitySurface::none();
    return CompatibilitySurface::nudge(*supportedMinimum);
}

ServerSurface ClientCompatibilityModel::serverSurface(const std::optional<platform::Url>& host) const {
    if (!host) return ServerSurface::none();
    const auto key = ServerCompatibility::serverKey(*host);

    std::unique_lock lock(mutex_);
    const auto standing = fields_.state.standing(*host);
    const auto dismissed = fields_.serverBannersDismissedAt.find(key);
    const auto dismissedAt = dismissed == fields_.serverBannersDismissedAt.end()
                                 ? std::nullopt
                                 : std::optional<TimePoint>(dismissed->second);
    lock.unlock();

    switch (standing.kind()) {
        case ServerStanding::Kind::outdated: return ServerSurface::blocked(standing.version().value_or(""));
        case ServerStanding::Kind::unsupported:
            return dismissedAt && snoozed(*dismissedAt) ? ServerSurface::none() : ServerSurface::banner();
        case ServerStanding::Kind::supported: break;
    }
    return ServerSurface::none();
}

bool ClientCompatibilityModel::dismissNudge() {
    const auto now = now_();
    std::optional<std::string> minimum;
    bool stored = false;
    change(
        [&](Fields& fields) {
            minimum = fields.state.supportedMinimum;
            fields.dismissedMinimum = minimum;
            fields.nudgeDismissedAt = now;
        },
        [&] {
            const auto storeMinimum = [&] {
                if (minimum) {
                    defaults_.set(dismissedMinimumKey, *minimum);
                } else {
                    defaults_.remove(dismissedMinimumKey);
                }
            };
            // Once one write fails the dismissal is lost to the next start: a second wait for the
            // file's lock would only hold the caller longer.
            stored = written(storeMinimum) && written([&] { defaults_.set(nudgeDismissedAtKey, storedDate(now)); });
        });
    return stored;
}

bool ClientCompatibilityModel::dismissServerBanner(const platform::Url& host) {
    const auto key = ServerCompatibility::serverKey(host);
    const auto now = now_();
    platform::DefaultsValue::Map dates;
    bool stored = false;
    change(
        [&](Fields& fields) {
            fields.serverBannersDismissedAt[key] = now;
            for (const auto& [server, date] : fields.serverBannersDismissedAt) {
                dates.emplace(server, storedDate(date));
            }
        },
        [&] { stored = written([&] { defaults_.set(serverBannersDismissedAtKey, std::move(dates)); }); });
    return stored;
}

void ClientCompatibilityModel::clearClientOutdated() { source_.clearClientOutdated(); }

ClientCompatibilityModel::Subscription ClientCompatibilityModel::subscribe(std::function<void()> observer) {
    std::lock_guard serial(hub_->serial);
    const auto id = hub_->nextId++;
    hub_->observers.emplace(id, std::make_shared<const std::function<void()>>(std::move(observer)));
    return Subscription(hub_, id);
}

}  // namespace brisalune
