#include <brisalune/client/logs/endpoints.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace brisalune {
namespace {

using Case = BrisaluneError::Case;
using standin::Reply;

class LogSearch : public testkit::EndpointTest {
protected:
    // The LogQueryError `f` throws; a failure when it throws none.
    template <class F>
    static LogQueryError queryErrorOf(F&& f) {
        try {
            std::forward<F>(f)();
        } catch (const LogQueryError& error) {
            return error;
        }
        ADD_FAILURE() << "no LogQueryError thrown";
        return LogQueryError("none");
    }
};

LogSearchQuery fullQuery() {
    LogSearchQuery query(-5, 90, "  disk full\n");
    query.projects = {"web", "api"};
    query.sources = {"nginx"};
    query.envs = {""};
    query.hosts = {"db-1", "db-1"};
    query.runs = {"r9"};
    query.levels = {30, -1};
    query.messageTemplate = "";
    query.ascending = true;
    query.limit = 50;
    query.cursor = 7;
    return query;
}

// The filter items of fullQuery(), in their fixed order.
const std::string fullFilters =
    "since=-5&until=90&project=web&project=api&source=nginx&env=&host=db-1&host=db-1&run=r9"
    "&level=30&level=-1&template=&q=disk%20full";

TEST_F(LogSearch, QueryItemsFollowTheFixedOrderWithOneItemPerListElement) {
    server.on("GET", "/v1/logs", Reply::json("{}"));
    searchLogs(client(), LogSearchQuery(0, std::nullopt, " \n\t"));
    EXPECT_EQ(last().query, "since=0&order=desc&limit=100");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    searchLogs(client(), fullQuery());
    EXPECT_EQ(last().query, fullFilters + "&order=asc&limit=50&after=7");

    LogSearchQuery descending = fullQuery();
    descending.ascending = false;
    descending.text = "\u3000x y\u2028";  // ideographic space and line separator trimmed too
    searchLogs(client(), descending);
    EXPECT_NE(last().query.find("&q=x%20y&order=desc&limit=50&before=7"), std::string::npos) << last().query;
}

TEST_F(LogSearch, SummariesSendTheFiltersWithoutPagingThenTheirOwnItems) {
    server.on("GET", "/v1/logs/facets", Reply::json(R"({"facets":{"env":{"values":[],"other":2}}})"));
    server.on("GET", "/v1/logs/histogram", Reply::json(R"({"interval":60})"));
    const LogFacets facets =
        logFacets(client(), fullQuery(), {LogFacetField::level, LogFacetField::source, LogFacetField::level}, 10);
    EXPECT_EQ(last().query, fullFilters + "&field=level&field=source&field=level&size=10");
    ASSERT_NE(facets.facet(LogFacetField::env), nullptr);
    EXPECT_EQ(facets.facet(LogFacetField::env)->other, 2);

    logHistogram(client(), fullQuery());
    EXPECT_EQ(last().query, fullFilters + "&group=level");
}

TEST_F(LogSearch, PageReadsLinesFlatBesideTheirProjectAndDefaultsTheRest) {
    server.on("GET", "/v1/logs", Reply::json(R"({"lines":[{"project":"web","id":3,"message":"m","host":"h"}],
        "next":12,"total_capped":true,
        "retention":{"nginx":{"sources_total":2,"sources_retaining":1,"over_quota":false,"retain_days":null}}})"));
    const LogSearchPage page = searchLogs(client(), LogSearchQuery(0, std::nullopt, ""));
    EXPECT_EQ(page.lines.at(0).project, "web");
    EXPECT_EQ(page.lines.at(0).line.meta.value().host, "h");
    EXPECT_TRUE(page.isIncomplete());
    EXPECT_EQ(
        json::encode(page.retention.at("nginx")), R"({"sources_total":2,"sources_retaining":1,"over_quota":false})");

    EXPECT_EQ(json::decode<LogSearchPage>("{}"), LogSearchPage{});
    for (const char* broken :
         {R"({"lines":[{"message":"m"}]})", R"({"retention":{"a":{"sources_retaining":1,"over_quota":true}}})"}) {
        server.on("GET", "/v1/logs", Reply::json(broken));
        EXPECT_EQ(
            errorOf([&] { searchLogs(client(), LogSearchQuery(0, std::nullopt, "")); }).kind(), Case::invalidResponse)
            << broken;
    }
}

TEST_F(LogSearch, RefusedQueryIsLogQueryErrorOnlyWhenThe422BodyIsARefusal) {
    const auto search = [&] { searchLogs(client(), LogSearchQuery(0, std::nullopt, "a AND")); };
    server.on("GET", "/v1/logs", Reply::json(R"({"error":"unexpected end","offset":7})", 422));
    EXPECT_EQ(queryErrorOf(search), LogQueryError("unexpected end", 7));
    server.on("GET", "/v1/logs", Reply::json(R"({"error":"bad query","offset":null})", 422));
    EXPECT_EQ(queryErrorOf(search).offset(), std::nullopt);
    server.on("GET", "/v1/logs/facets", Reply::json(R"({"error":"bad field"})", 422));
    EXPECT_EQ(
        queryErrorOf([&] { logFacets(client(), LogSearchQuery(0, std::nullopt, ""), {}, 5); }),
        LogQueryError("bad field"));

    server.on("GET", "/v1/logs", Reply::json(R"({"fields":[{"field":"q","message":"too long"}]})", 422));
    EXPECT_EQ(errorOf(search).kind(), Case::validation);
    server.on("GET", "/v1/logs", Reply::json(R"({"error":"slow down"})", 429));
    EXPECT_EQ(errorOf(search).kind(), Case::rateLimited);
}

TEST(LogFacetRecords, ValueTextComesFromANonEmptySourceElseFromValue) {
    const auto valueOf = [](const char* object) { return json::decode<LogFacetValue>(object).value; };
    EXPECT_EQ(valueOf(R"({"source":"nginx","value":"other","count":1})"), "nginx");
    EXPECT_EQ(valueOf(R"({"source":"","value":"other","count":1})"), "other");
    EXPECT_EQ(valueOf(R"({"source":4,"value":"other","count":1})"), "other");
    EXPECT_THROW(json::decode<LogFacetValue>(R"({"value":"v"})"), json::DecodeError);

    for (LogFacetField field : allLogFacetFields) EXPECT_EQ(logFacetField(rawValue(field)), field);
    EXPECT_EQ(logFacetField("Level"), std::nullopt);
}

TEST(LogHistogramRecords, CountsByLevelTreatOddKeysAsLevelZeroAndSaturate) {
    const auto bucket = json::decode<LogHistogramBucket>(
        R"({"start":0,"counts":{"30":1,"+40":10,"info":100,"-5":1000,"99999999999999999999":10000}})");
    EXPECT_EQ(bucket.countAtLeast(35), 10);
    EXPECT_EQ(bucket.countAtLeast(0), 10111);  // the word and the huge key count as level 0
    EXPECT_EQ(bucket.total(), 11111);

    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    const LogHistogramBucket huge{.start = 0, .counts = {{"10", most}, {"20", most}, {"30", 5}}};
    EXPECT_EQ(huge.total(), most);
    EXPECT_EQ(huge.countAtLeast(20), most);
    const LogHistogramBucket low{.start = 0, .counts = {{"1", -most}, {"2", -most}}};
    EXPECT_EQ(low.total(), std::numeric_limits<std::int64_t>::min());
    EXPECT_THROW(json::decode<LogHistogram>(R"({"interval":60,"buckets":[{"counts":{}}]})"), json::DecodeError);
}

constexpr const char* view = R"({"id":"v1","name":"errors"})";

class SavedViews : public LogSearch {
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
    EXPECT_EQ(json::decode<SavedView>(view), (SavedView{"v1", "errors", "", {}, "", false, "", 0, 0}));
    EXPECT_EQ(json::decode<SavedView>(R"({"id":-9223372036854775808,"name":"n"})").id, "-9223372036854775808");
    for (const char* broken :
         {R"({"id":true,"name":"n"})",
          R"({"id":1.5,"name":"n"})",
          R"({"id":"a","name":"n","filters":{"level":[30]}})"}) {
        EXPECT_THROW(json::decode<SavedView>(broken), json::DecodeError) << broken;
    }
    const SavedView full = json::decode<SavedView>(
        R"({"id":"v","name":"n","q":"disk","filters":{"env":["prod"]},"range":"24h","shared":true,
            "created_by":"ann","created_at":5,"updated_at":6,"extra":1})");
    EXPECT_EQ(json::decode<SavedView>(json::encode(full)), full);
}

