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

// Takes only a named call (see above); a temporary does not compile.
template <class F>
QCoro::Task<std::invoke_result_t<F&>> awaitBlocking(F& call, QThreadPool* pool = QThreadPool::globalInstance()) {
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
