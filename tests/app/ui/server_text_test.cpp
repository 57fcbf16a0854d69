// Texts a careless or hostile server sends, as a person sees them in the windows and the tray:
// markup never read as markup, line breaks never in a one-line place, direction overrides ending
// with the text that holds them, and a name that shows nothing replaced by its identifier.

#include <brisalune/app/ui/alerts_section.hpp>
#include <brisalune/app/ui/mac_maintenance_editor.hpp>
#include <brisalune/app/ui/maintenance_windows_view.hpp>
#include <brisalune/app/ui/menu_bar_extra.hpp>
#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/push_status_row.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <app/ui/ui_fixture.hpp>
#include <support/endpoint_fixture.hpp>

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTextLayout>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace brisalune {
namespace {

const QString override = QStringLiteral("\u202E");  // RIGHT-TO-LEFT OVERRIDE, never closed
const std::string markup = R"(<img src="/usr/share/pixmaps/debian-logo.png"> <a href="https://evil.example">Disk</a> full)";

// Direction marks and right-to-left letters make fontconfig load fallback fonts into caches it
// keeps, and grows, for the life of the process, which LeakSanitizer would report at exit: the
// tests that lay such texts out run unwatched.
struct FontCachesUnwatched {
    // Not defaulted: without AddressSanitizer the struct is empty, and a const one needs a
    // constructor of its own.
    FontCachesUnwatched() {}
#if defined(__SANITIZE_ADDRESS__)
    const __lsan::ScopedDisabler disabler;
#endif
};

// A tip as Qt shows it: read as rich text when it looks like markup, as the text itself otherwise.
QString tipAsShown(const QString& tip) {
    QTextDocument document;
    if (Qt::mightBeRichText(tip)) {
        document.setHtml(tip);
    } else {
        document.setPlainText(tip);
    }
    return document.toPlainText();
}

// Where on screen each character of `text` is drawn (its glyph's x), laid out on one line as a
// label does; none for a character without a glyph of its own.
std::vector<std::optional<qreal>> glyphsOf(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine().setLineWidth(1e6);
    layout.endLayout();
    std::vector<std::optional<qreal>> out;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QList<QGlyphRun> runs = layout.glyphRuns(static_cast<int>(at), 1);
        if (runs.isEmpty() || runs.front().positions().isEmpty()) {
            out.emplace_back();
        } else {
            out.emplace_back(runs.front().positions().front().x());
        }
    }
    return out;
}

// Whether `part` of `text` reads from left to right on screen.
bool readsLeftToRight(const QString& text, const QString& part, const QFont& font) {
    const qsizetype start = text.lastIndexOf(part);
    if (start < 0) return false;
    const auto x = glyphsOf(text, font);
    for (auto at = static_cast<std::size_t>(start); at + 1 < static_cast<std::size_t>(start + part.size()); ++at)
        if (!x[at] || !x[at + 1] || *x[at] > *x[at + 1]) return false;  // equal in a ligature
    return true;
}

// Whether the last `mark` in `text` is drawn last on its line, right of every other glyph.
bool endsTheLine(const QString& text, QChar mark, const QFont& font) {
    const qsizetype at = text.lastIndexOf(mark);
    if (at < 0) return false;
    const auto x = glyphsOf(text, font);
    const std::optional<qreal> last = x[static_cast<std::size_t>(at)];
    return last && std::ranges::all_of(x, [&](const std::optional<qreal>& other) { return !other || *other <= *last; });
}

// Whether the ellipsis of a cut text is drawn last on its line.
bool ellipsisEndsTheLine(const QString& cut, const QFont& font) { return endsTheLine(cut, QChar(u'\u2026'), font); }

TEST(ServerText, AToolTipShowsMarkupAsTheTextItIs) {
    const QString title = qText(markup);
    EXPECT_EQ(tipAsShown(ui::plainToolTip(title)), title);
    EXPECT_EQ(ui::plainToolTip(QStringLiteral("Disk full")), "Disk full");  // a plain tip stays as it is

    // The tray's tip, with a refresh error from the server.
    const QString tip = MenuBarExtra::toolTip(3, "<b>gateway</b> refused");
    EXPECT_EQ(tipAsShown(tip), "3 open alerts at the last update; couldn't update since: <b>gateway</b> refused");

    // A title cut short reads whole on hover, markup and all.
    ui::ElidedLabel label(title + QString(2000, QLatin1Char('x')), QStringLiteral("cut"));
    label.resize(200, 30);
    label.show();
    ASSERT_FALSE(label.toolTip().isEmpty());
    EXPECT_EQ(tipAsShown(label.toolTip()), label.fullText());
}

TEST(ServerText, AOneLineLabelShowsLineBreaksTabsAndControlsAsSpaces) {
    ui::ElidedLabel label(QStringLiteral("Disk full\non db-1\tnow\r\x07!\u2028end"), QStringLiteral("title"));
    label.resize(600, 30);
    label.show();
    EXPECT_EQ(label.text(), "Disk full on db-1 now  ! end");
    EXPECT_EQ(label.sizeHint().height(), ui::ElidedLabel(QStringLiteral("Disk"), QStringLiteral("one")).sizeHint().height());

    // A text of 10,000 characters without a space is cut to the width, whole on hover.
    ui::ElidedLabel unbroken(QString(10000, QLatin1Char('a')), QStringLiteral("unbroken"));
    unbroken.resize(200, 30);
    unbroken.show();
    EXPECT_LE(unbroken.fontMetrics().horizontalAdvance(unbroken.text()), 200);
    EXPECT_EQ(unbroken.toolTip().size(), 10000);
}

TEST(ServerText, AWrappedTextBreaksAWordTooLongForItsWidth) {
    // An error of a line and then 10,000 letters without a space takes the lines it needs, in
    // the width it is given, instead of one line cut at the edge.
    std::unique_ptr<QLabel> label(
        ui::text(QStringLiteral("Refused:\n") + QString(10000, QLatin1Char('a')), "error", ui::Font::body, ui::Tone::red, true));
    const QFontMetrics metrics = label->fontMetrics();
    const int lines = metrics.horizontalAdvance(QString(10000, QLatin1Char('a'))) / 200;
    EXPECT_GE(label->heightForWidth(200), lines * metrics.lineSpacing());
    EXPECT_LE(label->minimumSizeHint().width(), 200);
    EXPECT_LE(label->sizeHint().width(), metrics.averageCharWidth() * 80 + 1);

    // Texts whose words fit are QLabel's own.
    std::unique_ptr<QLabel> usual(ui::text(QStringLiteral("Not registered for push: refused"), "usual", ui::Font::body, ui::Tone::red, true));
    QLabel plain(usual->text());
    plain.setWordWrap(true);
    plain.setFont(usual->font());
    EXPECT_EQ(usual->heightForWidth(120), plain.heightForWidth(120));
    EXPECT_EQ(usual->sizeHint(), plain.sizeHint());
}

TEST(ServerText, ADirectionOverrideEndsWithTheTextThatHoldsIt) {
    const FontCachesUnwatched unwatched;
    // The override turns its own text only: the ellipsis of a cut one stays at the end.
    ui::ElidedLabel label(override + QStringLiteral("Acme Operations ") + QString(200, QLatin1Char('o')), "team");
    label.resize(150, 30);
    label.show();
    EXPECT_TRUE(ellipsisEndsTheLine(label.text(), label.font()));
    // A cut team name in the picker and on a button, too.
    EXPECT_TRUE(ellipsisEndsTheLine(ui::cutToWidth(label.fontMetrics(), ui::oneLine(label.fullText()), 150), label.font()));

    // A stray closing isolate in the text cannot close the isolate around it early.
    const QString sly = ui::isolated(QStringLiteral("\u2069") + override + QStringLiteral("evil"));
    EXPECT_TRUE(readsLeftToRight(sly + QStringLiteral(" firing"), QStringLiteral(" firing"), label.font()));
    // An isolate the text opens is closed inside it.
    EXPECT_TRUE(readsLeftToRight(
        ui::isolated(QStringLiteral("\u2067") + override + QStringLiteral("evil")) + QStringLiteral(" firing"),
        QStringLiteral(" firing"),
        label.font()));
    // A left-to-right text goes as it is.
    EXPECT_EQ(ui::isolated(QStringLiteral("payments-api")), "payments-api");
}

TEST(ServerText, AnErrorOfSeveralLinesKeepsItsLinesEachItsDirectionToItself) {
    const FontCachesUnwatched unwatched;
    const QFont font;
    const QString shown =
        ui::lines(QStringLiteral("Refused ") + override + QStringLiteral("by the gateway\r\nDetails:\tnone\x07\u2028end"));
    const QStringList lines = shown.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1], "Details: none ");
    EXPECT_EQ(lines[2], "end");
    // A label lays its lines out as one paragraph: the override of the first line, left open,
    // turns none of the next.
    QString paragraph = shown;
    paragraph.replace(QLatin1Char('\n'), QLatin1Char(' '));
    EXPECT_TRUE(readsLeftToRight(paragraph, QStringLiteral("Details: none"), font));
    EXPECT_FALSE(readsLeftToRight(
        ui::isolated(QStringLiteral("Refused ") + override + QStringLiteral("by the gateway Details: none")),
        QStringLiteral("Details: none"),
        font))
        << "isolated as a whole, the override runs on";
    EXPECT_EQ(ui::lines(QStringLiteral("Refused:\n\nTry again")), "Refused:\n\nTry again");  // plain text stays
}

