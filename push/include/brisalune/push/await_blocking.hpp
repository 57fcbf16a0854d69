#pragma once

// A blocking library call (an endpoint, the keychain) awaited from the Qt main thread: it runs
// as a job on a thread pool while the event loop goes on, and the awaiting coroutine resumes on
// its own thread with the call's result, or with exactly the exception the call threw
// (QtConcurrent alone would wrap a BrisaluneError in QUnhandledException).
//
//     const auto fetchRoster = [client] { return devices(*client); };
//     std::vector<Device> roster = co_await awaitBlocking(fetchRoster);
//     const auto save = [store, session] { store->save(session); };
//     co_await awaitBlocking(save, &localPool());
//
// A call that goes over the network runs on blockingPool(); one that only touches this computer
// (the keychain, the settings file, the pending acknowledgements) on localPool(). A call that
// does both counts as a network call.
//
// The call must own what it uses (shared pointers and copies, not references to state of the
// main thread); it is copied into the job. It must be a named object: g++ 12 moves a lambda or
// a braced aggregate made inside a co_await expression into the coroutine frame byte by byte,
// which breaks the strings it holds. So build lambdas and braced records before the co_await,
// here and wherever a coroutine awaits.

#include <QCoroFuture>
#include <QCoroTask>
#include <QDeadlineTimer>
#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace brisalune {

namespace detail {

// What a call gave back, or what it threw.
template <class T>
struct BlockingOutcome {
    std::optional<T> value;
    std::exception_ptr failure;

    T take() {
        if (failure) std::rethrow_exception(failure);
        return std::move(*value);
    }
};

template <>
struct BlockingOutcome<void> {
    std::exception_ptr failure;

    void take() {
        if (failure) std::rethrow_exception(failure);
    }
};

template <class T>
QCoro::Task<T> awaitJob(QFuture<BlockingOutcome<T>> job) {
    BlockingOutcome<T> outcome = co_await job;
    co_return outcome.take();
}

}  // namespace detail

// The pool network calls run on. Not Qt's global pool: Qt's raster painting spreads its work
// over that one and waits for it, so calls held by a silent server (one per core suffices)
// would freeze every window. Never destroyed, so that ending the program does not wait for a
// held call either.
inline QThreadPool& blockingPool() {
    static QThreadPool* const pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(32);  // the calls wait on the network, not on a core
        return made;
    }();
    return *pool;
}

// The pool for calls that stay on this computer. Its own, so that none of them waits for a
// thread behind requests that a silent server holds on blockingPool(): the record that keeps an
// acknowledgement would otherwise reach the disk only a minute after the press. Such calls are
// short, save a keychain that does not answer (its calls take turns, so it holds one thread).
// Never destroyed, as blockingPool().
inline QThreadPool& localPool() {
    static QThreadPool* const pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(8);
        return made;
    }();
    return *pool;
}

// No call running on either pool.
inline bool blockingCallsIdle() {
    return blockingPool().activeThreadCount() == 0 && localPool().activeThreadCount() == 0;
}

// Waits for the calls of both pools to end, at most `limit` in all (none: for good); true when
// they did.
inline bool waitForBlockingCalls(std::optional<std::chrono::milliseconds> limit = std::nullopt) {
    const QDeadlineTimer deadline = limit ? QDeadlineTimer(*limit) : QDeadlineTimer(QDeadlineTimer::Forever);
    const auto left = [&] { return static_cast<int>(deadline.remainingTime()); };
    return localPool().waitForDone(left()) && blockingPool().waitForDone(left());
}

// Takes only a named call (see above); a temporary does not compile.
template <class F>
QCoro::Task<std::invoke_result_t<F&>> awaitBlocking(F& call, QThreadPool* pool = &blockingPool()) {
    using T = std::invoke_result_t<F&>;
    return detail::awaitJob<T>(QtConcurrent::run(pool, [call]() mutable {
        detail::BlockingOutcome<T> outcome;
        try {
            if constexpr (std::is_void_v<T>) {
                call();
            } else {
                outcome.value.emplace(call());
            }
        } catch (...) {
            outcome.failure = std::current_exception();
        }
        return outcome;
    }));
}

}  // namespace brisalune
