#pragma once

// Whether the desktop has a tray for the icon, and a signal when one comes up: a
// StatusNotifierItem host (the watcher's name on the session bus, a host registered with it) or,
// on X11, an XEmbed tray (the owner of the screen's _NET_SYSTEM_TRAY_S<n> selection, which it
// announces by a MANAGER message to the root window). Nothing polls: without a tray the app sleeps.
//
// It asks Qt's tray nothing. Qt 6.4 decides once per process, at its first tray call, whether it
// uses StatusNotifierItems, so that call has to wait until a host is known.

#include <QObject>

#include <memory>

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

Q_SIGNALS:
    void trayCameUp();

private Q_SLOTS:
    void cameUp();

private:
    class XEmbedTray;

    bool hasStatusNotifierHost() const;
    void lookAtStatusNotifierWatcher();

    std::unique_ptr<XEmbedTray> xembed_;  // none off X11
    QDBusServiceWatcher* busWatch_ = nullptr;
    bool watching_ = false;
};

}  // namespace brisalune
