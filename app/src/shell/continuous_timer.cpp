#include <brisalune/app/shell/continuous_timer.hpp>

#include <QCoroSignal>
#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace brisalune {

namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

itimerspec once(std::chrono::nanoseconds delay) {
    using namespace std::chrono;
    // A zero value would disarm the timer instead of firing at once.
    if (delay <= nanoseconds::zero()) delay = nanoseconds(1);
    const auto whole = duration_cast<seconds>(delay);
    itimerspec spec{};
    spec.it_value.tv_sec = static_cast<time_t>(whole.count());
    spec.it_value.tv_nsec = static_cast<long>((delay - whole).count());
    return spec;
}

}  // namespace

ContinuousTimer::ContinuousTimer(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) fail("cannot create a boot-time timer");
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ContinuousTimer::expired);
}

ContinuousTimer::~ContinuousTimer() {
    delete notifier_;  // before its descriptor goes
    ::close(fd_);
}

void ContinuousTimer::start(std::chrono::nanoseconds delay) {
    cancel();
    const itimerspec spec = once(delay);
    if (::timerfd_settime(fd_, 0, &spec, nullptr) != 0) fail("cannot arm the boot-time timer");
    active_ = true;
}

void ContinuousTimer::cancel() {
    if (!active_) return;
    disarm();
    emit finished(false);
}

void ContinuousTimer::disarm() {
    const itimerspec off{};
    ::timerfd_settime(fd_, 0, &off, nullptr);
    // An expiry already counted but not yet read would otherwise wake us for nothing.
    std::uint64_t expiries = 0;
    while (::read(fd_, &expiries, sizeof expiries) < 0 && errno == EINTR) {
    }
    active_ = false;
}

void ContinuousTimer::expired() {
    std::uint64_t expiries = 0;
    const bool read = ::read(fd_, &expiries, sizeof expiries) == static_cast<ssize_t>(sizeof expiries);
    if (!read || !active_) return;  // a wake-up left over from an arming since cancelled
    active_ = false;
    emit finished(true);
}

QCoro::Task<bool> ContinuousTimer::sleep(std::chrono::nanoseconds delay) {
    start(delay);
    const bool fired = co_await qCoro(this, &ContinuousTimer::finished);
    co_return fired;
}

}  // namespace brisalune
