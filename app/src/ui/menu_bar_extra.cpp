#include <brisalune/app/ui/menu_bar_extra.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QAction>
#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>
#include <QTransform>

#include <algorithm>
#include <utility>

namespace brisalune {

// ---- the icon ----

namespace MenuBarIcon {

namespace {

const QColor neutral{0x9a, 0x9e, 0xa4};
const QColor staleTint{0x6b, 0x6f, 0x75};

// A crescent: a disc with a smaller disc taken out of its upper right.
QPainterPath crescent(qreal size) {
    QPainterPath disc;
    disc.addEllipse(QRectF(size * 0.06, size * 0.06, size * 0.88, size * 0.88));
    QPainterPath bite;
    bite.addEllipse(QRectF(size * 0.30, size * -0.02, size * 0.76, size * 0.76));
    return disc.subtracted(bite);
}

}  // namespace

QColor alertTint() { return {0xe5, 0x34, 0x2c}; }

QPixmap markImage(std::optional<QColor> tint, int size) {
    QPixmap mark(size, size);
    mark.fill(Qt::transparent);
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(crescent(size), neutral);
    if (tint) {
        // Only what the mark drew takes the tint; the background stays transparent.
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.fillRect(mark.rect(), *tint);
    }
    return mark;
}

QString countText(int openCount) {
    return openCount > countCap ? QStringLiteral("%1+").arg(countCap) : QString::number(openCount);
}

QString accessibilityLabel(int openCount) {
    return openCount < 1 ? QStringLiteral("Brisalune") : QStringLiteral("%1 open alerts").arg(openCount);
}

QString accessibilityLabel(int openCount, const std::optional<std::string>& refreshError) {
    if (!refreshError) return accessibilityLabel(openCount);
    const QString error = ui::isolated(QString::fromStdString(*refreshError));
    if (openCount < 1) return QStringLiteral("Brisalune: couldn't update the alerts: %1").arg(error);
    return QStringLiteral("%1 open alerts at the last update; couldn't update since: %2").arg(openCount).arg(error);
}

// The count's glyphs as one outline, scaled to fill `box` and centred in it. A tray shows the
// picture at about 22 px: every pixel of height counts.
QPainterPath countGlyphs(const QString& text, const QRectF& box) {
    QFont font = QApplication::font();
    font.setBold(true);
    font.setWeight(QFont::Black);
    font.setPixelSize(100);
    QPainterPath glyphs;
    glyphs.addText(0, 0, font, text);
    const QRectF drawn = glyphs.boundingRect();
    // A long count is narrowed (to 3/4 at most) before it is made shorter.
    constexpr qreal narrowest = 0.75;
    const qreal scaleY = std::min(box.height() / drawn.height(), box.width() / (drawn.width() * narrowest));
    const qreal scaleX = std::min(scaleY, box.width() / drawn.width());
    QTransform fit;
    fit.translate(box.center().x(), box.center().y());
    fit.scale(scaleX, scaleY);
    fit.translate(-drawn.center().x(), -drawn.center().y());
    return fit.map(glyphs);
}

QPixmap picture(int openCount, bool upToDate) {
    if (openCount < 1) return markImage(std::nullopt, drawnSize);
    // A count that could not be refreshed keeps its number but not the red of a live one.
    const QColor tint = upToDate ? alertTint() : staleTint;
    QPixmap canvas = markImage(tint, drawnSize);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    const QString text = countText(openCount);
    // The badge takes the lower part of the picture, as wide as its digits need, the mark's top
    // left still showing; a white ring parts it from the red mark.
    const qreal size = drawnSize;
    const qreal ring = size * 0.05;
    const qreal height = size * 0.72;
    const qreal glyphHeight = height - 2 * ring - size * 0.08;
    const qreal perGlyph = glyphHeight * 0.62;
    const qreal width = std::min(size, std::max(height, perGlyph * text.size() + 2 * ring + size * 0.14));
    const QRectF badge(size - width, size - height, width, height);
    const QRectF inner = badge.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2);
    painter.setPen(QPen(Qt::white, ring));
    painter.setBrush(tint);
    painter.drawRoundedRect(inner, inner.height() / 2.6, inner.height() / 2.6);
    const QRectF glyphBox =
        badge.adjusted(ring + size * 0.05, ring + size * 0.04, -ring - size * 0.05, -ring - size * 0.04);
    painter.fillPath(countGlyphs(text, glyphBox), Qt::white);
    return canvas;
}

}  // namespace MenuBarIcon

// ---- the scene ----

