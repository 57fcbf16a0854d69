#include <brisalune/app/ui/ui_kit.hpp>

#include <brisalune/app/ui/notices.hpp>

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brisalune::ui {

namespace {

const QColor redTone{0xc8, 0x1e, 0x1e};

QStyle::StandardPixmap pixmapOf(Symbol name) {
    switch (name) {
        case Symbol::arrowDownCircle:
            return QStyle::SP_ArrowDown;
        case Symbol::exclamationArrowCirclepath:
            return QStyle::SP_BrowserReload;
        case Symbol::serverRack:
            return QStyle::SP_DriveNetIcon;
        case Symbol::bell:
            return QStyle::SP_MessageBoxInformation;
    }
    return QStyle::SP_MessageBoxInformation;
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
        case Font::body:
            break;
        case Font::headline:
            chosen.setBold(true);
            break;
        case Font::caption:
            chosen.setPointSizeF(std::max(7.0, base - 1.5));
            break;
        case Font::callout:
            chosen.setPointSizeF(std::max(7.5, base - 0.5));
            break;
    }
    widget->setFont(chosen);
}

void setTone(QWidget* widget, Tone tone) {
    QPalette palette = widget->palette();
    const QPalette standard = QApplication::palette();
    QColor colour = standard.color(QPalette::WindowText);
    if (tone == Tone::secondary) colour = standard.color(QPalette::PlaceholderText);
    if (tone == Tone::red) colour = redTone;
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
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
    auto* push = new QPushButton;
    push->setObjectName(objectName);
    setTitle(push, title);
    return push;
}

QPushButton* button(std::string_view title, const QString& objectName) { return button(qText(title), objectName); }

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
    label->setPixmap(QApplication::style()->standardIcon(pixmapOf(name)).pixmap(size, size));
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
