#pragma once

// The small vocabulary every view of the tray interface is built from: texts shown as plain text
// in a font and a tone, buttons whose titles keep their "&", switches whose "on" shows in the
// highlight colour, the borderless dismiss button, symbols, dividers, stacks with fixed spacing,
// the Return key of a form, and opening one of the app's own windows. Main thread only.

#include <brisalune/app/shell/window_presenter.hpp>

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <functional>
#include <string_view>

class QBoxLayout;
class QComboBox;
class QFont;
class QFontMetrics;
class QFrame;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace brisalune::ui {

// A width laid out for Qt's default font (9 pt), widened in proportion to a larger `font`, so
// that a desktop font of 13 or 16 pt gets the room its texts take; never narrowed.
int fontScaled(const QFont& font, int designPixels);

// The root of a window whose width is fixed and whose height follows its content: its size hint
// is its width and the height its wrapped texts need at that width. The width is the one given
// at the default font, widened with a larger one (see fontScaled).
// A control of the pane that is hidden or disabled under the keyboard focus takes the focus with
// it: no other control gets it, where the person's next key would act on what they never chose,
// and Tab goes on from the top. One disabled while it works has the focus back when it is
// enabled again, unless the person put it elsewhere meanwhile.
class FixedWidthPane : public QWidget {
public:
    explicit FixedWidthPane(int width, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // The width the pane takes at its current font.
    int currentWidth() const;

protected:
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    int designWidth_;
};

enum class Font { body, headline, caption, caption2, callout };
enum class Tone { primary, secondary, red, blue };

// The contrast ratio of a text colour (flattened over its background when translucent) against
// its background, from 1 (none) to 21 (black on white).
double contrast(const QColor& text, const QColor& background);
// The colour of a tone under `palette`: the window's text colour, half way from it to the window
// (secondary), or a red or blue made lighter on a dark window until it reads there.
QColor toneColour(Tone tone, const QPalette& palette);

// A one-line text cut with an ellipsis to the width it is given; the full text shows on hover
// when cut.
class ElidedLabel final : public QLabel {
public:
    ElidedLabel(QString full, const QString& objectName);
    const QString& fullText() const { return full_; }
    void setFullText(const QString& full);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide(int width);
    QString full_;
};

// A server's or a person's text as it shows inside a line of the app's own: isolated, so that
// direction marks in it (an override to right-to-left) end with it and never turn what follows.
QString isolated(const QString& text);
// A text as one line: line breaks, tabs and other control characters show as spaces; isolated.
QString oneLine(const QString& text);
// A text of several lines (an error from the server) as it shows where it wraps: its line breaks
// kept, other control characters as spaces, and each line isolated on its own, since a label
// lays its lines out as one paragraph, where an override would run on into the next line.
QString lines(const QString& text);
// The text cut with an ellipsis to `width` pixels (QFontMetrics::elidedText), the ellipsis at the
// end of the line even when the text turns the direction of what follows it.
QString cutToWidth(const QFontMetrics& metrics, const QString& text, int width, int flags = 0);
// What a person sees for a thing the server named `name`: its `fallback` (an identifier) when
// the name would show nothing (empty, or blanks and invisible marks alone).
QString shownName(std::string_view name, std::string_view fallback);
// A tool tip showing `text` as it stands: Qt reads a tip that looks like markup ("<b>…", "<img
// src=…>") as rich text, so such a text goes escaped in markup of its own.
QString plainToolTip(const QString& text);

// The system symbols the views name, drawn with the desktop's own icons where it has one.
enum class Symbol { arrowDownCircle, exclamationArrowCirclepath, serverRack, bell };

// A label that never reads its text as markup; wraps when `wraps`.
QLabel* text(
    const QString& content,
    const QString& objectName,
    Font font = Font::body,
    Tone tone = Tone::primary,
    bool wraps = false);
QLabel* text(
    std::string_view content,
    const QString& objectName,
    Font font = Font::body,
    Tone tone = Tone::primary,
    bool wraps = false);
// A plain-text label on one line while the room allows, wrapped when it is given less (a row
// beside buttons, at a large font).
QLabel* lineText(const QString& content, const QString& objectName, Font font = Font::body, Tone tone = Tone::primary);
// A one-line label that never reads its text as markup, cut with an ellipsis when narrower.
ElidedLabel* elidedText(
    const QString& content, const QString& objectName, Font font = Font::body, Tone tone = Tone::primary);
void setFont(QWidget* widget, Font font);
// Gives the field a hint shown while it is empty, in a grey half way from the field to its text:
// a desktop's palette often leaves the placeholder colour at a grey meant for white fields.
void setPlaceholder(QLineEdit* edit, const QString& placeholder);
// Runs `follow` again each time the application's palette changes while the app runs (a switch to
// a dark theme), for colours a widget took from it once; `purpose` names it, so that a second
// call for the same purpose replaces the first. Main thread only.
void followPalette(QWidget* widget, const char* purpose, std::function<void()> follow);
// Colours the widget's text in the tone, from the application's palette; it follows when that
// palette changes while the app runs.
void setTone(QWidget* widget, Tone tone);

// A push button titled with `title` as it stands ("&" is not a shortcut marker). Narrower than its
// title (a long team name in a fixed-width pane), it shows the title cut with an ellipsis.
QPushButton* button(std::string_view title, const QString& objectName);
QPushButton* button(const QString& title, const QString& objectName);
void setTitle(QPushButton* button, const QString& title);
// A drop-down list of choices whose shown choice (a long team name) is cut with an ellipsis when
// the box is narrower than it.
QComboBox* choices(const QString& objectName);
// A checkable button whose checked state shows in the palette's highlight colour, with the
// highlighted text colour on it, so that on and off differ at a glance.
QPushButton* toggleButton(std::string_view title, const QString& objectName);
// The borderless "xmark" button, "Dismiss" to accessibility.
QToolButton* dismissButton(const QString& objectName);
QLabel* symbol(Symbol name, const QString& objectName, int size = 16);
QFrame* divider(const QString& objectName = {});

// A vertical stack on `owner`, leading-aligned, with the given spacing and margins.
QVBoxLayout* stack(QWidget* owner, int spacing, int margin = 0);
// Adds a widget at its own width, against the leading edge (buttons, short rows).
void addLeading(QBoxLayout* layout, QWidget* widget);
// A widget holding a vertical stack of the given spacing, for a group of rows.
QWidget* group(const QString& objectName, int spacing, QVBoxLayout** layout);

// Return and Enter typed anywhere inside `form` (and not taken by a child) press `button` when
// it is visible and enabled: the form's default action. Marks the button as the default one.
void bindDefaultAction(QWidget* form, QPushButton* button);
// Return and Enter that reach the window of `part` while it shows, wherever the focus is or with
// none, press `button`: the window's default action, as long as the part shows.
void bindWindowDefaultAction(QWidget* part, QPushButton* button);

// Widgets made after their window's others come last in its Tab order, wherever they show. Puts
// the controls inside `container` back at the container's own place, in the order of the widget
// tree (rows in the order they were added to their parent), so that Tab walks the window from top
// to bottom. Call after adding to it.
void keepTabOrderInPlace(QWidget* container);

// Tab goes from control to control inside `scroll`, which scrolls to each, also to one the focus
// comes to from outside it; the bare area takes no focus, as it would show none.
void scrollToFocus(QScrollArea* scroll);

// The wheel changes a drop-down, spin box or date field only while it shows the keyboard focus
// (showsFocus); otherwise it goes to what holds the control, so that scrolling a form past one
// changes nothing. A drop-down takes the focus by Tab only, not by a click, which would leave it
// holding a focus it does not show; one given the focus as by Tab (Qt::TabFocusReason) shows it.
// One guard for the whole application, installed once before its windows are built; later calls
// do nothing.
void installWheelGuard();

// The key that closes an open list (a drop-down's, or any popup over a window: Escape, Return)
// does nothing else: it closes no window and presses no default button. One guard for the whole
// application, installed once before its windows are built; later calls do nothing.
void installListKeyGuard();

// `control` has the keyboard focus and shows it: a text cursor in a field, or the ring the style
// draws once the keyboard has moved the focus in the control's window (a click alone shows none).
bool showsFocus(const QWidget* control);

// A show or hide event that a minimise or its undoing made (Qt sends those as spontaneous): the
// window is still the person's, and what its forms hold stays.
bool byMinimise(const QEvent& showOrHide);

// Shows the app's window of that kind through the presenter serving `from`; nothing without
// one. The menu's popup makes way for the window it opened.
void showWindow(QWidget* from, WindowPresenter::Kind kind);
void closeWindow(QWidget* from, WindowPresenter::Kind kind);

}  // namespace brisalune::ui