demo::Fixture roughFixture() {
    demo::Fixture fixture = demo::loadFixture(demo::defaultFixturePath());
    for (demo::TeamSeed& team : fixture.hosted.teams) {
        if (team.id == "harbor-lab") team.name = " \u200b";  // shows nothing
        if (team.id != "acme-ops") continue;
        team.name = "Acme\nOps";
        team.alerts.front().rule = "";
        team.alerts.front().project = "checkout\u202e";
    }
    return fixture;
}

class RoughServerText : public testkit::UiTest {
protected:
    RoughServerText() : UiTest(roughFixture()) {}
    const FontCachesUnwatched unwatched;
    std::unique_ptr<MenuContentView> view = std::make_unique<MenuContentView>(environment());
    void SetUp() override { windows.provideTo(view.get()); }
};

TEST_F(RoughServerText, ARegistrationErrorOfSeveralLinesShowsItsLinesEachItsDirectionToItself) {
    PushStatusRow row(pushState, environment());
    center->currentSettings.authorizationStatus = AuthorizationStatus::authorized;
    await(pushState.refreshSettings());
    pushState.setRegistrationError("Refused " + override.toStdString() + "by the gateway\nDetails:\tnone");
    const QString shown = at<QLabel>(&row, "push.message").text();
    EXPECT_EQ(shown.count(QLatin1Char('\n')), 1);
    EXPECT_FALSE(shown.contains(QLatin1Char('\t')));
    QString paragraph = shown;
    paragraph.replace(QLatin1Char('\n'), QLatin1Char(' '));
    EXPECT_TRUE(readsLeftToRight(paragraph, QStringLiteral("Details: none"), row.font()));
}

