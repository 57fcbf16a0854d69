#include <brisalune/app/ui/ui_kit.hpp>

#include <brisalune/app/ui/notices.hpp>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QPolygonF>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace brisalune::ui {

namespace {

constexpr char16_t firstStrongIsolate = u'\u2068';
constexpr char16_t popDirectionalIsolate = u'\u2069';

bool opensIsolate(QChar c) { return c.unicode() >= u'\u2066' && c.unicode() <= firstStrongIsolate; }

// Characters that turn the direction of what stands near them: right-to-left letters and numbers,
// and the explicit embeddings, overrides and isolates.
bool turnsDirection(QChar c) {
    switch (c.direction()) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirAN:
        case QChar::DirLRE:
        case QChar::DirLRO:
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirPDF:
        case QChar::DirLRI:
        case QChar::DirRLI:
        case QChar::DirFSI:
        case QChar::DirPDI: return true;
        default: return false;
    }
}

// A control Tab stops at: one whose focus goes to another (a field's inner edit) is none.
bool isTabStop(const QWidget* widget) { return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy(); }

bool breaksLine(QChar c) {
    const QChar::Category category = c.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

const QColor redTone{0xc8, 0x1e, 0x1e};
const QColor blueTone{0x1a, 0x62, 0xd6};

// The point size the fixed widths were laid out for (Qt's own default font).
constexpr qreal designPointSize = 9.0;
constexpr qreal designPixelSize = 12.0;

// What a coloured text needs against its background to be read in small type.
constexpr double readableContrast = 4.5;

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour) {
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

// The colour as it shows over `background` (a translucent one lets it through).
QColor flattened(const QColor& colour, const QColor& background) {
    const float alpha = colour.alphaF();
    return QColor::fromRgbF(
        colour.redF() * alpha + background.redF() * (1 - alpha),
        colour.greenF() * alpha + background.greenF() * (1 - alpha),
        colour.blueF() * alpha + background.blueF() * (1 - alpha));
}

// A hue chosen for a light window, made lighter on a dark one (darker on a light one) until it
// reads; one that already reads is kept as it is.
QColor readableOn(const QColor& hue, const QColor& background) {
    if (contrast(hue, background) >= readableContrast) return hue;
    const bool darkBackground = luminance(background) < 0.2;
    QColor adjusted = hue.toHsl();
    for (int step = 0; step < 20 && contrast(adjusted, background) < readableContrast; ++step) {
        const float lightness = adjusted.lightnessF();
        adjusted.setHslF(
            adjusted.hslHueF(),
            adjusted.hslSaturationF(),
            darkBackground ? std::min(1.0f, lightness + 0.04f) : std::max(0.0f, lightness - 0.04f));
    }
    return adjusted.toRgb();
}

// Runs `follow` again whenever the desktop's palette or font changes under a running app (a
// switch to a dark theme in the evening, a larger font), since what was taken from them was
// taken once. Qt tells the application object of such a change; a widget with colours or a size
// of its own hears nothing of it.
class ApplicationFollower final : public QObject {
public:
    ApplicationFollower(QWidget* widget, QEvent::Type change, std::function<void()> follow);
    ~ApplicationFollower() override;
    ApplicationFollower(const ApplicationFollower&) = delete;
    ApplicationFollower& operator=(const ApplicationFollower&) = delete;

    QEvent::Type change() const { return change_; }
    void follow() const { follow_(); }

private:
    QEvent::Type change_;
    std::function<void()> follow_;
};

// Hands the application's changes of palette and font to the followers, on the main thread.
class ApplicationChanges final : public QObject {
public:
    static ApplicationChanges& instance() {
        QPointer<ApplicationChanges>& only = existing();
        if (!only) {
            only = new ApplicationChanges(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(only);
        }
        return *only;
    }
    // None before the first follower, nor after the application has gone.
    static QPointer<ApplicationChanges>& existing() {
        static QPointer<ApplicationChanges> only;
        return only;
    }
    void add(ApplicationFollower* follower) { followers_.push_back(follower); }
    void remove(ApplicationFollower* follower) { std::erase(followers_, follower); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != QCoreApplication::instance()) return false;
        const QEvent::Type type = event->type();
        if (type != QEvent::ApplicationPaletteChange && type != QEvent::ApplicationFontChange) return false;
        // A follower may make or remove others; those present at the change follow it.
        const std::vector<QPointer<ApplicationFollower>> present(followers_.begin(), followers_.end());
        for (const QPointer<ApplicationFollower>& follower : present) {
            if (follower && follower->change() == type) follower->follow();
        }
        return false;
    }

private:
    using QObject::QObject;
    std::vector<ApplicationFollower*> followers_;
};

ApplicationFollower::ApplicationFollower(QWidget* widget, QEvent::Type change, std::function<void()> follow)
    : QObject(widget), change_(change), follow_(std::move(follow)) {
    ApplicationChanges::instance().add(this);
}

ApplicationFollower::~ApplicationFollower() {
    if (ApplicationChanges* changes = ApplicationChanges::existing()) changes->remove(this);
}

// One follower per widget and purpose: a later tone or font replaces the earlier one.
void followApplication(QWidget* widget, const char* purpose, QEvent::Type change, std::function<void()> follow) {
    const QString name = QStringLiteral("applicationFollower.") + QLatin1String(purpose);
    delete widget->findChild<ApplicationFollower*>(name, Qt::FindDirectChildrenOnly);
    auto* follower = new ApplicationFollower(widget, change, std::move(follow));
    follower->setObjectName(name);
}

// Drop-downs, spin boxes and date fields change by the wheel only while they show the keyboard
// focus. Qt would let the wheel itself give them the focus: here they take it by click or Tab
// alone, and a drop-down by Tab alone, as a click leaves it no mark of the focus. The wheel over
// one that does not show the focus goes on to what holds it, a scroll area scrolling.
class WheelGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::Wheel && type != QEvent::Polish && type != QEvent::FocusIn) return false;
        auto* dropDown = qobject_cast<QComboBox*>(watched);
        QWidget* control = dropDown;
        if (!control) control = qobject_cast<QAbstractSpinBox*>(watched);
        if (!control) return false;
        if (type == QEvent::Polish) {
            if (control->focusPolicy() == Qt::WheelFocus) control->setFocusPolicy(Qt::StrongFocus);
            if (dropDown && !dropDown->isEditable() && control->focusPolicy() == Qt::StrongFocus)
                control->setFocusPolicy(Qt::TabFocus);
            return false;
        }
        if (type == QEvent::FocusIn) {
            // A focus given as by Tab shows as Tab's does.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
                control->window()->setAttribute(Qt::WA_KeyboardFocusChange);
            return false;
        }
        if (showsFocus(control)) return false;
        event->ignore();  // passed on to the parent
        return true;
    }
};

