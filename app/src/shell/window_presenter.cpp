#include <brisalune/app/shell/window_presenter.hpp>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QVariant>
#include <QWidget>

#include <stdexcept>
#include <utility>

namespace brisalune {

namespace {

constexpr const char* presenterProperty = "brisalune.windowPresenter";

Qt::WindowFlags flagsFor(WindowPresenter::Kind kind) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (WindowPresenter::isResizable(kind)) flags |= Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
    return flags;
}

// The sign-in and box windows are dialogs to a person: Escape closes them, as the close button
// does. Keys a field or an open list uses never get here.
class PresentedWindow : public QWidget {
public:
    PresentedWindow(Qt::WindowFlags flags, bool closesOnEscape)
        : QWidget(nullptr, flags), closesOnEscape_(closesOnEscape) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (closesOnEscape_ && event->matches(QKeySequence::Cancel)) {
            close();
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    bool closesOnEscape_;
};

void centreOnScreen(QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

}  // namespace

WindowPresenter::WindowPresenter(Factory makeRootWidget) : makeRootWidget_(std::move(makeRootWidget)) {}

WindowPresenter::~WindowPresenter() = default;

QString WindowPresenter::title(Kind kind) {
    switch (kind) {
        case Kind::signIn: return QStringLiteral("Sign in to Brisalune");
        case Kind::box: return QStringLiteral("Self-hosted box");
        case Kind::maintenance: return QStringLiteral("Maintenance windows");
    }
    return {};
}

QString WindowPresenter::objectName(Kind kind) {
    switch (kind) {
        case Kind::signIn: return QStringLiteral("signInWindow");
        case Kind::box: return QStringLiteral("boxWindow");
        case Kind::maintenance: return QStringLiteral("maintenanceWindow");
    }
    return {};
}

void WindowPresenter::show(Kind kind) {
    auto& slot = windows_[kind];
    if (!slot) slot = makeWindow(kind);
    bringUp(*slot);
}

void WindowPresenter::bringUp(QWidget& window) {
    // A minimised window is shown already: only undoing the minimise brings it back.
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

void WindowPresenter::close(Kind kind) {
    if (QWidget* window = this->window(kind)) window->close();
}

QWidget* WindowPresenter::window(Kind kind) const {
    const auto found = windows_.find(kind);
    return found == windows_.end() ? nullptr : found->second.get();
}

void WindowPresenter::provideTo(QWidget* window) {
    window->setProperty(presenterProperty, QVariant::fromValue(static_cast<void*>(this)));
}

WindowPresenter* WindowPresenter::of(const QWidget* widget) {
    if (!widget) return nullptr;
    return static_cast<WindowPresenter*>(widget->window()->property(presenterProperty).value<void*>());
}

std::unique_ptr<QWidget> WindowPresenter::makeWindow(Kind kind) {
    QWidget* root = makeRootWidget_(kind);
    if (!root) throw std::logic_error("the window factory made no widget");
    auto window = std::make_unique<PresentedWindow>(flagsFor(kind), !isResizable(kind));
    window->setObjectName(objectName(kind));
    window->setWindowTitle(title(kind));
    // Closing only hides it, and the tray app goes on without windows.
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(root);
    // The root widget decides the size; only a resizable window lets the user change it.
    if (!isResizable(kind)) layout->setSizeConstraint(QLayout::SetFixedSize);
    provideTo(window.get());
    window->adjustSize();
    centreOnScreen(*window);
    return window;
}

}  // namespace brisalune
