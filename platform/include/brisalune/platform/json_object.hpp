#pragma once

// The members of a free-form JSON object in one vector sorted by key: it reads like a
// std::map<std::string, V> (sorted iteration, find, at, structural equality) but holds all its
// members in one allocation, which makes a decoded object far cheaper to build, walk and free.
//
// Iteration gives the members read-only (so that keys stay sorted); change values through at(),
// operator[] or insert_or_assign().

#include <algorithm>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune::json {

template <class T, class Enable>
struct Codec;

template <class V>
class FlatObject {
public:
    using key_type = std::string;
    using mapped_type = V;
    using value_type = std::pair<std::string, V>;
    using size_type = std::size_t;
    using const_iterator = typename std::vector<value_type>::const_iterator;
    using iterator = const_iterator;

    FlatObject() = default;
    // As with a std::map, a key given twice keeps its first value.
    FlatObject(std::initializer_list<value_type> members) : FlatObject(members.begin(), members.end()) {}
    template <class It>
    FlatObject(It first, It last) {
        for (; first != last; ++first) emplace(first->first, first->second);
    }

    // Members in any order, as an object lists them; a key given twice keeps its last value, as
    // when each member is assigned in turn.
    static FlatObject fromMembers(std::vector<value_type> members) {
        FlatObject object;
        object.members_ = std::move(members);
        auto& m = object.members_;
        auto before = [](const value_type& a, const value_type& b) { return a.first < b.first; };
        if (std::adjacent_find(m.begin(), m.end(), [&](const auto& a, const auto& b) { return !before(a, b); }) ==
            m.end()) {
            return object;  // already strictly sorted: the usual case
        }
        std::stable_sort(m.begin(), m.end(), before);
        // Of each run of equal keys keep the last: move it to the front of the run, drop the rest.
        auto out = m.begin();
        for (auto run = m.begin(); run != m.end();) {
            auto last = run;
            while (std::next(last) != m.end() && std::next(last)->first == run->first) ++last;
            if (out != last) *out = std::move(*last);
            ++out;
            run = std::next(last);
        }
        m.erase(out, m.end());
        return object;
    }

    // Members already strictly sorted by key, taken as they are.
    static FlatObject fromSorted(std::vector<value_type> members) noexcept {
        FlatObject object;
        object.members_ = std::move(members);
        return object;
    }

    const_iterator begin() const noexcept { return members_.begin(); }
    const_iterator end() const noexcept { return members_.end(); }
    const_iterator cbegin() const noexcept { return members_.begin(); }
    const_iterator cend() const noexcept { return members_.end(); }
    size_type size() const noexcept { return members_.size(); }
    bool empty() const noexcept { return members_.empty(); }
    void clear() noexcept { members_.clear(); }

    const_iterator find(std::string_view key) const {
        auto at = lowerBound(key);
        return at != members_.end() && at->first == key ? const_iterator(at) : end();
    }
    bool contains(std::string_view key) const { return find(key) != end(); }
    size_type count(std::string_view key) const { return contains(key) ? 1 : 0; }

    const V& at(std::string_view key) const {
        auto found = find(key);
        if (found == end()) throw std::out_of_range("no member \"" + std::string(key) + "\"");
        return found->second;
    }
    V& at(std::string_view key) { return const_cast<V&>(std::as_const(*this).at(key)); }

    V& operator[](std::string_view key) { return slot(key).first->second; }

    // Adds the member when its key is new; otherwise leaves the object as it was.
    std::pair<const_iterator, bool> emplace(std::string key, V value) {
        auto at = lowerBound(key);
        if (at != members_.end() && at->first == key) return {at, false};
        return {members_.emplace(at, std::move(key), std::move(value)), true};
    }
    std::pair<const_iterator, bool> insert_or_assign(std::string key, V value) {
        auto at = lowerBound(key);
        if (at != members_.end() && at->first == key) {
            at->second = std::move(value);
            return {at, false};
        }
        return {members_.emplace(at, std::move(key), std::move(value)), true};
    }

    size_type erase(std::string_view key) {
        auto found = find(key);
        if (found == end()) return 0;
        members_.erase(found);
        return 1;
    }

    // Written out, not defaulted: a defaulted one makes clang complete V (a value holding this
    // very object) too early.
    friend bool operator==(const FlatObject& a, const FlatObject& b) { return a.members_ == b.members_; }

private:
    template <class, class>
    friend struct Codec;  // reads an object from a parse in place

    typename std::vector<value_type>::iterator lowerBound(std::string_view key) {
        return std::lower_bound(
            members_.begin(), members_.end(), key, [](const value_type& m, std::string_view k) { return m.first < k; });
    }
    typename std::vector<value_type>::const_iterator lowerBound(std::string_view key) const {
        return const_cast<FlatObject&>(*this).lowerBound(key);
    }
    std::pair<typename std::vector<value_type>::iterator, bool> slot(std::string_view key) {
        auto at = lowerBound(key);
        if (at != members_.end() && at->first == key) return {at, false};
        return {members_.emplace(at, std::string(key), V{}), true};
    }

    std::vector<value_type> members_;
};

}  // namespace brisalune::json

// Equal objects hash alike: members are hashed in key order.
template <class V>
requires requires(const V& v) {
    std::hash<V>{}(v);
}
struct std::hash<brisalune::json::FlatObject<V>> {
    std::size_t operator()(const brisalune::json::FlatObject<V>& object) const {
        std::size_t seed = object.size();
        auto mix = [&](std::size_t h) { seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
        for (const auto& [key, value] : object) {
            mix(std::hash<std::string>{}(key));
            mix(std::hash<V>{}(value));
        }
        return seed;
    }
};