// The symbols, drawn in the text colour on a transparent square of `size` pixels.
QPixmap drawSymbol(Symbol name, int size, const QColor& ink) {
    QPixmap canvas(size, size);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const qreal line = std::max(1.2, s / 12.0);
    painter.setPen(QPen(ink, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const QRectF box(line, line, s - 2 * line, s - 2 * line);
    switch (name) {
        case Symbol::arrowDownCircle:
            painter.drawEllipse(box);
            painter.drawLine(QPointF(s / 2, s * 0.27), QPointF(s / 2, s * 0.70));
            painter.drawPolyline(QPolygonF({{s * 0.32, s * 0.53}, {s / 2, s * 0.71}, {s * 0.68, s * 0.53}}));
            break;
        case Symbol::exclamationArrowCirclepath: {
            painter.drawArc(box, 110 * 16, 300 * 16);
            painter.drawPolyline(QPolygonF({{s * 0.22, s * 0.10}, {s * 0.30, s * 0.24}, {s * 0.15, s * 0.30}}));
            painter.drawLine(QPointF(s / 2, s * 0.30), QPointF(s / 2, s * 0.56));
            painter.setBrush(ink);
            painter.drawEllipse(QPointF(s / 2, s * 0.70), line * 0.6, line * 0.6);
            break;
        }
        case Symbol::serverRack:
            for (const qreal top : {s * 0.14, s * 0.54}) {
                const QRectF unit(line, top, s - 2 * line, s * 0.32);
                painter.drawRoundedRect(unit, line, line);
                painter.drawPoint(QPointF(s * 0.26, top + s * 0.16));
            }
            break;
        case Symbol::bell: {
            QPainterPath bell;
            bell.moveTo(s * 0.18, s * 0.72);
            bell.cubicTo(s * 0.28, s * 0.60, s * 0.24, s * 0.22, s / 2, s * 0.18);
            bell.cubicTo(s * 0.76, s * 0.22, s * 0.72, s * 0.60, s * 0.82, s * 0.72);
            bell.closeSubpath();
            painter.drawPath(bell);
            painter.drawLine(QPointF(s * 0.44, s * 0.86), QPointF(s * 0.56, s * 0.86));
            break;
        }
    }
    return canvas;
}

// Presses the form's default button on a Return that no child took; for the whole window, on one
// that reaches the window while the form shows.
class DefaultAction final : public QObject {
public:
    DefaultAction(QWidget* form, QPushButton* button, bool wholeWindow)
        : QObject(form), button_(button), wholeWindow_(wholeWindow) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The form has its window once it is placed in one, at the latest when it shows.
        if (wholeWindow_ && watched == parent() && event->type() == QEvent::Show)
            button_->window()->installEventFilter(this);
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool isReturn = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (!isReturn || !plain) return QObject::eventFilter(watched, event);
        if (wholeWindow_ && (watched != button_->window() || !button_->isVisible())) return false;
        // Taken either way: a disabled default button means Return does nothing.
        if (button_->isVisibleTo(static_cast<QWidget*>(watched)) && button_->isEnabled()) button_->click();
        return true;
    }

private:
    QPushButton* button_;
    bool wholeWindow_;
};

// A key that closed an open list (a drop-down's, or any popup over a window) does nothing more.
// Qt closes the list while it checks the key for shortcuts, then hands the key itself to the
// window below, where Escape would close the menu's popup too and Return press a default button.
class ListKeyGuard final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::KeyRelease) checked_.reset();  // a shortcut took its press
        if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Press press{key->timestamp(), key->key()};
        // The check goes from widget to widget, and on to the window below once the list closed:
        // the list is the one open at its start.
        if (type == QEvent::ShortcutOverride) {
            if (!checked_ || checked_->press != press) {
                QWidget* list = QApplication::activePopupWidget();
                checked_ = Checked{press, list, list != nullptr};
            }
            return false;
        }
        const std::optional<Checked> checked = std::exchange(checked_, std::nullopt);
        return checked && checked->press == press && checked->hadList && !(checked->list && checked->list->isVisible());
    }

