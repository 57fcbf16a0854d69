#pragma once

// Text that grants access to something (a signing secret, a token, a webhook address with its
// key, request headers and bodies). It travels on the wire as a plain JSON string, but printing
// it shows only a placeholder, so it never lands in a log by accident.

#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace brisalune {

class SecretText {
public:
    static constexpr std::string_view placeholder = "<redacted>";

    SecretText() = default;
    SecretText(std::string text) : text_(std::move(text)) {}  // NOLINT: implicit, as a text literal is
    SecretText(const char* text) : text_(text) {}             // NOLINT

    // The secret itself: only for sending it.
    const std::string& reveal() const noexcept { return text_; }
    bool empty() const noexcept { return text_.empty(); }

    friend bool operator==(const SecretText&, const SecretText&) = default;
    // Prints the placeholder, never the text.
    friend std::ostream& operator<<(std::ostream& out, const SecretText& secret);

private:
    std::string text_;
};

}  // namespace brisalune

template <>
struct std::hash<brisalune::SecretText> {
    std::size_t operator()(const brisalune::SecretText& secret) const noexcept {
        return std::hash<std::string>{}(secret.reveal());
    }
};

namespace brisalune::json {

template <>
struct Codec<SecretText> {
    static void write(Writer& w, const SecretText& v) { w.string(v.reveal()); }
    template <class Node>
    static void read(const Node& n, SecretText& out) {
        out = SecretText(std::string(n.string()));
    }
};

}  // namespace brisalune::json
