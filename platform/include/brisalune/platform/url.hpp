#pragma once

// URL references (RFC 3986), percent-encoding and query items: what the client needs to build
// request addresses from a base address, an escaped path and an ordered list of query items.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune::platform {

// An absolute URL or a relative reference. Its text is kept as written, except that non-ASCII
// characters of the path, query and fragment are stored percent-encoded (upper-case hex).
// Every accessor gives the percent-encoded form as it stands in the text.
class Url {
public:
    // Longer texts are refused: no request address needs more, and it bounds the work on
    // hostile input.
    static constexpr std::size_t maxLength = 64 * 1024;

    // The empty reference: a placeholder for records that are filled in field by field. Parsing
    // never gives it.
    Url() = default;

    // None for the empty text and for anything that is not a URL reference: blanks, control
    // characters, invalid UTF-8, malformed percent-escapes, a bad port or IP literal, a non-ASCII
    // host, an http or https address without a host, a text longer than `maxLength`.
    static std::optional<Url> parse(std::string_view text);

    const std::string& text() const noexcept { return text_; }
    bool isAbsolute() const noexcept { return scheme_.has_value(); }

    std::optional<std::string> scheme() const;  // lower-cased
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    std::optional<std::string> host() const;                    // "" when the authority is empty; IPv6 in brackets
    std::optional<int> port() const noexcept { return port_; }  // only an explicit one
    std::string path() const;
    std::optional<std::string> query() const;     // "" for a bare "?"
    std::optional<std::string> fragment() const;  // "" for a bare "#"

    // The same URL with its query replaced (none removes it, "" leaves a bare "?"); the fragment
    // stays. Bytes that may not stand in a query (blanks, "#", non-ASCII, a "%" that starts no
    // escape) are percent-encoded; well-formed escapes are kept. Throws std::length_error when
    // the result would exceed `maxLength`, std::invalid_argument when removing the query of a
    // bare "?q" would leave the empty text.
    Url withQuery(std::optional<std::string> encodedQuery) const;

    friend bool operator==(const Url& a, const Url& b) noexcept { return a.text_ == b.text_; }

private:
    struct Slice {
        std::size_t pos = 0;
        std::size_t size = 0;
    };

    std::optional<std::string> slice(const std::optional<Slice>& part) const;

    friend class UrlBuilder;

    std::string text_;
    std::optional<Slice> scheme_;
    std::optional<Slice> user_;
    std::optional<Slice> password_;
    std::optional<Slice> host_;
    std::optional<int> port_;
    Slice path_;
    std::optional<Slice> query_;
    std::optional<Slice> fragment_;
};

// Encodes every byte that `allowed` refuses as "%" and two upper-case hex digits. Bytes outside
// ASCII are always encoded, so invalid UTF-8 comes out encoded byte by byte, never raw.
std::string percentEncode(std::string_view bytes, bool (*allowed)(unsigned char));

// The bytes behind the escapes; none when a "%" is not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

// ALPHA DIGIT "-" "." "_" "~".
bool isUnreserved(unsigned char c) noexcept;

struct QueryItem {
    std::string name;
    std::optional<std::string> value;

    friend bool operator==(const QueryItem&, const QueryItem&) = default;
};

// "a=1&b=x%20y&flag": names and values keep only unreserved characters, so a server reads back
// exactly what was given; an item without value is its bare name, an empty value gives "name=".
std::string encodeQuery(const std::vector<QueryItem>& items);

// The items of an encoded query, names and values percent-decoded ("+" stays "+"). A name or a
// value with a malformed escape is kept as written. The empty query has no items.
std::vector<QueryItem> decodeQuery(std::string_view encodedQuery);

}  // namespace brisalune::platform

template <>
struct std::hash<brisalune::platform::Url> {
    std::size_t operator()(const brisalune::platform::Url& url) const noexcept {
        return std::hash<std::string>{}(url.text());
    }
};
