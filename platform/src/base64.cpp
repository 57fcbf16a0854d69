#include <brisalune/platform/base64.hpp>

#include <algorithm>

namespace brisalune::platform {

namespace {
constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string base64(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (n > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
        if (n > 2) group |= bytes[i + 2];
        for (std::size_t k = 0; k < 4; ++k) out += k <= n ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> unbase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const auto digit = alphabet.find(text[i]);
        if (digit == std::string_view::npos) return std::nullopt;
        group = (group << 6) | static_cast<std::uint32_t>(digit);
        if (i % 4 == 3) {
            out.push_back(static_cast<std::uint8_t>(group >> 16));
            out.push_back(static_cast<std::uint8_t>(group >> 8));
            out.push_back(static_cast<std::uint8_t>(group));
            group = 0;
        }
    }
    if (padding == 2) out.push_back(static_cast<std::uint8_t>(group >> 4));
    if (padding == 1) {
        out.push_back(static_cast<std::uint8_t>(group >> 10));
        out.push_back(static_cast<std::uint8_t>(group >> 2));
    }
    return out;
}

}  // namespace brisalune::platform
