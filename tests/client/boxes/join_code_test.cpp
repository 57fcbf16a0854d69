#include <brisalune/client/boxes/join_code.hpp>
#include <brisalune/platform/base64.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace brisalune {
namespace {

using Case = JoinCode::Failure::Case;

// base64url without padding, as a box writes it.
std::string base64url(std::string_view json, bool padded = false) {
    std::string text = platform::base64(std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()));
    std::replace(text.begin(), text.end(), '+', '-');
    std::replace(text.begin(), text.end(), '/', '_');
    if (!padded) text.erase(text.find_last_not_of('=') + 1);
    return text;
}

std::string codeFor(std::string_view json, bool padded = false) { return "blj_" + base64url(json, padded); }

JoinCode::Failure failureOf(std::string_view text) {
    try {
        JoinCode::parse(text);
    } catch (const JoinCode::Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "parsed: " << text;
    return JoinCode::Failure::damaged();
}

// ">?>" encodes to "Pj8-" in base64url, so this payload exercises both translated characters.
constexpr std::string_view full = R"({"u":"https://box.example:8443","t":"ht1","c":"pc>?>","s":true,"v":1,"x":[1]})";

TEST(JoinCodeParse, ReadsBase64UrlWithOrWithoutPaddingAndAroundWhiteSpace) {
    const JoinCode expected{
        .boxURL = *platform::Url::parse("https://box.example:8443"),
        .hostedTenantId = "ht1",
        .code = "pc>?>",
        .seat = true};
    ASSERT_NE(base64url(full).size() % 4, 0u);
    EXPECT_NE(base64url(full).find_first_of("-_"), std::string::npos);
    EXPECT_EQ(JoinCode::parse(codeFor(full)), expected);
    EXPECT_EQ(JoinCode::parse(codeFor(full, true)), expected);
    EXPECT_EQ(JoinCode::parse(" \t" + codeFor(full) + "\r\n\u2028"), expected);
    // Standard base64 passes too: only "-" and "_" are translated.
    std::string standard = base64url(full, true);
    std::replace(standard.begin(), standard.end(), '-', '+');
    std::replace(standard.begin(), standard.end(), '_', '/');
    EXPECT_EQ(JoinCode::parse("blj_" + standard), expected);
}

TEST(JoinCodeParse, SeatIsTrueOnlyWhenSaidSo) {
    for (const auto* seat : {"", R"("s":null,)", R"("s":false,)"}) {
        auto json = std::string(R"({"u":"http://b","t":"t","c":"c",)") + seat + R"("v":1})";
        EXPECT_FALSE(JoinCode::parse(codeFor(json)).seat) << json;
    }
    EXPECT_EQ(failureOf(codeFor(R"({"u":"http://b","t":"t","c":"c","s":1,"v":1})")), JoinCode::Failure::damaged());
}

TEST(JoinCodeParse, PrefixMustStandExactlyAtTheStart) {
    for (const std::string& text :
         {std::string(), std::string("  \n"), "BLJ_" + base64url(full), "xblj_" + base64url(full), base64url(full)}) {
        EXPECT_EQ(failureOf(text), JoinCode::Failure::notAJoinCode()) << text;
    }
}

TEST(JoinCodeParse, DamagedCodes) {
    const std::string damaged[] = {
        "blj_",
        "blj_" + base64url(full).substr(0, 5),     // remainder 1: three "=" do not make base64
        "blj_" + base64url(full) + "===",          // padding in the wrong place
        "blj_" + base64url(full).insert(8, "\n"),  // broken over two lines
        "blj_" + base64url(full).insert(8, " "),
        "blj_" + base64url(full).insert(8, "!"),
        codeFor("not json"),
        codeFor(R"(["u","t","c","v"])"),
        codeFor(R"({"u":"http://b","t":"t","c":"c"})"),          // no version
        codeFor(R"({"u":"http://b","t":"t","c":"c","v":"1"})"),  // version of the wrong type
        codeFor(R"({"u":"http://b","t":"t","c":"c","v":1.5})"),
        codeFor(R"({"u":"http://b","t":"t","v":1})"),
        codeFor(R"({"u":"http://b","t":7,"c":"c","v":1})"),
        codeFor(R"({"u":"box.example","t":"t","c":"c","v":1})"),  // no scheme, no host
        codeFor(R"({"u":"file:///etc/passwd","t":"t","c":"c","v":1})"),
        codeFor(R"({"u":"https://","t":"t","c":"c","v":1})"),
        codeFor(R"({"u":"http://b","t":"","c":"c","v":1})"),
        codeFor(R"({"u":"http://b","t":"t","c":"","v":1})"),
        codeFor("{\"u\":\"http://b\",\"t\":\"\xff\",\"c\":\"c\",\"v\":1}"),  // not UTF-8
    };
    for (const auto& text : damaged) EXPECT_EQ(failureOf(text), JoinCode::Failure::damaged()) << text;
}

TEST(JoinCodeParse, OtherVersionsAreRefusedOnceThePayloadIsComplete) {
    auto failure = failureOf(codeFor(R"({"u":"nohost","t":"","c":"c","v":2})"));
    EXPECT_TRUE(failure.is(Case::unsupportedVersion));
    EXPECT_EQ(failure.version(), 2);
    EXPECT_EQ(
        failureOf(codeFor(R"({"u":"http://b","t":"t","c":"c","v":-9007199254740993})")),
        JoinCode::Failure::unsupportedVersion(-9007199254740993));
    EXPECT_EQ(
        failureOf(codeFor(R"({"u":"http://b","t":"t","c":"c","v":99999999999999999999})")),
        JoinCode::Failure::damaged());
}

TEST(JoinCodeParse, HostileSizes) {
    // A megabyte of extra payload is read and ignored; an address beyond any URL's length is not one.
    const std::string big(1 << 20, 'a');
    EXPECT_EQ(JoinCode::parse(codeFor(R"({"pad":")" + big + R"(","u":"http://b","t":"t","c":"c","v":1})")).code, "c");
    EXPECT_EQ(JoinCode::parse(codeFor(R"({"u":"http://b","t":")" + big + R"(","c":"c","v":1})")).hostedTenantId, big);
    EXPECT_EQ(
        failureOf(codeFor(R"({"u":"http://b/)" + big + R"(","t":"t","c":"c","v":1})")), JoinCode::Failure::damaged());
    // Nesting deeper than the reader allows fails as damaged, not as a crash.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(
        failureOf(codeFor(R"({"x":)" + deep + R"(,"u":"http://b","t":"t","c":"c","v":1})")),
        JoinCode::Failure::damaged());
    EXPECT_EQ(failureOf("blj_" + std::string(1 << 20, '=')), JoinCode::Failure::damaged());
}

}  // namespace
}  // namespace brisalune
