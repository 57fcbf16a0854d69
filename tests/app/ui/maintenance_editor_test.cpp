#include <brisalune/app/ui/mac_maintenance_editor.hpp>
#include <brisalune/app/ui/ui_kit.hpp>
#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <app/ui/wheel_notch.hpp>
#include <support/endpoint_fixture.hpp>
#include <support/qt_application.hpp>
#include <support/qt_widgets_application.hpp>
#include <support/settled_pool.hpp>

#include <QComboBox>
#include <QCoroTask>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using standin::ReceivedRequest;
using standin::Reply;

const std::string windowsPath = "/v1/projects/p/maintenance-windows";
const std::string previewPath = windowsPath + "/preview";

// Mondays at 02:00 UTC, one hour each.
std::string occurrencesAnswer(int count, std::int64_t first = 1893981600) {
    std::string body = R"({"occurrences":[)";
    for (int i = 0; i < count; ++i) {
        const std::int64_t start = first + i * 7 * 86400;
        if (i > 0) body += ",";
        body += R"({"start":)" + std::to_string(start) + R"(,"end":)" + std::to_string(start + 3600) + "}";
    }
    return body + "]}";
}

MaintenanceWindow storedWindow(bool recurring = true, bool active = false) {
    MaintenanceWindow window;
    window.id = "w1";
    window.active = active;
    window.input.name = "Backups";
    window.input.timezone = "Europe/Paris";
    window.input.startsAt = "2030-01-07T03:00";
    if (recurring) {
        window.input.rrule = "FREQ=WEEKLY;BYDAY=MO";
        window.input.durationMinutes = 60;
    } else {
        window.input.endsAt = "2030-01-07T04:00";
    }
    window.input.scope = MaintenanceScope::defaultScope();
    return window;
}

class MaintenanceEditorTest : public testkit::EndpointTest {
protected:
    MaintenanceEditorTest() { testkit::widgetsApplication(); }
    // Requests still on the pool use the server: let them end first.
    ~MaintenanceEditorTest() override {
        editor.reset();
        server.release();
        if (!testkit::settlePool()) ADD_FAILURE() << "requests still running as the test ends";
    }

    std::unique_ptr<MacMaintenanceEditor> editor;
    std::vector<std::optional<MaintenanceWindow>> saved;  // what the owner was told

    MacMaintenanceEditor& open(std::optional<MaintenanceWindow> existing = std::nullopt, bool projectLimited = false) {
        editor = std::make_unique<MacMaintenanceEditor>(
            std::make_shared<BrisaluneClient>(
                *platform::Url::parse(server.baseUrl()),
                std::nullopt,
                "data-key",
                nullptr,
                ClientIdentity::current(),
                compatibility),
            "p",
            std::move(existing),
            [this](std::optional<MaintenanceWindow> window) { saved.push_back(std::move(window)); },
            projectLimited);
        editor->resize(520, 800);
        editor->show();  // it loads while it shows
        return *editor;
    }

    std::vector<ReceivedRequest> requestsTo(const std::string& method, const std::string& path) const {
        std::vector<ReceivedRequest> found;
        for (const ReceivedRequest& request : server.requests()) {
            if (request.method == method && request.path == path) found.push_back(request);
        }
        return found;
    }
    std::size_t previews() const { return requestsTo("POST", previewPath).size(); }

    template <class W = QWidget>
    W* find(const QString& name) const {
        return editor->findChild<W*>(name);
    }
    template <class W = QWidget>
    W& at(const QString& name) const {
        W* found = find<W>(name);
        if (!found) throw std::runtime_error("no widget named " + name.toStdString());
        return *found;
    }
    bool shows(const QString& name) const {
        const QWidget* widget = find(name);
        return widget && widget->isVisibleTo(editor.get());
    }
    std::string textOf(const QString& name) const { return at<QLabel>(name).text().toStdString(); }
    // The reasons an error block shows, in order; none while it is hidden.
    std::vector<std::string> block(const QString& section) const {
        const QString name = QStringLiteral("editor.errors.") + section;
        std::vector<std::string> reasons;
        if (!shows(name)) return reasons;
        for (int i = 0; QLabel* row = find<QLabel>(name + QLatin1Char('.') + QString::number(i)); ++i) {
            reasons.push_back(row->text().toStdString());
        }
        return reasons;
    }

