#pragma once

// Whether the desktop has a tray for the icon, and a signal when one comes up: a
// StatusNotifierItem host (the watcher's name on the session bus, a host registered with it) or,
// on X11, an XEmbed tray (the owner of the screen's _NET_SYSTEM_TRAY_S<n> selection, which it
// announces by a MANAGER message to the root window). A tray counts only while it is there: the
// selection has an owner, the watcher says a host is registered. Nothing polls: without a tray the
// app sleeps. A tray gone for less than comebackGrace (a panel restarting) has not gone.
//
// It asks Qt's tray nothing. Qt 6.4 decides once per process, at its first tray call, whether it
// uses StatusNotifierItems, so that call has to wait until a host is known.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QDBusServiceWatcher;

namespace brisalune {

class TrayWatch final : public QObject {
    Q_OBJECT

public:
    explicit TrayWatch(QObject* parent = nullptr);
    ~TrayWatch() override;

    // A tray is there now: asks the bus and the X server.
    bool isTrayAvailable() const;
    // Emits trayCameUp once, when a tray comes up; the watch ends then.
    void watch();
    void stop();
    // Emits trayWentAway once, when the tray that is there now ends (its watcher leaves the bus or
    // says no host is left, or its selection is left without an owner) and none is there at the
    // end of the grace; nothing when there is no tray now.
    void watchForLoss();
    void stopWatchingForLoss();

Q_SIGNALS:
    void trayCameUp();
    void trayWentAway();

private Q_SLOTS:
    void lookAtStatusNotifierWatcher();
    void lookAtLoss();

private:
    class XEmbedTray;

    static constexpr std::chrono::seconds comebackGrace{2};

    bool hasStatusNotifierHost() const;
    void lookAtXEmbedTray();
    void askForHost(std::function<void(bool registered)> then);
    void cameUp();
    void lost();
    void graceEnded();

    std::unique_ptr<XEmbedTray> xembed_;  // none off X11
    QDBusServiceWatcher* busWatch_ = nullptr;
    QDBusServiceWatcher* lossWatch_ = nullptr;
    bool watching_ = false;
    bool losing_ = false;
    QTimer grace_;
    // Which kind of tray Qt took at the icon's first showing, for the life of the process: one of
    // the other kind cannot show the icon, so it does not count.
    std::optional<bool> statusNotifierTaken_;
};

}  // namespace brisalune
