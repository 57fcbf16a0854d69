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

TEST_F(LogSearch, QueryItemsFollowTheFixedOrderWithOneItemPerListElement) {
    server.on("GET", "/v1/logs", Reply::json("{}"));
    searchLogs(client(), LogSearchQuery(0, std::nullopt, " \n\t"));
    EXPECT_EQ(last().query, "since=0&order=desc&limit=100");
    EXPECT_EQ(last().header("Authorization"), "Bearer data-key");

    searchLogs(client(), fullQuery());
    EXPECT_EQ(
        last().query,
        "since=-5&until=90&project=web&project=api&source=nginx&env=&host=db-1&host=db-1&run=r9"
        "&level=30&level=-1&template=&q=disk%20full&order=asc&limit=50&after=7");

    LogSearchQuery descending = fullQuery();
    descending.ascending = false;
    descending.messageTemplate.reset();
    descending.text = "\u3000x y\u2028";  // ideographic space and line separator trimmed too
    searchLogs(client(), descending);
    EXPECT_NE(last().query.find("&run=r9&level=30&level=-1&q=x%20y&order=desc&limit=50&before=7"), std::string::npos)
        << last().query;
}

TEST_F(LogSearch, SummariesSendTheFiltersWithoutPagingThenTheirOwnItems) {
    server.on("GET", "/v1/logs/facets", Reply::json("{}"));
    server.on("GET", "/v1/logs/histogram", Reply::json(R"({"interval":60})"));
    const std::string filters =
        "since=-5&until=90&project=web&project=api&source=nginx&env=&host=db-1&host=db-1&run=r9"
        "&level=30&level=-1&template=&q=disk%20full";

    const LogFacets facets =
        logFacets(client(), fullQuery(), {LogFacetField::level, LogFacetField::source, LogFacetField::level}, 10);
    EXPECT_EQ(last().query, filters + "&field=level&field=source&field=level&size=10");
    EXPECT_EQ(facets.facet(LogFacetField::host), nullptr);
    logFacets(client(), LogSearchQuery(1, std::nullopt, ""), {}, 0);
    EXPECT_EQ(last().query, "since=1&size=0");

    logHistogram(client(), fullQuery());
    EXPECT_EQ(last().query, filters + "&group=level");
}