private:
    struct Press {
        quint64 timestamp;
        int key;
        bool operator==(const Press&) const = default;
    };
    struct Checked {
        Press press;
        QPointer<QWidget> list;
        bool hadList;
    };
    std::optional<Checked> checked_;
};

// Gives `control`, disabled under the focus, the focus back once it is enabled again while no
// other control has it and it shows; then goes.
class FocusReturn final : public QObject {
public:
    explicit FocusReturn(QWidget* control) : QObject(control) { control->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* control = static_cast<QWidget*>(watched);
        if (event->type() != QEvent::EnabledChange || !control->isEnabled()) return false;
        if (!control->window()->focusWidget() && control->isVisible()) control->setFocus(Qt::OtherFocusReason);
        control->removeEventFilter(this);
        deleteLater();
        return false;
    }
};

// One filter of the kind for the whole application; later calls add none.
template <class Filter>
void installOnce() {
    static QPointer<Filter> only;
    if (only) return;
    only = new Filter(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(only);
}

// The style's focus ring is drawn in the highlight colour, which cannot be told from a button
// painted in it (a switch that is on, a chosen segment): such a button gets a ring in its text
// colour inside its edge.
void ringFocusOnHighlight(QPainter& painter, const QPushButton& button, const QStyleOptionButton& option) {
    if (!(option.state & QStyle::State_HasFocus)) return;
    if (option.palette.color(QPalette::Button) != button.palette().color(QPalette::Highlight)) return;
    painter.setPen(QPen(option.palette.color(QPalette::ButtonText), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(button.rect().adjusted(3, 3, -4, -4));
}

// A push button that cuts its title with an ellipsis when it is given less than its full width; it
// asks for its full width still, and needs only a few characters' worth.
class EllipsisButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

    QSize minimumSizeHint() const override {
        QSize least = QPushButton::minimumSizeHint();
        least.setWidth(std::min(least.width(), fontMetrics().averageCharWidth() * 8));
        return least;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QRect label = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        option.text = cutToWidth(fontMetrics(), option.text, label.width(), Qt::TextShowMnemonic);
        painter.drawControl(QStyle::CE_PushButton, option);
        ringFocusOnHighlight(painter, *this, option);
    }
};

// The style draws the shown choice clipped at the edit field's edge, with nothing to tell that it
// goes on.
class EllipsisComboBox final : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        painter.setPen(palette().color(QPalette::Text));
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        option.currentText = cutToWidth(fontMetrics(), option.currentText, field.width());
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

// A checkable button whose "on" reads at a glance: the highlight colour under highlighted text.
class ToggleButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        if (isChecked()) {
            // A disabled switch keeps the style's dimmed look.
            for (const auto group : {QPalette::Active, QPalette::Inactive}) {
                option.palette.setColor(group, QPalette::Button, palette().color(group, QPalette::Highlight));
                option.palette.setColor(group, QPalette::ButtonText, palette().color(group, QPalette::HighlightedText));
            }
        }
        painter.drawControl(QStyle::CE_PushButton, option);
        ringFocusOnHighlight(painter, *this, option);
    }
};