    static void waitUntil(const std::function<bool()>& done) {
        ASSERT_TRUE(testkit::processEventsUntil(done, std::chrono::seconds(30)));
    }
    // Every request on its way has been answered and its answer handled.
    static void settle() { ASSERT_TRUE(testkit::settlePool()); }
    static void await(QCoro::Task<>&& task) { QCoro::waitFor(std::move(task)); }
};

TEST_F(MaintenanceEditorTest, NewWindowIsCreatedOnlyOnceNamed) {
    open();
    EXPECT_EQ(find(QStringLiteral("editor.delete")), nullptr);
    auto& create = at<QPushButton>(QStringLiteral("editor.save"));
    EXPECT_EQ(create.text(), "Create");
    EXPECT_TRUE(create.isDefault());
    EXPECT_FALSE(create.isEnabled());
    QTest::keyClicks(&at<QLineEdit>(QStringLiteral("editor.name")), QStringLiteral("  "));
    EXPECT_EQ(editor->draft().name, "  ");
    EXPECT_FALSE(create.isEnabled());
    MaintenanceWindowDraft draft = editor->draft();
    draft.name = " \t ";
    editor->setDraft(draft);
    EXPECT_FALSE(create.isEnabled());
    draft.name = "\n";  // only spaces and tabs make a name blank
    editor->setDraft(draft);
    EXPECT_TRUE(create.isEnabled());

    open(storedWindow());
    EXPECT_EQ(at<QPushButton>(QStringLiteral("editor.save")).text(), "Save");
    EXPECT_EQ(at<QPushButton>(QStringLiteral("editor.delete")).text(), "Delete\u2026");
    EXPECT_EQ(at<QLineEdit>(QStringLiteral("editor.name")).text(), "Backups");
}

TEST_F(MaintenanceEditorTest, LocalValidationSendsNothingAndShowsUnderItsSection) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(2)));
    open();
    MaintenanceWindowDraft draft = editor->draft();
    draft.name = "Patch";
    draft.recurring = true;
    draft.rrule = " \t";
    editor->setDraft(draft);
    waitUntil([&] { return !editor->previewErrors().empty(); });
    EXPECT_EQ(textOf(QStringLiteral("editor.previewNote")), "Fix the problems above to see when the window falls.");
    EXPECT_EQ(block(QStringLiteral("recurrence")), std::vector<std::string>{"Pick a pattern or enter a rule."});
    EXPECT_TRUE(shows(QStringLiteral("editor.recurrence")));

    await(editor->save());
    EXPECT_FALSE(editor->isBusy());
    ASSERT_EQ(editor->saveErrors().size(), 1u);
    EXPECT_EQ(editor->saveErrors()[0].field, "rrule");
    settle();
    EXPECT_EQ(previews(), 0u);
    EXPECT_TRUE(requestsTo("POST", windowsPath).empty());

    // Off: the recurrence section and its errors go together.
    draft.recurring = false;
    editor->setDraft(draft);
    EXPECT_FALSE(shows(QStringLiteral("editor.recurrence")));
    EXPECT_FALSE(shows(QStringLiteral("editor.errors.recurrence")));

    // Status pages without components: previewed without them, refused only by save.
    draft.statusPage = true;
    editor->setDraft(draft);
    waitUntil([&] { return editor->preview().size() == 2; });
    const auto sent = json::decode<MaintenanceWindowInput>(requestsTo("POST", previewPath).back().body);
    EXPECT_FALSE(sent.statusPage);
    EXPECT_TRUE(block(QStringLiteral("statusPage")).empty());
    await(editor->save());
    EXPECT_EQ(
        block(QStringLiteral("statusPage")), std::vector<std::string>{"Pick at least one component to show it on."});
    EXPECT_TRUE(requestsTo("POST", windowsPath).empty());
}

TEST_F(MaintenanceEditorTest, PreviewAsksForTenUnderAStandInNameAndShowsRowsInTheZone) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(3)));
    open();
    MaintenanceWindowDraft draft = editor->draft();
    draft.timezone = "Nowhere/Atlantis";  // names no zone: GMT
    editor->setDraft(draft);
    EXPECT_EQ(textOf(QStringLiteral("editor.previewNote")), "No occurrences ahead.");
    waitUntil([&] { return editor->preview().size() == 3; });

    const ReceivedRequest request = requestsTo("POST", previewPath).at(0);
    EXPECT_EQ(request.query, "count=10");
    EXPECT_EQ(json::decode<MaintenanceWindowInput>(request.body).name, "Preview");
    EXPECT_EQ(editor->draft().name, "");
    EXPECT_EQ(textOf(QStringLiteral("editor.previewHeader")), "Next occurrences (Nowhere/Atlantis)");
    EXPECT_FALSE(shows(QStringLiteral("editor.previewNote")));
    const MaintenanceOccurrence& second = editor->preview()[1];
    EXPECT_EQ(
        textOf(QStringLiteral("editor.preview.row.1")),
        MaintenanceFormat::occurrenceRange(second.start, second.end, platform::TimeZone::gmt()));
    EXPECT_FALSE(shows(QStringLiteral("editor.preview.skip.0")));  // a one-off window skips nothing
}

