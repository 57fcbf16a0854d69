#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/team/team.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class AccountEndpoints : public testkit::EndpointTest {
protected:
    // Runs `call` against a stand-in answering `reply` on that route; returns what arrived.
    template <class F>
    standin::ReceivedRequest exchange(const char* method, const char* path, Reply reply, F&& call) {
        server.on(method, path, std::move(reply));
        server.clearRequests();
        call();
        return last();
    }
};

TEST_F(AccountEndpoints, MeTenantsAndLogoutTravelOnTheSession) {
    server.on(
        "GET",
        "/v1/me",
        Reply::json(R"({"account":{"id":"a1","email":"ann@example.com"},"memberships":[)"
                    R"({"tenant_id":"t1","tenant_name":"Ops","role":"owner"}]})"));
    EXPECT_EQ(me(client()).memberships.at(0).tenantName, "Ops");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");
    server.on("GET", "/v1/tenants", Reply::json(R"({"tenants":[{"tenant_id":"t1","tenant_name":"Ops","role":"x"}]})"));
    EXPECT_EQ(listTenants(client()).at(0).tenantId, "t1");

    auto request = exchange("POST", "/v1/logout", Reply{200, {}, "<html>bye</html>"}, [&] { logout(client()); });
    EXPECT_EQ(request.body, "");
    EXPECT_EQ(request.header("Authorization"), "Bearer session-token");
}

TEST_F(AccountEndpoints, ProfileUpdateAndTenantCreationSendTheDataPlaneOnlyWhenGiven) {
    auto request = exchange(
        "PUT", "/v1/account/profile", Reply::json(R"({"account":{"id":"a1","email":"e","display_name":"Ann"}})"), [&] {
            EXPECT_EQ(updateProfile(client(), "Ann").shownName(), "Ann");
        });
    EXPECT_EQ(request.body, R"({"display_name":"Ann"})");

    const Reply created = Reply::json(R"({"id":"t9","name":"Ops","role":"owner","extra":1})", 201);
    request = exchange("POST", "/v1/tenants", created, [&] { EXPECT_EQ(createTenant(client(), "Ops").id, "t9"); });
    EXPECT_EQ(request.body, R"({"name":"Ops"})");
    request = exchange("POST", "/v1/tenants", created, [&] {
        createTenant(client(), "Ops", platform::Url::parse("https://eu.example.com/data"));
    });
    EXPECT_EQ(request.body, R"({"name":"Ops","data_plane_url":"https://eu.example.com/data"})");
}

TEST_F(AccountEndpoints, TenantRenameAndDeletionNeedTheirAnswerKeys) {
    auto request = exchange("POST", "/v1/tenants/t%2F1/rename", Reply::json(R"({"name":"whatever"})"), [&] {
        renameTenant(client(), "t/1", "New");
    });
    EXPECT_EQ(request.body, R"({"name":"New"})");
    server.on("POST", "/v1/tenants/t1/rename", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { renameTenant(client(), "t1", "New"); }).is(Case::invalidResponse));

    request = exchange("POST", "/v1/tenants/t1/delete", Reply::json(R"({"deleted":false})"), [&] {
        deleteTenant(client(), "t1", "ann@example.com", "secret");
    });
    EXPECT_EQ(request.body, R"({"email":"ann@example.com","current_password":"secret"})");
    server.on("POST", "/v1/tenants/t1/delete", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { deleteTenant(client(), "t1", "a", "b"); }).is(Case::invalidResponse));

    // The account's own deletion proves itself with the password, not the session.
    request = exchange("POST", "/v1/account/delete", Reply::json(R"({"deleted":false})"), [&] {
        deleteAccount(client(), "ann@example.com", "secret");
    });
    EXPECT_EQ(request.body, R"({"email":"ann@example.com","password":"secret"})");
    EXPECT_FALSE(request.header("Authorization"));
    EXPECT_NO_THROW(deleteAccount(client(std::nullopt, std::nullopt), "a", "b"));
}

TEST_F(AccountEndpoints, EmailChangeTellsAMailedTokenFromAChange) {
    auto change = [&](Reply reply) {
        server.on("POST", "/v1/account/email", std::move(reply));
        return changeEmail(client(), "ann@example.com", "secret", "new@example.com");
    };
    EXPECT_EQ(change(Reply{202, {}, ""}), EmailChangeOutcome::verificationSent);
    EXPECT_EQ(change(Reply::json(R"({"verification":""})")), EmailChangeOutcome::verificationSent);
    EXPECT_EQ(change(Reply::json(R"({"verification":null,"changed":true})")), EmailChangeOutcome::changed);
    EXPECT_EQ(change(Reply::json(R"({"changed":false})")), EmailChangeOutcome::changed);
    EXPECT_TRUE(errorOf([&] { change(Reply::json("{}")); }).is(Case::invalidResponse));
    // A refused token has no rule of its own here.
    EXPECT_TRUE(errorOf([&] { change(Reply::json(R"({"error":"token expired"})", 410)); }).is(Case::server));
    EXPECT_EQ(last().body, R"({"email":"ann@example.com","current_password":"secret","new_email":"new@example.com"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    server.on("POST", "/v1/account/email", Reply{202, {}, ""});
    changeEmail(client(), "new@example.com", "secret");
    EXPECT_EQ(last().body, R"({"email":"new@example.com","current_password":"secret","new_email":"new@example.com"})");
}

TEST_F(AccountEndpoints, PlanAndAuditPathsAndQueries) {
    exchange(
        "GET",
        "/v1/tenants/%2E%2E/plan",
        Reply::json(R"({"plan":"team","limits":{"max_alerts":1,"max_logs":2,"max_projects":3,"ingest_rps":4,)"
                    R"("ingest_burst":5,"data_rps":6,"data_burst":7}})"),
        [&] { EXPECT_EQ(tenantPlan(client(), "..").plan, "team"); });

    const Reply entries =
        Reply::json(R"({"entries":[{"id":"e1","actor":"ann","action":"key.issue","created_at":17}]})");
    auto request = exchange("GET", "/v1/tenants/t1/audit", entries, [&] {
        EXPECT_EQ(auditLog(client(), "t1", std::nullopt, std::nullopt, 50).at(0).createdAt, 17);
    });
    EXPECT_EQ(request.rawTarget, "/v1/tenants/t1/audit?limit=50");
    // Kept in this order, with an empty value sent as such.
    request = exchange("GET", "/v1/tenants/t1/audit", entries, [&] { auditLog(client(), "t1", "c9", "", -1); });
    EXPECT_EQ(request.query, "limit=-1&before=c9&action=");
}

}  // namespace
}  // namespace brisalune
