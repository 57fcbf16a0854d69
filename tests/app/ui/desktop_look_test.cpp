// The tray interface as people's desktops show it: a dark palette, a large desktop font, long
// texts from the server. Every shown text must stand out from its window and show whole (or
// visibly cut with an ellipsis), wherever the palette or the font came from and whenever it
// changed.

#include <brisalune/app/ui/maintenance_windows_view.hpp>
#include <brisalune/app/ui/menu_content_view.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <app/ui/ui_fixture.hpp>

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using ::testing::IsEmpty;

// A dark scheme as Qt's KDE theme builds it from a desktop's dark colours: its placeholder colour
// stays at Qt's grey for light windows, as the theme leaves it.
QPalette darkDesktopPalette() {
    QPalette dark(
        QColor(252, 252, 252),  // window text
        QColor(49, 54, 59),     // button
        QColor(24, 27, 29),     // light
        QColor(98, 108, 118),   // dark
        QColor(65, 72, 78),     // mid
        QColor(252, 252, 252),  // text
        QColor(255, 255, 255),  // bright text
        QColor(27, 30, 32),     // base
        QColor(42, 46, 50));    // window
    dark.setColor(QPalette::Highlight, QColor(61, 174, 233));
    dark.setColor(QPalette::HighlightedText, QColor(252, 252, 252));
    dark.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128));
    return dark;
}

// The application's palette or font for one test, put back after it.
class DesktopSettings {
public:
    DesktopSettings() : palette_(QApplication::palette()), font_(QApplication::font()) {}
    ~DesktopSettings() {
        QApplication::setPalette(palette_);
        QApplication::setFont(font_);
    }
    DesktopSettings(const DesktopSettings&) = delete;
    DesktopSettings& operator=(const DesktopSettings&) = delete;

private:
    QPalette palette_;
    QFont font_;
};

std::string nameOf(const QWidget* widget) {
    return widget->objectName().isEmpty() ? widget->metaObject()->className() : widget->objectName().toStdString();
}

// Shown texts too faint against the window they sit on (small type needs 3.5:1 at the least), and
// fields' hints too faint against the field.
std::vector<std::string> faintTexts(const QWidget* root) {
    std::vector<std::string> faint;
    const QColor window = QApplication::palette().color(QPalette::Window);
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root->window()) || label->text().isEmpty()) continue;
        const QColor ink = label->palette().color(QPalette::Active, label->foregroundRole());
        const double ratio = ui::contrast(ink, window);
        if (ratio < 3.5) faint.push_back(nameOf(label) + " at " + std::to_string(ratio) + ":1");
    }
    for (const QLineEdit* edit : root->findChildren<QLineEdit*>()) {
        if (!edit->isVisibleTo(root->window()) || edit->placeholderText().isEmpty()) continue;
        const QPalette& palette = edit->palette();
        const double ratio = ui::contrast(palette.color(QPalette::PlaceholderText), palette.color(QPalette::Base));
        if (ratio < 3.0) faint.push_back(nameOf(edit) + "'s hint at " + std::to_string(ratio) + ":1");
    }
    return faint;
}

// Shown texts cut without an ellipsis: a one-line label narrower than its text, a wrapped one
// lower than its lines, a button narrower than its title.
std::vector<std::string> cutTexts(const QWidget* root) {
    std::vector<std::string> cut;
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root->window()) || label->text().isEmpty()) continue;
        if (dynamic_cast<const ui::ElidedLabel*>(label)) continue;  // cuts with an ellipsis
        const int room = label->contentsRect().width();
        if (label->wordWrap()) {
            if (label->height() < label->heightForWidth(label->width()))
                cut.push_back(nameOf(label) + " is lower than its lines");
        } else if (label->fontMetrics().horizontalAdvance(label->text()) > room) {
            cut.push_back(nameOf(label) + " is narrower than \"" + label->text().toStdString() + "\"");
        }
    }
    for (const QPushButton* button : root->findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(root->window())) continue;
        if (button->width() < button->sizeHint().width())
            cut.push_back(nameOf(button) + " is narrower than \"" + button->text().toStdString() + "\"");
    }
    return cut;
}

class DesktopLookTest : public testkit::UiTest {
protected:
    DesktopSettings settings;

    static void settle() {
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    // The menu's content signed in to a team with open alerts, a refresh error of several lines
    // and the app's own notifications, with an update on offer; shown at its size.
    std::unique_ptr<MenuContentView> menuWithEverything(SiteUpdates& offering) {
        signInWithTeam();
        await(offering.checkNow());
        pushState.setRegistrationError("The notification service refused this device.\nDetails: the gateway's "
                                       "certificate could not be verified.\nTry again later.");
        auto view = std::make_unique<MenuContentView>(environment(offering));
        view->show();
        settle();
        view->adjustSize();
        settle();
        return view;
    }
    QWidget* openWindow(WindowPresenter::Kind kind) {
        windows.show(kind);
        settle();
        return windows.window(kind);
    }
    // The box window with a seat code for a box on a LAN address over plain http: its address,
    // its warning of several lines and the seat's rows.
    QWidget* boxWindowWithWarning() {
        QWidget* box = openWindow(WindowPresenter::Kind::box);
        const QByteArray payload =
            R"({"u":"http://192.168.1.20:8080/","t":"harbor-lab","c":"harbor-seat","s":true,"v":1})";
        at<QLineEdit>(box, "joinBox.code")
            .setText(QStringLiteral("blj_") +
                     QString::fromLatin1(
                         payload.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)));
        settle();
        return box;
    }
};

