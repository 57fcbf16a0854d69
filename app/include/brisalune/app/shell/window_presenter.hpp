#pragma once

// The app's own windows besides the tray menu: the sign-in window, the self-hosted box window
// and the maintenance-windows window. Each is made on first demand around the root widget the
// factory builds, kept when closed (hidden, not destroyed, its widgets' state intact) and
// brought to the front on later demands. Main thread only.

#include <QString>

#include <functional>
#include <map>
#include <memory>

class QWidget;

namespace brisalune {

class WindowPresenter {
public:
    enum class Kind { signIn, box, maintenance };

    // Builds a new root widget for a kind; the presenter takes ownership. Called once per kind,
    // when that window is first shown (so the box window's first page is chosen then).
    using Factory = std::function<QWidget*(Kind)>;

    explicit WindowPresenter(Factory makeRootWidget);
    ~WindowPresenter();
    WindowPresenter(const WindowPresenter&) = delete;
    WindowPresenter& operator=(const WindowPresenter&) = delete;

    // Shows the kind's window, making it first if needed, raises and activates it.
    void show(Kind kind);
    // Shows `window`, brought back from a minimise, raised and activated: how every window of the
    // app is brought to the person.
    static void bringUp(QWidget& window);
    // Hides the kind's window when it exists; makes none.
    void close(Kind kind);
    // The kind's window; null until it is first shown.
    QWidget* window(Kind kind) const;

    // Lets the widgets inside `window` (say, the menu window) find this presenter.
    void provideTo(QWidget* window);
    // The presenter serving the window that holds `widget`; null when there is none, and then
    // opening or closing windows from there does nothing.
    static WindowPresenter* of(const QWidget* widget);

    static QString title(Kind kind);
    static QString objectName(Kind kind);  // the window's, for tests and styling
    static bool isResizable(Kind kind) noexcept { return kind == Kind::maintenance; }

private:
    std::unique_ptr<QWidget> makeWindow(Kind kind);

    Factory makeRootWidget_;
    std::map<Kind, std::unique_ptr<QWidget>> windows_;
};

}  // namespace brisalune
