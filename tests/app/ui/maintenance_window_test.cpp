#include <brisalune/app/ui/mac_maintenance_editor.hpp>
#include <brisalune/app/ui/maintenance_windows_view.hpp>
#include <brisalune/client/maintenance/endpoints.hpp>

#include <app/ui/ui_fixture.hpp>

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>

namespace brisalune {
namespace {

using Selection = MaintenanceWindowsView::Selection;

class MaintenanceWindowTest : public testkit::UiTest {
protected:
    explicit MaintenanceWindowTest(demo::Fixture fixture = standardFixture()) : UiTest(std::move(fixture)) {}

    std::unique_ptr<MaintenanceWindowsView> view;

    MaintenanceWindowsView& open() {
        view = std::make_unique<MaintenanceWindowsView>(model);
        return *view;
    }
    // Opened on a signed-in team, its projects and first project's windows loaded.
    MaintenanceWindowsView& openOn(const std::string& team) {
        signInWithTeam(team);
        open();
        waitUntil([&] { return !view->project().empty() && !busy(); });
        return *view;
    }
    bool busy() const { return QThreadPool::globalInstance()->activeThreadCount() > 0; }
    void settle() {
        waitUntil([&] { return !busy(); });
        QCoreApplication::processEvents();
    }
    std::string pane() const {
        for (const char* name : {"maintenance.readOnly", "maintenance.choose", "maintenance.editorHolder"}) {
            if (shows(view.get(), name)) return name;
        }
        return {};
    }
    std::shared_ptr<BrisaluneClient> teamClient() { return model.client(*model.session()->activeTenantId); }

    // A one-off window stored in the project, through the library.
    MaintenanceWindow store(const std::string& project, const std::string& name) {
        MaintenanceWindowDraft draft =
            MaintenanceWindowDraft::initNew(MaintenanceWindowDraft::currentInstant(), platform::TimeZone::gmt());
        draft.name = name;
        return createMaintenanceWindow(*teamClient(), project, draft.input());
    }
    void choose(const std::string& project) {
        auto& picker = at<QComboBox>(view.get(), "maintenance.project");
        picker.setCurrentIndex(picker.findText(QString::fromStdString(project)));
        settle();
    }
    void click(const std::string& id) {
        auto& list = at<QListWidget>(view.get(), "maintenance.list");
        for (int row = 0; row < list.count(); ++row) {
            if (list.item(row)->data(Qt::UserRole).toString().toStdString() == id) list.item(row)->setSelected(true);
        }
    }
    bool lists(const std::string& id) const {
        return std::ranges::any_of(view->windows(), [&](const auto& w) { return w.id == id; });
    }
};

TEST_F(MaintenanceWindowTest, ShowsAMessageWithoutATeamOrABoxSession) {
    await(model.ensureLaunched());
    open();
    EXPECT_TRUE(shows(view.get(), "maintenance.noTeam"));
    EXPECT_FALSE(shows(view.get(), "maintenance.split"));
    EXPECT_EQ(textOf(view.get(), "maintenance.noTeam"), MaintenanceWindowsView::noTeamText);

    signInWithTeam("harbor-lab");  // its data lives on a box this computer holds no key for
    settle();
    EXPECT_TRUE(shows(view.get(), "maintenance.boxSignIn"));
    EXPECT_FALSE(shows(view.get(), "maintenance.split"));
}

TEST_F(MaintenanceWindowTest, ListsTheFirstProjectInByteOrderAndItsWindows) {
    openOn("acme-ops");
    EXPECT_TRUE(std::ranges::is_sorted(view->projects()));
    EXPECT_EQ(view->project(), view->projects().front());
    const MaintenanceWindow stored = store(view->project(), "Kernel upgrade");
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    EXPECT_TRUE(lists(stored.id));
    EXPECT_FALSE(shows(view.get(), "maintenance.empty"));
    EXPECT_EQ(pane(), "maintenance.choose");

    // An admin may change windows: the editor opens for a click and for "New Window".
    EXPECT_TRUE(shows(view.get(), "maintenance.new"));
    click(stored.id);
    ASSERT_NE(view->editor(), nullptr);
    EXPECT_EQ(view->editor()->existing()->id, stored.id);
    at<QPushButton>(view.get(), "maintenance.new").click();
    ASSERT_NE(view->editor(), nullptr);
    EXPECT_FALSE(view->editor()->existing());
}

TEST_F(MaintenanceWindowTest, AServerWithoutMaintenanceWindowsSaysSo) {
    openOn("acme-ops");
    const std::string path = "/v1/projects/" + view->projects().back() + "/maintenance-windows";
    demo.hostedServer().on("GET", path, standin::Reply::json(R"({"error": "not found"})", 404));
    choose(view->projects().back());
    EXPECT_TRUE(view->windows().empty());
    EXPECT_EQ(textOf(view.get(), "maintenance.error"), MaintenanceWindowsView::notOfferedText);
    EXPECT_FALSE(shows(view.get(), "maintenance.empty"));

    // A failed load after a good one keeps the list it had.
    choose(view->projects().front());
    const std::size_t shown = view->windows().size();
    const std::string first = "/v1/projects/" + view->project() + "/maintenance-windows";
    demo.hostedServer().on("GET", first, standin::Reply::json(R"({"error": "down"})", 500));
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    EXPECT_EQ(view->windows().size(), shown);
    EXPECT_TRUE(shows(view.get(), "maintenance.error"));
}

// Changing the project or the team drops the editor, whose save would land in the old project.
TEST_F(MaintenanceWindowTest, AProjectOrTeamChangeClearsTheSelection) {
    openOn("acme-ops");
    const MaintenanceWindow stored = store(view->project(), "Disk swap");
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    click(stored.id);
    ASSERT_NE(view->editor(), nullptr);
    choose(view->projects()[1]);
    EXPECT_FALSE(view->selection());
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_EQ(pane(), "maintenance.choose");

    at<QPushButton>(view.get(), "maintenance.new").click();
    ASSERT_NE(view->editor(), nullptr);
    await(model.selectTenant("harbor-lab"));  // a box team: nothing of acme-ops may stay
    settle();
    EXPECT_FALSE(view->selection());
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_FALSE(lists(stored.id));  // the other team's list is gone with it
}

// A reload overtaken by a project change must not put the old project's list on screen.
TEST_F(MaintenanceWindowTest, ALateListOfAnotherProjectIsDropped) {
    openOn("acme-ops");
    const std::string first = view->project();
    const MaintenanceWindow stored = store(first, "Slow answer");
    standin::Reply late = standin::Reply::json(
        R"({"windows": [{"id": ")" + stored.id +
        R"(", "name": "Slow answer", "timezone": "UTC", "starts_at": "2030-01-01T00:00"}]})");
    late.delay = std::chrono::milliseconds(600);
    demo.hostedServer().on("GET", "/v1/projects/" + first + "/maintenance-windows", late);
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    choose(view->projects()[1]);
    settle();
    EXPECT_EQ(view->project(), view->projects()[1]);
    EXPECT_FALSE(lists(stored.id));
}

