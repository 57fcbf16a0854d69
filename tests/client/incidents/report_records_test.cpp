#include <brisalune/client/incidents/reports.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <support/incident_samples.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using testkit::decodeObject;
using testkit::reportObject;
using testkit::with;
using testkit::without;

TEST(ReportRecords, RequiredKeysAndStrictTypes) {
    auto report = decodeObject<Report>(with(reportObject(), {{"status_page", nullptr}, {"components", nullptr}}));
    EXPECT_FALSE(report.statusPage);
    EXPECT_EQ(report.incident, IncidentFields{});

    for (const auto& broken :
         {with(reportObject(), {{"password_protected", nullptr}}),
          with(reportObject(), {{"number", "12"}}),
          with(reportObject(), {{"components", json::Array{json::Object{{"component_id", "c1"}}}}})}) {
        EXPECT_THROW(decodeObject<Report>(broken), json::DecodeError) << json::write(broken);
    }
}

TEST(ReportRecords, IncidentFieldsAreReadFromTheReportsOwnObject) {
    auto incident = decodeObject<Report>(with(
        reportObject(),
        {{"number", 7}, {"group_alerts", false}, {"incident", json::Object{{"number", 99}}}, {"state", "open"}}));
    EXPECT_EQ(incident.incident.number, 7);
    EXPECT_EQ(incident.incident.groupAlerts, false);
    EXPECT_EQ(incident.incident.state, "open");
    // A key named "incident" is not the incident: its value, whatever it is, is ignored.
    EXPECT_EQ(decodeObject<Report>(with(reportObject(), {{"incident", "odd"}})).incident, IncidentFields{});

    // Written back, the incident keys stand beside the report's own.
    auto text = json::encode(incident);
    EXPECT_NE(text.find(R"("number":7)"), std::string::npos) << text;
    EXPECT_EQ(json::decode<Report>(text), incident);

    auto other = incident;
    other.incident.groupAlerts.reset();
    EXPECT_NE(std::hash<Report>{}(other), std::hash<Report>{}(incident));
}

json::Object entryObject() {
    return {
        {"id", "e1"},
        {"report_id", "r1"},
        {"content_md", "*x*"},
        {"content_html", "<em>x</em>"},
        {"entry_type", "update"},
        {"created_at", 3}};
}

TEST(ReportRecords, EntriesRoundTripAndOnlyExactlyInternalIsInternal) {
    auto full =
        with(entryObject(), {{"title", ""}, {"stage", "monitoring"}, {"visibility", "internal"}, {"occurred_at", 2}});
    EXPECT_TRUE(decodeObject<ReportEntry>(full).isInternal());
    for (const auto& object : {entryObject(), full}) {
        EXPECT_EQ(json::parse(json::encode(decodeObject<ReportEntry>(object))), json::Value(object));
    }
    for (const char* visibility : {"Internal", "public", ""}) {
        EXPECT_FALSE(decodeObject<ReportEntry>(with(entryObject(), {{"visibility", visibility}})).isInternal());
    }

    // A detail needs its entries but not its alerts.
    auto detail = decodeObject<ReportDetail>({{"report", reportObject()}, {"entries", json::Array{entryObject()}}});
    EXPECT_TRUE(detail.alerts.empty());
    EXPECT_THROW(decodeObject<ReportDetail>({{"report", reportObject()}, {"entries", nullptr}}), json::DecodeError);
}

}  // namespace
}  // namespace brisalune