// A wrapping label that also breaks a word too long for its width (a name of thousands of
// letters without a space), which QLabel draws cut off at its edge; other texts it leaves to
// QLabel.
class WrappingLabel : public QLabel {
public:
    int heightForWidth(int width) const override {
        const int room = width - horizontalPadding();
        if (!overlong(room)) return QLabel::heightForWidth(width);
        return static_cast<int>(std::ceil(laidOut(room)->boundingRect().height())) + verticalPadding();
    }
    // A word longer than QLabel's widest wrapped line asks for that line's width, and needs only
    // a few characters' worth.
    QSize sizeHint() const override {
        QSize hint = QLabel::sizeHint();
        if (hint.width() > widestLine() && overlong(widestLine() - horizontalPadding()))
            hint = QSize(widestLine(), heightForWidth(widestLine()));
        return hint;
    }
    QSize minimumSizeHint() const override {
        QSize least = QLabel::minimumSizeHint();
        if (least.width() > widestLine() && overlong(widestLine() - horizontalPadding()))
            least.setWidth(fontMetrics().averageCharWidth() * 8 + horizontalPadding());
        return least;
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
        if (!overlong(room.width())) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
        const std::unique_ptr<QTextLayout> layout = laidOut(room.width());
        QPointF at = room.topLeft();
        const qreal spare = room.height() - layout->boundingRect().height();
        if (spare > 0 && (alignment() & Qt::AlignVCenter)) at.ry() += spare / 2;
        if (spare > 0 && (alignment() & Qt::AlignBottom)) at.ry() += spare;
        layout->draw(&painter, at);
    }

private:
    int widestLine() const { return fontMetrics().averageCharWidth() * 80 + horizontalPadding(); }
    int horizontalPadding() const {
        const QMargins margins = contentsMargins();
        return margins.left() + margins.right() + 2 * margin();
    }
    int verticalPadding() const {
        const QMargins margins = contentsMargins();
        return margins.top() + margins.bottom() + 2 * margin();
    }
    // Whether a word of the text, between two places where a line may break, is wider than `width`.
    bool overlong(int width) const {
        if (!wordWrap() || width <= 0) return false;
        const QString shown = text();
        const QFontMetrics metrics = fontMetrics();
        if (metrics.horizontalAdvance(shown) <= width) return false;
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, shown);
        qsizetype from = 0;
        for (qsizetype at = breaks.toNextBoundary(); at >= 0; at = breaks.toNextBoundary()) {
            if (metrics.horizontalAdvance(shown.mid(from, at - from).trimmed()) > width) return true;
            from = at;
        }
        return false;
    }
    // The text wrapped at words, and inside a word too long for the width.
    std::unique_ptr<QTextLayout> laidOut(int width) const {
        QString shown = text();
        shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
        auto layout = std::make_unique<QTextLayout>(shown, font());
        QTextOption option(alignment());
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout->setTextOption(option);
        layout->beginLayout();
        qreal top = 0;
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, top));
            top += line.height();
        }
        layout->endLayout();
        return layout;
    }
};

