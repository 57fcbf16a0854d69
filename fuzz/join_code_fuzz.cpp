// Parses arbitrary bytes as a join code, as given and as the payload of a well-formed code. A
// parse either throws JoinCode::Failure or keeps the promises of a JoinCode; nothing else
// escapes.
#include <brisalune/client/boxes/join_code.hpp>
#include <brisalune/platform/base64.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace {

using brisalune::JoinCode;

void require(bool condition) {
    if (!condition) std::abort();
}

void check(std::string_view text) {
    try {
        const JoinCode code = JoinCode::parse(text);
        require(code.boxURL.host() && !code.boxURL.host()->empty());
        require(!code.hostedTenantId.empty() && !code.code.empty());
        const auto again = brisalune::platform::Url::parse(code.boxURL.text());
        require(again && *again == code.boxURL);
    } catch (const JoinCode::Failure& failure) {
        require(failure.is(JoinCode::Failure::Case::unsupportedVersion) == failure.version().has_value());
        require(failure.version() != JoinCode::supportedVersion);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(std::string_view(reinterpret_cast<const char*>(data), size));
    check(std::string(JoinCode::prefix) + brisalune::platform::base64(std::span(data, size)));
    return 0;
}