TEST_F(RoughServerText, ANameThatShowsNothingGivesWayToItsIdentifierAndNamesStayOnOneLine) {
    signIn();
    view->show();
    EXPECT_EQ(at<QPushButton>(view.get(), "tenantPicker.team.harbor-lab").text(), "harbor-lab");
    EXPECT_EQ(at<QPushButton>(view.get(), "tenantPicker.team.acme-ops").text(), "Acme Ops");

    await(model.selectTenant("acme-ops"));
    const auto& picker = at<QComboBox>(view.get(), "alerts.teamPicker");
    EXPECT_EQ(picker.itemText(picker.findData(QStringLiteral("harbor-lab"))), "harbor-lab");
    EXPECT_EQ(picker.currentText(), "Acme Ops");

    // The untitled alert is named by its id; its project's override leaves its state alone.
    const AlertSnapshot& untitled = *std::ranges::find(model.openAlerts(), std::string(), &AlertSnapshot::rule);
    const auto& row = at<AlertRow>(view.get(), QStringLiteral("alerts.row.") + qText(untitled.id));
    EXPECT_EQ(at<QLabel>(&row, "alerts.row.rule").text(), qText(untitled.id));
    EXPECT_EQ(row.accessibleName(), qText(untitled.id));
    const auto& detail = at<QLabel>(&row, "alerts.row.detail");
    EXPECT_TRUE(readsLeftToRight(detail.text(), QStringLiteral("firing"), detail.font())) << detail.text().toStdString();
}

