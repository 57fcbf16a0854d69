#pragma once

// The bytes the program holds on the heap right now, all threads together.

#include <malloc.h>

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's own count (its allocator does not feed mallinfo).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace brisalune::testkit {

inline std::int64_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    const auto info = mallinfo2();
    return static_cast<std::int64_t>(info.uordblks + info.hblkhd);
#endif
}

}  // namespace brisalune::testkit