TEST_F(MaintenanceEditorTest, TypingSendsOnePreviewAfterThePause) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(2)));
    open();
    QTest::keyClicks(&at<QLineEdit>(QStringLiteral("editor.name")), QStringLiteral("Weekly patch"));
    waitUntil([&] { return editor->preview().size() == 2; });
    const std::vector<ReceivedRequest> sent = requestsTo("POST", previewPath);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(json::decode<MaintenanceWindowInput>(sent[0].body).name, "Weekly patch");
}

TEST_F(MaintenanceEditorTest, AnAnswerForAnOlderDraftIsDropped) {
    std::atomic<int> asked{0};
    server.on("POST", previewPath, [&asked](const ReceivedRequest&) {
        if (asked++ == 0) {
            Reply late = Reply::json(occurrencesAnswer(5));
            late.holdUntilReleased = true;
            return late;
        }
        return Reply::json(occurrencesAnswer(1));
    });
    open();
    waitUntil([&] { return previews() == 1; });
    MaintenanceWindowDraft draft = editor->draft();
    draft.name = "Later";
    editor->setDraft(draft);
    waitUntil([&] { return editor->preview().size() == 1; });
    server.release();
    settle();
    EXPECT_EQ(previews(), 2u);
    EXPECT_EQ(editor->preview().size(), 1u);
}

// Hidden, the editor drops what is on its way and asks for nothing; shown again, it asks for the
// status pages and a preview anew, and the draft is as it was typed.
TEST_F(MaintenanceEditorTest, EachShowingLoadsAgainAndAHideDropsWhatIsOnItsWay) {
    std::atomic<int> pagesAsked{0};
    server.on("GET", "/v1/status-pages", [&pagesAsked](const ReceivedRequest&) {
        Reply pages = Reply::json(R"({"status_pages": []})");
        pages.holdUntilReleased = pagesAsked++ == 0;
        return pages;
    });
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(2)));
    open(storedWindow());
    MaintenanceWindowDraft draft = editor->draft();
    draft.statusPage = true;
    editor->setDraft(draft);
    waitUntil([&] { return pagesAsked == 1; });
    EXPECT_TRUE(shows(QStringLiteral("statusPage.loading")));
    QTest::keyClicks(&at<QLineEdit>(QStringLiteral("editor.name")), QStringLiteral(" nightly"));

    editor->hide();
    server.release();
    settle();
    EXPECT_TRUE(shows(QStringLiteral("statusPage.loading")));  // the late answer changed nothing
    const std::size_t previewed = previews();
    QTest::qWait(static_cast<int>(MacMaintenanceEditor::previewPause.count()) * 2);
    settle();
    EXPECT_EQ(previews(), previewed);  // nothing asked while hidden

    editor->show();
    waitUntil([&] { return pagesAsked == 2 && !shows(QStringLiteral("statusPage.loading")); });
    waitUntil([&] { return previews() > previewed; });
    EXPECT_EQ(editor->draft().name, "Backups nightly");
    EXPECT_EQ(at<QLineEdit>(QStringLiteral("editor.name")).text(), "Backups nightly");
}