MaintenanceWindow namedWindow(const std::string& name) {
    MaintenanceWindow window;
    window.id = "w1";
    window.input.name = name;
    window.input.timezone = "Europe/Paris";
    window.input.startsAt = "2030-01-07T03:00";
    window.input.endsAt = "2030-01-07T04:00";
    window.input.scope = MaintenanceScope::defaultScope();
    return window;
}

TEST(ServerText, AMaintenanceWindowsNameShowsOnOneLineInTheList) {
    testkit::widgetsApplication();
    MacMaintenanceRow row(namedWindow("Storage\nmigration\tnow"));
    EXPECT_EQ(row.findChild<QLabel*>("row.name")->text(), "Storage migration now");
}

// The question before a maintenance window is deleted, for names the server stored.
class DeleteQuestion : public testkit::EndpointTest {
protected:
    DeleteQuestion() { testkit::widgetsApplication(); }
    const FontCachesUnwatched unwatched;
    ~DeleteQuestion() override {
        editor.reset();
        server.release();
        if (!testkit::settlePool()) ADD_FAILURE() << "requests still running as the test ends";
    }
    std::unique_ptr<MacMaintenanceEditor> editor;

    QMessageBox& ask(const std::string& name) {
        editor = std::make_unique<MacMaintenanceEditor>(
            std::make_shared<BrisaluneClient>(
                *platform::Url::parse(server.baseUrl()),
                std::nullopt,
                "data-key",
                nullptr,
                ClientIdentity::current(),
                compatibility),
            "p",
            namedWindow(name),
            [](const std::optional<MaintenanceWindow>&) {},
            false);
        editor->findChild<QPushButton*>("editor.delete")->click();
        return *editor->findChild<QMessageBox*>("editor.deleteDialog");
    }
};

TEST_F(DeleteQuestion, NamesTheWindowOnOneLineCutToAWidthItsDirectionKeptToItself) {
    QMessageBox& question = ask("<b>Storage</b>\nmigration \u202ein progress");
    EXPECT_FALSE(question.text().contains(QLatin1Char('\n')));
    EXPECT_TRUE(endsTheLine(question.text(), QLatin1Char('?'), question.font())) << question.text().toStdString();
    EXPECT_EQ(question.windowTitle(), question.text());
    question.reject();

    QMessageBox& unbroken = ask(std::string(2000, 'a'));
    const QFontMetrics metrics(unbroken.font());
    EXPECT_LE(metrics.horizontalAdvance(unbroken.text()), ui::fontScaled(unbroken.font(), 360) + metrics.horizontalAdvance("Delete \"\"?"));
    EXPECT_TRUE(unbroken.text().startsWith("Delete \"aaaa"));
    EXPECT_TRUE(unbroken.text().endsWith(QStringLiteral("\u2026\"?")));
}

class LongBoxAddress : public testkit::UiTest {};

TEST_F(LongBoxAddress, TheWarningBeforeAPasswordTravelsInClearReadsWholeBesideIt) {
    signInWithTeam("acme-ops");
    windows.show(WindowPresenter::Kind::box);
    QWidget* window = windows.window(WindowPresenter::Kind::box);
    const std::string address = "http://192.168.1.20:8080/" + std::string(1500, 'p');
    const QByteArray payload = QByteArray::fromStdString(
        R"({"u":")" + address + R"(","t":"harbor-lab","c":"harbor-seat","s":true,"v":1})");
    at<QLineEdit>(window, "joinBox.code")
        .setText("blj_" + payload.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();

    const auto inside = [window](const QWidget& widget) {
        return window->rect().contains(QRect(widget.mapTo(window, QPoint()), widget.size()));
    };
    const auto& warning = at<QLabel>(window, "joinBox.clearText");
    ASSERT_TRUE(warning.isVisible());
    EXPECT_TRUE(inside(warning));
    EXPECT_GE(warning.height(), warning.heightForWidth(warning.width()));
    const auto& shown = at<QLabel>(window, "joinBox.address");
    EXPECT_TRUE(inside(shown));
    EXPECT_TRUE(shown.text().startsWith("http://192.168.1.20:8080/"));
    EXPECT_TRUE(shown.text().endsWith(QChar(0x2026)));
    EXPECT_EQ(tipAsShown(shown.toolTip()).toStdString(), address);
}

}  // namespace
}  // namespace brisalune
