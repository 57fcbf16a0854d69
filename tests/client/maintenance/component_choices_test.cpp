#include <brisalune/client/maintenance/component_choices.hpp>

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace brisalune {
namespace {

using Choices = MaintenanceComponentChoices;

StatusComponent component(
    std::string id, std::int64_t position, std::vector<std::string> projects = {}, std::string group = "") {
    StatusComponent out;
    out.id = std::move(id);
    out.name = "Name " + out.id;
    out.group = std::move(group);
    out.position = position;
    for (auto& project : projects) {
        StatusBinding binding;
        binding.project = std::move(project);
        out.bindings.push_back(std::move(binding));
    }
    return out;
}

StatusPage page(std::string id, std::vector<StatusComponent> components) {
    StatusPage out;
    out.id = std::move(id);
    out.components = std::move(components);
    return out;
}

std::vector<std::string> ids(const Choices::Page& page) {
    std::vector<std::string> out;
    for (const auto& choice : page.components) out.push_back(choice.id);
    return out;
}

TEST(MaintenanceComponentChoices, OffersAProjectsComponentsInPositionOrder) {
    const std::vector<StatusPage> pages = {
        page(
            "p1",
            {component("a", 3, {"web"}),
             component("b", 1, {"web", "api"}),
             component("c", 1, {"web"}),
             component("other", 0, {"api"}),
             component("unbound", 2)}),
        page("p2", {component("only-api", 0, {"api"})}),
        page("p3", {component("d", 0, {""})}),
    };
    const Choices unbound(pages, {}, "web", true);
    ASSERT_EQ(unbound.pages.size(), 1u);  // pages with nothing to offer are left out
    EXPECT_EQ(ids(unbound.pages[0]), (std::vector<std::string>{"b", "c", "unbound", "a"}));
    EXPECT_EQ(ids(Choices(pages, {}, "web", false).pages[0]), (std::vector<std::string>{"b", "c", "a"}));

    EXPECT_EQ(
        ids(Choices(pages, {}, std::nullopt, false).pages.at(0)),
        (std::vector<std::string>{"other", "b", "c", "unbound", "a"}));

    // An empty project id matches only bindings to the empty project.
    const Choices empty(pages, {}, "", false);
    ASSERT_EQ(empty.pages.size(), 1u);
    EXPECT_EQ(empty.pages[0].id, "p3");
}

TEST(MaintenanceComponentChoices, PickedIdsNoChoiceCarriesAreSetApart) {
    const std::vector<StatusPage> pages = {
        page("p1", {component("a", 0, {"web"})}), page("p2", {component("a", 0, {"api"}), component("z", 0, {"api"})})};
    const Choices choices(pages, {"b", "z", "a", "b", "B"}, "web", false);
    EXPECT_EQ(choices.unknown, (std::vector<std::string>{"B", "b", "z"}));  // "z" stands on a page, not offered
    EXPECT_EQ(Choices({}, {"b", "a", "b"}, std::nullopt, true).unknown, (std::vector<std::string>{"a", "b"}));
    // Ordered by their canonical form: a decomposed "é" sorts with the composed one.
    EXPECT_EQ(
        Choices({}, {"f", "e\u0301", "\u00e9a"}, std::nullopt, true).unknown,
        (std::vector<std::string>{"f", "e\u0301", "\u00e9a"}));
    // One canonical text is one id, whichever form it was picked in: the first picked stays.
    EXPECT_EQ(
        Choices({}, {"\u00e9", "x", "e\u0301", "\u00e9"}, std::nullopt, true).unknown,
        (std::vector<std::string>{"x", "\u00e9"}));
    EXPECT_EQ(Choices({}, {"e\u0301", "\u00e9"}, std::nullopt, true).unknown, (std::vector<std::string>{"e\u0301"}));
    // An offered id picked in another canonical form is that choice, not a leftover.
    const Choices decomposed({page("p1", {component("\u00e9", 0)})}, {"e\u0301"}, std::nullopt, true);
    EXPECT_TRUE(decomposed.unknown.empty());
    EXPECT_EQ(decomposed.label("e\u0301"), "Name \u00e9");
}

TEST(MaintenanceComponentChoices, EqualChoicesHashAlike) {
    const std::vector<StatusPage> pages = {page("p1", {component("a", 0, {}, "G"), component("b", 1)})};
    const Choices one(pages, {"x"}, std::nullopt, true);
    const Choices same(pages, {"x", "x"}, std::nullopt, true);
    ASSERT_EQ(one, same);
    EXPECT_EQ(std::hash<Choices>{}(one), std::hash<Choices>{}(same));
    EXPECT_EQ(std::hash<Choices::Page>{}(one.pages[0]), std::hash<Choices::Page>{}(same.pages[0]));
    std::unordered_set<Choices> set{one, same, Choices(pages, {"y"}, std::nullopt, true)};
    EXPECT_EQ(set.size(), 2u);
}

TEST(MaintenanceComponentChoices, LabelsNameGroupAndComponent) {
    const Choices choices({page("p1", {component("a", 0, {}, "Edge"), component("b", 1)})}, {}, std::nullopt, false);
    EXPECT_EQ(choices.label("a"), "Edge \u00b7 Name a");
    EXPECT_EQ(choices.label("b"), "Name b");
}

}  // namespace
}  // namespace brisalune
