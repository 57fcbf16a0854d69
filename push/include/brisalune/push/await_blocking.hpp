#pragma once

// A blocking library call (an endpoint, the keychain) awaited from the Qt main thread: it runs
// as a job on a thread pool while the event loop goes on, and the awaiting coroutine resumes on
// its own thread with the call's result, or with exactly the exception the call threw
// (QtConcurrent alone would wrap a BrisaluneError in QUnhandledException).
//
//     const auto fetchRoster = [client] { return devices(*client); };
//     std::vector<Device> roster = co_await awaitBlocking(fetchRoster);
//
// The call must own what it uses (shared pointers and copies, not references to state of the
// main thread); it is copied into the job. It must be a named object: g++ 12 moves a lambda or
// a braced aggregate made inside a co_await expression into the coroutine frame byte by byte,
// which breaks the strings it holds. So build lambdas and braced records before the co_await,
// here and wherever a coroutine awaits.

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

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

// The pool blocking calls run on. Not Qt's global pool: Qt's raster painting spreads its work
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