TEST_F(MaintenanceEditorTest, SaveFailuresShowUnderTheirSectionsUntilTheNextEdit) {
    server.on(
        "POST",
        previewPath,
        Reply::json(R"({"error":"invalid","fields":[{"field":"scope.checks[0]","message":"No such check."}]})", 422));
    std::atomic<int> attempt{0};
    server.on("PUT", windowsPath + "/w1", [&attempt](const ReceivedRequest&) {
        switch (attempt++) {
            case 0: return Reply::json("{}", 422);
            case 1: return Reply::json(R"({"error":"max_maintenance_windows reached"})", 429);
            case 2: return Reply::json(R"({"error":"slow down"})", 429);
            case 3:
                return Reply::json(
                    R"({"fields":[{"field":"starts_at","message":"In the past."},{"field":"owner","message":"Who?"}]})",
                    422);
            default: return Reply::json(json::encode(storedWindow()));
        }
    });
    open(storedWindow());
    waitUntil([&] { return !editor->previewErrors().empty(); });
    EXPECT_EQ(block(QStringLiteral("scope")), std::vector<std::string>{"No such check."});
    EXPECT_EQ(textOf(QStringLiteral("editor.previewNote")), "Fix the problems above to see when the window falls.");

    await(editor->save());
    EXPECT_EQ(block(QStringLiteral("other")), std::vector<std::string>{"The server refused the window."});
    EXPECT_TRUE(block(QStringLiteral("scope")).empty());  // the save's errors stand in for the preview's
    await(editor->save());
    EXPECT_EQ(
        block(QStringLiteral("other")),
        std::vector<std::string>{
            "This project already has as many windows as it may keep. Delete one that is over first."});
    await(editor->save());
    EXPECT_EQ(block(QStringLiteral("other")), std::vector<std::string>{"Rate limited: slow down"});
    await(editor->save());
    EXPECT_EQ(block(QStringLiteral("schedule")), std::vector<std::string>{"In the past."});
    EXPECT_EQ(block(QStringLiteral("other")), std::vector<std::string>{"Who?"});
    EXPECT_FALSE(editor->isBusy());
    EXPECT_TRUE(saved.empty());

    // Any edit of what would be sent hides the save's errors; the preview's come back.
    QTest::keyClicks(&at<QLineEdit>(QStringLiteral("editor.name")), QStringLiteral("!"));
    EXPECT_TRUE(editor->saveErrors().empty());
    EXPECT_TRUE(block(QStringLiteral("other")).empty());
    EXPECT_EQ(block(QStringLiteral("scope")), std::vector<std::string>{"No such check."});

    await(editor->save());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0], storedWindow());
    EXPECT_FALSE(editor->isBusy());
    EXPECT_TRUE(at<QPushButton>(QStringLiteral("editor.save")).isEnabled());
    EXPECT_EQ(
        json::decode<MaintenanceWindowInput>(requestsTo("PUT", windowsPath + "/w1").back().body).name, "Backups!");
}

TEST_F(MaintenanceEditorTest, DeleteAsksFirstAndTakesAWindowAlreadyGoneAsDeleted) {
    std::atomic<int> attempt{0};
    server.on("DELETE", windowsPath + "/w1", [&attempt](const ReceivedRequest&) {
        if (attempt++ == 0) return Reply::json(R"({"error":"boom"})", 500);
        return Reply::json(R"({"error":"no such window"})", 404);
    });
    open(storedWindow(true, true));
    at<QPushButton>(QStringLiteral("editor.delete")).click();
    auto& dialog = at<QMessageBox>(QStringLiteral("editor.deleteDialog"));
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.windowTitle(), "Delete \"Backups\"?");
    EXPECT_EQ(
        dialog.informativeText(),
        "It is in progress: it ends now, and alerts it held that are still firing page straight away.");
    EXPECT_TRUE(requestsTo("DELETE", windowsPath + "/w1").empty());

    at<QPushButton>(QStringLiteral("editor.deleteConfirm")).click();
    waitUntil([&] { return !editor->saveErrors().empty(); });
    EXPECT_EQ(block(QStringLiteral("other")), std::vector<std::string>{"Server error 500: boom"});
    EXPECT_TRUE(saved.empty());

    at<QPushButton>(QStringLiteral("editor.delete")).click();
    at<QPushButton>(QStringLiteral("editor.deleteConfirm")).click();
    waitUntil([&] { return !saved.empty(); });
    EXPECT_EQ(saved, std::vector<std::optional<MaintenanceWindow>>{std::nullopt});

    open(storedWindow(true, false));
    at<QPushButton>(QStringLiteral("editor.delete")).click();
    EXPECT_EQ(
        at<QMessageBox>(QStringLiteral("editor.deleteDialog")).informativeText(),
        "Its future occurrences are dropped. Past ones stay as they were in check history and on status pages.");
}

TEST_F(MaintenanceEditorTest, SkipAddsTheOccurrenceToTheSkippedDates) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(3)));
    open(storedWindow());
    waitUntil([&] { return editor->preview().size() == 3; });
    ASSERT_TRUE(shows(QStringLiteral("editor.preview.skip.1")));
    at<QPushButton>(QStringLiteral("editor.preview.skip.1")).click();
    // 2030-01-14 02:00 UTC is 03:00 in Paris.
    EXPECT_EQ(editor->draft().exdates, std::vector<std::string>{"2030-01-14T03:00"});
    waitUntil([&] { return previews() == 2; });
    EXPECT_EQ(
        json::decode<MaintenanceWindowInput>(requestsTo("POST", previewPath).back().body).exdates,
        std::vector<std::string>{"2030-01-14T03:00"});
}

