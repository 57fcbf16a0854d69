#pragma once

// A one-shot timer on the clock that keeps counting while the machine is suspended
// (CLOCK_BOOTTIME): a wait that spans a system sleep ends at wake-up. It wakes the event loop
// only when it fires. Main thread only.

#include <QCoroTask>
#include <QObject>

#include <chrono>

class QSocketNotifier;

namespace brisalune {

class ContinuousTimer : public QObject {
    Q_OBJECT

public:
    // Throws std::system_error when the system gives no timer.
    explicit ContinuousTimer(QObject* parent = nullptr);
    ~ContinuousTimer() override;

    // Arms the timer `delay` from now (no tolerance). A timer still armed is cancelled first, so
    // every arming ends in exactly one `finished`.
    void start(std::chrono::nanoseconds delay);
    // Ends an armed timer at once with finished(false); nothing when it is not armed.
    void cancel();
    bool isActive() const noexcept { return active_; }

    // Arms the timer and completes when it ends: true when it fired, false when cancelled.
    // Cancel before destroying the timer while a sleep is awaited.
    QCoro::Task<bool> sleep(std::chrono::nanoseconds delay);

signals:
    void finished(bool fired);

private:
    void disarm();
    void expired();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    bool active_ = false;
};

}  // namespace brisalune
