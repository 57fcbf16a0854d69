#include <brisalune/client/boxes/pairing.hpp>

#include <functional>
#include <tuple>

namespace brisalune {

std::vector<RelayProjectStatus> RelayStatus::driftedProjects() const {
    std::vector<RelayProjectStatus> drifted;
    if (!projects) return drifted;
    for (const auto& project : *projects) {
        const bool onCourse = project.enabled && relayURL && project.relayURL == *relayURL;
        if (!onCourse) drifted.push_back(project);
    }
    return drifted;
}

namespace {

// Hashes every member that the record's key table names, in table order.
class FieldHasher {
public:
    std::size_t value() const noexcept { return seed_; }

    template <class T>
    void add(const std::optional<T>& value) {
        mix(value.has_value());
        if (value) add(*value);
    }
    void add(std::chrono::sys_seconds instant) { mix(std::hash<std::int64_t>{}(instant.time_since_epoch().count())); }
    template <class T>
    void add(const T& value) {
        if constexpr (json::Record<T>) {
            std::apply([&](const auto&... f) { (add(value.*(f.member)), ...); }, json::keys<T>.fields);
        } else {
            mix(std::hash<T>{}(value));
        }
    }

private:
    void mix(std::size_t h) noexcept { seed_ ^= h + 0x9e3779b97f4a7c15ULL + (seed_ << 6) + (seed_ >> 2); }

    std::size_t seed_ = 0;
};

template <class T>
std::size_t hashFields(const T& record) {
    FieldHasher hasher;
    hasher.add(record);
    return hasher.value();
}

}  // namespace
}  // namespace brisalune

std::size_t std::hash<brisalune::Pairing>::operator()(const brisalune::Pairing& pairing) const noexcept {
    return brisalune::hashFields(pairing);
}

std::size_t std::hash<brisalune::RotatedRelayKey>::operator()(const brisalune::RotatedRelayKey& key) const noexcept {
    return brisalune::hashFields(key);
}

std::size_t std::hash<brisalune::RelayProjectStatus>::operator()(
    const brisalune::RelayProjectStatus& status) const noexcept {
    return brisalune::hashFields(status);
}
