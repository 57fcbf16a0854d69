#include <brisalune/client/accounts.hpp>
#include <brisalune/client/client.hpp>
#include <brisalune/client/team.hpp>

#include "support/endpoint_fixture.hpp"

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

constexpr const char* accountJson = R"({"id":"a1","email":"ann@example.com","display_name":"Ann"})";

class AccountEndpoints : public testing::EndpointTest {
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

TEST_F(AccountEndpoints, MeAndLogoutTravelOnTheSession) {
    server.on("GET", "/v1/me", Reply::json(std::string(R"({"account":)") + accountJson + R"(,"memberships":[)" +
                                           R"({"tenant_id":"t1","tenant_name":"Ops","role":"owner"}]})"));
    auto me = client().me();
    EXPECT_EQ(me.account.displayName, "Ann");
    ASSERT_EQ(me.memberships.size(), 1u);
    EXPECT_EQ(me.memberships[0].tenantName, "Ops");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    auto request = exchange("POST", "/v1/logout", Reply{204, {}, ""}, [&] { client().logout(); });
    EXPECT_EQ(request.body, "");
    EXPECT_FALSE(request.header("Content-Type"));
    EXPECT_EQ(request.header("Authorization"), "Bearer session-token");
    server.on("POST", "/v1/logout", Reply{200, {}, "<html>bye</html>"});
    EXPECT_NO_THROW(client().logout());
    server.on("POST", "/v1/logout", Reply::json(R"({"error":"gone"})", 401));
    EXPECT_TRUE(errorOf([&] { client().logout(); }).is(Case::unauthorized));
}

TEST_F(AccountEndpoints, ProfileUpdateReturnsTheAccountAndNeedsASession) {
    auto request = exchange("PUT", "/v1/account/profile", Reply::json(std::string(R"({"account":)") + accountJson + "}"),
                            [&] { EXPECT_EQ(client().updateProfile("Ann").shownName(), "Ann"); });
    EXPECT_EQ(request.body, R"({"display_name":"Ann"})");

    server.clearRequests();
    auto error = errorOf([&] { client(std::nullopt).updateProfile("Ann"); });
    EXPECT_TRUE(error.is(Case::unauthorized));
    EXPECT_EQ(error.message(), "not signed in");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AccountEndpoints, TenantCreationSendsTheDataPlaneOnlyWhenGiven) {
    const Reply created = Reply::json(R"({"id":"t9","name":"Ops","role":"owner","extra":1})", 201);
    auto request = exchange("POST", "/v1/tenants", created, [&] {
        auto tenant = client().createTenant("Ops");
        EXPECT_EQ(tenant.id, "t9");
        EXPECT_FALSE(tenant.dataPlaneURL);
    });
    EXPECT_EQ(request.body, R"({"name":"Ops"})");

    request = exchange("POST", "/v1/tenants", created,
                       [&] { client().createTenant("Ops", platform::Url::parse("https://eu.example.com/data")); });
    EXPECT_EQ(request.body, R"({"name":"Ops","data_plane_url":"https://eu.example.com/data"})");
}

TEST_F(AccountEndpoints, TenantListRenameAndDeleteReadTheirEnvelopes) {
    server.on("GET", "/v1/tenants",
              Reply::json(R"({"tenants":[{"tenant_id":"t1","tenant_name":"Ops","role":"custom-x",)"
                          R"("data_plane_url":"https://eu.example.com"}]})"));
    auto tenants = client().listTenants();
    ASSERT_EQ(tenants.size(), 1u);
    EXPECT_EQ(tenants[0].role, "custom-x");
    EXPECT_EQ(tenants[0].dataPlaneURL->text(), "https://eu.example.com");

    auto request = exchange("POST", "/v1/tenants/t%2F1/rename", Reply::json(R"({"name":"whatever"})"),
                            [&] { client().renameTenant("t/1", "New"); });
    EXPECT_EQ(request.body, R"({"name":"New"})");
    server.on("POST", "/v1/tenants/t1/rename", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { client().renameTenant("t1", "New"); }).is(Case::invalidResponse));

    request = exchange("POST", "/v1/tenants/t1/delete", Reply::json(R"({"deleted":false})"),
                       [&] { client().deleteTenant("t1", "ann@example.com", "secret"); });
    EXPECT_EQ(request.body, R"({"email":"ann@example.com","current_password":"secret"})");
    EXPECT_EQ(request.header("Authorization"), "Bearer session-token");
    server.on("POST", "/v1/tenants/t1/delete", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { client().deleteTenant("t1", "a", "b"); }).is(Case::invalidResponse));
}

TEST_F(AccountEndpoints, AccountDeletionTravelsWithoutBearerToken) {
    auto request = exchange("POST", "/v1/account/delete", Reply::json(R"({"deleted":false})"),
                            [&] { client().deleteAccount("ann@example.com", "secret"); });
    EXPECT_EQ(request.body, R"({"email":"ann@example.com","password":"secret"})");
    EXPECT_FALSE(request.header("Authorization"));
    EXPECT_NO_THROW(client(std::nullopt, std::nullopt).deleteAccount("ann@example.com", "secret"));

    server.on("POST", "/v1/account/delete", Reply::json("{}"));
    EXPECT_TRUE(errorOf([&] { client().deleteAccount("a", "b"); }).is(Case::invalidResponse));
}

TEST_F(AccountEndpoints, EmailChangeTellsAMailedTokenFromAChange) {
    auto change = [&](Reply reply) {
        server.on("POST", "/v1/account/email", std::move(reply));
        return client().changeEmail("ann@example.com", "secret", "new@example.com");
    };
    EXPECT_EQ(change(Reply{202, {}, ""}), EmailChangeOutcome::verificationSent);
    EXPECT_EQ(change(Reply::json(R"({"verification":""})")), EmailChangeOutcome::verificationSent);
    EXPECT_EQ(change(Reply::json(R"({"verification":null,"changed":true})")), EmailChangeOutcome::changed);
    EXPECT_EQ(change(Reply::json(R"({"changed":false})")), EmailChangeOutcome::changed);
    EXPECT_TRUE(errorOf([&] { change(Reply::json("{}")); }).is(Case::invalidResponse));
    EXPECT_TRUE(errorOf([&] { change(Reply::json(R"({"verification":5})")); }).is(Case::invalidResponse));
    // A refused token has no rule of its own here.
    EXPECT_TRUE(errorOf([&] { change(Reply::json(R"({"error":"token expired"})", 410)); }).is(Case::server));
    EXPECT_EQ(last().body, R"({"email":"ann@example.com","current_password":"secret","new_email":"new@example.com"})");
    EXPECT_EQ(last().header("Authorization"), "Bearer session-token");

    EXPECT_EQ(change(Reply{202, {}, ""}), EmailChangeOutcome::verificationSent);
    client().changeEmail("new@example.com", "secret");
    EXPECT_EQ(last().body, R"({"email":"new@example.com","current_password":"secret","new_email":"new@example.com"})");
}

TEST_F(AccountEndpoints, PlanPathEscapesDotSegments) {
    const Reply plan = Reply::json(
        R"({"plan":"team","limits":{"max_alerts":1,"max_logs":2,"max_projects":3,"ingest_rps":4,)"
        R"("ingest_burst":5,"data_rps":6,"data_burst":7}})");
    exchange("GET", "/v1/tenants/%2E/plan", plan, [&] { EXPECT_EQ(client().tenantPlan(".").plan, "team"); });
    exchange("GET", "/v1/tenants/%2E%2E/plan", plan, [&] { EXPECT_EQ(client().tenantPlan("..").limits.dataBurst, 7); });
    auto request = exchange("GET", "/v1/tenants/a%2Fb/plan", plan, [&] { client().tenantPlan("a/b"); });
    EXPECT_EQ(request.rawTarget, "/v1/tenants/a%2Fb/plan");
}

TEST_F(AccountEndpoints, AuditQueryKeepsItsOrderAndEmptyValues) {
    const Reply entries = Reply::json(R"({"entries":[{"id":"e1","actor":"ann","action":"key.issue","created_at":17}]})");
    auto request = exchange("GET", "/v1/tenants/t1/audit", entries, [&] {
        auto log = client().auditLog("t1", std::nullopt, std::nullopt, 50);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].createdAt, 17);
    });
    EXPECT_EQ(request.rawTarget, "/v1/tenants/t1/audit?limit=50");

    request = exchange("GET", "/v1/tenants/t1/audit", entries, [&] { client().auditLog("t1", "c9", "", -1); });
    EXPECT_EQ(request.query, "limit=-1&before=c9&action=");

    server.on("GET", "/v1/tenants/t1/audit", Reply::json(R"({"entries":[{"id":"e1"}]})"));
    EXPECT_TRUE(errorOf([&] { client().auditLog("t1", std::nullopt, std::nullopt, 1); }).is(Case::invalidResponse));
}

}  // namespace
}  // namespace brisalune
