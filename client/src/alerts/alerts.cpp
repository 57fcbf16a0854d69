#include <brisalune/client/alerts/alerts.hpp>

#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/sha256.hpp>
#include <brisalune/platform/text.hpp>

#include <algorithm>
#include <tuple>
#include <utility>

namespace brisalune {

// ---- text under canonical equivalence -------------------------------------------------------

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool isCanonicalText(std::string_view text) {
    return isAscii(text) || platform::isNfc(text) || !platform::isValidUtf8(text);
}

std::string canonicalText(std::string_view text) {
    return isCanonicalText(text) ? std::string(text) : platform::nfc(text);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isCanonicalText(a) && isCanonicalText(b)) return false;
    return canonicalText(a) == canonicalText(b);
}

std::size_t canonicalHash(std::string_view text) {
    if (isCanonicalText(text)) return std::hash<std::string_view>{}(text);
    return std::hash<std::string>{}(platform::nfc(text));
}

std::optional<AlertState> alertState(std::string_view text) {
    for (AlertState state : {AlertState::firing, AlertState::acked, AlertState::resolved}) {
        if (text == rawValue(state)) return state;
    }
    return std::nullopt;
}

std::string_view rawValue(AlertState state) {
    switch (state) {
        case AlertState::firing: return "firing";
        case AlertState::acked: return "acked";
        case AlertState::resolved: return "resolved";
    }
    return {};
}

// ---- equality and hashing over the key tables -----------------------------------------------

namespace {

using TextMap = std::map<std::string, std::string>;

bool allCanonical(const TextMap& map) {
    return std::all_of(map.begin(), map.end(), [](const auto& entry) {
        return isCanonicalText(entry.first) && isCanonicalText(entry.second);
    });
}

// Keys and values in canonical form; already canonical maps are compared and hashed as they are.
TextMap canonicalMap(const TextMap& map) {
    TextMap out;
    for (const auto& [key, value] : map) out.insert_or_assign(canonicalText(key), canonicalText(value));
    return out;
}

template <class T>
bool same(const T& a, const T& b);
bool same(const std::string& a, const std::string& b) { return canonicallyEqual(a, b); }
bool same(const TextMap& a, const TextMap& b) {
    if (allCanonical(a) && allCanonical(b)) return a == b;
    return canonicalMap(a) == canonicalMap(b);
}
template <class T>
bool same(const std::vector<T>& a, const std::vector<T>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const T& x, const T& y) { return same(x, y); });
}
template <class T>
bool same(const std::optional<T>& a, const std::optional<T>& b) {
    return a.has_value() == b.has_value() && (!a || same(*a, *b));
}
template <class T>
bool same(const T& a, const T& b) {
    if constexpr (json::Record<T>) {
        return std::apply(
            [&](const auto&... f) { return (same(a.*(f.member), b.*(f.member)) && ...); }, json::keys<T>.fields);
    } else {
        return a == b;
    }
}

class Hasher {
public:
    std::size_t value() const { return seed_; }

    void add(const std::string& text) { mix(canonicalHash(text)); }
    void add(const TextMap& map) {
        if (allCanonical(map)) {
            addEntries(map);
        } else {
            addEntries(canonicalMap(map));
        }
    }
    template <class T>
    void add(const std::vector<T>& list) {
        mix(list.size());
        for (const T& element : list) add(element);
    }
    template <class T>
    void add(const std::optional<T>& value) {
        mix(value.has_value());
        if (value) add(*value);
    }
    template <class T>
    void add(const T& value) {
        if constexpr (json::Record<T>) {
            std::apply([&](const auto&... f) { (add(value.*(f.member)), ...); }, json::keys<T>.fields);
        } else {
            mix(std::hash<T>{}(value));
        }
    }

private:
    void addEntries(const TextMap& map) {
        mix(map.size());
        for (const auto& [key, value] : map) {
            mix(std::hash<std::string>{}(key));
            mix(std::hash<std::string>{}(value));
        }
    }
    void mix(std::size_t h) { seed_ ^= h + 0x9e3779b97f4a7c15ULL + (seed_ << 6) + (seed_ >> 2); }

    std::size_t seed_ = 0;
};

template <class T>
std::size_t hashRecord(const T& record) {
    Hasher hasher;
    hasher.add(record);
    return hasher.value();
}

}  // namespace

bool operator==(const AlertReporter& a, const AlertReporter& b) { return same(a, b); }
bool operator==(const AlertIncidentRef& a, const AlertIncidentRef& b) { return same(a, b); }
bool operator==(const AlertSnapshot& a, const AlertSnapshot& b) { return same(a, b); }

// ---- derived views --------------------------------------------------------------------------

std::optional<std::string> AlertSnapshot::secretFindingId() const {
    if (!isSecretWarning()) return std::nullopt;
    auto found = identifiers.find("finding_id");
    if (found == identifiers.end()) return std::nullopt;
    return found->second;
}

std::string AlertSnapshot::templateDigest() const { return platform::sha256Hex(messageTemplate); }

// ---- reading --------------------------------------------------------------------------------

namespace {

void dropUnset(std::optional<std::int64_t>& instant) {
    if (instant && *instant < 1) instant.reset();
}

}  // namespace

void json::Rules<AlertSnapshot>::afterRead(const json::Node&, AlertSnapshot& out) {
    dropUnset(out.lastNotifiedAt);
    dropUnset(out.nextEscalationAt);
}

}  // namespace brisalune

std::size_t std::hash<brisalune::AlertReporter>::operator()(const brisalune::AlertReporter& reporter) const {
    return brisalune::hashRecord(reporter);
}

std::size_t std::hash<brisalune::AlertIncidentRef>::operator()(const brisalune::AlertIncidentRef& incident) const {
    return brisalune::hashRecord(incident);
}

std::size_t std::hash<brisalune::AlertSnapshot>::operator()(const brisalune::AlertSnapshot& alert) const {
    return brisalune::hashRecord(alert);
}