// The tones keep the default look on Qt's own light palette, and read on a dark one.
TEST(ToneColours, KeepTheLightLookAndReadOnADarkWindow) {
    testkit::widgetsApplication();
    QPalette light = QApplication::style()->standardPalette();
    light.setColor(QPalette::Window, QColor(0xef, 0xef, 0xef));
    light.setColor(QPalette::WindowText, Qt::black);
    EXPECT_EQ(ui::toneColour(ui::Tone::red, light), QColor(0xc8, 0x1e, 0x1e));
    EXPECT_EQ(ui::toneColour(ui::Tone::blue, light), QColor(0x1a, 0x62, 0xd6));
    // Qt's placeholder grey (black at half strength) as it showed on the light window.
    const QColor secondary = ui::toneColour(ui::Tone::secondary, light);
    EXPECT_NEAR(secondary.red(), 0x77, 2);
    EXPECT_NEAR(ui::contrast(QColor(0, 0, 0, 128), light.color(QPalette::Window)), ui::contrast(secondary, light.color(QPalette::Window)), 0.1);

    const QPalette dark = darkDesktopPalette();
    const QColor window = dark.color(QPalette::Window);
    EXPECT_LT(ui::contrast(dark.color(QPalette::PlaceholderText), window), 1.5);  // what the theme left
    EXPECT_GE(ui::contrast(ui::toneColour(ui::Tone::secondary, dark), window), 3.5);
    EXPECT_GE(ui::contrast(ui::toneColour(ui::Tone::red, dark), window), 4.5);
    EXPECT_GE(ui::contrast(ui::toneColour(ui::Tone::blue, dark), window), 4.5);
    EXPECT_GT(ui::toneColour(ui::Tone::red, dark).red(), ui::toneColour(ui::Tone::red, dark).green());  // still red
    EXPECT_DOUBLE_EQ(ui::contrast(Qt::black, Qt::white), 21.0);
}

// Every shown text of the menu, the sign-in window (with its error) and the box window (with its
// warning) reads on a dark desktop, whether the app started under it or the desktop switched to
// it while the app ran.
TEST_F(DesktopLookTest, TextsReadOnADarkDesktopFromTheStartAndAfterASwitch) {
    for (const bool switchWhileOpen : {false, true}) {
        SCOPED_TRACE(switchWhileOpen ? "switched while open" : "dark from the start");
        QApplication::setPalette(switchWhileOpen ? QApplication::style()->standardPalette() : darkDesktopPalette());
        SiteUpdates offering(platform::Url::parse(demo.manifestUrl()), 1, defaults);
        const auto menu = menuWithEverything(offering);
        QWidget* box = boxWindowWithWarning();
        QWidget* signInWindow = openWindow(WindowPresenter::Kind::signIn);
        if (switchWhileOpen) {
            QApplication::setPalette(darkDesktopPalette());
            settle();
        }
        EXPECT_THAT(faintTexts(menu.get()), IsEmpty());
        EXPECT_THAT(faintTexts(box), IsEmpty());
        EXPECT_THAT(faintTexts(signInWindow), IsEmpty());
        windows.close(WindowPresenter::Kind::box);
        windows.close(WindowPresenter::Kind::signIn);
        await(model.signOut());
    }
}

// At a 16 pt desktop font the menu and the fixed-size windows widen with their texts: nothing is
// cut mid-word, no wrapped text runs into the next row, every button shows its whole title.
TEST_F(DesktopLookTest, ALargeDesktopFontCutsNoText) {
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 16));
    SiteUpdates offering(platform::Url::parse(demo.manifestUrl()), 1, defaults);
    const auto menu = menuWithEverything(offering);
    ASSERT_TRUE(shows(menu.get(), "updateRow"));
    EXPECT_GT(menu->geometry().width(), MenuContentView::width);
    EXPECT_THAT(cutTexts(menu.get()), IsEmpty());
    EXPECT_THAT(cutTexts(boxWindowWithWarning()), IsEmpty());
    EXPECT_THAT(cutTexts(openWindow(WindowPresenter::Kind::signIn)), IsEmpty());
}

// The maintenance window grows with a large font, yet never beyond the screen it opens on (a
// scale of 2 leaves a full-HD screen 540 points high).
TEST_F(DesktopLookTest, TheMaintenanceWindowGrowsWithTheFontWithinTheScreen) {
    const QSize atDefault = MaintenanceWindowsView(model).minimumSize();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 16));
    const QSize atLarge = MaintenanceWindowsView(model).minimumSize();
    const QSize screen = QGuiApplication::primaryScreen()->availableSize();
    EXPECT_GT(atLarge.width(), atDefault.width());
    EXPECT_LE(atLarge.width(), screen.width());
    EXPECT_LE(atLarge.height(), screen.height());
}

// A font changed while the app runs reaches the texts that were given a size of their own.
TEST_F(DesktopLookTest, AFontChangedWhileOpenReachesCaptions) {
    SiteUpdates offering(platform::Url::parse(demo.manifestUrl()), 1, defaults);
    const auto menu = menuWithEverything(offering);
    const QLabel& version = at<QLabel>(menu.get(), "app.version");
    const qreal before = version.font().pointSizeF();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 16));
    settle();
    EXPECT_GT(version.font().pointSizeF(), before + 5);
    EXPECT_THAT(cutTexts(menu.get()), IsEmpty());
}

}  // namespace
}  // namespace brisalune
