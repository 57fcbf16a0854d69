#include <brisalune/client/logs/endpoints.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

constexpr const char* view = R"({"id":"v1","name":"errors"})";

class SavedViews : public testkit::EndpointTest {
protected:
    SavedView create(const Reply& reply) {
        server.on("POST", "/v1/views", reply);
        return createSavedView(client(), {});
    }
    BrisaluneError createFails(const Reply& reply) {
        return errorOf([&] { create(reply); });
    }
};

TEST(SavedViewRecord, IdIsATextOrAnIntegerAndTheRestDefaults) {
    const SavedView bare = json::decode<SavedView>(view);
    EXPECT_EQ(bare, (SavedView{"v1", "errors", "", {}, "", false, "", 0, 0}));
    EXPECT_EQ(json::decode<SavedView>(R"({"id":42,"name":"n","shared":null})").id, "42");
    EXPECT_EQ(json::decode<SavedView>(R"({"id":-9223372036854775808,"name":"n"})").id, "-9223372036854775808");
    for (const char* broken :
         {R"({"id":true,"name":"n"})",
          R"({"id":1.5,"name":"n"})",
          R"({"id":null,"name":"n"})",
          R"({"name":"n"})",
          R"({"id":"a"})",
          R"({"id":"a","name":"n","shared":"yes"})",
          R"({"id":"a","name":"n","filters":{"level":[30]}})"}) {
        EXPECT_THROW(json::decode<SavedView>(broken), json::DecodeError) << broken;
    }
    const SavedView full = json::decode<SavedView>(
        R"({"id":"v","name":"n","q":"disk","filters":{"env":["prod"]},"range":"24h","shared":true,
            "created_by":"ann","created_at":5,"updated_at":6,"extra":1})");
    EXPECT_EQ(full.filters.at("env"), std::vector<std::string>{"prod"});
    EXPECT_EQ(json::decode<SavedView>(json::encode(full)), full);
    EXPECT_EQ(std::hash<SavedView>{}(json::decode<SavedView>(json::encode(full))), std::hash<SavedView>{}(full));
}

TEST_F(SavedViews, ListReadsTheViewsAndFailsWithoutThem) {
    server.on("GET", "/v1/views", Reply::json(std::string(R"({"views":[)") + view + R"(,{"id":7,"name":"b"}]})"));
    const auto views = listSavedViews(client());
    ASSERT_EQ(views.size(), 2U);
    EXPECT_EQ(views[1].id, "7");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");
    for (const char* broken : {"{}", R"({"views":[{"id":true,"name":"n"}]})"}) {
        server.on("GET", "/v1/views", Reply::json(broken));
        EXPECT_EQ(errorOf([&] { listSavedViews(client()); }).kind(), Case::invalidResponse) << broken;
    }
}

TEST_F(SavedViews, WritesSendEveryKeyAndTakeTheViewWrappedOrBare) {
    EXPECT_EQ(create(Reply::json(std::string(R"({"view":)") + view + "}")).name, "errors");
    EXPECT_EQ(last().body, R"({"name":"","q":"","filters":{},"range":"","shared":false})");
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    EXPECT_EQ(create(Reply::json(view, 201)).id, "v1");
    EXPECT_EQ(createFails(Reply::json(R"({"view":{"name":"n"}})")).kind(), Case::invalidResponse);

    server.on("PUT", "/v1/views/a%2Fb", Reply::json(view));
    updateSavedView(client(), "a/b", {"n", "q", {{"env", {"prod", "dev"}}}, "1h", true});
    EXPECT_EQ(last().body, R"({"name":"n","q":"q","filters":{"env":["prod","dev"]},"range":"1h","shared":true})");
}

TEST_F(SavedViews, PlanLimitsAndRefusedSearchTextsHaveTheirOwnErrors) {
    const BrisaluneError quota =
        createFails(Reply::json(R"({"error":"saved_views: Your plan keeps 5 views: upgrade"})", 429));
    ASSERT_EQ(quota.kind(), Case::quota);
    EXPECT_EQ(quota.limit(), "saved_views");
    EXPECT_EQ(quota.message(), "Your plan keeps 5 views: upgrade");
    for (const char* general :
         {R"({"error":"saved views: full"})", R"({"error":"slow down"})", R"({"error":": x"})", "{}"}) {
        EXPECT_EQ(createFails(Reply::json(general, 429)).kind(), Case::rateLimited) << general;
    }

    server.on("PUT", "/v1/views/v1", Reply::json(R"({"error":"unexpected end","offset":4})", 422));
    try {
        updateSavedView(client(), "v1", {});
        ADD_FAILURE() << "no LogQueryError thrown";
    } catch (const LogQueryError& error) {
        EXPECT_EQ(error, LogQueryError("unexpected end", 4));
    }
    EXPECT_EQ(createFails(Reply::json(R"({"error":"bad name"})", 422)).kind(), Case::validation);
}

TEST_F(SavedViews, DeleteEscapesTheIdAndAcceptsAny2xx) {
    server.on("DELETE", "/v1/views/%2E", Reply{204, {}, ""});
    deleteSavedView(client(), ".");
    EXPECT_EQ(last().header("Content-Type"), std::nullopt);
    EXPECT_EQ(errorOf([&] { deleteSavedView(client(), "missing"); }).kind(), Case::notFound);
}

}  // namespace
}  // namespace brisalune
