#include <brisalune/client/core/json_value.hpp>

#include <bit>
#include <cstdint>

namespace brisalune {

namespace {

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

std::size_t JSONValue::hash() const noexcept {
    std::size_t seed = value_.index();
    std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, bool>) {
                combine(seed, x);
            } else if constexpr (std::is_same_v<X, double>) {
                combine(seed, std::bit_cast<std::uint64_t>(x == 0 ? 0.0 : x));  // -0 hashes as 0
            } else if constexpr (std::is_same_v<X, std::string>) {
                combine(seed, std::hash<std::string>{}(x));
            } else if constexpr (std::is_same_v<X, Array>) {
                for (const auto& element : x) combine(seed, element.hash());
            } else if constexpr (std::is_same_v<X, Object>) {
                // An object iterates in key order, so equal objects hash alike.
                for (const auto& [key, member] : x) {
                    combine(seed, std::hash<std::string>{}(key));
                    combine(seed, member.hash());
                }
            }
        },
        value_);
    return seed;
}

std::string JSONValue::prettyText() const {
    try {
        return json::encode(*this, json::Style::prettySorted);
    } catch (const json::EncodeError&) {
        return {};
    } catch (const json::DecodeError&) {
        return {};
    }
}

}  // namespace brisalune

namespace brisalune::json {

void Codec<JSONValue>::write(Writer& w, const JSONValue& v) {
    switch (v.kind()) {
        case JSONValue::Kind::null: w.null(); return;
        case JSONValue::Kind::boolean: w.boolean(*v.get<bool>()); return;
        case JSONValue::Kind::number: w.number(*v.get<double>()); return;
        case JSONValue::Kind::string: w.string(*v.get<std::string>()); return;
        case JSONValue::Kind::array: writeValue(w, *v.get<JSONValue::Array>()); return;
        case JSONValue::Kind::object: writeValue(w, *v.get<JSONValue::Object>()); return;
    }
}

}  // namespace brisalune::json
