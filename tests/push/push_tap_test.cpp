#include <brisalune/push/push_tap.hpp>

#include <gtest/gtest.h>

namespace brisalune {
namespace {

using Alert = PushTap::Alert;
using Incident = PushTap::Incident;

std::optional<PushTap> tap(const std::string& payload) {
    return PushTap::parse(*json::parse(payload).get<json::Object>());
}

TEST(PushTap, AnAlertNeedsANonEmptyIdAndKeepsAStringTenant) {
    EXPECT_EQ(tap(R"({"alert_id":"a1","tenant_id":"t1"})"), (PushTap{Alert{"a1", "t1"}}));
    EXPECT_EQ(tap(R"({"alert_id":"a1"})"), (PushTap{Alert{"a1", std::nullopt}}));
    EXPECT_EQ(tap(R"({"alert_id":"a1","tenant_id":7})"), (PushTap{Alert{"a1", std::nullopt}}));
    EXPECT_EQ(tap(R"({"alert_id":"a1","tenant_id":""})"), (PushTap{Alert{"a1", ""}}));
    EXPECT_EQ(tap(R"({"alert_id":""})"), std::nullopt);
    EXPECT_EQ(tap(R"({"alert_id":42})"), std::nullopt);
    EXPECT_EQ(tap("{}"), std::nullopt);
    // An id of the service's is short: a longer one is refused whole, never cut or left out.
    const std::string longest(PushTap::maxIdBytes, 'x');
    EXPECT_EQ(
        tap(R"({"alert_id":")" + longest + R"(","tenant_id":")" + longest + R"("})"),
        (PushTap{Alert{longest, longest}}));
    EXPECT_EQ(tap(R"({"alert_id":")" + longest + R"(x","tenant_id":"t1"})"), std::nullopt);
    EXPECT_EQ(tap(R"({"alert_id":"a1","tenant_id":")" + longest + R"(x"})"), std::nullopt);
    // Any other event, or one that is not text, leaves the alert.
    EXPECT_EQ(tap(R"({"alert_id":"a1","event":"alert.fired","incident":3})"), (PushTap{Alert{"a1", std::nullopt}}));
    EXPECT_EQ(tap(R"({"alert_id":"a1","event":5})"), (PushTap{Alert{"a1", std::nullopt}}));
    EXPECT_EQ(
        tap(R"({"alert_id":"a1","event":"INCIDENT.ALERTS_RESOLVED","incident":3})"),
        (PushTap{Alert{"a1", std::nullopt}}));
}

TEST(PushTap, TheResolvedEventGivesAPositiveIncidentOrNothing) {
    const std::string event = R"("event":"incident.alerts_resolved","alert_id":"a1","tenant_id":"t1")";
    const auto incident = [&](const std::string& value) { return tap("{" + event + R"(,"incident":)" + value + "}"); };
    EXPECT_EQ(incident("42"), (PushTap{Incident{42, "t1"}}));
    EXPECT_EQ(incident(R"("42")"), (PushTap{Incident{42, "t1"}}));
    EXPECT_EQ(incident(R"("+42")"), (PushTap{Incident{42, "t1"}}));
    EXPECT_EQ(incident("42.0"), (PushTap{Incident{42, "t1"}}));
    EXPECT_EQ(incident(R"("9223372036854775807")"), (PushTap{Incident{9223372036854775807, "t1"}}));
    for (const char* nothing :
         {"0",
          "-3",
          R"("0")",
          R"("-3")",
          R"("")",
          R"("4a2")",
          R"(" 42")",
          R"("42 ")",
          R"("+-4")",
          R"("+")",
          R"("9223372036854775808")",
          "9223372036854775808",
          "1e300",
          "42.5",
          "true",
          "null",
          "[42]",
          R"({"n":42})"}) {
        EXPECT_EQ(incident(nothing), std::nullopt) << nothing;
    }
    EXPECT_EQ(tap("{" + event + "}"), std::nullopt);  // never falls back to the alert
    const std::string longTeam = R"("event":"incident.alerts_resolved","incident":3,"tenant_id":")";
    EXPECT_EQ(tap("{" + longTeam + std::string(PushTap::maxIdBytes + 1, 'x') + R"("})"), std::nullopt);
}

}  // namespace
}  // namespace brisalune