// A wrapping label asks for a narrow width of its own choosing even where its line would fit;
// this one asks for its line, and wraps only when given less.
class OneLineFirstLabel final : public WrappingLabel {
public:
    QSize sizeHint() const override {
        const QMargins margins = contentsMargins();
        const int line = fontMetrics().horizontalAdvance(text()) + 2 * margin() + margins.left() + margins.right() + 1;
        return {line, heightForWidth(line)};
    }
};

}  // namespace

void followPalette(QWidget* widget, const char* purpose, std::function<void()> follow) {
    followApplication(widget, purpose, QEvent::ApplicationPaletteChange, std::move(follow));
}

FixedWidthPane::FixedWidthPane(int width, QWidget* parent) : QWidget(parent), designWidth_(width) {
    setFixedWidth(currentWidth());
}

int FixedWidthPane::currentWidth() const { return fontScaled(font(), designWidth_); }

QSize FixedWidthPane::sizeHint() const {
    const int width = currentWidth();
    const int height = hasHeightForWidth() ? heightForWidth(width) : QWidget::sizeHint().height();
    return {width, height};
}

void FixedWidthPane::changeEvent(QEvent* event) {
    // A larger desktop font widens the pane with its texts.
    if (event->type() == QEvent::FontChange && width() != currentWidth()) {
        setFixedWidth(currentWidth());
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

bool FixedWidthPane::focusNextPrevChild(bool next) {
    // Qt asks here, through the control's parents, where the focus of a control it hides or
    // disables goes: nowhere. Tab asks too, from a control that shows and takes keys.
    QWidget* focus = window()->focusWidget();
    if (!focus || !isAncestorOf(focus) || (focus->isVisibleTo(window()) && focus->isEnabled()))
        return QWidget::focusNextPrevChild(next);
    if (focus->isVisibleTo(window())) new FocusReturn(focus);
    focus->clearFocus();
    return true;
}

int fontScaled(const QFont& font, int designPixels) {
    const qreal scale =
        font.pointSizeF() > 0 ? font.pointSizeF() / designPointSize : font.pixelSize() / designPixelSize;
    return qRound(designPixels * std::max<qreal>(1.0, scale));
}

double contrast(const QColor& text, const QColor& background) {
    const double fore = luminance(flattened(text, background));
    const double back = luminance(background);
    return (std::max(fore, back) + 0.05) / (std::min(fore, back) + 0.05);
}

namespace {

QColor halfway(const QColor& from, const QColor& to) {
    return QColor::fromRgbF(
        (from.redF() + to.redF()) / 2, (from.greenF() + to.greenF()) / 2, (from.blueF() + to.blueF()) / 2);
}

}  // namespace

QColor toneColour(Tone tone, const QPalette& palette) {
    const QColor ink = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    switch (tone) {
        case Tone::primary: return ink;
        // Half way from the window to its text: the palette's own placeholder colour is often left
        // at a grey meant for light windows, which vanishes on a dark one.
        case Tone::secondary: return halfway(ink, window);
        case Tone::red: return readableOn(redTone, window);
        case Tone::blue: return readableOn(blueTone, window);
    }
    return ink;
}

namespace {

void applyFont(QWidget* widget, Font font) {
    QFont chosen = QApplication::font();
    const qreal base = chosen.pointSizeF() > 0 ? chosen.pointSizeF() : 10.0;
    switch (font) {
        case Font::body: break;
        case Font::headline: chosen.setBold(true); break;
        case Font::caption: chosen.setPointSizeF(std::max(7.0, base - 1.5)); break;
        case Font::caption2: chosen.setPointSizeF(std::max(6.5, base - 2.0)); break;
        case Font::callout: chosen.setPointSizeF(std::max(7.5, base - 0.5)); break;
    }
    widget->setFont(chosen);
}

}  // namespace

void setFont(QWidget* widget, Font font) {
    applyFont(widget, font);
    followApplication(widget, "font", QEvent::ApplicationFontChange, [widget, font] { applyFont(widget, font); });
}

namespace {

void applyTone(QWidget* widget, Tone tone) {
    QPalette palette = widget->palette();
    const QColor colour = toneColour(tone, QApplication::palette());
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    // Inside a button a label draws in the button's text colour, not the window's.
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

}  // namespace

void setTone(QWidget* widget, Tone tone) {
    applyTone(widget, tone);
    followPalette(widget, "tone", [widget, tone] { applyTone(widget, tone); });
}

namespace {

QLabel* dress(QLabel* label, const QString& content, const QString& objectName, Font font, Tone tone, bool wraps) {
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setText(content);
    label->setWordWrap(wraps);
    setFont(label, font);
    setTone(label, tone);
    return label;
}

}  // namespace

QLabel* text(const QString& content, const QString& objectName, Font font, Tone tone, bool wraps) {
    return dress(new WrappingLabel, content, objectName, font, tone, wraps);
}

QLabel* lineText(const QString& content, const QString& objectName, Font font, Tone tone) {
    return dress(new OneLineFirstLabel, content, objectName, font, tone, true);
}

QLabel* text(std::string_view content, const QString& objectName, Font font, Tone tone, bool wraps) {
    return text(qText(content), objectName, font, tone, wraps);
}

QString isolated(const QString& text) {
    // A text of left-to-right letters alone has nothing to turn: it stays as it is.
    if (std::ranges::none_of(text, turnsDirection)) return text;
    // Only the closing mark added here may end the isolate: the text's own stray closing marks go,
    // and isolates it leaves open are closed before it.
    QString out;
    out.reserve(text.size() + 2);
    out += QChar(firstStrongIsolate);
    qsizetype open = 0;
    for (const QChar c : text) {
        if (c.unicode() == popDirectionalIsolate) {
            if (open == 0) continue;
            --open;
        } else if (opensIsolate(c)) {
            ++open;
        }
        out += c;
    }
    out += QString(open + 1, QChar(popDirectionalIsolate));
    return out;
}

QString oneLine(const QString& text) {
    QString line = text;
    for (QChar& c : line) {
        if (breaksLine(c)) c = QLatin1Char(' ');
    }
    return isolated(line);
}

QString lines(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("[\\n\\x{2028}\\x{2029}]"));
    QStringList shown = text.split(lineBreak);
    for (QString& line : shown) line = oneLine(line);
    return shown.join(QLatin1Char('\n'));
}

QString cutToWidth(const QFontMetrics& metrics, const QString& text, int width, int flags) {
    const QString shown = metrics.elidedText(text, Qt::ElideRight, width, flags);
    if (shown == text || std::ranges::none_of(text, turnsDirection)) return shown;
    // Qt keeps the direction marks of what it cut after its ellipsis, which puts the ellipsis
    // inside the text's override; it goes after the isolated rest instead.
    QString ellipsis(QChar(u'\u2026'));
    qsizetype at = shown.lastIndexOf(ellipsis);
    if (at < 0) at = shown.lastIndexOf(ellipsis = QStringLiteral("..."));
    if (at < 0) return isolated(shown);
    return isolated(shown.left(at) + shown.mid(at + ellipsis.size())) + ellipsis;
}

QString shownName(std::string_view name, std::string_view fallback) {
    const QString shown = qText(name);
    const bool blank = std::ranges::all_of(shown, [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    });
    return blank ? qText(fallback) : shown;
}

QString plainToolTip(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

ElidedLabel::ElidedLabel(QString full, const QString& objectName) : full_(std::move(full)) {
    setObjectName(objectName);
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setText(oneLine(full_));
}

void ElidedLabel::setFullText(const QString& full) {
    full_ = full;
    // A hidden label has no width of its own yet; it is cut once laid out.
    if (isVisible()) {
        elide(width());
    } else {
        setText(oneLine(full_));
    }
}

void ElidedLabel::showEvent(QShowEvent* event) {
    elide(width());
    QLabel::showEvent(event);
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    elide(event->size().width());
    QLabel::resizeEvent(event);
}

void ElidedLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) elide(width());
    QLabel::changeEvent(event);
}

void ElidedLabel::elide(int width) {
    const QString line = oneLine(full_);
    const QString shown = cutToWidth(fontMetrics(), line, width);
    setText(shown);
    // What was cut can still be read, on hover.
    setToolTip(shown == line ? QString() : plainToolTip(full_));
}

ElidedLabel* elidedText(const QString& content, const QString& objectName, Font font, Tone tone) {
    auto* label = new ElidedLabel(content, objectName);
    setFont(label, font);
    setTone(label, tone);
    return label;
}

void setPlaceholder(QLineEdit* edit, const QString& placeholder) {
    edit->setPlaceholderText(placeholder);
    // Half way from the field to its text, as the secondary tone is from the window.
    const auto colour = [edit] {
        const QPalette standard = QApplication::palette();
        QPalette palette = edit->palette();
        palette.setColor(
            QPalette::PlaceholderText, halfway(standard.color(QPalette::Text), standard.color(QPalette::Base)));
        edit->setPalette(palette);
    };
    colour();
    followPalette(edit, "placeholder", colour);
}

QPushButton* button(const QString& title, const QString& objectName) {
    auto* push = new EllipsisButton;
    push->setObjectName(objectName);
    setTitle(push, title);
    return push;
}

QPushButton* button(std::string_view title, const QString& objectName) { return button(qText(title), objectName); }

QComboBox* choices(const QString& objectName) {
    auto* box = new EllipsisComboBox;
    box->setObjectName(objectName);
    return box;
}

QPushButton* toggleButton(std::string_view title, const QString& objectName) {
    auto* push = new ToggleButton;
    push->setObjectName(objectName);
    push->setCheckable(true);
    setTitle(push, qText(title));
    return push;
}

void setTitle(QPushButton* button, const QString& title) {
    QString escaped = title;
    button->setText(escaped.replace(QLatin1Char('&'), QStringLiteral("&&")));
}

QToolButton* dismissButton(const QString& objectName) {
    auto* dismiss = new QToolButton;
    dismiss->setObjectName(objectName);
    dismiss->setAutoRaise(true);
    dismiss->setText(QStringLiteral("\u2715"));
    dismiss->setAccessibleName(QStringLiteral("Dismiss"));
    dismiss->setToolTip(QStringLiteral("Dismiss"));
    return dismiss;
}

QLabel* symbol(Symbol name, const QString& objectName, int designSize) {
    auto* label = new QLabel;
    label->setObjectName(objectName);
    // As large as the texts beside it.
    const int size = fontScaled(label->font(), designSize);
    const auto draw = [label, name, size] {
        const qreal scale = label->devicePixelRatioF();
        QPixmap drawn = drawSymbol(name, qRound(size * scale), QApplication::palette().color(QPalette::WindowText));
        drawn.setDevicePixelRatio(scale);
        label->setPixmap(drawn);
    };
    draw();
    followPalette(label, "symbol", draw);
    label->setFixedSize(size, size);
    return label;
}

QFrame* divider(const QString& objectName) {
    auto* line = new QFrame;
    line->setObjectName(objectName);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QVBoxLayout* stack(QWidget* owner, int spacing, int margin) {
    auto* layout = new QVBoxLayout(owner);
    layout->setSpacing(spacing);
    layout->setContentsMargins(margin, margin, margin, margin);
    return layout;
}

QWidget* group(const QString& objectName, int spacing, QVBoxLayout** layout) {
    auto* holder = new QWidget;
    holder->setObjectName(objectName);
    *layout = stack(holder, spacing);
    return holder;
}

void addLeading(QBoxLayout* layout, QWidget* widget) { layout->addWidget(widget, 0, Qt::AlignLeft); }

void bindDefaultAction(QWidget* form, QPushButton* button) {
    button->setDefault(true);
    form->installEventFilter(new DefaultAction(form, button, false));
}

void bindWindowDefaultAction(QWidget* part, QPushButton* button) {
    button->setDefault(true);
    part->installEventFilter(new DefaultAction(part, button, true));
}

void keepTabOrderInPlace(QWidget* container) {
    const auto takesTab = [container](const QWidget* widget) {
        return (widget->focusPolicy() & Qt::TabFocus) != 0 && !container->isAncestorOf(widget);
    };
    // The last control before the container; round the chain from its end when it leads.
    QWidget* before = container->previousInFocusChain();
    while (before != container && !takesTab(before)) before = before->previousInFocusChain();
    if (before == container) return;
    // In the order of the widget tree, where a row added later sits with its siblings.
    std::vector<QWidget*> inside;
    const std::function<void(QWidget*)> collect = [&](QWidget* parent) {
        for (QObject* child : parent->children()) {
            auto* widget = qobject_cast<QWidget*>(child);
            if (!widget || widget->isWindow()) continue;
            if (isTabStop(widget)) inside.push_back(widget);
            collect(widget);
        }
    };
    collect(container);
    for (QWidget* widget : inside) {
        QWidget::setTabOrder(before, widget);
        before = widget;
    }
}

void scrollToFocus(QScrollArea* scroll) {
    scroll->setFocusPolicy(Qt::NoFocus);
    QObject::connect(qApp, &QApplication::focusChanged, scroll, [scroll](QWidget*, QWidget* now) {
        if (now && scroll->widget() && scroll->widget()->isAncestorOf(now)) scroll->ensureWidgetVisible(now);
    });
}

bool showsFocus(const QWidget* control) {
    if (!control->hasFocus()) return false;
    // A field shows it by its text cursor; the style rings other controls once the keyboard has
    // moved the focus in their window.
    return control->testAttribute(Qt::WA_InputMethodEnabled) ||
           control->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

bool byMinimise(const QEvent& showOrHide) { return showOrHide.spontaneous(); }

void installWheelGuard() { installOnce<WheelGuard>(); }

void installListKeyGuard() { installOnce<ListKeyGuard>(); }

void showWindow(QWidget* from, WindowPresenter::Kind kind) {
    WindowPresenter* windows = WindowPresenter::of(from);
    if (!windows) return;
    QWidget* top = from->window();
    if (top->windowType() == Qt::Popup) top->hide();
    windows->show(kind);
}

void closeWindow(QWidget* from, WindowPresenter::Kind kind) {
    if (WindowPresenter* windows = WindowPresenter::of(from)) windows->close(kind);
}

}  // namespace brisalune::ui
