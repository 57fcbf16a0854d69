#include <brisalune/app/ui/mac_maintenance_editor.hpp>
#include <brisalune/app/ui/maintenance_windows_view.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/maintenance/endpoints.hpp>
#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/push/await_blocking.hpp>

#include <app/ui/ui_fixture.hpp>
#include <app/ui/wheel_notch.hpp>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>

namespace brisalune {
namespace {

using Selection = MaintenanceWindowsView::Selection;

class MaintenanceWindowTest : public testkit::UiTest {
protected:
    explicit MaintenanceWindowTest(demo::Fixture fixture = standardFixture()) : UiTest(std::move(fixture)) {}

    std::unique_ptr<MaintenanceWindowsView> view;

    MaintenanceWindowsView& open() {
        view = std::make_unique<MaintenanceWindowsView>(model);
        view->show();  // it loads while it shows
        return *view;
    }
    // Opened on a signed-in team, its projects and first project's windows loaded.
    MaintenanceWindowsView& openOn(const std::string& team) {
        signInWithTeam(team);
        open();
        waitUntil([&] { return !view->project().empty() && !busy(); });
        return *view;
    }
    bool busy() const { return !blockingCallsIdle(); }
    // Until the answers have come, and those of the requests that they started.
    static void settle() { ASSERT_TRUE(testkit::settlePool()); }
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
    void click(const std::string& id) { click(*view, id); }
    static void click(const MaintenanceWindowsView& in, const std::string& id) {
        auto& list = at<QListWidget>(&in, "maintenance.list");
        for (int row = 0; row < list.count(); ++row) {
            if (list.item(row)->data(Qt::UserRole).toString().toStdString() == id) list.item(row)->setSelected(true);
        }
    }
    // Two windows stored on the team's first project, listed, the first one picked.
    std::pair<MaintenanceWindow, MaintenanceWindow> twoWindowsTheFirstPicked() {
        openOn("acme-ops");
        MaintenanceWindow first = store(view->project(), "First");
        MaintenanceWindow second = store(view->project(), "Second");
        at<QPushButton>(view.get(), "maintenance.refresh").click();
        settle();
        click(first.id);
        return {std::move(first), std::move(second)};
    }
    bool lists(const std::string& id) const { return listed(*view, id); }
    static bool listed(const MaintenanceWindowsView& in, const std::string& id) {
        return std::ranges::any_of(in.windows(), [&](const auto& w) { return w.id == id; });
    }
    std::size_t asked(const std::string& method, const std::string& path) {
        const auto all = demo.hostedServer().requests();
        return std::ranges::count_if(all, [&](const auto& r) { return r.method == method && r.path == path; });
    }
    // The window as the menu's "Maintenance windows…" shows it, and its content.
    MaintenanceWindowsView& showWindow() {
        windows.show(WindowPresenter::Kind::maintenance);
        return at<MaintenanceWindowsView>(windows.window(WindowPresenter::Kind::maintenance), "maintenance");
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

// Changing the project drops a stored window's editor, whose save would land in the old project;
// a new window's draft goes along to the project now chosen. Changing the team drops everything.
TEST_F(MaintenanceWindowTest, AProjectChangeKeepsOnlyANewWindowsDraft) {
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
    MaintenanceWindowDraft draft = view->editor()->draft();
    draft.name = "Drafted elsewhere";
    view->editor()->setDraft(draft);
    draft = view->editor()->draft();
    choose(view->projects()[0]);
    EXPECT_EQ(view->selection(), Selection{Selection::New{}});
    ASSERT_NE(view->editor(), nullptr);
    EXPECT_EQ(view->editor()->project(), view->projects()[0]);
    EXPECT_EQ(view->editor()->draft(), draft);
    EXPECT_FALSE(view->editor()->existing());

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

// The list reloads after a create; a second press meanwhile must not store the window twice.
TEST_F(MaintenanceWindowTest, ASecondPressWhileTheListReloadsStoresNoSecondWindow) {
    openOn("acme-ops");
    const std::string path = "/v1/projects/" + view->project() + "/maintenance-windows";
    at<QPushButton>(view.get(), "maintenance.new").click();
    MaintenanceWindowDraft draft = view->editor()->draft();
    draft.name = "Once only";
    view->editor()->setDraft(draft);
    standin::Reply slowList = standin::Reply::json(R"({"windows": []})");
    slowList.delay = std::chrono::milliseconds(800);
    demo.hostedServer().on("GET", path, slowList);
    demo.hostedServer().clearRequests();
    const auto sent = [&](const std::string& method) {
        const auto all = demo.hostedServer().requests();
        return std::ranges::count_if(all, [&](const auto& r) { return r.method == method && r.path == path; });
    };

    QPointer<MacMaintenanceEditor> editor = view->editor();
    at<QPushButton>(editor.data(), "editor.save").click();
    waitUntil([&] { return sent("GET") > 0; });  // stored; the list is on its way
    ASSERT_TRUE(editor);
    at<QPushButton>(editor.data(), "editor.save").click();
    settle();
    EXPECT_EQ(sent("POST"), 1);
}

// A row picked while the list reloads after a save stays picked, with what was typed in it.
TEST_F(MaintenanceWindowTest, ARowPickedWhileTheListReloadsKeepsItsEditor) {
    const auto [first, second] = twoWindowsTheFirstPicked();
    const auto row = [](const MaintenanceWindow& w) {
        return R"({"id": ")" + w.id + R"(", "name": ")" + w.input.name +
               R"(", "timezone": "UTC", "starts_at": "2030-01-01T00:00"})";
    };
    standin::Reply slowList = standin::Reply::json(R"({"windows": [)" + row(first) + "," + row(second) + "]}");
    slowList.delay = std::chrono::milliseconds(600);
    demo.hostedServer().on("GET", "/v1/projects/" + view->project() + "/maintenance-windows", slowList);

