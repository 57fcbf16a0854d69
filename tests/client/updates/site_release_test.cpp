#include <brisalune/client/updates/site_release.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

const platform::Url manifest = *platform::Url::parse("https://brisalune.example/releases/linux.json");

SiteRelease release(std::int64_t code, std::string url = "https://brisalune.example/download/brisalune-42.tar.gz") {
    return {.versionCode = code, .versionName = "1.4.0", .url = std::move(url), .sha256 = "ab12", .notes = "Faster."};
}

TEST(SiteReleaseTest, ReadsRequiredKeysAndOptionalOnes) {
    EXPECT_EQ(
        SiteRelease::decode(R"({"version_code":42,"version_name":"1.4.0","url":"https://x/a",)"
                            R"("sha256":"ab12","notes":null,"extra":[1]})"),
        (SiteRelease{.versionCode = 42, .versionName = "1.4.0", .url = "https://x/a", .sha256 = "ab12", .notes = {}}));
    EXPECT_EQ(
        SiteRelease::decode(R"({"version_code":7,"version_name":"0.7","url":"u"})"),
        (SiteRelease{.versionCode = 7, .versionName = "0.7", .url = "u", .sha256 = {}, .notes = {}}));

    EXPECT_EQ(SiteRelease::decode(R"({"version_code":42,"version_name":"1.4.0"})"), std::nullopt);
    EXPECT_EQ(SiteRelease::decode(R"({"version_code":"42","version_name":"1.4.0","url":"u"})"), std::nullopt);
    EXPECT_EQ(SiteRelease::decode("not json"), std::nullopt);
    EXPECT_EQ(SiteRelease::decode(""), std::nullopt);
}

TEST(SiteReleaseTest, DownloadAddressMustBeHttpsOnTheManifestHost) {
    EXPECT_EQ(release(42).downloadURL(manifest), platform::Url::parse(release(42).url));
    EXPECT_TRUE(release(42, "HTTPS://Brisalune.EXAMPLE:8443/d").downloadURL(manifest));

    for (const char* refused :
         {"http://brisalune.example/d",
          "https://elsewhere.example/d",
          "https://brisalune.example.evil/d",
          "file:///brisalune.example/d",
          "/download/brisalune.tar.gz",
          "brisalune.example/d",
          "https://",
          "not a url"}) {
        EXPECT_EQ(release(42, refused).downloadURL(manifest), std::nullopt) << refused;
    }
    // A manifest on loopback over plain http (a demo build's) offers plain http on its own origin
    // only; https elsewhere on its host still passes.
    const platform::Url local = *platform::Url::parse("http://127.0.0.1:8789/releases/linux.json");
    EXPECT_TRUE(release(42, "http://127.0.0.1:8789/downloads/brisalune.tar.gz").downloadURL(local));
    EXPECT_TRUE(release(42, "https://127.0.0.1/downloads/brisalune.tar.gz").downloadURL(local));
    for (const char* refused :
         {"http://127.0.0.1/d", "http://127.0.0.1:8790/d", "http://localhost:8789/d", "ftp://127.0.0.1:8789/d"}) {
        EXPECT_EQ(release(42, refused).downloadURL(local), std::nullopt) << refused;
    }
    EXPECT_EQ(
        release(42, "http://brisalune.example:8789/d")
            .downloadURL(*platform::Url::parse("http://brisalune.example:8789/releases/linux.json")),
        std::nullopt);
    // A manifest address without a host accepts no download address.
    EXPECT_EQ(release(42).downloadURL(*platform::Url::parse("file:///releases/linux.json")), std::nullopt);
}

TEST(SiteReleaseTest, OffersOnlyANewerUndismissedReleaseWithAUsableAddress) {
    EXPECT_EQ(SiteRelease::offeredRelease(release(42), 41, 0, manifest), release(42));
    EXPECT_EQ(SiteRelease::offeredRelease(release(42), 42, 0, manifest), std::nullopt);
    EXPECT_EQ(SiteRelease::offeredRelease(release(42), 41, 42, manifest), std::nullopt);
    EXPECT_EQ(SiteRelease::offeredRelease(release(42), 41, 43, manifest), std::nullopt);
    EXPECT_EQ(SiteRelease::offeredRelease(std::nullopt, 0, 0, manifest), std::nullopt);
    EXPECT_EQ(SiteRelease::offeredRelease(release(42, "http://brisalune.example/d"), 0, 0, manifest), std::nullopt);
    // The offered release keeps its address text as written.
    EXPECT_EQ(
        SiteRelease::offeredRelease(release(42, "HTTPS://BRISALUNE.example/d"), 0, 0, manifest)->url,
        "HTTPS://BRISALUNE.example/d");
}

}  // namespace
}  // namespace brisalune