TEST_F(LogSearch, PageReadsLinesFlatBesideTheirProjectAndDefaultsTheRest) {
    server.on("GET", "/v1/logs", Reply::json(R"({"lines":[{"project":"web","id":3,"message":"m","host":"h"}],
        "next":12,"total_capped":true,
        "retention":{"nginx":{"sources_total":2,"sources_retaining":1,"over_quota":false,"retain_days":null}}})"));
    const LogSearchPage page = searchLogs(client(), LogSearchQuery(0, std::nullopt, ""));
    ASSERT_EQ(page.lines.size(), 1U);
    EXPECT_EQ(page.lines[0].project, "web");
    EXPECT_EQ(page.lines[0].line.id, 3);
    EXPECT_EQ(page.lines[0].line.meta.value().host, "h");
    EXPECT_EQ(page.next, 12);
    EXPECT_EQ(page.total, 0);
    EXPECT_TRUE(page.isIncomplete());
    EXPECT_EQ(page.retention.at("nginx"), (LogRetention{2, 1, false, std::nullopt, std::nullopt}));
    EXPECT_EQ(
        json::encode(page.retention.at("nginx")), R"({"sources_total":2,"sources_retaining":1,"over_quota":false})");

    EXPECT_EQ(json::decode<LogSearchPage>("{}"), LogSearchPage{});
    EXPECT_FALSE(LogSearchPage{}.isIncomplete());
    for (const char* broken :
         {R"({"lines":[{"message":"m"}]})",
          R"({"lines":{}})",
          R"({"retention":{"a":{"sources_retaining":1,"over_quota":true}}})"}) {
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
    EXPECT_STREQ(queryErrorOf(search).what(), "unexpected end");

    server.on("GET", "/v1/logs", Reply::json(R"({"error":"bad query","offset":null})", 422));
    EXPECT_EQ(queryErrorOf(search).offset(), std::nullopt);
    server.on("GET", "/v1/logs/facets", Reply::json(R"({"error":"bad field"})", 422));
    EXPECT_EQ(
        queryErrorOf([&] { logFacets(client(), LogSearchQuery(0, std::nullopt, ""), {}, 5); }),
        LogQueryError("bad field"));
    server.on("GET", "/v1/logs/histogram", Reply::json(R"({"error":"bad range","offset":-2})", 422));
    EXPECT_EQ(queryErrorOf([&] { logHistogram(client(), LogSearchQuery(0, std::nullopt, "")); }).offset(), -2);

    server.on("GET", "/v1/logs", Reply::json(R"({"fields":[{"field":"q","message":"too long"}]})", 422));
    EXPECT_EQ(errorOf(search).kind(), Case::validation);
    server.on("GET", "/v1/logs", Reply::json(R"({"error":"slow down"})", 429));
    EXPECT_EQ(errorOf(search).kind(), Case::rateLimited);
    EXPECT_EQ(
        errorOf([&] { searchLogs(client("s", std::nullopt), LogSearchQuery(0, std::nullopt, "")); }).kind(),
        Case::unauthorized);
}

TEST(LogFacetRecords, ValueTextComesFromANonEmptySourceElseFromValue) {
    const auto valueOf = [](const char* object) { return json::decode<LogFacetValue>(object).value; };
    EXPECT_EQ(valueOf(R"({"source":"nginx","value":"other","count":1})"), "nginx");
    EXPECT_EQ(valueOf(R"({"source":"","value":"other","count":1})"), "other");
    EXPECT_EQ(valueOf(R"({"source":4,"value":"other","count":1})"), "other");
    EXPECT_EQ(valueOf(R"({"count":1})"), "");
    EXPECT_THROW(json::decode<LogFacetValue>(R"({"value":"v"})"), json::DecodeError);
    EXPECT_THROW(json::decode<LogFacets>(R"({"facets":{"env":{"values":[]}}})"), json::DecodeError);

    const auto facets =
        json::decode<LogFacets>(R"({"facets":{"env":{"values":[{"value":"prod","count":4}],"other":2}}})");
    ASSERT_NE(facets.facet(LogFacetField::env), nullptr);
    EXPECT_EQ(facets.facet(LogFacetField::env)->other, 2);
    for (LogFacetField field : allLogFacetFields) EXPECT_EQ(logFacetField(rawValue(field)), field);
    EXPECT_EQ(logFacetField("Level"), std::nullopt);
}

TEST(LogHistogramRecords, CountsByLevelTreatOddKeysAsLevelZeroAndSaturate) {
    const auto bucket = json::decode<LogHistogramBucket>(
        R"({"start":0,"counts":{"30":1,"+40":10,"info":100,"-5":1000,"99999999999999999999":10000}})");
    EXPECT_EQ(bucket.countAtLeast(35), 10);
    EXPECT_EQ(bucket.countAtLeast(0), 10111);  // the word and the huge key count as level 0
    EXPECT_EQ(bucket.total(), 11111);
    EXPECT_EQ(LogHistogramBucket{}.total(), 0);

    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    const LogHistogramBucket huge{.start = 0, .counts = {{"10", most}, {"20", most}, {"30", 5}}};
    EXPECT_EQ(huge.total(), most);
    EXPECT_EQ(huge.countAtLeast(20), most);
    const LogHistogramBucket low{.start = 0, .counts = {{"1", -most}, {"2", -most}}};
    EXPECT_EQ(low.total(), std::numeric_limits<std::int64_t>::min());
    EXPECT_THROW(json::decode<LogHistogram>(R"({"buckets":[]})"), json::DecodeError);
    EXPECT_THROW(json::decode<LogHistogram>(R"({"interval":60,"buckets":[{"counts":{}}]})"), json::DecodeError);
}

}  // namespace
}  // namespace brisalune
