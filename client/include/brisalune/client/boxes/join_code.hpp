#pragma once

// The one line of text with which a user joins a self-hosted box: where the box is, which
// hosted team it serves, the pairing code to redeem there, and whether the code is a seat (the
// user then picks an e-mail and password for a new box account). Untrusted input: the parser
// takes any bytes.

#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace brisalune {

struct JoinCode {
    // Why a text is not a usable join code. Carries no user-facing text: callers word it.
    class Failure : public std::exception {
    public:
        enum class Case {
            unsupportedVersion,  // a complete payload of another format version
            notAJoinCode,        // the trimmed text does not start with the prefix
            damaged,             // anything else
        };

        static Failure unsupportedVersion(std::int64_t version) noexcept { return {Case::unsupportedVersion, version}; }
        static Failure notAJoinCode() noexcept { return {Case::notAJoinCode, std::nullopt}; }
        static Failure damaged() noexcept { return {Case::damaged, std::nullopt}; }

        Case kind() const noexcept { return case_; }
        bool is(Case c) const noexcept { return case_ == c; }
        // The code's version; present exactly for unsupportedVersion.
        std::optional<std::int64_t> version() const noexcept { return version_; }
        const char* what() const noexcept override;

        friend bool operator==(const Failure& a, const Failure& b) noexcept {
            return a.case_ == b.case_ && a.version_ == b.version_;
        }

    private:
        Failure(Case c, std::optional<std::int64_t> version) noexcept : case_(c), version_(version) {}

        Case case_;
        std::optional<std::int64_t> version_;
    };

    static constexpr std::string_view prefix = "blj_";
    static constexpr std::int64_t supportedVersion = 1;

    platform::Url boxURL;        // always has a host
    std::string hostedTenantId;  // never empty
    std::string code;            // never empty
    bool seat = false;

    // "blj_" and the base64url (padded or not) of a JSON object {"u", "t", "c", "s"?, "v"},
    // with white space and line breaks around it ignored. Throws Failure.
    static JoinCode parse(std::string_view text);

    friend bool operator==(const JoinCode&, const JoinCode&) = default;
};

}  // namespace brisalune
