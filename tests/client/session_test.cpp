#include <brisalune/client/session.hpp>
#include <brisalune/platform/json_decode.hpp>

#include "support/session_print.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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
        .tenantKeys = {{"t1", {.keyId = "k1", .apiKey = "bk_live_1", .tenantId = "t1"}},
                       {"t2", {.keyId = "k2", .apiKey = "bk_live_2", .tenantId = std::nullopt}}},
        .tenantHosts = {{"t2", url("https://box.local:8443")}},
    };
}

StoredSession bareSession() {
    return {.baseURL = url("https://api.brisalune.example"),
            .sessionToken = "tok",
            .accountId = "acc_1",
            .email = "ana@example.com",
            .activeTenantId = std::nullopt,
            .tenantKeys = {},
            .tenantHosts = {}};
}

// ---- the document -------------------------------------------------------------------------

TEST(SessionDocument, RoundTripsEqual) {
    for (const auto& session : {fullSession(), bareSession()}) {
        EXPECT_EQ(json::decode<StoredSession>(json::encode(session)), session);
    }
}

TEST(SessionDocument, LeavesOutOnlyTheAbsentActiveTenantAndTenantId) {
    auto bare = json::parse(json::encode(bareSession()));
    const auto& object = *bare.get<json::Object>();
    EXPECT_FALSE(object.contains("activeTenantId"));
    EXPECT_EQ(object.at("tenantKeys"), json::Value(json::Object{}));
    EXPECT_EQ(object.at("tenantHosts"), json::Value(json::Object{}));

    auto full = json::parse(json::encode(fullSession()));
    const auto& keys = *full.get<json::Object>()->at("tenantKeys").get<json::Object>();
    EXPECT_TRUE(keys.at("t1").get<json::Object>()->contains("tenantId"));
    EXPECT_FALSE(keys.at("t2").get<json::Object>()->contains("tenantId"));
    EXPECT_EQ(full.get<json::Object>()->at("tenantHosts"),
              json::Value(json::Object{{"t2", json::Value(std::string("https://box.local:8443"))}}));
}

TEST(SessionDocument, MissingOrNullMapsAndActiveTenantReadAsEmpty) {
    const std::string head = R"({"baseURL":"https://a.example","sessionToken":"t","accountId":"a","email":"e")";
    for (const auto& tail : {std::string("}"), std::string(R"(,"tenantKeys":null,"tenantHosts":null,"activeTenantId":null})")}) {
        auto session = json::decode<StoredSession>(head + tail);
        EXPECT_FALSE(session.activeTenantId);
        EXPECT_TRUE(session.tenantKeys.empty());
        EXPECT_TRUE(session.tenantHosts.empty());
    }
    EXPECT_EQ(json::decode<StoredSession>(head + R"(,"later":[1,2]})").email, "e");
}

