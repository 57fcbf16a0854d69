#include <brisalune/client/open_alerts.hpp>

#include <algorithm>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace brisalune::OpenAlerts {

namespace {

struct Winner {
    std::string_view id;  // canonical form
    std::size_t index;
};

// Indices into `alerts` of the open winners, in display order.
std::vector<std::size_t> openOrder(const std::vector<AlertSnapshot>& alerts) {
    std::deque<std::string> canonicalIds;  // owns the canonical forms that differ from the text
    std::unordered_map<std::string_view, std::size_t> held;
    held.reserve(alerts.size());
    for (std::size_t i = 0; i < alerts.size(); ++i) {
        std::string_view id = alerts[i].id;
        if (!isCanonicalText(id)) id = canonicalIds.emplace_back(canonicalText(id));
        // The first snapshot of an id is taken whatever its number; later ones only when newer.
        auto [at, inserted] = held.try_emplace(id, i);
        if (!inserted && alerts[i].updatedSeq > alerts[at->second].updatedSeq) at->second = i;
    }

    std::vector<Winner> open;
    open.reserve(held.size());
    for (const auto& [id, index] : held) {
        if (alerts[index].state != "resolved") open.push_back({id, index});
    }
    std::sort(open.begin(), open.end(), [&](const Winner& a, const Winner& b) {
        const std::int64_t seenA = alerts[a.index].lastSeen;
        const std::int64_t seenB = alerts[b.index].lastSeen;
        if (seenA != seenB) return seenA > seenB;
        return a.id > b.id;  // UTF-8 byte order is scalar-value order
    });

    std::vector<std::size_t> order;
    order.reserve(open.size());
    for (const Winner& winner : open) order.push_back(winner.index);
    return order;
}

}  // namespace

std::vector<AlertSnapshot> merge(const std::vector<AlertSnapshot>& alerts) {
    const std::vector<std::size_t> order = openOrder(alerts);
    std::vector<AlertSnapshot> out;
    out.reserve(order.size());
    for (std::size_t index : order) out.push_back(alerts[index]);
    return out;
}

std::vector<AlertSnapshot> merge(std::vector<AlertSnapshot>&& alerts) {
    const std::vector<std::size_t> order = openOrder(alerts);
    std::vector<AlertSnapshot> out;
    out.reserve(order.size());
    for (std::size_t index : order) out.push_back(std::move(alerts[index]));
    return out;
}

}  // namespace brisalune::OpenAlerts
