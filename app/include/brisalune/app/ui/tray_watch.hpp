#pragma once

// Whether the desktop has a tray for the icon, and a signal when one comes up: a
// StatusNotifierItem host (the watcher's name on the session bus, a host registered with it) or,
// on X11, an XEmbed tray (the owner of the screen's _NET_SYSTEM_TRAY_S<n> selection, which it
// announces by a MANAGER message to the root window). A tray counts only while it is there: the
// selection has an owner, the watcher says a host is registered. Nothing polls: without a tray the
// app sleeps. A tray gone for less than comebackGrace (a panel restarting) has not gone.
//
// A watcher that answers late, or with an error of its own, has said nothing: only a "no", or its
// name gone from the bus, counts as no host. Such a question is asked again, a few times in a row;
// then one more stays out until the watcher answers it (one stopped for a while is heard once it
// wakes) or leaves the bus, and after that the next event on the bus asks. Beside that one, an
// event still asks as usual (a watcher may never answer it), so at most two are out. One ordinary
// question is out at a time, and what happens while it is out asks once more after its answer. No
// question waits on the UI thread but the one isTrayAvailable asks, once at start-up, where Qt's
// own first tray call waits for the same answer.
//
// It asks Qt's tray nothing. Qt 6.4 decides once per process, at its first tray call, whether it
// uses StatusNotifierItems, so that call has to wait until a host is known.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

class QDBusServiceWatcher;

namespace brisalune {

class TrayWatch final : public QObject {
    Q_OBJECT

public:
    explicit TrayWatch(QObject* parent = nullptr);
    ~TrayWatch() override;

    // A tray is there now: asks the bus and the X server. A watcher that does not say in time is
    // asked again in the background, and the watch (when it runs) takes its host once it says.
    bool isTrayAvailable();
    // Emits trayCameUp once, when a tray comes up; the watch ends then.
    void watch();
    // While watching, looks once without waiting (the watcher's answer comes later): a tray that
    // came up before the watch began tells nothing.
    void lookOnce();
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

    void lookAtXEmbedTray();
    void ask();
    // The watcher's answer: whether a host is registered, nothing when it did not say; `patient`
    // when the question waited for as long as the watcher took.
    void heard(std::optional<bool> registered, bool patient);
    void cameUp();
    void lost();
    void graceEnded();

    std::unique_ptr<XEmbedTray> xembed_;  // none off X11
    QDBusServiceWatcher* busWatch_ = nullptr;
    QDBusServiceWatcher* lossWatch_ = nullptr;
    bool watching_ = false;
    bool losing_ = false;
    QTimer grace_;
    bool judging_ = false;  // the grace ended; the watcher's answer decides
    bool asking_ = false;
    bool askAgain_ = false;
    bool waiting_ = false;          // the question with no timeout is out
    bool overtookWaiting_ = false;  // and another went out after it
    int unknownsInARow_ = 0;
    // Which kind of tray Qt took at the icon's first showing, for the life of the process: one of
    // the other kind cannot show the icon, so it does not count.
    std::optional<bool> statusNotifierTaken_;
};

}  // namespace brisalune