    await(view->editor()->save());  // stored; the list is on its way
    click(second.id);
    MaintenanceWindowDraft draft = view->editor()->draft();
    draft.name = "Second, renamed";
    view->editor()->setDraft(draft);
    settle();
    ASSERT_TRUE(view->selection());
    ASSERT_NE(view->selection()->get<Selection::Window>(), nullptr);
    EXPECT_EQ(view->selection()->get<Selection::Window>()->id, second.id);
    EXPECT_EQ(view->editor()->draft().name, "Second, renamed");
}

// A save that ends after another row was picked still shows in the list, and leaves that row's
// editor as it is.
TEST_F(MaintenanceWindowTest, ASaveEndingAfterAnotherRowWasPickedStillReloadsTheList) {
    const auto [first, second] = twoWindowsTheFirstPicked();
    MaintenanceWindowDraft draft = view->editor()->draft();
    draft.name = "First, renamed";
    view->editor()->setDraft(draft);
    demo.hostedServer().clearRequests();
    const std::string path = "/v1/projects/" + view->project() + "/maintenance-windows";
    at<QPushButton>(view.get(), "editor.save").click();  // on its way
    click(second.id);
    waitUntil([&, firstId = first.id] {
        const auto listed = std::ranges::find(view->windows(), firstId, &MaintenanceWindow::id);
        return listed != view->windows().end() && listed->input.name == "First, renamed";
    });
    settle();
    EXPECT_EQ(view->selection()->get<Selection::Window>()->id, second.id);
    EXPECT_EQ(view->editor()->draft().name, "Second");
}

// Closed, the window keeps what it showed; shown again, it lists what was stored meanwhile and asks
// for the status pages again, with the draft as it was typed.
TEST_F(MaintenanceWindowTest, ShownAgainItLoadsAgainAndKeepsTheDraft) {
    signInWithTeam("acme-ops");
    MaintenanceWindowsView& shown = showWindow();
    waitUntil([&] { return !shown.project().empty() && !busy(); });
    const MaintenanceWindow before = store(shown.project(), "Before");
    at<QPushButton>(&shown, "maintenance.refresh").click();
    settle();
    click(shown, before.id);
    waitUntil([&] { return shown.editor() && asked("GET", "/v1/status-pages") > 0 && !busy(); });
    MaintenanceWindowDraft draft = shown.editor()->draft();
    draft.name = "Before, renamed";
    shown.editor()->setDraft(draft);

    windows.close(WindowPresenter::Kind::maintenance);
    settle();
    const MaintenanceWindow meanwhile = store(shown.project(), "Stored meanwhile");
    demo.hostedServer().clearRequests();
    EXPECT_FALSE(listed(shown, meanwhile.id));

    showWindow();
    waitUntil([&] { return listed(shown, meanwhile.id) && asked("GET", "/v1/projects") == 1; });
    waitUntil([&] { return asked("GET", "/v1/status-pages") == 1 && !busy(); });
    ASSERT_NE(shown.editor(), nullptr);
    EXPECT_EQ(shown.editor()->existing()->id, before.id);
    EXPECT_EQ(shown.editor()->draft().name, "Before, renamed");
}

// A window created just before the close is selected once the window, shown again, lists it.
TEST_F(MaintenanceWindowTest, AWindowSavedBeforeACloseIsSelectedWhenShownAgain) {
    openOn("acme-ops");
    const std::string path = "/v1/projects/" + view->project() + "/maintenance-windows";
    const std::string created =
        R"({"id": "w-new", "name": "Router firmware", "timezone": "UTC", "starts_at": "2030-01-01T00:00"})";
    demo.hostedServer().on("POST", path, standin::Reply::json(created, 201));
    const auto reloads = std::make_shared<std::atomic<int>>(0);  // the first one, after the create, is held
    demo.hostedServer().on("GET", path, [reloads, created](const standin::ReceivedRequest&) {
        standin::Reply reply = standin::Reply::json(R"({"windows": [)" + created + "]}");
        reply.holdUntilReleased = (*reloads)++ == 0;
        return reply;
    });
    at<QPushButton>(view.get(), "maintenance.new").click();
    MaintenanceWindowDraft draft = view->editor()->draft();
    draft.name = "Router firmware";
    view->editor()->setDraft(draft);
    await(view->editor()->save());
    waitUntil([&] { return *reloads > 0; });
    view->hide();
    demo.hostedServer().release();
    settle();
    view->show();
    settle();
    EXPECT_TRUE(lists("w-new"));
    EXPECT_EQ(view->selection(), Selection{Selection::Window{"w-new"}});
    ASSERT_NE(view->editor(), nullptr);
    EXPECT_EQ(view->editor()->existing()->id, "w-new");
}

// A list on its way when the window is closed changes nothing.
TEST_F(MaintenanceWindowTest, AListOnItsWayAtTheCloseIsDropped) {
    openOn("acme-ops");
    const std::string path = "/v1/projects/" + view->project() + "/maintenance-windows";
    const MaintenanceWindow stored = store(view->project(), "Late");
    standin::Reply late = standin::Reply::json(
        R"({"windows": [{"id": ")" + stored.id +
        R"(", "name": "Late", "timezone": "UTC", "starts_at": "2030-01-01T00:00"}]})");
    late.holdUntilReleased = true;
    demo.hostedServer().on("GET", path, late);
    demo.hostedServer().clearRequests();
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    waitUntil([&] { return asked("GET", path) == 1; });
    view->hide();
    demo.hostedServer().release();
    settle();
    EXPECT_FALSE(lists(stored.id));
}