TEST_F(MaintenanceEditorTest, TabReachesThePreviewsSkipButtonsBeforeSave) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(3)));
    open(storedWindow());
    waitUntil([&] { return editor->preview().size() == 3; });
    std::vector<std::string> stops;
    for (QWidget* w = editor->nextInFocusChain(); w != editor.get(); w = w->nextInFocusChain()) {
        const std::string name = w->objectName().toStdString();
        if (name.starts_with("editor.preview.skip.") || name == "editor.delete" || name == "editor.save")
            stops.push_back(name);
    }
    EXPECT_EQ(
        stops,
        (std::vector<std::string>{
            "editor.preview.skip.0", "editor.preview.skip.1", "editor.preview.skip.2", "editor.delete", "editor.save"}));
}

TEST_F(MaintenanceEditorTest, APreviewThatCannotBeReadShowsInTheLastBlock) {
    Reply cut = Reply::json(occurrencesAnswer(3));
    cut.cutMidBody = true;
    server.on("POST", previewPath, cut);
    open(storedWindow());
    waitUntil([&] { return !editor->previewErrors().empty(); });
    EXPECT_TRUE(editor->preview().empty());
    const std::vector<std::string> other = block(QStringLiteral("other"));
    ASSERT_EQ(other.size(), 1u);
    EXPECT_TRUE(other[0].starts_with("Connection failed: ")) << other[0];
    EXPECT_EQ(textOf(QStringLiteral("editor.previewNote")), "Fix the problems above to see when the window falls.");
    EXPECT_TRUE(at<QPushButton>(QStringLiteral("editor.save")).isEnabled());  // it never blocks saving
}

// At the size of the window's detail pane the preview is in sight without scrolling the form,
// however long the form is.
TEST_F(MaintenanceEditorTest, ThePreviewIsInSightBesideALongForm) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(10)));
    open(storedWindow());
    editor->resize(460, 440);
    editor->show();
    waitUntil([&] { return editor->preview().size() == 10; });
    for (int pass = 0; pass < 10; ++pass) QCoreApplication::processEvents();
    const auto* form = find(QStringLiteral("editor.form"));
    ASSERT_NE(form, nullptr);
    EXPECT_GT(form->height(), editor->height());  // the form itself scrolls
    for (const char* name : {"editor.previewHeader", "editor.preview.row.0", "editor.preview.skip.0"}) {
        const QWidget& widget = at(QString::fromLatin1(name));
        ASSERT_TRUE(widget.isVisible()) << name;
        const QRect place(widget.mapTo(editor.get(), QPoint(0, 0)), widget.size());
        EXPECT_TRUE(editor->rect().contains(place)) << name;
        EXPECT_FALSE(form->isAncestorOf(&widget)) << name;
    }
}

// "Skip" leaves the row where it is, struck out and no longer skippable, while the form above
// grows by the skipped date; the next answer brings the rows up to date.
TEST_F(MaintenanceEditorTest, ASkippedRowStaysUnderThePointerUntilTheNextAnswer) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(3)));
    open(storedWindow());
    editor->resize(460, 600);
    editor->show();
    waitUntil([&] { return editor->preview().size() == 3; });
    QCoreApplication::processEvents();
    auto& skip = at<QPushButton>(QStringLiteral("editor.preview.skip.1"));
    const std::string shown = textOf(QStringLiteral("editor.preview.row.1"));
    const QPoint place = skip.mapTo(editor.get(), QPoint(0, 0));
    const int width = skip.width();

    // The next answer leaves the skipped Monday out.
    const std::int64_t week = 7 * 86400;
    std::string later = R"({"occurrences":[{"start":1893981600,"end":1893985200},)";
    later += R"({"start":)" + std::to_string(1893981600 + 2 * week) + R"(,"end":)" +
             std::to_string(1893981600 + 2 * week + 3600) + "}]}";
    server.on("POST", previewPath, Reply::json(later));
    skip.click();
    for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
    ASSERT_EQ(editor->preview().size(), 3u);  // the answer is still to come
    EXPECT_EQ(textOf(QStringLiteral("editor.preview.row.1")), shown);
    EXPECT_FALSE(skip.isEnabled());
    EXPECT_EQ(skip.text(), "Skipped");
    EXPECT_EQ(skip.mapTo(editor.get(), QPoint(0, 0)), place);
    EXPECT_EQ(skip.width(), width);
    EXPECT_TRUE(at<QLabel>(QStringLiteral("editor.preview.row.1")).font().strikeOut());
    EXPECT_TRUE(at<QPushButton>(QStringLiteral("editor.preview.skip.0")).isEnabled());
    EXPECT_TRUE(at<QPushButton>(QStringLiteral("editor.preview.skip.2")).isEnabled());
    skip.click();  // a second click on the same place skips nothing more
    EXPECT_EQ(editor->draft().exdates, std::vector<std::string>{"2030-01-14T03:00"});

    waitUntil([&] { return editor->preview().size() == 2; });
    EXPECT_EQ(find(QStringLiteral("editor.preview.skip.2")), nullptr);
    auto& after = at<QPushButton>(QStringLiteral("editor.preview.skip.1"));
    EXPECT_TRUE(after.isEnabled());
    EXPECT_EQ(after.text(), "Skip");
    EXPECT_FALSE(at<QLabel>(QStringLiteral("editor.preview.row.1")).font().strikeOut());
}