TEST(SessionDocument, RefusesMissingKeysBadUrlsAndNonJson) {
    const std::vector<std::string> refused = {
        R"({"sessionToken":"t","accountId":"a","email":"e"})",
        R"({"baseURL":"https://a.example","accountId":"a","email":"e"})",
        R"({"baseURL":"https://a.example","sessionToken":"t","email":"e"})",
        R"({"baseURL":"https://a.example","sessionToken":"t","accountId":"a"})",
        R"({"baseURL":"","sessionToken":"t","accountId":"a","email":"e"})",
        R"({"baseURL":"https://a.example","sessionToken":"t","accountId":"a","email":"e","tenantHosts":{"t1":"http://"}})",
        R"({"baseURL":"https://a.example","sessionToken":"t","accountId":"a","email":"e","tenantKeys":{"t1":{"keyId":"k"}}})",
        "not json",
        "",
    };
    for (const auto& text : refused) EXPECT_THROW(json::decode<StoredSession>(text), json::DecodeError) << text;
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

// ---- derived answers ------------------------------------------------------------------------

TEST(StoredSessionHosts, TenantsWithoutAHostAreServedAtTheBase) {
    auto session = fullSession();
    EXPECT_EQ(session.hostForTenant("t2"), url("https://box.local:8443"));
    EXPECT_EQ(session.hostForTenant("t1"), session.baseURL);
    EXPECT_EQ(session.hostForTenant("nobody"), session.baseURL);
    EXPECT_TRUE(session.hasOwnHost("t2"));
    EXPECT_FALSE(session.hasOwnHost("t1"));
    EXPECT_FALSE(session.hasOwnHost("nobody"));

    EXPECT_EQ(session.activeHost(), session.baseURL);
    session.activeTenantId = "t2";
    EXPECT_EQ(session.activeHost(), url("https://box.local:8443"));
    session.activeTenantId.reset();
    EXPECT_FALSE(session.activeHost());
}

TEST(StoredSessionEquality, EveryFieldCounts) {
    auto changed = fullSession();
    changed.tenantKeys.at("t2") = {.keyId = "k2", .apiKey = "bk_live_2", .tenantId = "t2"};
    EXPECT_NE(changed, fullSession());
    changed = fullSession();
    changed.email = "Ana@example.com";
    EXPECT_NE(changed, fullSession());
    changed = fullSession();
    changed.tenantHosts.clear();
    EXPECT_NE(changed, fullSession());
}

TEST(SessionLoadEquality, SameCaseAndSession) {
    EXPECT_EQ(SessionLoad::absent(), SessionLoad::absent());
    EXPECT_NE(SessionLoad::absent(), SessionLoad::unreadable());
    EXPECT_EQ(SessionLoad::present(fullSession()), SessionLoad::present(fullSession()));
    EXPECT_NE(SessionLoad::present(fullSession()), SessionLoad::present(bareSession()));
    EXPECT_FALSE(SessionLoad::absent().session());
}

// ---- the memory store -----------------------------------------------------------------------

TEST(SessionMemoryStore, UnreadableMarkWinsUntilASaveOrClear) {
    MemorySessionStore store(fullSession(), true);
    EXPECT_EQ(store.load(), SessionLoad::unreadable());
    store.save(bareSession());
    EXPECT_EQ(store.load(), SessionLoad::present(bareSession()));

    MemorySessionStore marked(fullSession(), true);
    marked.clear();
    EXPECT_EQ(marked.load(), SessionLoad::absent());
    EXPECT_EQ(MemorySessionStore().load(), SessionLoad::absent());
}

TEST(SessionMemoryStore, SaveErrorChangesNothingAndSurvivesClear) {
    MemorySessionStore store(fullSession(), true);
    store.setSaveError(MemorySessionStore::SaveError{});
    EXPECT_THROW(store.save(bareSession()), MemorySessionStore::SaveError);
    EXPECT_EQ(store.load(), SessionLoad::unreadable());

    store.clear();
    EXPECT_TRUE(store.saveError());
    EXPECT_THROW(store.save(bareSession()), MemorySessionStore::SaveError);
    EXPECT_EQ(store.load(), SessionLoad::absent());

    store.setSaveError(std::nullopt);
    store.save(bareSession());
    EXPECT_EQ(store.load(), SessionLoad::present(bareSession()));
}

TEST(SessionMemoryStore, ConcurrentUseSeesWholeSessions) {
    MemorySessionStore store;
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 200; ++i) {
                store.setSaveError(i % 3 == 0 ? std::optional(MemorySessionStore::SaveError{}) : std::nullopt);
                try {
                    store.save(t % 2 ? fullSession() : bareSession());
                } catch (const MemorySessionStore::SaveError&) {
                }
                auto load = store.load();
                if (load.session()) {
                    EXPECT_TRUE(*load.session() == fullSession() || *load.session() == bareSession());
                }
                if (i % 50 == 0) store.clear();
            }
        });
    }
}

}  // namespace
}  // namespace brisalune