// The window opens with no control holding a focus it does not show: two notches of the wheel
// over the Project drop-down pick no other project.
TEST_F(MaintenanceWindowTest, TheWheelRightAfterOpeningLeavesTheProject) {
    ui::installWheelGuard();
    signInWithTeam("acme-ops");
    MaintenanceWindowsView& shown = showWindow();
    QWidget* window = windows.window(WindowPresenter::Kind::maintenance);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    waitUntil([&] { return shown.projects().size() > 1 && !busy(); });
    const std::string chosen = shown.project();
    auto& picker = at<QComboBox>(&shown, "maintenance.project");
    EXPECT_FALSE(picker.hasFocus());
    testkit::turnWheel(picker, -1);
    testkit::turnWheel(picker, -1);
    settle();
    EXPECT_EQ(shown.project(), chosen);
    EXPECT_EQ(picker.currentText().toStdString(), chosen);

    // Reopened, the same.
    windows.close(WindowPresenter::Kind::maintenance);
    showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    settle();
    EXPECT_FALSE(picker.hasFocus());
    testkit::turnWheel(picker, -1);
    settle();
    EXPECT_EQ(shown.project(), chosen);
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

// ---- one row of the list -----------------------------------------------------------------------

// 2030-01-07 02:00 UTC, a Monday; the occurrences an hour long.
constexpr std::int64_t monday = 1893981600;

MaintenanceWindow rowWindow(std::string zone = "Europe/Paris") {
    MaintenanceWindow window;
    window.id = "w1";
    window.input.name = "Backups";
    window.input.timezone = std::move(zone);
    window.input.startsAt = "2030-01-07T03:00";
    window.input.endsAt = "2030-01-07T04:00";
    window.nextOccurrences = {{monday, monday + 3600}};
    return window;
}

// The texts of a row by their names; absent ones are not in the map.
std::map<std::string, std::string> rowTexts(const MaintenanceWindow& window) {
    const MacMaintenanceRow row(window);
    std::map<std::string, std::string> texts;
    for (const QLabel* label : row.findChildren<QLabel*>()) {
        texts[label->objectName().toStdString()] = label->text().toStdString();
    }
    return texts;
}

TEST(MaintenanceRow, SaysWhenTheWindowNextFallsOrUntilWhenItRuns) {
    const platform::TimeZone paris = *platform::TimeZone::named("Europe/Paris");
    MaintenanceWindow window = rowWindow();
    auto texts = rowTexts(window);
    EXPECT_EQ(texts.at("row.name"), "Backups");
    EXPECT_FALSE(texts.contains("row.inProgress"));
    EXPECT_EQ(texts.at("row.occurrence"), "Next: " + MaintenanceFormat::occurrenceRange(monday, monday + 3600, paris));
    EXPECT_EQ(texts.at("row.schedule"), "Once");
    EXPECT_FALSE(texts.contains("row.statusPages"));  // three lines

    // Running: the badge follows `active`, the second line `current`.
    window.active = true;
    window.current = MaintenanceOccurrence{monday - 600, monday + 1800};
    texts = rowTexts(window);
    EXPECT_EQ(texts.at("row.inProgress"), "In progress");
    EXPECT_EQ(texts.at("row.occurrence"), "Until " + MaintenanceFormat::dateTime(monday + 1800, paris));
    window.active = false;
    texts = rowTexts(window);
    EXPECT_FALSE(texts.contains("row.inProgress"));
    EXPECT_TRUE(texts.at("row.occurrence").starts_with("Until ")) << texts.at("row.occurrence");

    window.current.reset();
    window.nextOccurrences.clear();
    EXPECT_EQ(rowTexts(window).at("row.occurrence"), "No more occurrences");

    // A zone nobody has: GMT.
    const MaintenanceWindow nowhere = rowWindow("Nowhere/Atlantis");
    EXPECT_EQ(
        rowTexts(nowhere).at("row.occurrence"),
        "Next: " + MaintenanceFormat::occurrenceRange(monday, monday + 3600, platform::TimeZone::gmt()));
}

TEST(MaintenanceRow, CountsTheStatusPageComponents) {
    MaintenanceWindow window = rowWindow();
    window.input.statusPage = true;
    window.input.components = {"api"};
    EXPECT_EQ(rowTexts(window).at("row.statusPages"), "On status pages \u00b7 1 component");
    window.input.components = {"api", "web"};
    EXPECT_EQ(rowTexts(window).at("row.statusPages"), "On status pages \u00b7 2 components");
}

// The list is only as wide as the sidebar: long texts wrap in rows as wide as the list, which
// never scrolls sideways, and every text stays whole.
TEST_F(MaintenanceWindowTest, LongRowsWrapWithinTheList) {
    openOn("acme-ops");
    const std::string name = "Storage migration of the primary ledger cluster in the second region";
    const MaintenanceWindow stored = store(view->project(), name);
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    view->resize(760, 520);
    view->show();
    for (int pass = 0; pass < 10; ++pass) QCoreApplication::processEvents();
    auto& list = at<QListWidget>(view.get(), "maintenance.list");
    ASSERT_GT(list.count(), 0);
    EXPECT_EQ(list.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    for (int index = 0; index < list.count(); ++index) {
        const QWidget* cell = list.itemWidget(list.item(index));
        EXPECT_LE(list.item(index)->sizeHint().width(), list.viewport()->width());
        for (const QLabel* label : cell->findChildren<QLabel*>()) {
            EXPECT_TRUE(label->wordWrap() || label->objectName() == "row.inProgress");
            EXPECT_LE(label->mapTo(&list, label->rect().topRight()).x(), list.viewport()->width());
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
        }
    }
    const auto names = list.findChildren<QLabel*>("row.name");
    EXPECT_TRUE(std::ranges::any_of(names, [&](const QLabel* label) { return label->text().toStdString() == name; }));
}

// ---- teams, roles and a delete -----------------------------------------------------------------

class ProjectlessMaintenanceWindowTest : public MaintenanceWindowTest {
protected:
    static demo::Fixture projectless() {
        demo::Fixture fixture = standardFixture();
        fixture.hosted.teams.front().projects.clear();
        fixture.hosted.teams.front().alerts.clear();
        fixture.hosted.teams.front().checks.clear();
        fixture.hosted.teams.front().maintenanceWindows.clear();
        return fixture;
    }
    ProjectlessMaintenanceWindowTest() : MaintenanceWindowTest(projectless()) {}
};

TEST_F(ProjectlessMaintenanceWindowTest, ATeamWithoutProjectsOffersNothingToPick) {
    signInWithTeam("acme-ops");
    open();
    settle();
    waitUntil([&] {
        return std::ranges::any_of(
            demo.hostedServer().requests(), [](const auto& request) { return request.path == "/v1/projects"; });
    });
    settle();
    EXPECT_TRUE(view->projects().empty());
    EXPECT_EQ(view->project(), "");
    EXPECT_EQ(at<QComboBox>(view.get(), "maintenance.project").count(), 0);
    EXPECT_EQ(at<QListWidget>(view.get(), "maintenance.list").count(), 0);
    EXPECT_FALSE(shows(view.get(), "maintenance.empty"));
    EXPECT_FALSE(shows(view.get(), "maintenance.error"));
    EXPECT_TRUE(shows(view.get(), "maintenance.new"));
    EXPECT_FALSE(at<QPushButton>(view.get(), "maintenance.new").isEnabled());
    EXPECT_EQ(pane(), "maintenance.choose");
    for (const auto& request : demo.hostedServer().requests()) {
        EXPECT_EQ(request.path.find("maintenance-windows"), std::string::npos) << request.path;
    }
}

// A second hosted team, whose project names the service may refuse to give.
class TeamChangeMaintenanceWindowTest : public MaintenanceWindowTest {
protected:
    static demo::Fixture withSecondTeam() {
        demo::Fixture fixture = standardFixture();
        demo::TeamSeed& beta = fixture.hosted.teams.emplace_back();
        beta.id = "beta-ops";
        beta.name = "Beta Ops";
        beta.role = "admin";
        beta.projects = {"ledger", "web"};
        return fixture;
    }
    TeamChangeMaintenanceWindowTest() : MaintenanceWindowTest(withSecondTeam()) {}

    void failProjectList() {
        demo.hostedServer().on("GET", "/v1/projects", standin::Reply::json(R"({"error": "projects are down"})", 503));
        demo.hostedServer().clearRequests();
    }
    // Nothing of the old team's projects is offered or asked for, and the list's own failure shows.
    void expectNoProjectAfterAFailedList(const MaintenanceWindowsView& in) {
        EXPECT_TRUE(in.projects().empty());
        EXPECT_EQ(in.project(), "");
        EXPECT_EQ(at<QComboBox>(&in, "maintenance.project").count(), 0);
        EXPECT_TRUE(shows(&in, "maintenance.error"));
        EXPECT_EQ(textOf(&in, "maintenance.error"), "Server error 503: projects are down");
        EXPECT_FALSE(at<QPushButton>(&in, "maintenance.new").isEnabled());
        for (const auto& request : demo.hostedServer().requests()) {
            EXPECT_EQ(request.path.find("maintenance-windows"), std::string::npos) << request.path;
        }
    }
};

TEST_F(TeamChangeMaintenanceWindowTest, ATeamChangeWhileOpenAsksForNoWindowsBeforeTheNamesAreIn) {
    openOn("acme-ops");
    failProjectList();
    await(model.selectTenant("beta-ops"));
    waitUntil([&] { return asked("GET", "/v1/projects") == 1 && !busy(); });
    settle();
    expectNoProjectAfterAFailedList(*view);

    // Refresh asks for the names again, then the first project's windows.
    ProjectPage page;
    page.projects.emplace_back().name = "ledger";
    demo.hostedServer().on("GET", "/v1/projects", standin::Reply::json(json::encode(page)));
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    waitUntil([&] { return asked("GET", "/v1/projects/ledger/maintenance-windows") == 1 && !busy(); });
    EXPECT_FALSE(shows(view.get(), "maintenance.error"));
}

TEST_F(TeamChangeMaintenanceWindowTest, ShownAfterATeamChangeItAsksForNoWindowsBeforeTheNamesAreIn) {
    signInWithTeam("acme-ops");
    MaintenanceWindowsView& shown = showWindow();
    waitUntil([&] { return !shown.project().empty() && !busy(); });
    auto& picker = at<QComboBox>(&shown, "maintenance.project");
    picker.setCurrentIndex(picker.findText(QStringLiteral("web")));
    settle();
    windows.close(WindowPresenter::Kind::maintenance);
    settle();
    failProjectList();
    await(model.selectTenant("beta-ops"));
    showWindow();
    waitUntil([&] { return asked("GET", "/v1/projects") == 1 && !busy(); });
    settle();
    expectNoProjectAfterAFailedList(shown);

    // Shown again once the names can be read: the project chosen before, which this team has
    // too, and its windows.
    windows.close(WindowPresenter::Kind::maintenance);
    settle();
    ProjectPage page;
    page.projects.emplace_back().name = "ledger";
    page.projects.emplace_back().name = "web";
    demo.hostedServer().on("GET", "/v1/projects", standin::Reply::json(json::encode(page)));
    showWindow();
    waitUntil([&] { return asked("GET", "/v1/projects/web/maintenance-windows") == 1 && !busy(); });
    settle();
    EXPECT_EQ(shown.project(), "web");
    EXPECT_FALSE(shows(&shown, "maintenance.error"));
    EXPECT_TRUE(at<QPushButton>(&shown, "maintenance.new").isEnabled());
}

// No role answer (the demo has none): the membership's role decides.
class RoleMaintenanceWindowTest : public MaintenanceWindowTest, public ::testing::WithParamInterface<const char*> {
protected:
    static demo::Fixture withRole(const char* role) {
        demo::Fixture fixture = standardFixture();
        fixture.hosted.teams.front().role = role;
        return fixture;
    }
    RoleMaintenanceWindowTest() : MaintenanceWindowTest(withRole(GetParam())) {}
};

TEST_P(RoleMaintenanceWindowTest, OwnersChangeWindowsAndRespondersOnlyBrowse) {
    openOn("acme-ops");
    const bool owner = std::string_view(GetParam()) == "owner";
    EXPECT_EQ(view->mayChangeWindows(), owner);
    EXPECT_EQ(shows(view.get(), "maintenance.new"), owner);
    const MaintenanceWindow stored = store(view->project(), "Firmware");
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    click(stored.id);
    EXPECT_EQ(pane(), owner ? "maintenance.editorHolder" : "maintenance.readOnly");
    EXPECT_EQ(view->editor() != nullptr, owner);
    EXPECT_EQ(at<QListWidget>(view.get(), "maintenance.list").selectedItems().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Roles, RoleMaintenanceWindowTest, ::testing::Values("owner", "responder"));

TEST_F(MaintenanceWindowTest, ADeleteFromTheEditorLeavesNothingSelected) {
    openOn("acme-ops");
    const MaintenanceWindow stored = store(view->project(), "Short lived");
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    click(stored.id);
    ASSERT_NE(view->editor(), nullptr);

    // Renamed elsewhere: the question names it as the list shows it after a refresh.
    MaintenanceWindowDraft renamed = MaintenanceWindowDraft::initFromWindow(stored);
    renamed.name = "Renamed elsewhere";
    updateMaintenanceWindow(*teamClient(), view->project(), stored.id, renamed.input());
    at<QPushButton>(view.get(), "maintenance.refresh").click();
    settle();
    at<QPushButton>(view.get(), "editor.delete").click();
    EXPECT_EQ(at<QMessageBox>(view.get(), "editor.deleteDialog").text().toStdString(), "Delete \"Renamed elsewhere\"?");
    at<QMessageBox>(view.get(), "editor.deleteDialog").reject();

    await(view->editor()->deleteWindow());
    settle();
    EXPECT_FALSE(lists(stored.id));
    EXPECT_FALSE(view->selection());
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_EQ(pane(), "maintenance.choose");
    EXPECT_TRUE(at<QListWidget>(view.get(), "maintenance.list").selectedItems().isEmpty());
    EXPECT_EQ(textOf(view.get(), "maintenance.choose"), MaintenanceWindowsView::chooseText);
}

}  // namespace
}  // namespace brisalune
