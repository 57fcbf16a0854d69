#include <brisalune/client/team/removal_report.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace brisalune {
namespace {

template <class T>
bool decodes(const std::string& text) {
    try {
        json::decode<T>(text);
        return true;
    } catch (const json::DecodeError&) {
        return false;
    }
}

const std::string emptyReport =
    R"({"removed":"a1","schedules":[],"escalations":[],"overrides":[],"disabled":[],"sources":[]})";

TEST(MemberRemovalReport, ReadsEveryListAndRequiresAllSixKeys) {
    auto read = json::decode<MemberRemovalReport>(
        R"({"removed":"a1","schedules":["s1","s2"],"escalations":["e"],"overrides":[],"extra":1,
            "disabled":[{"kind":"integration","project":"p","id":"i1","type":"webhook","url":"not an address"}],
            "sources":[{"kind":"source","project":"q","name":null}]})");
    EXPECT_EQ(read.schedules, (std::vector<std::string>{"s1", "s2"}));
    EXPECT_EQ(
        read.disabled.at(0),
        (RemovedMemberObject{"integration", "p", "i1", std::nullopt, "webhook", "not an address"}));
    EXPECT_EQ(read.sources.at(0), (RemovedMemberObject{.kind = "source", .project = "q"}));

    EXPECT_TRUE(decodes<MemberRemovalReport>(emptyReport));
    for (const char* key : {"removed", "schedules", "escalations", "overrides", "disabled", "sources"}) {
        json::Value report = json::parse(emptyReport);
        auto& object = *report.get<json::Object>();
        object.erase(key);
        EXPECT_FALSE(decodes<MemberRemovalReport>(json::write(report))) << key;
        object[key] = nullptr;
        EXPECT_FALSE(decodes<MemberRemovalReport>(json::write(report))) << key << " null";
    }
    EXPECT_FALSE(decodes<MemberRemovalReport>(
        R"({"removed":"a1","schedules":[3],"escalations":[],"overrides":[],"disabled":[],"sources":[]})"));
    EXPECT_FALSE(decodes<MemberRemovalReport>(
        R"({"removed":"a1","schedules":[],"escalations":[],"overrides":[],"disabled":[{"kind":"rule"}],"sources":[]})"));
}

TEST(MemberRemovalReport, OrderCountsInEqualityAndHash) {
    auto a = json::decode<MemberRemovalReport>(
        R"({"removed":"a","schedules":["x","y"],"escalations":[],"overrides":[],"disabled":[],"sources":[]})");
    auto b = a;
    b.schedules = {"y", "x"};
    EXPECT_NE(a, b);
    EXPECT_NE(std::hash<MemberRemovalReport>{}(a), std::hash<MemberRemovalReport>{}(b));
    // Written back, the report keeps its keys and leaves absent optionals out.
    b.sources.push_back({.kind = "source", .project = "p"});
    EXPECT_EQ(
        json::encode(b),
        R"({"removed":"a","schedules":["y","x"],"escalations":[],"overrides":[],"disabled":[],)"
        R"("sources":[{"kind":"source","project":"p"}]})");
}

TEST(RemovedMemberObject, LabelFallsFromNameToIdToKind) {
    RemovedMemberObject object{.kind = "rule", .project = "p"};
    EXPECT_EQ(object.displayLabel(), "rule");
    object.id = "";
    object.name = "";
    EXPECT_EQ(object.displayLabel(), "rule");
    object.id = "r1";
    EXPECT_EQ(object.displayLabel(), "r1");
    object.name = "Disk full";
    EXPECT_EQ(object.displayLabel(), "Disk full");
}

}  // namespace
}  // namespace brisalune
