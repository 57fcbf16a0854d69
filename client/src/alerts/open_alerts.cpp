#include <brisalune/client/alerts/open_alerts.hpp>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace brisalune::OpenAlerts {

namespace {

// What the merge reads of one snapshot, packed so that its passes stay in cache.
struct Entry {
    std::string_view id;  // canonical form
    std::size_t hash;
    std::int64_t updatedSeq;
    std::int64_t lastSeen;
    bool open;  // the state is not exactly "resolved"
};

// Per canonical id the entry held for it: open addressing over one array.
class HeldIndex {
public:
    static constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

    explicit HeldIndex(const std::vector<Entry>& entries)
        : entries_(entries), slots_(std::bit_ceil(std::max<std::size_t>(16, entries.size() * 2)), none) {}

    std::size_t& slotFor(const Entry& entry) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = entry.hash & mask;
        while (slots_[at] != none && !sameId(entries_[slots_[at]], entry)) at = (at + 1) & mask;
        return slots_[at];
    }

    std::vector<std::size_t> held() const {
        std::vector<std::size_t> out;
        for (std::size_t index : slots_) {
            if (index != none) out.push_back(index);
        }
        return out;
    }

private:
    static bool sameId(const Entry& a, const Entry& b) { return a.hash == b.hash && a.id == b.id; }

    const std::vector<Entry>& entries_;
    std::vector<std::size_t> slots_;
};

// Indices into `alerts` of the open winners, in display order.
std::vector<std::size_t> openOrder(const std::vector<AlertSnapshot>& alerts) {
    std::deque<std::string> canonicalIds;  // owns the canonical forms that differ from the text
    std::vector<Entry> entries;
    entries.reserve(alerts.size());
    for (const AlertSnapshot& alert : alerts) {
        std::string_view id = alert.id;
        if (!isCanonicalText(id)) id = canonicalIds.emplace_back(canonicalText(id));
        entries.push_back(
            {id, std::hash<std::string_view>{}(id), alert.updatedSeq, alert.lastSeen, alert.state != "resolved"});
    }

    HeldIndex index(entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // The first snapshot of an id is taken whatever its number; later ones only when newer.
        std::size_t& slot = index.slotFor(entries[i]);
        if (slot == HeldIndex::none || entries[i].updatedSeq > entries[slot].updatedSeq) slot = i;
    }

    std::vector<std::size_t> order = index.held();
    std::erase_if(order, [&](std::size_t i) { return !entries[i].open; });
    std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) {
        const Entry& a = entries[i];
        const Entry& b = entries[j];
        if (a.lastSeen != b.lastSeen) return a.lastSeen > b.lastSeen;
        return a.id > b.id;  // UTF-8 byte order is scalar-value order
    });
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
