#include <brisalune/app/ui/ui_kit.hpp>

#include <brisalune/app/ui/notices.hpp>

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace brisalune::ui {

namespace {

const QColor redTone{0xc8, 0x1e, 0x1e};
const QColor blueTone{0x1a, 0x62, 0xd6};

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

// Presses the form's default button on a Return that no child took.
class DefaultAction final : public QObject {
public:
    DefaultAction(QWidget* form, QPushButton* button) : QObject(form), button_(button) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool isReturn = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (!isReturn || !plain) return QObject::eventFilter(watched, event);
        // Taken either way: a disabled default button means Return does nothing.
        if (button_->isVisibleTo(static_cast<QWidget*>(watched)) && button_->isEnabled()) button_->click();
        return true;
    }

private:
    QPushButton* button_;
};

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
        option.text = fontMetrics().elidedText(option.text, Qt::ElideRight, label.width(), Qt::TextShowMnemonic);
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
        option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width());
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

}  // namespace

FixedWidthPane::FixedWidthPane(int width, QWidget* parent) : QWidget(parent), width_(width) { setFixedWidth(width); }

QSize FixedWidthPane::sizeHint() const {
    const int height = hasHeightForWidth() ? heightForWidth(width_) : QWidget::sizeHint().height();
    return {width_, height};
}

void setFont(QWidget* widget, Font font) {
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

void setTone(QWidget* widget, Tone tone) {
    QPalette palette = widget->palette();
    const QPalette standard = QApplication::palette();
    QColor colour = standard.color(QPalette::WindowText);
    if (tone == Tone::secondary) colour = standard.color(QPalette::PlaceholderText);
    if (tone == Tone::red) colour = redTone;
    if (tone == Tone::blue) colour = blueTone;
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    // Inside a button a label draws in the button's text colour, not the window's.
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

QLabel* text(const QString& content, const QString& objectName, Font font, Tone tone, bool wraps) {
    auto* label = new QLabel;
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setText(content);
    label->setWordWrap(wraps);
    setFont(label, font);
    setTone(label, tone);
    return label;
}

QLabel* text(std::string_view content, const QString& objectName, Font font, Tone tone, bool wraps) {
    return text(qText(content), objectName, font, tone, wraps);
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

QLabel* symbol(Symbol name, const QString& objectName, int size) {
    auto* label = new QLabel;
    label->setObjectName(objectName);
    const qreal scale = label->devicePixelRatioF();
    QPixmap drawn = drawSymbol(name, qRound(size * scale), QApplication::palette().color(QPalette::WindowText));
    drawn.setDevicePixelRatio(scale);
    label->setPixmap(drawn);
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
    form->installEventFilter(new DefaultAction(form, button));
}

void keepTabOrderInPlace(QWidget* container) {
    const auto takesTab = [container](const QWidget* widget) {
        return (widget->focusPolicy() & Qt::TabFocus) != 0 && !container->isAncestorOf(widget);
    };
    // The last control before the container; round the chain from its end when it leads.
    QWidget* before = container->previousInFocusChain();
    while (before != container && !takesTab(before)) before = before->previousInFocusChain();
    if (before == container) return;
    std::vector<QWidget*> inside;
    for (QWidget* widget = container->nextInFocusChain(); widget != container; widget = widget->nextInFocusChain()) {
        if (container->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus)) inside.push_back(widget);
    }
    for (QWidget* widget : inside) {
        QWidget::setTabOrder(before, widget);
        before = widget;
    }
}

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