// Restoring the date before the answer comes makes the row skippable again.
TEST_F(MaintenanceEditorTest, RestoringASkippedDateReopensItsRow) {
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(3)));
    open(storedWindow());
    waitUntil([&] { return editor->preview().size() == 3; });
    at<QPushButton>(QStringLiteral("editor.preview.skip.2")).click();
    EXPECT_FALSE(at<QPushButton>(QStringLiteral("editor.preview.skip.2")).isEnabled());
    at<QPushButton>(QStringLiteral("recurrence.restore.0")).click();
    EXPECT_TRUE(editor->draft().exdates.empty());
    EXPECT_TRUE(at<QPushButton>(QStringLiteral("editor.preview.skip.2")).isEnabled());
    EXPECT_EQ(at<QPushButton>(QStringLiteral("editor.preview.skip.2")).text(), "Skip");
}

// Scrolling the form with the wheel passes over the Pattern drop-down without changing it; only
// once the drop-down has the focus does the wheel change the pattern, and the draft with it.
TEST_F(MaintenanceEditorTest, TheWheelChangesThePatternOnlyWhileItHasTheFocus) {
    ui::installWheelGuard();
    server.on("POST", previewPath, Reply::json(occurrencesAnswer(3)));
    open(storedWindow());
    editor->resize(460, 440);
    editor->show();
    editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    auto& scroll = at<QScrollArea>(QStringLiteral("editor.scroll"));
    auto& pattern = at<QComboBox>(QStringLiteral("recurrence.pattern"));
    scroll.ensureWidgetVisible(&pattern, 0, scroll.viewport()->height() / 2);
    const int scrolled = scroll.verticalScrollBar()->value();
    ASSERT_LT(scrolled, scroll.verticalScrollBar()->maximum());

    testkit::turnWheel(pattern, -1);
    EXPECT_EQ(pattern.currentText().toStdString(), "Weekly");
    EXPECT_EQ(editor->draft().rrule, "FREQ=WEEKLY;BYDAY=MO");
    EXPECT_FALSE(pattern.hasFocus());
    EXPECT_GT(scroll.verticalScrollBar()->value(), scrolled);  // the form scrolled instead

    scroll.ensureWidgetVisible(&pattern, 0, scroll.viewport()->height() / 2);
    pattern.setFocus(Qt::TabFocusReason);
    waitUntil([&] { return pattern.hasFocus(); });
    testkit::turnWheel(pattern, -1);
    EXPECT_EQ(pattern.currentText().toStdString(), "Monthly on a day");
    EXPECT_EQ(editor->draft().rrule, "FREQ=MONTHLY;BYMONTHDAY=7");

    // A stepper and a date field passed over keep their values too.
    const MaintenanceWindowDraft before = editor->draft();
    for (const char* name : {"recurrence.interval", "schedule.starts"}) {
        QWidget& control = at(QString::fromLatin1(name));
        scroll.ensureWidgetVisible(&control, 0, scroll.viewport()->height() / 2);
        testkit::turnWheel(control, 1);
        EXPECT_FALSE(control.hasFocus()) << name;
    }
    EXPECT_EQ(editor->draft(), before);
}

}  // namespace
}  // namespace brisalune
