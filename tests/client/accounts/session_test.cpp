#include <brisalune/client/accounts/session.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/session_print.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

platform::Url url(std::string_view text) { return *platform::Url::parse(text); }

StoredSession fullSession() {
    return {
        .baseURL = url("https://api.brisalune.example"),
        .sessionToken = "tok-secret-1",
        .accountId = "acc_1",
        .email = "ana@example.com",
        .activeTenantId = "t1",
        .tenantKeys =
            {{"t1", {.keyId = "k1", .apiKey = "bk_live_1", .tenantId = "t1"}},
             {"t2", {.keyId = "k2", .apiKey = "bk_live_2", .tenantId = std::nullopt}}},
        .tenantHosts = {{"t2", url("https://box.local:8443")}}};
}

StoredSession bareSession() {
    return {
        .baseURL = url("https://api.brisalune.example"),
        .sessionToken = "tok",
        .accountId = "acc_1",
        .email = "ana@example.com",
        .activeTenantId = std::nullopt,
        .tenantKeys = {},
        .tenantHosts = {}};
}

TEST(SessionDocument, RoundTripsAndAlwaysWritesBothMaps) {
    for (const auto& session : {fullSession(), bareSession()}) {
        EXPECT_EQ(json::decode<StoredSession>(json::encode(session)), session);
    }
    auto bare = json::parse(json::encode(bareSession()));
    const auto& object = *bare.get<json::Object>();
    EXPECT_FALSE(object.contains("activeTenantId"));
    EXPECT_EQ(object.at("tenantKeys"), json::Value(json::Object{}));
    EXPECT_EQ(object.at("tenantHosts"), json::Value(json::Object{}));
}

TEST(SessionDocument, MissingOrNullMapsReadAsEmptyAndUnknownKeysAreIgnored) {
    const std::string head = R"({"baseURL":"https://a.example","sessionToken":"t","accountId":"a","email":"e")";
    for (const auto& tail : {std::string("}"), std::string(R"(,"tenantKeys":null,"tenantHosts":null,"later":[1]})")}) {
        auto session = json::decode<StoredSession>(head + tail);
        EXPECT_TRUE(session.tenantKeys.empty());
        EXPECT_TRUE(session.tenantHosts.empty());
    }
}

TEST(SessionDocument, RefusesMissingKeysBadUrlsAndNonJson) {
    const std::string head = R"({"baseURL":"https://a.example","sessionToken":"t","accountId":"a")";
    const std::string refused[] = {
        head + "}",
        R"({"baseURL":"","sessionToken":"t","accountId":"a","email":"e"})",
        head + R"(,"email":"e","tenantHosts":{"t1":"http://"}})",
        head + R"(,"email":"e","tenantKeys":{"t1":{"keyId":"k"}}})",
        "not json"};
    for (const auto& text : refused) {
        EXPECT_THROW(json::decode<StoredSession>(text), json::DecodeError) << text;
    }
}

TEST(SessionDocument, DecodeErrorsNameThePathNotTheSecrets) {
    const std::string text =
        R"({"baseURL":"https://a.example","sessionToken":"tok-secret-1","accountId":"a","email":"e",)"
        R"("tenantKeys":{"t1":{"keyId":"k","apiKey":"bk_live_1"}},"tenantHosts":{"t1":"http://bk_live_1 x"}})";
    try {
        json::decode<StoredSession>(text);
        FAIL() << "decoded";
    } catch (const json::DecodeError& error) {
        EXPECT_EQ(error.path(), "tenantHosts.t1");
        EXPECT_EQ(std::string(error.what()).find("bk_live_1"), std::string::npos) << error.what();
        EXPECT_EQ(std::string(error.what()).find("tok-secret-1"), std::string::npos) << error.what();
    }
}

TEST(StoredSessionHosts, TenantsWithoutAHostAreServedAtTheBase) {
    auto session = fullSession();
    EXPECT_EQ(session.hostForTenant("nobody"), session.baseURL);
    EXPECT_TRUE(session.hasOwnHost("t2"));
    EXPECT_FALSE(session.hasOwnHost("t1"));
    EXPECT_EQ(session.activeHost(), session.baseURL);
    session.activeTenantId = "t2";
    EXPECT_EQ(session.activeHost(), url("https://box.local:8443"));
    session.activeTenantId.reset();
    EXPECT_FALSE(session.activeHost());
}

TEST(SessionMemoryStore, UnreadableMarkLastsUntilASaveOrClearAndSaveErrorsChangeNothing) {
    MemorySessionStore store(fullSession(), true);
    store.setSaveError(MemorySessionStore::SaveError{});
    EXPECT_THROW(store.save(bareSession()), MemorySessionStore::SaveError);
    EXPECT_EQ(store.load(), SessionLoad::unreadable());

    store.clear();  // the save error stays
    EXPECT_THROW(store.save(bareSession()), MemorySessionStore::SaveError);
    EXPECT_EQ(store.load(), SessionLoad::absent());

    MemorySessionStore marked(fullSession(), true);
    marked.save(bareSession());
    EXPECT_EQ(marked.load(), SessionLoad::present(bareSession()));
}

}  // namespace
}  // namespace brisalune