// After a save the window is selected only when the reloaded list holds it: a failed reload
// leaves nothing selected rather than a blank form inviting a duplicate.
TEST_F(MaintenanceWindowTest, SelectsASavedWindowOnlyWhenTheListHoldsIt) {
    openOn("acme-ops");
    at<QPushButton>(view.get(), "maintenance.new").click();
    MaintenanceWindowDraft draft = view->editor()->draft();
    draft.name = "Router firmware";
    view->editor()->setDraft(draft);
    await(view->editor()->save());
    settle();
    ASSERT_TRUE(view->selection());
    const auto* picked = view->selection()->get<Selection::Window>();
    ASSERT_NE(picked, nullptr);
    EXPECT_TRUE(lists(picked->id));
    EXPECT_EQ(view->editor()->existing()->input.name, "Router firmware");

    demo.hostedServer().on(
        "GET", "/v1/projects/" + view->project() + "/maintenance-windows", standin::Reply::json("{}", 503));
    at<QPushButton>(view.get(), "maintenance.new").click();
    draft = view->editor()->draft();
    draft.name = "Second window";
    view->editor()->setDraft(draft);
    await(view->editor()->save());
    settle();
    EXPECT_FALSE(view->selection());
    EXPECT_EQ(pane(), "maintenance.choose");
}

class ViewerMaintenanceWindowTest : public MaintenanceWindowTest {
protected:
    static demo::Fixture viewerFixture() {
        demo::Fixture fixture = standardFixture();
        fixture.hosted.teams.front().role = "viewer";
        return fixture;
    }
    ViewerMaintenanceWindowTest() : MaintenanceWindowTest(viewerFixture()) {}
};

// Without a role answer the membership's role decides: a viewer may browse only.
TEST_F(ViewerMaintenanceWindowTest, AViewerBrowsesWithoutAnEditor) {
    openOn("acme-ops");
    EXPECT_FALSE(view->permissions());
    EXPECT_FALSE(view->mayChangeWindows());
    EXPECT_FALSE(shows(view.get(), "maintenance.new"));
    const MaintenanceWindow stored = store(view->project(), "Visible anyway");
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    click(stored.id);
    EXPECT_EQ(pane(), "maintenance.readOnly");
    EXPECT_EQ(textOf(view.get(), "maintenance.readOnly"), MaintenanceWindowsView::readOnlyText);
}

}  // namespace
}  // namespace brisalune
