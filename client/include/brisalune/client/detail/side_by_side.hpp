#pragma once

// Work run beside the caller's: on a thread of its own, or in the caller's (at get()) when no
// thread can be had. A future made by std::async waits for its work when dropped, so none
// outlives the caller.

#include <future>
#include <system_error>
#include <type_traits>
#include <utility>

namespace brisalune {

template <class F>
std::future<std::invoke_result_t<F>> sideBySide(F work) {
    try {
        return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, std::move(work));
    }
}

}  // namespace brisalune
