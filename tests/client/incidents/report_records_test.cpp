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

TEST(ReportRecords, AReportWithItsRequiredKeysOnlyHasEveryIncidentFieldAbsent) {
    auto report = decodeObject<Report>(reportObject());
    EXPECT_EQ(report.alertId, std::nullopt);
    EXPECT_EQ(report.description, std::nullopt);
    EXPECT_EQ(report.createdBy, std::nullopt);
    EXPECT_FALSE(report.statusPage);
    EXPECT_TRUE(report.components.empty());
    EXPECT_EQ(report.stage, std::nullopt);
    EXPECT_EQ(report.incident, IncidentFields{});

    for (const auto& broken :
         {without(reportObject(), "password_protected"),
          with(reportObject(), {{"password_protected", nullptr}}),
          with(reportObject(), {{"status_page", "yes"}}),
          with(reportObject(), {{"number", "12"}}),
          with(reportObject(), {{"components", json::Array{json::Object{{"component_id", "c1"}}}}})}) {
        EXPECT_THROW(decodeObject<Report>(broken), json::DecodeError) << json::write(broken);
    }
    auto lenient = decodeObject<Report>(with(reportObject(), {{"status_page", nullptr}, {"components", nullptr}}));
    EXPECT_FALSE(lenient.statusPage);
    EXPECT_TRUE(lenient.components.empty());
}

TEST(ReportRecords, IncidentFieldsAreReadFromTheReportsOwnObject) {
    auto incident = decodeObject<Report>(with(
        reportObject(),
        {{"number", 7},
         {"group_alerts", false},
         {"opened_by_ai", true},
         {"incident", json::Object{{"number", 99}}},
         {"state", "open"}}));
    EXPECT_EQ(incident.project, "web");
    EXPECT_EQ(incident.incident.number, 7);
    EXPECT_EQ(incident.incident.groupAlerts, false);
    EXPECT_TRUE(incident.incident.openedByAI);
    EXPECT_EQ(incident.incident.state, "open");
    EXPECT_EQ(incident.incident.projects, std::nullopt);

    EXPECT_EQ(
        decodeObject<Report>(with(reportObject(), {{"projects", json::Array{}}})).incident.projects,
        std::vector<std::string>{});
    // A key named "incident" is not the incident: its value, whatever it is, is ignored.
    EXPECT_EQ(decodeObject<Report>(with(reportObject(), {{"incident", "odd"}})).incident, IncidentFields{});

    // Written back, the incident keys stand beside the report's own.
    auto text = json::encode(incident);
    EXPECT_NE(text.find(R"("number":7)"), std::string::npos) << text;
    EXPECT_EQ(json::decode<Report>(text), incident);

    auto other = incident;
    other.incident.groupAlerts.reset();
    EXPECT_NE(other, incident);
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
    auto entry = decodeObject<ReportEntry>(entryObject());
    EXPECT_EQ(entry.title, std::nullopt);
    EXPECT_EQ(entry.occurredAt, std::nullopt);
    EXPECT_FALSE(entry.isInternal());
    EXPECT_EQ(json::parse(json::encode(entry)), json::Value(entryObject()));

    auto full =
        with(entryObject(), {{"title", ""}, {"stage", "monitoring"}, {"visibility", "internal"}, {"occurred_at", 2}});
    EXPECT_TRUE(decodeObject<ReportEntry>(full).isInternal());
    EXPECT_EQ(json::parse(json::encode(decodeObject<ReportEntry>(full))), json::Value(full));
    for (const char* visibility : {"Internal", "public", ""}) {
        EXPECT_FALSE(decodeObject<ReportEntry>(with(entryObject(), {{"visibility", visibility}})).isInternal());
    }
    EXPECT_THROW(decodeObject<ReportEntry>(without(entryObject(), "content_html")), json::DecodeError);
}

TEST(ReportRecords, ADetailNeedsItsEntriesButNotItsAlerts) {
    for (const json::Value& alerts : {json::Value(nullptr), json::Value(json::Array{})}) {
        auto detail = decodeObject<ReportDetail>(
            {{"report", reportObject()}, {"entries", json::Array{entryObject()}}, {"alerts", alerts}});
        EXPECT_TRUE(detail.alerts.empty());
        EXPECT_EQ(detail.entries.size(), 1U);
    }
    EXPECT_TRUE(decodeObject<ReportDetail>({{"report", reportObject()}, {"entries", json::Array{}}}).alerts.empty());
    EXPECT_THROW(decodeObject<ReportDetail>({{"report", reportObject()}}), json::DecodeError);
    EXPECT_THROW(decodeObject<ReportDetail>({{"report", reportObject()}, {"entries", nullptr}}), json::DecodeError);
}

}  // namespace
}  // namespace brisalune
