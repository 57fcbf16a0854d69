#pragma once

// A blocking library call (an endpoint, the keychain) awaited from the Qt main thread: it runs
// as a job on a thread pool while the event loop goes on, and the awaiting coroutine resumes on
// its own thread with the call's result, or with exactly the exception the call threw
// (QtConcurrent alone would wrap a BrisaluneError in QUnhandledException).
//
//     std::vector<Device> roster = co_await awaitBlocking([client] { return devices(*client); });
//
// The call must own what it uses (capture shared pointers and copies, not references to state
// of the main thread).

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

}  // namespace detail

template <class F>
QCoro::Task<std::invoke_result_t<F&>> awaitBlocking(F call, QThreadPool* pool = QThreadPool::globalInstance()) {
    using T = std::invoke_result_t<F&>;
    QFuture<detail::BlockingOutcome<T>> job = QtConcurrent::run(pool, [call = std::move(call)]() mutable {
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
    });
    detail::BlockingOutcome<T> outcome = co_await job;
    co_return outcome.take();
}

}  // namespace brisalune