namespace {

// Wayland lets no client place its windows: a popup would open wherever the compositor puts it,
// with no frame to close it by. There the window is always an ordinary one.
bool popUpsCanBePlaced() { return !QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

MenuWindow::Style firstStyle() { return popUpsCanBePlaced() ? MenuWindow::Style::popup : MenuWindow::Style::ordinary; }

}  // namespace

MenuBarExtra::MenuBarExtra(MenuEnvironment environment, WindowPresenter& windows, QObject* parent)
    : QObject(parent)
    , model_(environment.model)
    , menu_(std::make_unique<MenuWindow>(std::move(environment), firstStyle())) {
    windows.provideTo(menu_.get());
    launchWait_.setObjectName(QStringLiteral("menuBarExtra.launchPatience"));
    launchWait_.setSingleShot(true);
    connect(&launchWait_, &QTimer::timeout, this, &MenuBarExtra::openAfterLaunch);
    connect(&model_, &MacModel::launchedChanged, this, &MenuBarExtra::openAfterLaunch);
    connect(&model_, &MacModel::openAlertsChanged, this, &MenuBarExtra::showCount);
    connect(&model_, &MacModel::alertsErrorChanged, this, &MenuBarExtra::showCount);
    connect(&model_, &MacModel::signingOutChanged, this, &MenuBarExtra::showCount);
    connect(&model_, &MacModel::signOutRefusalChanged, this, &MenuBarExtra::showCount);
}

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::show() {
    // Watched from before the look, so that a tray coming up in between is not missed.
    trayWatch_.watch();
    if (trayWatch_.isTrayAvailable()) {
        trayWatch_.stop();
        showInTray();
        return;
    }
    standIn();
}

void MenuBarExtra::standIn() {
    trayWatch_.watch();
    // Nowhere to put an icon: the window stands in for it, and closing it ends the app.
    menu_->setStyle(MenuWindow::Style::ordinary);
    QApplication::setQuitOnLastWindowClosed(true);
    openOnceLaunched();
    // A panel often comes up after the programs started at login: the icon moves there then.
    connect(&trayWatch_, &TrayWatch::trayCameUp, this, &MenuBarExtra::trayCameUp, Qt::UniqueConnection);
    trayWatch_.lookOnce();
}

void MenuBarExtra::openOnceLaunched() {
    if (model_.hasLaunched()) {
        menu_->open();
        return;
    }
    // At the size the content has once the launch read the session and loaded the alerts: a
    // compositor places a window by the size it first maps at, and one that grew after could
    // reach off the screen. A launch that takes long does not keep the window closed.
    waitingToOpen_ = true;
    launchWait_.start(launchPatience);
}

void MenuBarExtra::openAfterLaunch() {
    if (!waitingToOpen_) return;
    waitingToOpen_ = false;
    launchWait_.stop();
    if (!tray_) menu_->open();  // else a tray came up meanwhile, and its icon opens the window
}

void MenuBarExtra::trayCameUp() {
    showInTray();
    // The open window stays as it is until it is closed; from then on the icon opens it.
    if (!menu_->isVisible()) menu_->setStyle(firstStyle());
}

void MenuBarExtra::trayWentAway() {
    // The icon went with its tray: as at a start without one, the window stands in until a tray
    // comes up again.
    tray_.reset();
    trayMenu_.reset();
    shown_.reset();
    standIn();  // the watch has just judged that none is there: not asked again while the UI waits
}

void MenuBarExtra::showInTray() {
    if (tray_) return;
    QApplication::setQuitOnLastWindowClosed(false);
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->setObjectName(QStringLiteral("tray.menu"));
    QAction* open = trayMenu_->addAction(QStringLiteral("Open"));
    open->setObjectName(QStringLiteral("tray.open"));
    connect(open, &QAction::triggered, this, &MenuBarExtra::openMenu);

    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setObjectName(QStringLiteral("tray"));
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) toggleMenu();
    });
    showCount();
    tray_->show();
    connect(&trayWatch_, &TrayWatch::trayWentAway, this, &MenuBarExtra::trayWentAway, Qt::UniqueConnection);
    trayWatch_.watchForLoss();
}

bool MenuBarExtra::isMenuShown() const { return menu_->isVisible() && !menu_->isMinimized(); }

void MenuBarExtra::openMenu() {
    if (tray_ && menu_->style() != firstStyle() && !menu_->isVisible()) menu_->setStyle(firstStyle());
    if (menu_->style() == MenuWindow::Style::ordinary) {
        menu_->open();
        return;
    }
    menu_->popUp(tray_ ? tray_->geometry() : QRect());
}

void MenuBarExtra::toggleMenu() {
    if (menu_->style() == MenuWindow::Style::popup) {
        if (isMenuShown()) {
            menu_->hide();
            return;
        }
        if (menu_->wasJustClosed()) return;
    }
    openMenu();
}

void MenuBarExtra::showCount() {
    if (!tray_) return;
    const int count = static_cast<int>(model_.openAlerts().size());
    const std::optional<std::string>& error = model_.alertsError();
    // A session that is ending is refreshed no more: its count is the last one known, from the
    // press of "Sign out" on, and the tooltip says what the menu says.
    const std::optional<std::string> ending = model_.sessionEndingText();
    tray_->setToolTip(ending ? ui::plainToolTip(qText(*ending)) : toolTip(count, error));
    const Shown shown{count, (!error && !ending) || count < 1};  // the plain mark is the same either way
    if (shown_ == shown) return;
    shown_ = shown;
    ++pictureDraws_;
    tray_->setIcon(icon(count, shown.upToDate));
}

QIcon MenuBarExtra::icon(int openCount, bool upToDate) { return QIcon(MenuBarIcon::picture(openCount, upToDate)); }

QString MenuBarExtra::toolTip(int openCount, const std::optional<std::string>& refreshError) {
    return ui::plainToolTip(MenuBarIcon::accessibilityLabel(openCount, refreshError));
}

}  // namespace brisalune