TEST_F(SavedViews, ListAndWritesTakeTheViewWrappedOrBare) {
    server.on("GET", "/v1/views", Reply::json(R"({"views":[{"id":7,"name":"b"}]})"));
    EXPECT_EQ(listSavedViews(client()).at(0).id, "7");
    server.on("GET", "/v1/views", Reply::json("{}"));
    EXPECT_EQ(errorOf([&] { listSavedViews(client()); }).kind(), Case::invalidResponse);

    EXPECT_EQ(create(Reply::json(std::string(R"({"view":)") + view + "}")).name, "errors");
    EXPECT_EQ(last().body, R"({"name":"","q":"","filters":{},"range":"","shared":false})");
    EXPECT_EQ(create(Reply::json(view, 201)).id, "v1");
    EXPECT_EQ(createFails(Reply::json(R"({"view":{"name":"n"}})")).kind(), Case::invalidResponse);

    server.on("PUT", "/v1/views/a%2Fb", Reply::json(view));
    updateSavedView(client(), "a/b", {"n", "q", {{"env", {"prod", "dev"}}}, "1h", true});
    EXPECT_EQ(last().body, R"({"name":"n","q":"q","filters":{"env":["prod","dev"]},"range":"1h","shared":true})");

    server.on("DELETE", "/v1/views/%2E", Reply{204, {}, ""});
    deleteSavedView(client(), ".");
    EXPECT_EQ(errorOf([&] { deleteSavedView(client(), "missing"); }).kind(), Case::notFound);
}

TEST_F(SavedViews, PlanLimitsAndRefusedSearchTextsHaveTheirOwnErrors) {
    const BrisaluneError quota =
        createFails(Reply::json(R"({"error":"saved_views: Your plan keeps 5 views: upgrade"})", 429));
    ASSERT_EQ(quota.kind(), Case::quota);
    EXPECT_EQ(quota.limit(), "saved_views");
    EXPECT_EQ(quota.message(), "Your plan keeps 5 views: upgrade");
    for (const char* general : {R"({"error":"saved views: full"})", R"({"error":": x"})", "{}"}) {
        EXPECT_EQ(createFails(Reply::json(general, 429)).kind(), Case::rateLimited) << general;
    }

    server.on("PUT", "/v1/views/v1", Reply::json(R"({"error":"unexpected end","offset":4})", 422));
    EXPECT_EQ(queryErrorOf([&] { updateSavedView(client(), "v1", {}); }), LogQueryError("unexpected end", 4));
    EXPECT_EQ(createFails(Reply::json(R"({"error":"bad name"})", 422)).kind(), Case::validation);
}

}  // namespace
}  // namespace brisalune
